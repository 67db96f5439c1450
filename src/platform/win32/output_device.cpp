#include "platform/output_device.h"

#include <algorithm>

#include "platform/output_file.h"
#include "platform/win32/win32_support.h"

namespace platform {

namespace {

constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

class HandleDevice : public OutputDevice {
public:
    explicit HandleDevice(int fd) : fd_(fd) {}
    WriteFailure Write(std::string_view bytes) override {
        const HANDLE handle = win32::HandleOf(fd_);
        const char* data = bytes.data();
        std::size_t left = bytes.size();
        while (left > 0) {
            DWORD written = 0;
            if (!::WriteFile(handle, data, static_cast<DWORD>(std::min(left, kMaxTransfer)), &written, nullptr))
                return WriteFailureOf(win32::LastErrno());
            // A write that makes no progress would loop for ever.
            if (written == 0) return WriteFailure::kIo;
            data += written;
            left -= written;
        }
        return WriteFailure::kNone;
    }
    WriteFailure WriteAt(std::string_view bytes, std::uint64_t offset) override {
        // A positioned write moves the handle's position on Windows: the append position is put
        // back, as a positioned write on POSIX systems leaves it.
        const HANDLE handle = win32::HandleOf(fd_);
        LARGE_INTEGER zero{}, position{};
        if (!::SetFilePointerEx(handle, zero, &position, FILE_CURRENT)) return WriteFailureOf(win32::LastErrno());
        const WriteFailure failure = WriteFailureOf(WriteAllAt(fd_, bytes.data(), bytes.size(), offset));
        if (!::SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) && failure == WriteFailure::kNone)
            return WriteFailureOf(win32::LastErrno());
        return failure;
    }
    WriteFailure Sync() override {
        return ::FlushFileBuffers(win32::HandleOf(fd_)) ? WriteFailure::kNone : WriteFailureOf(win32::LastErrno());
    }
    WriteFailure Close() override { return WriteFailure::kNone; }

private:
    int fd_;
};

}  // namespace

std::unique_ptr<OutputDevice> FileDevice(int descriptor) { return std::make_unique<HandleDevice>(descriptor); }

std::unique_ptr<OutputDevice> DeviceFor(int descriptor, const DeviceFilter* filter) {
    std::unique_ptr<OutputDevice> file = FileDevice(descriptor);
    return filter == nullptr ? std::move(file) : filter->Wrap(std::move(file));
}

}  // namespace platform
