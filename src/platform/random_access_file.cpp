#include "platform/random_access_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/output_file.h"

namespace platform {

std::int64_t ReadAllAt(int fd, void* data, std::size_t size, std::uint64_t offset) {
    auto* bytes = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -errno;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

int DescriptorOf(std::FILE* stream) { return ::fileno(stream); }

int VersionOf(int fd, FileVersion& version) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return errno;
    version.size = static_cast<std::uint64_t>(info.st_size);
    version.modified_ns = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return 0;
}

RandomAccessFile::~RandomAccessFile() {
    if (fd_ >= 0) ::close(fd_);
}

RandomAccessFile::RandomAccessFile(RandomAccessFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

RandomAccessFile& RandomAccessFile::operator=(RandomAccessFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

int RandomAccessFile::Open(const std::string& path, Access access) {
    Close();
    fd_ = ::open(path.c_str(), (access == Access::kReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    return fd_ < 0 ? errno : 0;
}

int RandomAccessFile::OpenTemporary() {
    Close();
    // tmpfile gives a file that is already unlinked; its own descriptor outlives the stream.
    std::FILE* stream = std::tmpfile();
    if (stream == nullptr) return errno;
    fd_ = ::dup(::fileno(stream));
    const int error = errno;
    std::fclose(stream);
    return fd_ < 0 ? error : 0;
}

std::int64_t RandomAccessFile::ReadAt(void* data, std::size_t size, std::uint64_t offset) const {
    return fd_ < 0 ? -EBADF : ReadAllAt(fd_, data, size, offset);
}

int RandomAccessFile::WriteAt(const void* data, std::size_t size, std::uint64_t offset) const {
    return fd_ < 0 ? EBADF : WriteAllAt(fd_, data, size, offset);
}

int RandomAccessFile::Size(std::uint64_t& size) const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return errno;
    size = static_cast<std::uint64_t>(info.st_size);
    return 0;
}

int RandomAccessFile::SetSize(std::uint64_t size) const {
    return ::ftruncate(fd_, static_cast<off_t>(size)) == 0 ? 0 : errno;
}

int RandomAccessFile::Sync() const { return ::fsync(fd_) == 0 ? 0 : errno; }

int RandomAccessFile::Close() {
    if (fd_ < 0) return 0;
    const int rc = ::close(std::exchange(fd_, -1));
    return rc == 0 ? 0 : errno;
}

}  // namespace platform
