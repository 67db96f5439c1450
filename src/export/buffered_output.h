// A file written through one large buffer, remembering the first error so that a full disk or
// a failed close is reported rather than lost.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/output_file.h"

class BufferedOutput {
public:
    explicit BufferedOutput(std::size_t buffer_size = 1 << 20);
    ~BufferedOutput();
    BufferedOutput(const BufferedOutput&) = delete;
    BufferedOutput& operator=(const BufferedOutput&) = delete;

    // Created, or emptied if it exists; a link planted at the path is refused, never followed.
    bool Open(const std::string& path);
    void Write(std::string_view bytes) {
        if (bytes.size() < buffer_.size() - used_) {  // the common case, kept inline
            std::memcpy(buffer_.data() + used_, bytes.data(), bytes.size());
            used_ += bytes.size();
            return;
        }
        WriteSlow(bytes);
    }
    void Put(char byte) {
        if (used_ == buffer_.size()) Flush();
        buffer_[used_++] = byte;
    }
    bool Close();  // true when every byte reached the file
    bool is_open() const { return file_.is_open(); }
    bool failed() const { return file_.error() != 0; }
    std::string error_text() const;

private:
    void WriteSlow(std::string_view bytes);
    void Flush();
    platform::OutputFile file_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};
