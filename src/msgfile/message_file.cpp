#include "msgfile/message_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CUTF16File::~CUTF16File() {
    if (fd_ >= 0) ::close(fd_);
}

bool CUTF16File::Open(const std::string& name, unsigned flags) {
    if (fd_ >= 0) Close();
    flags_ = flags | file_flags::kBinary;  // binary always: the bytes are the message
    name_ = name;
    int mode = O_RDONLY;
    if (flags_ & file_flags::kWrite) mode = O_WRONLY | ((flags_ & file_flags::kCreate) ? O_CREAT | O_TRUNC : 0);
    fd_ = ::open(name.c_str(), mode | O_CLOEXEC, 0666);
    last_error_ = fd_ < 0 ? errno : 0;
    return fd_ >= 0;
}

bool CUTF16File::Write(const void* data, std::size_t size) {
    if (fd_ < 0) return false;
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd_, bytes, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            last_error_ = errno;
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool CUTF16File::Close() {
    if (fd_ < 0) return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0 && errno != EINTR) {
        last_error_ = errno;
        return false;
    }
    return true;
}

WriteResult WriteMessageFile(const std::string& path, std::string_view text) {
    const void* zero = text.empty() ? nullptr : std::memchr(text.data(), '\0', text.size());
    if (zero != nullptr) text = text.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - text.data()));
    CUTF16File file;
    WriteResult result;
    if (!file.Open(path, file_flags::kCreate | file_flags::kWrite)) {
        result.error = std::strerror(file.last_error());
        return result;
    }
    const bool written = file.Write(text.data(), text.size());
    const bool closed = file.Close();
    result.ok = written && closed;
    if (!result.ok) result.error = std::strerror(file.last_error());
    return result;
}

WriteResult WriteMessageFile(const std::string& path, const std::optional<std::string>& text) {
    return WriteMessageFile(path, text ? std::string_view(*text) : std::string_view());
}
