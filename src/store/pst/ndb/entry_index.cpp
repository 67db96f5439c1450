#include "store/pst/ndb/entry_index.h"

#include <cerrno>
#include <string>

#include "store/pst/ndb/format.h"

namespace pst::ndb {

RunFile::RunFile() {
    if (int err = file_.OpenTemporary()) throw PstSystemError("cannot create a temporary index file", err);
}

void RunFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
    if (int err = file_.WriteAt(data, size, offset)) throw PstSystemError("cannot write a temporary index file", err);
    size_ = std::max(size_, offset + size);
}

void RunFile::ReadAt(std::uint64_t offset, void* data, std::size_t size) const {
    if (offset + size > size_) throw PstError("read past the end of a temporary index file");
    const std::int64_t n = file_.ReadAt(data, size, offset);
    if (n != static_cast<std::int64_t>(size))
        throw PstSystemError("cannot read a temporary index file", n < 0 ? static_cast<int>(-n) : EIO);
}

}  // namespace pst::ndb
