// Bounded positioned reads on the reader's stream.
//
// The file is never mapped into memory: a mapped page of a file that shrinks (another program
// truncating it, a network share or a failing disk) raises a signal when touched, which no
// check made before the touch can rule out. Every read is a positioned read into the reader's
// own window instead, so a file that shrinks or fails gives a short read, which fails cleanly.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dbx/dbx_internal.h"
#include "platform/random_access_file.h"

namespace {

// Records and text blocks lie close together, so most reads are served from the window; a
// window of this size costs one system call per megabyte of a folder read front to back.
constexpr std::size_t kReadWindowSize = 1 << 20;

// For streams without a descriptor (memory streams). Consecutive reads skip the seek.
bool ReadThroughStdio(DbxReader& reader, std::uint64_t offset, void* buffer, std::size_t size) {
    if (reader.stream_position != static_cast<std::int64_t>(offset)) {
        reader.stream_position = -1;
        if (std::fseek(reader.stream, static_cast<long>(offset), SEEK_SET) != 0) {
            reader.cut_short = true;
            return false;
        }
    }
    if (std::fread(buffer, 1, size, reader.stream) != size) {
        reader.stream_position = -1;
        reader.cut_short = true;
        return false;
    }
    reader.stream_position = static_cast<std::int64_t>(offset + size);
    return true;
}

bool InsideFile(const DbxReader& reader, std::uint64_t offset, std::size_t size) {
    if (reader.stream == nullptr || reader.file_size < 0) return false;
    const auto file_size = static_cast<std::uint64_t>(reader.file_size);
    return offset <= file_size && size <= file_size - offset;
}

// Reads exactly size bytes at offset, which lie inside the file as it was opened: fewer mean
// the file shrank or its disk failed since.
bool ReadExactly(DbxReader& reader, int fd, std::uint64_t offset, char* buffer, std::size_t size) {
    if (platform::ReadAllAt(fd, buffer, size, offset) == static_cast<std::int64_t>(size)) return true;
    reader.cut_short = true;
    return false;
}

// Makes [offset, offset + size) part of the window; false when the file cannot deliver it.
bool FillWindow(DbxReader& reader, int fd, std::uint64_t offset, std::size_t size) {
    DbxReader::Window& window = reader.window;
    if (window.length != 0 && offset >= window.offset && offset + size <= window.offset + window.length) return true;
    window.length = 0;
    if (window.buffer.empty()) window.buffer.resize(kReadWindowSize);
    const auto wanted = static_cast<std::size_t>(
        std::min<std::uint64_t>(kReadWindowSize, static_cast<std::uint64_t>(reader.file_size) - offset));
    const std::int64_t got = platform::ReadAllAt(fd, window.buffer.data(), wanted, offset);
    // Less than the file held at the open: it has shrunk, or its disk fails. What did come is
    // still served, but the reader remembers that the file is no longer what it opened.
    if (got < static_cast<std::int64_t>(wanted)) reader.cut_short = true;
    if (got < static_cast<std::int64_t>(size)) return false;
    window.offset = offset;
    window.length = static_cast<std::size_t>(got);
    return true;
}

}  // namespace

namespace dbx_internal {

bool ReadAt(DbxReader& reader, std::uint64_t offset, void* buffer, std::size_t size) {
    if (!InsideFile(reader, offset, size)) return false;
    if (size == 0) return true;
    const int fd = platform::DescriptorOf(reader.stream);
    if (fd < 0) return ReadThroughStdio(reader, offset, buffer, size);  // a memory stream
    if (size >= kReadWindowSize / 2) return ReadExactly(reader, fd, offset, static_cast<char*>(buffer), size);
    if (!FillWindow(reader, fd, offset, size)) return false;
    std::memcpy(buffer, reader.window.buffer.data() + (offset - reader.window.offset), size);
    return true;
}

bool ReadsArePositioned(const DbxReader& reader) { return platform::DescriptorOf(reader.stream) >= 0; }

const char* PeekAt(DbxReader& reader, std::uint64_t offset, std::size_t size) {
    if (!InsideFile(reader, offset, size) || size >= kReadWindowSize / 2) return nullptr;
    const int fd = platform::DescriptorOf(reader.stream);
    if (fd < 0 || !FillWindow(reader, fd, offset, size)) return nullptr;
    return reader.window.buffer.data() + (offset - reader.window.offset);
}

}  // namespace dbx_internal

bool dbx_file_changed(DbxReader* reader) {
    if (reader == nullptr || reader->stream == nullptr) return false;
    if (reader->cut_short) return true;
    const int fd = platform::DescriptorOf(reader->stream);
    if (fd < 0 || !reader->opened_version) return false;
    platform::FileVersion now;
    return platform::VersionOf(fd, now) != 0 || now != *reader->opened_version;
}
