// Stores a message's text exactly as the folder file holds it: byte for byte, no line-end
// translation, no byte-order mark.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "platform/output_file.h"

// Open flags, with the values the file layer was designed around.
namespace file_flags {
constexpr unsigned kWrite = 0x0001;
constexpr unsigned kCreate = 0x1000;
constexpr unsigned kBinary = 0x8000;
}  // namespace file_flags

// A file that is always opened in binary mode, whatever flags it is given.
class CUTF16File {
public:
    CUTF16File() = default;
    ~CUTF16File();  // closes a file still open
    CUTF16File(const CUTF16File&) = delete;
    CUTF16File& operator=(const CUTF16File&) = delete;

    // Write when kWrite: created, or emptied if it exists; a link planted at the path is never
    // followed. Read-only otherwise.
    bool Open(const std::string& name, unsigned flags);
    bool Write(const void* data, std::size_t size);  // every byte, or false
    bool Close();                                    // false when the data did not all reach the file
    bool IsOpen() const { return out_.is_open() || in_ != nullptr; }
    const std::string& name() const { return name_; }
    int last_error() const { return last_error_; }

private:
    platform::OutputFile out_;
    std::FILE* in_ = nullptr;
    unsigned flags_ = 0;
    std::string name_;
    int last_error_ = 0;
};

// Result of writing one message file; error is empty on success.
struct WriteResult {
    bool ok = false;
    std::string error;
    explicit operator bool() const { return ok; }
};

// Writes the whole text into path (created, or emptied if it exists), zero bytes included: a
// message is never cut short. An absent text leaves an empty file. Never throws; reports
// whether every byte reached the file.
WriteResult WriteMessageFile(const std::string& path, const std::optional<std::string>& text);
WriteResult WriteMessageFile(const std::string& path, std::string_view text);
