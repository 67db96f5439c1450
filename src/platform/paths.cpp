#include "platform/paths.h"

#include "platform/write_failure.h"

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

PrivateTempDir::PrivateTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = JoinPath(base != nullptr && *base != '\0' ? base : "/tmp", "ombrik-XXXXXX");
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    // mkdtemp creates the folder with mode 0700 and a name nobody could have guessed.
    if (::mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error(std::string("cannot create a temporary folder: ") + WriteFailureWords(WriteFailureOf(errno)));
    path_ = buffer.data();
}

PrivateTempDir::~PrivateTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace platform
