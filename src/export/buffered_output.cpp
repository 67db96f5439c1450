#include "export/buffered_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

BufferedOutput::BufferedOutput(std::size_t buffer_size) : buffer_(buffer_size) {}

BufferedOutput::~BufferedOutput() { Close(); }

bool BufferedOutput::Open(const std::string& path) {
    Close();
    error_ = 0;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) error_ = errno;
    return fd_ >= 0;
}

void BufferedOutput::WriteSlow(std::string_view bytes) {
    if (bytes.size() >= buffer_.size() - used_) {
        Flush();
        if (bytes.size() >= buffer_.size()) {
            // Large pieces go straight to the file rather than through the buffer.
            const char* data = bytes.data();
            std::size_t left = bytes.size();
            while (left > 0 && error_ == 0 && fd_ >= 0) {
                const ssize_t written = ::write(fd_, data, left);
                if (written < 0) {
                    if (errno != EINTR) error_ = errno;
                    continue;
                }
                data += written;
                left -= static_cast<std::size_t>(written);
            }
            return;
        }
    }
    std::memcpy(buffer_.data() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
}

void BufferedOutput::Flush() {
    std::size_t done = 0;
    while (done < used_ && error_ == 0 && fd_ >= 0) {
        const ssize_t written = ::write(fd_, buffer_.data() + done, used_ - done);
        if (written < 0) {
            if (errno != EINTR) error_ = errno;
            continue;
        }
        done += static_cast<std::size_t>(written);
    }
    used_ = 0;
}

bool BufferedOutput::Close() {
    if (fd_ < 0) return error_ == 0;
    Flush();
    if (::close(fd_) != 0 && errno != EINTR && error_ == 0) error_ = errno;
    fd_ = -1;
    return error_ == 0;
}

std::string BufferedOutput::error_text() const { return error_ == 0 ? std::string() : std::strerror(error_); }
