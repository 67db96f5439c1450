// Whole reads and writes at an offset: pread and pwrite may stop short or be interrupted, and
// every file the engine touches (stores, working copies, temporary indexes) needs the same loop.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pst::ndb {

// Writes all size bytes at offset; 0, or the errno of the failure.
int WriteFully(int fd, const void* data, std::size_t size, std::uint64_t offset);
// Reads size bytes at offset, fewer only where the file ends; the count read, or -errno.
std::int64_t ReadFully(int fd, void* data, std::size_t size, std::uint64_t offset);

}  // namespace pst::ndb
