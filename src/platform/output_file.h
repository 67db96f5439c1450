// The one way a conversion opens and writes an output file. Whatever the form, a link planted at
// the output path is never followed (the link itself is replaced or refused), every byte is
// written or the error is kept, and an interrupted or short write is resumed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

enum class OutputMode {
    kTruncate,  // an existing regular file is emptied and reused; a link at the path is refused
    kReplace,   // whatever is at the path (file or link) is removed and a new file created
    kCreateNew, // fails when anything is at the path already
};

// Opens path for output in the given mode, never through a link planted there; with read_back
// the file may be read as well (a store that reads back what it wrote). The descriptor, or
// -errno. The file is created with mode 0644 (0600 with private), less the umask.
int OpenOutputDescriptor(const std::string& path, OutputMode mode, bool read_back = false, bool private_file = false);
// Writes all size bytes at offset, resuming after an interruption or a short write; 0, or the
// errno of the failure.
int WriteAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset);

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // closes a file still open, without reporting
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;

    // False (with error() set) when the file cannot be opened as asked. The file is created
    // with mode 0644 (0600 with private), less the process's umask.
    bool Open(const std::string& path, OutputMode mode, bool private_file = false);
    // Appends every byte; false once any write failed (later writes do nothing).
    bool Write(std::string_view bytes);
    bool Write(const void* data, std::size_t size) {
        return Write(std::string_view(static_cast<const char*>(data), size));
    }
    // Writes at an offset without moving the append position; errno-style result, 0 on success.
    int WriteAt(const void* data, std::size_t size, std::uint64_t offset);
    // Forces the data to the disk.
    bool Sync();
    // True when every byte written reached the file and it closed cleanly.
    bool Close();
    // Closes and removes the file: what a failed writer leaves instead of a partial file.
    void Discard();

    bool is_open() const { return fd_ >= 0; }
    int descriptor() const { return fd_; }
    int error() const { return error_; }  // errno value of the first failure, 0 when none
    std::string error_text() const;
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    int error_ = 0;
    std::string path_;
};

// Writes bytes to path in the given mode; on failure removes what it wrote and returns the
// errno value, 0 on success.
int WriteWholeFile(const std::string& path, std::string_view bytes, OutputMode mode, bool sync = false);

// The text of an errno value.
std::string ErrorText(int error);

}  // namespace platform
