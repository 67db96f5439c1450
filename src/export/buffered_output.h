// Bytes written to an output device through one large buffer, remembering the first failure so
// that a full disk or a failed close is reported rather than lost.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/output_device.h"
#include "platform/output_file.h"
#include "platform/write_failure.h"

class BufferedOutput {
public:
    explicit BufferedOutput(std::size_t buffer_size = 1 << 20);
    ~BufferedOutput();
    BufferedOutput(const BufferedOutput&) = delete;
    BufferedOutput& operator=(const BufferedOutput&) = delete;

    // Writes into device from now on; the device stays its owner's and must outlive the writing.
    void Open(platform::OutputDevice& device);
    // Writes into the plain file at path, created or emptied; a link planted there is refused.
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
    bool Close();  // true when every byte reached the device
    bool is_open() const { return device_ != nullptr; }
    bool failed() const { return failure_ != platform::WriteFailure::kNone; }
    platform::WriteFailure failure() const { return failure_; }
    std::string error_text() const { return platform::WriteFailureWords(failure_); }

private:
    void WriteSlow(std::string_view bytes);
    void Flush();
    void Send(std::string_view bytes);
    platform::OutputDevice* device_ = nullptr;
    platform::OutputFile own_file_;  // for Open(path)
    std::unique_ptr<platform::OutputDevice> own_device_;
    platform::WriteFailure failure_ = platform::WriteFailure::kNone;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};
