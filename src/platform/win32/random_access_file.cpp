#include "platform/random_access_file.h"

#include <io.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/output_file.h"
#include "platform/win32/win32_support.h"

namespace platform {

using win32::HandleOf;

namespace {

// One call moves at most this much: the counts of ReadFile and WriteFile are 32-bit.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

}  // namespace

std::int64_t ReadAllAt(int fd, void* data, std::size_t size, std::uint64_t offset) {
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) return -EBADF;
    auto* bytes = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
        // A positioned read: the offset travels with the call, so threads never share a position.
        OVERLAPPED at = win32::OverlappedAt(offset + done);
        DWORD got = 0;
        const auto part = static_cast<DWORD>(std::min(size - done, kMaxTransfer));
        if (!::ReadFile(handle, bytes + done, part, &got, &at)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_HANDLE_EOF) break;
            return -win32::ErrnoOf(error);
        }
        if (got == 0) break;
        done += got;
    }
    return static_cast<std::int64_t>(done);
}

int DescriptorOf(std::FILE* stream) { return ::_fileno(stream); }

int VersionOf(int fd, FileVersion& version) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(HandleOf(fd), &info)) return win32::LastErrno();
    constexpr std::int64_t kUnixEpochTicks = 116444736000000000LL;  // 1970-01-01 as a FILETIME
    const auto ticks = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                                 info.ftLastWriteTime.dwLowDateTime);
    version.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    version.modified_ns = (ticks - kUnixEpochTicks) * 100;
    return 0;
}

RandomAccessFile::~RandomAccessFile() {
    if (fd_ >= 0) ::_close(fd_);
}

RandomAccessFile::RandomAccessFile(RandomAccessFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

RandomAccessFile& RandomAccessFile::operator=(RandomAccessFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::_close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

int RandomAccessFile::Open(const std::string& path, Access access) {
    Close();
    const DWORD rights = access == Access::kRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const HANDLE handle = win32::OpenHandle(path, rights, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) {
        const int error = win32::LastErrno();
        // A folder is refused with access denied; say what it is, as open(2) does.
        const DWORD attributes = ::GetFileAttributesW(win32::WidePath(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return EISDIR;
        return error;
    }
    fd_ = win32::DescriptorFor(handle);
    return fd_ < 0 ? EMFILE : 0;
}

int RandomAccessFile::OpenTemporary() {
    Close();
    const HANDLE handle = win32::CreateTemporaryFile();
    if (handle == INVALID_HANDLE_VALUE) return win32::LastErrno();
    fd_ = win32::DescriptorFor(handle);
    return fd_ < 0 ? EMFILE : 0;
}

std::int64_t RandomAccessFile::ReadAt(void* data, std::size_t size, std::uint64_t offset) const {
    return fd_ < 0 ? -EBADF : ReadAllAt(fd_, data, size, offset);
}

int RandomAccessFile::WriteAt(const void* data, std::size_t size, std::uint64_t offset) const {
    return fd_ < 0 ? EBADF : WriteAllAt(fd_, data, size, offset);
}

int RandomAccessFile::Size(std::uint64_t& size) const {
    LARGE_INTEGER value{};
    if (!::GetFileSizeEx(HandleOf(fd_), &value)) return win32::LastErrno();
    size = static_cast<std::uint64_t>(value.QuadPart);
    return 0;
}

int RandomAccessFile::SetSize(std::uint64_t size) const {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFileInformationByHandle(HandleOf(fd_), FileEndOfFileInfo, &end, sizeof end) ? 0 : win32::LastErrno();
}

int RandomAccessFile::Sync() const { return ::FlushFileBuffers(HandleOf(fd_)) ? 0 : win32::LastErrno(); }

int RandomAccessFile::Close() {
    if (fd_ < 0) return 0;
    return ::_close(std::exchange(fd_, -1)) == 0 ? 0 : errno;
}

}  // namespace platform
