#include "platform/file_owner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

std::optional<OwnerAndMode> OwnerAndModeOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return OwnerAndMode{info.st_mode & 07777u, static_cast<long>(info.st_uid), static_cast<long>(info.st_gid)};
}

int SetOwner(const std::string& path, long uid, long gid) {
    return ::chown(path.c_str(), static_cast<uid_t>(uid), static_cast<gid_t>(gid)) == 0 ? 0 : errno;
}

int SetMode(const std::string& path, unsigned mode) {
    return ::chmod(path.c_str(), static_cast<mode_t>(mode)) == 0 ? 0 : errno;
}

}  // namespace platform
