#include "platform/win32/win32_support.h"

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <map>
#include <mutex>
#include <cerrno>

namespace platform::win32 {

namespace {

// Below this length a path of any kind stays within the old limit of 260 characters, which
// counts the 12 characters of a file name that CreateDirectoryW keeps free inside a folder.
constexpr std::size_t kShortPath = MAX_PATH - 12;

bool StartsWith(std::wstring_view text, std::wstring_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool IsAbsolute(std::wstring_view path) {
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return true;
    return StartsWith(path, L"\\\\");
}

}  // namespace

std::wstring WideText(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int needed = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), needed);
    return wide;
}

std::string Utf8Text(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), needed, nullptr, nullptr);
    return utf8;
}

std::wstring WidePath(const std::string& path) {
    std::wstring wide = WideText(path);
    // A path under \\?\ is handed to the file system as it is, so its separators must be right.
    const bool verbatim = StartsWith(wide, L"\\\\?\\") || StartsWith(wide, L"//?/");
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    if (verbatim || (wide.size() < kShortPath && IsAbsolute(wide))) return wide;
    const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return wide;
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return wide;
    full.resize(length);
    if (full.size() < kShortPath || StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\")) return wide;
    if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

int ErrnoOf(DWORD error) {
    switch (error) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_NO_MORE_FILES: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_CANNOT_MAKE: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_FILE_TOO_LARGE: return EFBIG;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_PARAMETER: return EINVAL;
    case ERROR_INVALID_HANDLE: return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_TOO_MANY_LINKS: return EMLINK;
    case ERROR_CANT_RESOLVE_FILENAME: return ELOOP;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED: return ENOTSUP;
    case ERROR_HANDLE_EOF: return 0;
    default: return EIO;
    }
}

HANDLE HandleOf(int fd) {
    if (fd < 0) return INVALID_HANDLE_VALUE;
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

int DescriptorFor(HANDLE handle) {
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (fd < 0) ::CloseHandle(handle);
    return fd;
}

HANDLE OpenHandle(const std::string& path, DWORD access, DWORD disposition, DWORD flags) {
    return ::CreateFileW(WidePath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, disposition, flags, nullptr);
}

HANDLE CreateTemporaryFile() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) return INVALID_HANDLE_VALUE;
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = std::wstring(folder) + L"ombrik-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(counter++) + L".tmp";
        // Removed by the system when the last handle goes, however the program ends.
        const HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                            CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return handle;
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

namespace {

std::mutex folder_paths_mutex;
std::map<int, std::wstring>& FolderPaths() {
    static std::map<int, std::wstring> paths;
    return paths;
}

std::wstring RememberedFolderPath(int folder_fd) {
    std::lock_guard<std::mutex> lock(folder_paths_mutex);
    const auto found = FolderPaths().find(folder_fd);
    return found == FolderPaths().end() ? std::wstring() : found->second;
}

}  // namespace

void RememberFolderPath(int folder_fd, const std::wstring& path) {
    std::lock_guard<std::mutex> lock(folder_paths_mutex);
    FolderPaths()[folder_fd] = path;
}

void ForgetFolderPath(int folder_fd) {
    std::lock_guard<std::mutex> lock(folder_paths_mutex);
    FolderPaths().erase(folder_fd);
}

std::wstring VerbatimPath(const std::string& path) {
    std::wstring wide = WidePath(path);
    if (StartsWith(wide, L"\\\\?\\")) return wide;
    const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return {};
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return {};
    full.resize(length);
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    if (StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\")) return full;
    if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// The handle's own answer first: it follows the folder wherever it was moved since.
std::wstring FolderPathOf(int folder_fd) {
    const HANDLE handle = HandleOf(folder_fd);
    if (handle == INVALID_HANDLE_VALUE) return {};
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return RememberedFolderPath(folder_fd);
        if (length < path.size()) {
            path.resize(length);
            while (path.size() > 4 && path.back() == L'\\') path.pop_back();
            // Children's paths are made by appending to it: under \\?\ their length never matters.
            if (StartsWith(path, L"\\\\?\\")) return path;
            if (StartsWith(path, L"\\\\")) return L"\\\\?\\UNC\\" + path.substr(2);
            return L"\\\\?\\" + path;
        }
        path.assign(length + 1, L'\0');
    }
    return RememberedFolderPath(folder_fd);
}

std::wstring ChildPath(int folder_fd, const std::string& name) {
    std::wstring folder = FolderPathOf(folder_fd);
    if (folder.empty()) return {};
    if (folder.back() != L'\\') folder += L'\\';
    return folder + WideText(name);
}

bool IsSingleComponent(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos &&
           name.find('\0') == std::string::npos;
}

OVERLAPPED OverlappedAt(std::uint64_t offset) {
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(offset);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return overlapped;
}

}  // namespace platform::win32
