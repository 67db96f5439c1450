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

#include "platform/process.h"
#include "platform/random_access_file.h"

namespace platform {

namespace {

constexpr std::size_t kChunk = 1 << 16;

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

// Whether the whole part at offset reads back, the file not ending first.
bool ReadPart(const RandomAccessFile& file, char* buffer, std::size_t part, std::uint64_t offset) {
    return file.ReadAt(buffer, part, offset) == static_cast<std::int64_t>(part);
}

}  // namespace

ExistingFile CompareWithExisting(const std::string& path, std::string_view bytes) {
    ExistingFile kind = ExistingFile::kNone;
    std::uint64_t size = 0;
    const RandomAccessFile file(OpenRegular(path, kind, size));
    if (!file.is_open() || size != bytes.size()) return kind;
    std::vector<char> buffer(kChunk);
    for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
        const std::size_t part = std::min(kChunk, bytes.size() - at);
        if (!ReadPart(file, buffer.data(), part, at) || std::memcmp(buffer.data(), bytes.data() + at, part) != 0)
            return ExistingFile::kDifferent;
    }
    return ExistingFile::kSame;
}

ExistingFile CompareWithExistingFile(const std::string& path, const std::string& other_path) {
    ExistingFile kind = ExistingFile::kNone;
    std::uint64_t size = 0;
    const RandomAccessFile file(OpenRegular(path, kind, size));
    if (!file.is_open()) return kind;
    ExistingFile other_kind = ExistingFile::kNone;
    std::uint64_t other_size = 0;
    const RandomAccessFile other(OpenRegular(other_path, other_kind, other_size));
    if (!other.is_open() || other_size != size) return ExistingFile::kDifferent;
    std::vector<char> mine(kChunk), theirs(kChunk);
    for (std::uint64_t at = 0; at < size; at += kChunk) {
        const auto part = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - at));
        if (!ReadPart(file, mine.data(), part, at) || !ReadPart(other, theirs.data(), part, at) ||
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
    return path.substr(0, name_at) + "." + path.substr(name_at) + "." + std::to_string(CurrentProcessId()) + ".part";
}

}  // namespace platform
