#include "platform/file_stream.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include "platform/win32/win32_support.h"

namespace platform {

namespace {

constexpr std::wstring_view kVerbatim = L"\\\\?\\";
constexpr std::wstring_view kVerbatimShare = L"\\\\?\\UNC\\";

}  // namespace

std::FILE* OpenFileStream(const std::string& path, const char* mode) {
    return ::_wfopen(win32::WidePath(path).c_str(), win32::WideText(mode).c_str());
}

std::FILE* OpenTemporaryStream() {
    const HANDLE handle = win32::CreateTemporaryFile();
    if (handle == INVALID_HANDLE_VALUE) {
        errno = win32::LastErrno();
        return nullptr;
    }
    const int fd = win32::DescriptorFor(handle);
    if (fd < 0) {
        errno = EMFILE;
        return nullptr;
    }
    std::FILE* stream = ::_fdopen(fd, "w+b");
    if (stream == nullptr) ::_close(fd);
    return stream;
}

std::filesystem::path FileSystemPath(const std::string& path) {
    // The wide text as it is, without the \\?\ prefix, which the C runtime's calls under
    // std::filesystem mistake for a part of the path; long paths there rely on the manifest's
    // long-path awareness.
    std::wstring wide = win32::WideText(path);
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    return std::filesystem::path(std::move(wide));
}

std::string Utf8PathText(const std::filesystem::path& path) {
    // The prefix that lifts the length limit is the system's business, not part of the name.
    std::wstring_view wide = path.native();
    if (wide.substr(0, kVerbatimShare.size()) == kVerbatimShare) {
        return "\\\\" + win32::Utf8Text(wide.substr(kVerbatimShare.size()));
    }
    if (wide.substr(0, kVerbatim.size()) == kVerbatim) wide.remove_prefix(kVerbatim.size());
    return win32::Utf8Text(wide);
}

}  // namespace platform
