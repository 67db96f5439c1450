#include "platform/output_device.h"

#include <unistd.h>

#include <cerrno>

#include "platform/output_file.h"

namespace platform {

namespace {

class DescriptorDevice : public OutputDevice {
public:
    explicit DescriptorDevice(int fd) : fd_(fd) {}
    WriteFailure Write(std::string_view bytes) override {
        const char* data = bytes.data();
        std::size_t left = bytes.size();
        while (left > 0) {
            const ssize_t written = ::write(fd_, data, left);
            if (written < 0 && errno == EINTR) continue;
            // A write that makes no progress would loop for ever.
            if (written <= 0) return WriteFailureOf(written < 0 ? errno : EIO);
            data += written;
            left -= static_cast<std::size_t>(written);
        }
        return WriteFailure::kNone;
    }
    WriteFailure WriteAt(std::string_view bytes, std::uint64_t offset) override {
        return WriteFailureOf(WriteAllAt(fd_, bytes.data(), bytes.size(), offset));
    }
    WriteFailure Sync() override { return ::fsync(fd_) == 0 ? WriteFailure::kNone : WriteFailureOf(errno); }
    WriteFailure Close() override { return WriteFailure::kNone; }

private:
    int fd_;
};

}  // namespace

std::unique_ptr<OutputDevice> FileDevice(int descriptor) { return std::make_unique<DescriptorDevice>(descriptor); }

std::unique_ptr<OutputDevice> DeviceFor(int descriptor, const DeviceFilter* filter) {
    std::unique_ptr<OutputDevice> file = FileDevice(descriptor);
    return filter == nullptr ? std::move(file) : filter->Wrap(std::move(file));
}

}  // namespace platform
