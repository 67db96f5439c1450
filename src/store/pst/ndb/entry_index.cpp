#include "store/pst/ndb/entry_index.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

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
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::pwrite(fd_, p + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw PstSystemError("cannot write a temporary index file", n < 0 ? errno : EIO);
        done += static_cast<std::size_t>(n);
    }
    size_ = std::max(size_, offset + size);
}

void RunFile::ReadAt(std::uint64_t offset, void* data, std::size_t size) const {
    if (offset + size > size_) throw PstError("read past the end of a temporary index file");
    auto* p = static_cast<std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd_, p + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw PstSystemError("cannot read a temporary index file", n < 0 ? errno : EIO);
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace pst::ndb
