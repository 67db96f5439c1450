#include "export/buffered_output.h"

BufferedOutput::BufferedOutput(std::size_t buffer_size) : buffer_(buffer_size) {}

BufferedOutput::~BufferedOutput() { Close(); }

void BufferedOutput::Open(platform::OutputDevice& device) {
    Close();
    used_ = 0;
    failure_ = platform::WriteFailure::kNone;
    device_ = &device;
}

bool BufferedOutput::Open(const std::string& path) {
    Close();
    used_ = 0;
    failure_ = platform::WriteFailure::kNone;
    if (!own_file_.Open(path, platform::OutputMode::kTruncate)) {
        failure_ = platform::WriteFailureOf(own_file_.error());
        return false;
    }
    own_device_ = platform::FileDevice(own_file_.descriptor());
    device_ = own_device_.get();
    return true;
}

void BufferedOutput::Send(std::string_view bytes) {
    // After the first failure nothing more is written: what follows would land after a gap.
    if (device_ != nullptr && failure_ == platform::WriteFailure::kNone) failure_ = device_->Write(bytes);
}

void BufferedOutput::WriteSlow(std::string_view bytes) {
    if (bytes.size() >= buffer_.size() - used_) {
        Flush();
        if (bytes.size() >= buffer_.size()) {
            // Large pieces go straight to the device rather than through the buffer.
            Send(bytes);
            return;
        }
    }
    std::memcpy(buffer_.data() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
}

void BufferedOutput::Flush() {
    if (used_ > 0) Send(std::string_view(buffer_.data(), used_));
    used_ = 0;
}

bool BufferedOutput::Close() {
    if (device_ == nullptr) return failure_ == platform::WriteFailure::kNone;
    Flush();
    device_ = nullptr;
    own_device_.reset();
    if (own_file_.is_open() && !own_file_.Close() && failure_ == platform::WriteFailure::kNone)
        failure_ = platform::WriteFailureOf(own_file_.error());
    return failure_ == platform::WriteFailure::kNone;
}
