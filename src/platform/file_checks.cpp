#include "platform/file_checks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

std::string ReasonOf(int error) {
    switch (error) {
    case ENOENT: return "does not exist";
    case ENOTDIR: return "does not exist (a part of its path is not a folder)";
    case EACCES:
    case EPERM: return "permission denied";
    default: return std::strerror(error);
    }
}

}  // namespace

std::string ReadableFileRefusal(const std::string& path) {
    if (path.empty()) return "does not exist";
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0) return ReasonOf(errno);
    if (S_ISDIR(info.st_mode)) return "is a folder";
    if (!S_ISREG(info.st_mode)) return "is not a regular file";
    if (::access(path.c_str(), R_OK) != 0) return ReasonOf(errno);
    return {};
}

std::string WritableFolderRefusal(const std::string& path) {
    if (path.empty()) return "does not exist";
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0) return ReasonOf(errno);
    if (!S_ISDIR(info.st_mode)) return "is not a folder";
    // Entering the folder (X) is needed as much as writing its list of names (W).
    if (::access(path.c_str(), W_OK | X_OK) != 0) return errno == EROFS ? "is on a read-only disk" : ReasonOf(errno);
    return {};
}

bool WritableFile(const std::string& path) {
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IWUSR) != 0 && ::access(path.c_str(), W_OK) == 0;
}

}  // namespace platform
