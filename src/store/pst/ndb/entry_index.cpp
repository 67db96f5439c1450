#include "store/pst/ndb/entry_index.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "store/pst/ndb/file_io.h"
#include "store/pst/ndb/format.h"

namespace pst::ndb {

RunFile::RunFile() {
    // tmpfile gives a file that is already unlinked: nothing is left behind, however we end.
    std::FILE* f = std::tmpfile();
    if (!f) throw PstSystemError("cannot create a temporary index file", errno);
    fd_ = ::dup(::fileno(f));
    std::fclose(f);
    if (fd_ < 0) throw PstSystemError("cannot create a temporary index file", errno);
}

RunFile::~RunFile() {
    if (fd_ >= 0) ::close(fd_);
}

void RunFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
    if (int err = WriteFully(fd_, data, size, offset)) throw PstSystemError("cannot write a temporary index file", err);
    size_ = std::max(size_, offset + size);
}

void RunFile::ReadAt(std::uint64_t offset, void* data, std::size_t size) const {
    if (offset + size > size_) throw PstError("read past the end of a temporary index file");
    const std::int64_t n = ReadFully(fd_, data, size, offset);
    if (n != static_cast<std::int64_t>(size))
        throw PstSystemError("cannot read a temporary index file", n < 0 ? static_cast<int>(-n) : EIO);
}

}  // namespace pst::ndb
