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

namespace platform {

namespace {

constexpr std::size_t kChunk = 1 << 16;

// Reads up to size bytes at the current position; the count read, or -1 on an error.
long ReadSome(int fd, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0) return static_cast<long>(got);
        if (errno != EINTR) return -1;
    }
}

// Fills the whole buffer unless the file ends first; false on an error or an early end.
bool ReadExactly(int fd, char* buffer, std::size_t size) {
    std::size_t have = 0;
    while (have < size) {
        const long got = ReadSome(fd, buffer + have, size - have);
        if (got <= 0) return false;
        have += static_cast<std::size_t>(got);
    }
    return true;
}

// A regular file at path (no link followed), opened for reading with its size; -1 otherwise,
// with kind set to what was found.
int OpenRegular(const std::string& path, ExistingFile& kind, std::uint64_t& size) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) {
        kind = errno == ENOENT || errno == ENOTDIR ? ExistingFile::kNone : ExistingFile::kOther;
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        kind = ExistingFile::kOther;
        return -1;
    }
    kind = ExistingFile::kDifferent;
    size = static_cast<std::uint64_t>(info.st_size);
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

ExistingFile CompareWithExisting(const std::string& path, std::string_view bytes) {
    ExistingFile kind = ExistingFile::kNone;
    std::uint64_t size = 0;
    const Descriptor fd(OpenRegular(path, kind, size));
    if (fd.get() < 0 || size != bytes.size()) return kind;
    std::vector<char> buffer(kChunk);
    for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
        const std::size_t part = std::min(kChunk, bytes.size() - at);
        if (!ReadExactly(fd.get(), buffer.data(), part) || std::memcmp(buffer.data(), bytes.data() + at, part) != 0)
            return ExistingFile::kDifferent;
    }
    return ExistingFile::kSame;
}

ExistingFile CompareWithExistingFile(const std::string& path, const std::string& other_path) {
    ExistingFile kind = ExistingFile::kNone;
    std::uint64_t size = 0;
    const Descriptor fd(OpenRegular(path, kind, size));
    if (fd.get() < 0) return kind;
    ExistingFile other_kind = ExistingFile::kNone;
    std::uint64_t other_size = 0;
    const Descriptor other(OpenRegular(other_path, other_kind, other_size));
    if (other.get() < 0 || other_size != size) return ExistingFile::kDifferent;
    std::vector<char> mine(kChunk), theirs(kChunk);
    for (std::uint64_t at = 0; at < size; at += kChunk) {
        const auto part = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - at));
        if (!ReadExactly(fd.get(), mine.data(), part) || !ReadExactly(other.get(), theirs.data(), part) ||
            std::memcmp(mine.data(), theirs.data(), part) != 0)
            return ExistingFile::kDifferent;
    }
    return ExistingFile::kSame;
}

int MoveOverEmptyFile(const std::string& from, const std::string& to) {
    struct stat info;
    if (::lstat(to.c_str(), &info) != 0) return errno;
    if (!S_ISREG(info.st_mode) || info.st_size != 0) return EEXIST;
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
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

std::string TemporaryNameBeside(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, name_at) + "." + path.substr(name_at) + "." + std::to_string(::getpid()) + ".part";
}

}  // namespace platform
