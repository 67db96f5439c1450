#include "platform/output_file.h"

#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/win32/win32_support.h"

namespace platform {

using win32::HandleOf;

namespace {

constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

// Creates a new file at path, failing with EEXIST when anything is there, a link included.
HANDLE CreateNew(const std::string& path, DWORD access) {
    return win32::OpenHandle(path, access, CREATE_NEW);
}

// What kind of thing an open handle is: a link itself (opened without following it), a folder,
// a device or pipe, or a plain file.
int RefusalOfOpened(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(handle) != FILE_TYPE_DISK) return EINVAL;
    if (!::GetFileInformationByHandle(handle, &info)) return win32::LastErrno();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return ELOOP;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return EISDIR;
    return 0;
}

int WriteAllAtHandle(HANDLE handle, const void* data, std::size_t size, std::uint64_t offset) {
    const auto* bytes = static_cast<const char*>(data);
    for (std::size_t done = 0; done < size;) {
        OVERLAPPED at = win32::OverlappedAt(offset + done);
        DWORD written = 0;
        const auto part = static_cast<DWORD>(std::min(size - done, kMaxTransfer));
        if (!::WriteFile(handle, bytes + done, part, &written, &at)) {
            // Rights are checked when a file is opened: refused here, the handle is a read-only one.
            const DWORD error = ::GetLastError();
            return error == ERROR_ACCESS_DENIED ? EBADF : win32::ErrnoOf(error);
        }
        if (written == 0) return EIO;
        done += written;
    }
    return 0;
}

}  // namespace

int OpenOutputDescriptor(const std::string& path, OutputMode mode, bool read_back, bool /*private_file*/) {
    // A file made in the user's folders takes their folder's permissions, which already keep it
    // to its owner where the folder does; there are no mode bits to narrow.
    const DWORD access = GENERIC_WRITE | (read_back ? GENERIC_READ : 0);
    HANDLE handle = CreateNew(path, access);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || mode == OutputMode::kCreateNew)
            return -win32::ErrnoOf(error);
        if (mode == OutputMode::kReplace) {
            // The name is removed, not what it points to: a link there goes, its target stays.
            ::DeleteFileW(win32::WidePath(path).c_str());
            handle = CreateNew(path, access);
            return handle == INVALID_HANDLE_VALUE ? -win32::LastErrno() : win32::DescriptorFor(handle);
        }
        // kTruncate over something that is there: opened as the link itself when it is one, so
        // that a link is refused, and emptied only once it is known to be a plain file.
        handle = win32::OpenHandle(path, access, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
        if (handle == INVALID_HANDLE_VALUE) {
            const int open_error = win32::LastErrno();
            const DWORD attributes = ::GetFileAttributesW(win32::WidePath(path).c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return -EISDIR;
            return -open_error;
        }
        if (const int refusal = RefusalOfOpened(handle)) {
            ::CloseHandle(handle);
            return -refusal;
        }
        FILE_END_OF_FILE_INFO empty{};
        if (!::SetFileInformationByHandle(handle, FileEndOfFileInfo, &empty, sizeof empty)) {
            const int error = win32::LastErrno();
            ::CloseHandle(handle);
            return -error;
        }
    }
    const int fd = win32::DescriptorFor(handle);
    return fd < 0 ? -EMFILE : fd;
}

int WriteAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset) {
    const HANDLE handle = HandleOf(fd);
    return handle == INVALID_HANDLE_VALUE ? EBADF : WriteAllAtHandle(handle, data, size, offset);
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::_close(fd_);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), error_(other.error_), path_(std::move(other.path_)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::_close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        error_ = other.error_;
        path_ = std::move(other.path_);
    }
    return *this;
}

bool OutputFile::Open(const std::string& path, OutputMode mode, bool private_file) {
    if (fd_ >= 0) Close();
    path_ = path;
    const int fd = OpenOutputDescriptor(path, mode, false, private_file);
    error_ = fd < 0 ? -fd : 0;
    fd_ = fd < 0 ? -1 : fd;
    return fd_ >= 0;
}

bool OutputFile::Write(std::string_view bytes) {
    if (fd_ < 0 && error_ == 0) error_ = EBADF;
    const HANDLE handle = HandleOf(fd_);
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0 && error_ == 0) {
        DWORD written = 0;
        if (!::WriteFile(handle, data, static_cast<DWORD>(std::min(left, kMaxTransfer)), &written, nullptr)) {
            error_ = win32::LastErrno();
            break;
        }
        if (written == 0) {
            error_ = EIO;  // a write that makes no progress would loop for ever
            break;
        }
        data += written;
        left -= written;
    }
    return error_ == 0;
}

int OutputFile::WriteAt(const void* data, std::size_t size, std::uint64_t offset) {
    if (fd_ < 0) return EBADF;
    // A positioned write moves the handle's position on Windows; the append position is put
    // back, as a positioned write on POSIX systems leaves it.
    const HANDLE handle = HandleOf(fd_);
    LARGE_INTEGER zero{}, position{};
    if (!::SetFilePointerEx(handle, zero, &position, FILE_CURRENT)) return win32::LastErrno();
    const int error = WriteAllAtHandle(handle, data, size, offset);
    if (!::SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) && error == 0) return win32::LastErrno();
    return error;
}

bool OutputFile::Sync() {
    if (fd_ < 0) return false;
    if (!::FlushFileBuffers(HandleOf(fd_)) && error_ == 0) error_ = win32::LastErrno();
    return error_ == 0;
}

bool OutputFile::Close() {
    if (fd_ < 0) return error_ == 0;
    if (::_close(fd_) != 0 && error_ == 0) error_ = errno;
    fd_ = -1;
    return error_ == 0;
}

void OutputFile::Discard() {
    if (fd_ >= 0) {
        ::_close(fd_);
        fd_ = -1;
    }
    if (!path_.empty()) ::DeleteFileW(win32::WidePath(path_).c_str());
}

std::string OutputFile::error_text() const { return ErrorText(error_); }

int WriteWholeFile(const std::string& path, std::string_view bytes, OutputMode mode, bool sync) {
    OutputFile file;
    if (!file.Open(path, mode)) return file.error();
    const bool ok = file.Write(bytes) && (!sync || file.Sync()) && file.Close();
    if (ok) return 0;
    const int error = file.error();
    file.Discard();
    return error;
}

std::string ErrorText(int error) {
    if (error == 0) return {};
    // The C runtime of Windows has no words for the POSIX additions; these are the ones we use.
    switch (error) {
    case ELOOP: return "Too many levels of symbolic links";
    case ENOTSUP: return "Operation not supported";
    default: return std::strerror(error);
    }
}

}  // namespace platform
