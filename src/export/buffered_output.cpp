#include "export/buffered_output.h"

BufferedOutput::BufferedOutput(std::size_t buffer_size) : buffer_(buffer_size) {}

BufferedOutput::~BufferedOutput() { Close(); }

bool BufferedOutput::Open(const std::string& path) {
    Close();
    used_ = 0;
    return file_.Open(path, platform::OutputMode::kTruncate);
}

void BufferedOutput::WriteSlow(std::string_view bytes) {
    if (bytes.size() >= buffer_.size() - used_) {
        Flush();
        if (bytes.size() >= buffer_.size()) {
            // Large pieces go straight to the file rather than through the buffer.
            if (file_.is_open()) file_.Write(bytes);
            return;
        }
    }
    std::memcpy(buffer_.data() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
}

void BufferedOutput::Flush() {
    if (used_ > 0 && file_.is_open()) file_.Write(buffer_.data(), used_);
    used_ = 0;
}

bool BufferedOutput::Close() {
    if (!file_.is_open()) return file_.error() == 0;
    Flush();
    return file_.Close();
}

std::string BufferedOutput::error_text() const { return file_.error_text(); }
