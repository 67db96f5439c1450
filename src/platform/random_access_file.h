// A file read and written at offsets: stores, their working copies, temporary indexes, folder
// files. Every transfer is resumed after an interruption or a short count, and every failure
// gives the errno value that caused it, so that callers can word it their own way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// Reads size bytes at offset, fewer only where the file ends; the count read, or -errno.
std::int64_t ReadAllAt(int fd, void* data, std::size_t size, std::uint64_t offset);

// What an open file is like now: enough to tell that it changed while it was being read.
struct FileVersion {
    std::uint64_t size = 0;
    std::int64_t modified_ns = 0;  // modification time, nanoseconds since 1970
    bool operator==(const FileVersion&) const = default;
};
// 0, or the errno of the failure.
int VersionOf(int fd, FileVersion& version);

// The descriptor under a stdio stream; -1 for a stream that has none (a memory stream).
int DescriptorOf(std::FILE* stream);

class RandomAccessFile {
public:
    enum class Access { kRead, kReadWrite };

    RandomAccessFile() = default;
    explicit RandomAccessFile(int fd) : fd_(fd) {}  // takes over an open descriptor
    ~RandomAccessFile();                            // closes a file still open, without reporting
    RandomAccessFile(const RandomAccessFile&) = delete;
    RandomAccessFile& operator=(const RandomAccessFile&) = delete;
    RandomAccessFile(RandomAccessFile&& other) noexcept;
    RandomAccessFile& operator=(RandomAccessFile&& other) noexcept;

    // Opens the file that is at path (a link is followed); 0, or the errno of the failure.
    int Open(const std::string& path, Access access);
    // Opens a new unnamed file for reading and writing: nothing is left behind, however the
    // program ends. 0, or the errno of the failure.
    int OpenTemporary();

    // As ReadAllAt: the count read, fewer only where the file ends, or -errno.
    std::int64_t ReadAt(void* data, std::size_t size, std::uint64_t offset) const;
    // Writes all size bytes at offset; 0, or the errno of the failure.
    int WriteAt(const void* data, std::size_t size, std::uint64_t offset) const;
    // The file's size as it is now; 0, or the errno of the failure.
    int Size(std::uint64_t& size) const;
    // Cuts the file to size bytes, or extends it with zeros; 0, or the errno.
    int SetSize(std::uint64_t size) const;
    // Forces what was written to the disk; 0, or the errno.
    int Sync() const;
    // Closes the file (it is closed even when this reports an error); 0, or the errno.
    int Close();

    bool is_open() const { return fd_ >= 0; }
    int descriptor() const { return fd_; }

private:
    int fd_ = -1;
};

}  // namespace platform
