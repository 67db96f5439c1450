#include "platform/existing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/random_access_file.h"

namespace platform {

namespace {

constexpr std::size_t kChunk = 1 << 16;

// A regular file at name in the folder (no link followed), opened for reading with its size;
// -1 otherwise, with kind set to what was found.
int OpenRegularAt(int folder_fd, const std::string& name, ExistingFile& kind, std::uint64_t& size) {
    // Opened first and looked at through the descriptor: what is compared is what was looked at.
    const int fd = ::openat(folder_fd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        struct stat info {};
        if (error == ENOENT || error == ENOTDIR)
            kind = ExistingFile::kNone;
        else
            kind = ::fstatat(folder_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)
                       ? ExistingFile::kLink
                       : ExistingFile::kOther;
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        kind = ExistingFile::kOther;
        return -1;
    }
    kind = ExistingFile::kDifferent;
    size = static_cast<std::uint64_t>(info.st_size);
    return fd;
}

// Whether the whole part at offset reads back, the file not ending first.
bool ReadPart(const RandomAccessFile& file, char* buffer, std::size_t part, std::uint64_t offset) {
    return file.ReadAt(buffer, part, offset) == static_cast<std::int64_t>(part);
}

bool ReadPart(int fd, char* buffer, std::size_t part, std::uint64_t offset) {
    return ReadAllAt(fd, buffer, part, offset) == static_cast<std::int64_t>(part);
}

}  // namespace

ExistingFile CompareWithExistingAt(int folder_fd, const std::string& name, std::string_view bytes) {
    ExistingFile kind = ExistingFile::kNone;
    std::uint64_t size = 0;
    const RandomAccessFile file(OpenRegularAt(folder_fd, name, kind, size));
    if (!file.is_open() || size != bytes.size()) return kind;
    std::vector<char> buffer(std::min(kChunk, bytes.size()));
    for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
        const std::size_t part = std::min(kChunk, bytes.size() - at);
        if (!ReadPart(file, buffer.data(), part, at) || std::memcmp(buffer.data(), bytes.data() + at, part) != 0)
            return ExistingFile::kDifferent;
    }
    return ExistingFile::kSame;
}

ExistingFile CompareWithOpenFileAt(int folder_fd, const std::string& name, int other_fd) {
    ExistingFile kind = ExistingFile::kNone;
    std::uint64_t size = 0;
    const RandomAccessFile file(OpenRegularAt(folder_fd, name, kind, size));
    if (!file.is_open()) return kind;
    struct stat other {};
    if (::fstat(other_fd, &other) != 0 || static_cast<std::uint64_t>(other.st_size) != size)
        return ExistingFile::kDifferent;
    std::vector<char> mine(kChunk), theirs(kChunk);
    for (std::uint64_t at = 0; at < size; at += kChunk) {
        const auto part = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - at));
        if (!ReadPart(file, mine.data(), part, at) || !ReadPart(other_fd, theirs.data(), part, at) ||
            std::memcmp(mine.data(), theirs.data(), part) != 0)
            return ExistingFile::kDifferent;
    }
    return ExistingFile::kSame;
}

int MoveToFreeName(const std::string& from, const std::string& to) {
    // A hard link is made only where nothing is: no window in which another file is replaced.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    const int error = errno;
    if (error == EEXIST) return EEXIST;
    // File systems without hard links (FAT disks): look, then rename.
    if (error != EPERM && error != ENOTSUP && error != ENOSYS) return error;
    struct stat info;
    if (::lstat(to.c_str(), &info) == 0) return EEXIST;
    if (errno != ENOENT) return errno;
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace platform
