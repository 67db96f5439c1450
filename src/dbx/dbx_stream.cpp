// Bounded positioned reads on the reader's stream.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "dbx/dbx_internal.h"

namespace {

constexpr std::size_t kReadWindowSize = 256 * 1024;
constexpr std::uint64_t kMapWindowSize = 8 << 20;
constexpr std::uint64_t kMapAlignment = 1 << 20;

// Reads exactly size bytes at offset with pread: no seek, and no system call that stdio would
// spend on asking for the position.
bool PreadExactly(int fd, std::uint64_t offset, char* buffer, std::size_t size) {
    while (size > 0) {
        const ssize_t got = ::pread(fd, buffer, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buffer += got;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// For streams without a descriptor (memory streams). Consecutive reads skip the seek.
bool ReadThroughStdio(DbxReader& reader, std::uint64_t offset, void* buffer, std::size_t size) {
    if (reader.stream_position != static_cast<std::int64_t>(offset)) {
        reader.stream_position = -1;
        if (std::fseek(reader.stream, static_cast<long>(offset), SEEK_SET) != 0) return false;
    }
    if (std::fread(buffer, 1, size, reader.stream) != size) {
        reader.stream_position = -1;
        return false;
    }
    reader.stream_position = static_cast<std::int64_t>(offset + size);
    return true;
}

}  // namespace

namespace dbx_internal {

namespace {

bool InsideFile(const DbxReader& reader, std::uint64_t offset, std::size_t size) {
    if (reader.stream == nullptr || reader.file_size < 0) return false;
    const auto file_size = static_cast<std::uint64_t>(reader.file_size);
    return offset <= file_size && size <= file_size - offset;
}

// Maps a window of the file. A mapped page past the file's current end would raise SIGBUS when
// touched, so a file that has shrunk since it was opened is read with pread instead, which
// fails cleanly.
bool MapWindow(DbxReader::Window& window, int fd, std::uint64_t file_size, std::uint64_t offset) {
    const std::uint64_t start = offset / kMapAlignment * kMapAlignment;
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kMapWindowSize, file_size - start));
    struct stat info;
    if (::fstat(fd, &info) != 0 || static_cast<std::uint64_t>(info.st_size) < start + length) return false;
    void* data = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(start));
    if (data == MAP_FAILED) return false;
    ::madvise(data, length, MADV_SEQUENTIAL);
    window.data = static_cast<const char*>(data);
    window.offset = start;
    window.length = length;
    window.mapped = true;
    return true;
}

bool ReadWindow(DbxReader::Window& window, int fd, std::uint64_t file_size, std::uint64_t offset) {
    if (window.buffer.empty()) window.buffer.resize(kReadWindowSize);
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kReadWindowSize, file_size - offset));
    if (!PreadExactly(fd, offset, window.buffer.data(), length)) return false;
    window.data = window.buffer.data();
    window.offset = offset;
    window.length = length;
    return true;
}

// Makes [offset, offset + size) part of the window; false when the file cannot deliver it.
bool FillWindow(DbxReader& reader, int fd, std::uint64_t offset, std::size_t size) {
    DbxReader::Window& window = reader.window;
    if (window.data != nullptr && offset >= window.offset && offset + size <= window.offset + window.length) return true;
    window.Release();
    const auto file_size = static_cast<std::uint64_t>(reader.file_size);
    if (offset + size <= (offset / kMapAlignment * kMapAlignment) + kMapWindowSize &&
        MapWindow(window, fd, file_size, offset))
        return true;
    return ReadWindow(window, fd, file_size, offset);
}

}  // namespace

bool ReadAt(DbxReader& reader, std::uint64_t offset, void* buffer, std::size_t size) {
    if (!InsideFile(reader, offset, size)) return false;
    if (size == 0) return true;
    const int fd = ::fileno(reader.stream);
    if (fd < 0) return ReadThroughStdio(reader, offset, buffer, size);  // a memory stream
    if (size >= kReadWindowSize / 2) return PreadExactly(fd, offset, static_cast<char*>(buffer), size);
    if (!FillWindow(reader, fd, offset, size)) return false;
    std::memcpy(buffer, reader.window.data + (offset - reader.window.offset), size);
    return true;
}

const char* PeekAt(DbxReader& reader, std::uint64_t offset, std::size_t size) {
    if (!InsideFile(reader, offset, size) || size >= kReadWindowSize / 2) return nullptr;
    const int fd = ::fileno(reader.stream);
    if (fd < 0 || !FillWindow(reader, fd, offset, size)) return nullptr;
    return reader.window.data + (offset - reader.window.offset);
}

}  // namespace dbx_internal

void DbxReader::Window::Release() {
    if (mapped && data != nullptr) ::munmap(const_cast<char*>(data), length);
    data = nullptr;
    length = 0;
    mapped = false;
}

DbxReader::Window::~Window() { Release(); }
