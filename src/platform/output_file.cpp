#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {

namespace {

int OpenRetryingInterrupts(const std::string& path, int flags, bool private_file) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags, private_file ? 0600 : 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

int OpenOutputDescriptor(const std::string& path, OutputMode mode, bool read_back, bool private_file) {
    // O_NONBLOCK keeps a FIFO planted at the path from stalling the open; it is refused below.
    const int base = (read_back ? O_RDWR : O_WRONLY) | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    // Every mode first tries to create the file: a file this call created is a new regular file,
    // where O_NONBLOCK changes nothing and nothing needs looking at, so a new file costs one call.
    int fd = OpenRetryingInterrupts(path, base | O_EXCL, private_file);
    if (fd >= 0) return fd;
    if (errno != EEXIST || mode == OutputMode::kCreateNew) return -errno;
    if (mode == OutputMode::kReplace) {
        // The name is removed, not what it points to: a link there goes, its target stays.
        if (::unlink(path.c_str()) != 0 && errno != ENOENT && errno != EISDIR && errno != EPERM) return -errno;
        fd = OpenRetryingInterrupts(path, base | O_EXCL, private_file);
        return fd >= 0 ? fd : -errno;
    }
    // kTruncate over something that is there: a link is refused (O_NOFOLLOW), anything else is
    // opened as it is and looked at.
    fd = OpenRetryingInterrupts(path, base | O_TRUNC, private_file);
    if (fd < 0) return -errno;
    struct stat info {};
    const bool writable_kind = ::fstat(fd, &info) == 0 && !S_ISFIFO(info.st_mode) && !S_ISSOCK(info.st_mode);
    if (!writable_kind) {
        ::close(fd);
        return -EINVAL;  // a pipe planted at the path would hand the message to whoever reads it
    }
    if (!S_ISREG(info.st_mode)) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

int WriteAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset) {
    const auto* bytes = static_cast<const char*>(data);
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), error_(other.error_), path_(std::move(other.path_)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
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
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0 && error_ == 0) {
        const ssize_t written = ::write(fd_, data, left);
        if (written < 0) {
            if (errno != EINTR) error_ = errno;
            continue;
        }
        if (written == 0) {
            error_ = EIO;  // a write that makes no progress would loop for ever
            break;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return error_ == 0;
}

int OutputFile::WriteAt(const void* data, std::size_t size, std::uint64_t offset) {
    return fd_ < 0 ? EBADF : WriteAllAt(fd_, data, size, offset);
}

bool OutputFile::Sync() {
    if (fd_ < 0) return false;
    if (::fsync(fd_) != 0 && error_ == 0) error_ = errno;
    return error_ == 0;
}

bool OutputFile::Close() {
    if (fd_ < 0) return error_ == 0;
    // close is not retried after EINTR: the descriptor is gone either way on Linux.
    if (::close(fd_) != 0 && errno != EINTR && error_ == 0) error_ = errno;
    fd_ = -1;
    return error_ == 0;
}

void OutputFile::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!path_.empty()) ::unlink(path_.c_str());
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

std::string ErrorText(int error) { return error == 0 ? std::string() : std::strerror(error); }

}  // namespace platform
