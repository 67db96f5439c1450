#include "platform/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace platform {

std::string JoinPath(const std::string& left, const std::string& right) {
    std::string joined;
    joined.reserve(left.size() + 1 + right.size());
    joined += left;
    joined += kPathSeparator;
    joined += right;
    return joined;
}

std::string LastPathComponent(const std::string& path) {
    const auto slash = path.find_last_of(kPathSeparators);
    return slash == std::string::npos ? std::string() : path.substr(slash + 1);
}

bool CreateDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    return errno == EEXIST && IsDirectory(path);
}

bool FileExists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

int RenameReplacing(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool SetModificationTime(const std::string& path, std::uint64_t filetime) {
    constexpr std::uint64_t kTicksPerSecond = 10000000;
    constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;  // 1970-01-01 as a FILETIME
    if (filetime <= kUnixEpochTicks) return false;
    const std::uint64_t since_epoch = filetime - kUnixEpochTicks;
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(since_epoch / kTicksPerSecond);
    times[0].tv_nsec = static_cast<long>(since_epoch % kTicksPerSecond) * 100;
    if (static_cast<std::uint64_t>(times[0].tv_sec) != since_epoch / kTicksPerSecond) return false;
    times[1] = times[0];
    return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

PrivateTempDir::PrivateTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = JoinPath(base != nullptr && *base != '\0' ? base : "/tmp", "ombrik-XXXXXX");
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    // mkdtemp creates the folder with mode 0700 and a name nobody could have guessed.
    if (::mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder: " + std::string(std::strerror(errno)));
    path_ = buffer.data();
}

PrivateTempDir::~PrivateTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace platform
