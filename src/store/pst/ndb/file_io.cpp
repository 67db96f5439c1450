#include "store/pst/ndb/file_io.h"

#include <unistd.h>

#include <cerrno>

#include "platform/output_file.h"

namespace pst::ndb {

int WriteFully(int fd, const void* data, std::size_t size, std::uint64_t offset) {
    return platform::WriteAllAt(fd, data, size, offset);
}

std::int64_t ReadFully(int fd, void* data, std::size_t size, std::uint64_t offset) {
    auto* p = static_cast<std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, p + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -errno;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

}  // namespace pst::ndb
