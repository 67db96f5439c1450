#include "msgfile/message_file.h"

#include <cerrno>

#include "platform/file_stream.h"

CUTF16File::~CUTF16File() { Close(); }

bool CUTF16File::Open(const std::string& name, unsigned flags) {
    Close();
    flags_ = flags | file_flags::kBinary;  // binary always: the bytes are the message
    name_ = name;
    last_error_ = 0;
    if (flags_ & file_flags::kWrite) {
        if (!out_.Open(name, platform::OutputMode::kTruncate)) last_error_ = out_.error();
        return out_.is_open();
    }
    in_ = platform::OpenFileStream(name, "rb");
    if (in_ == nullptr) last_error_ = errno;
    return in_ != nullptr;
}

bool CUTF16File::Write(const void* data, std::size_t size) {
    if (!out_.is_open()) return false;
    if (out_.Write(data, size)) return true;
    last_error_ = out_.error();
    return false;
}

bool CUTF16File::Close() {
    if (in_ != nullptr) {
        std::fclose(in_);
        in_ = nullptr;
    }
    if (!out_.is_open()) return true;
    if (out_.Close()) return true;
    last_error_ = out_.error();
    return false;
}

WriteResult WriteMessageFile(const std::string& path, std::string_view text) {
    CUTF16File file;
    WriteResult result;
    if (!file.Open(path, file_flags::kCreate | file_flags::kWrite)) {
        result.error = platform::ErrorText(file.last_error());
        return result;
    }
    const bool written = file.Write(text.data(), text.size());
    const bool closed = file.Close();
    result.ok = written && closed;
    if (!result.ok) result.error = platform::ErrorText(file.last_error());
    return result;
}

WriteResult WriteMessageFile(const std::string& path, const std::optional<std::string>& text) {
    return WriteMessageFile(path, text ? std::string_view(*text) : std::string_view());
}
