#include "platform/file_copy.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#endif

#include <cerrno>
#include <cstdint>
#include <vector>

namespace platform {

int CopyFileBytes(const RandomAccessFile& in, const RandomAccessFile& out) {
#ifdef FICLONE
    if (::ioctl(out.descriptor(), FICLONE, in.descriptor()) == 0) return 0;
#endif
#ifdef __linux__
    for (bool first = true;; first = false) {
        const ssize_t n =
            ::copy_file_range(in.descriptor(), nullptr, out.descriptor(), nullptr, std::size_t{1} << 30, 0);
        if (n > 0) continue;
        if (n == 0) return 0;
        if (errno == EINTR) continue;
        // Not offered between these files: copy through user space, from the start.
        if (first && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) break;
        return errno;
    }
#endif
    std::vector<char> buf(1 << 20);
    for (std::uint64_t at = 0;;) {
        const std::int64_t n = in.ReadAt(buf.data(), buf.size(), at);
        if (n < 0) return static_cast<int>(-n);
        if (n == 0) return 0;
        if (int err = out.WriteAt(buf.data(), static_cast<std::size_t>(n), at)) return err;
        at += static_cast<std::uint64_t>(n);
    }
}

int SyncPath(const std::string& path, SyncTarget target, bool& opened) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (target == SyncTarget::kFolder ? O_DIRECTORY : 0));
    opened = fd >= 0;
    if (fd < 0) return errno;
    const int rc = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    return rc == 0 ? 0 : error;
}

}  // namespace platform
