// Bounded positioned reads on the reader's stream.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dbx/dbx_internal.h"
#include "platform/random_access_file.h"

namespace {

constexpr std::size_t kReadWindowSize = 256 * 1024;
constexpr std::uint64_t kMapWindowSize = 8 << 20;
constexpr std::uint64_t kMapAlignment = 1 << 20;

// Reads exactly size bytes at offset with a positioned read: no seek, and no system call that
// stdio would spend on asking for the position.
bool ReadExactly(int fd, std::uint64_t offset, char* buffer, std::size_t size) {
    return platform::ReadAllAt(fd, buffer, size, offset) == static_cast<std::int64_t>(size);
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

// Maps a window of the file. A file that has shrunk since it was opened is not mapped (a page
// past its end would raise SIGBUS when touched) but read instead, which fails cleanly.
bool MapWindow(DbxReader::Window& window, int fd, std::uint64_t file_size, std::uint64_t offset) {
    const std::uint64_t start = offset / kMapAlignment * kMapAlignment;
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kMapWindowSize, file_size - start));
    if (!window.mapping.Map(fd, start, length)) return false;
    window.data = window.mapping.data();
    window.offset = start;
    window.length = length;
    return true;
}

bool ReadWindow(DbxReader::Window& window, int fd, std::uint64_t file_size, std::uint64_t offset) {
    if (window.buffer.empty()) window.buffer.resize(kReadWindowSize);
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kReadWindowSize, file_size - offset));
    if (!ReadExactly(fd, offset, window.buffer.data(), length)) return false;
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
    const int fd = platform::DescriptorOf(reader.stream);
    if (fd < 0) return ReadThroughStdio(reader, offset, buffer, size);  // a memory stream
    if (size >= kReadWindowSize / 2) return ReadExactly(fd, offset, static_cast<char*>(buffer), size);
    if (!FillWindow(reader, fd, offset, size)) return false;
    std::memcpy(buffer, reader.window.data + (offset - reader.window.offset), size);
    return true;
}

const char* PeekAt(DbxReader& reader, std::uint64_t offset, std::size_t size) {
    if (!InsideFile(reader, offset, size) || size >= kReadWindowSize / 2) return nullptr;
    const int fd = platform::DescriptorOf(reader.stream);
    if (fd < 0 || !FillWindow(reader, fd, offset, size)) return nullptr;
    return reader.window.data + (offset - reader.window.offset);
}

}  // namespace dbx_internal

void DbxReader::Window::Release() {
    mapping.Unmap();
    data = nullptr;
    length = 0;
}
