#include "platform/paths.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "platform/win32/win32_support.h"

namespace platform {

bool CreateDirectory(const std::string& path) {
    if (::CreateDirectoryW(win32::WidePath(path).c_str(), nullptr)) return true;
    return ::GetLastError() == ERROR_ALREADY_EXISTS && IsDirectory(path);
}

bool FileExists(const std::string& path) {
    return ::GetFileAttributesW(win32::WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(win32::WidePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool DeleteFile(const std::string& path) { return ::DeleteFileW(win32::WidePath(path).c_str()) != 0; }

int RenameReplacing(const std::string& from, const std::string& to) {
    return ::MoveFileExW(win32::WidePath(from).c_str(), win32::WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING)
               ? 0
               : win32::LastErrno();
}

PrivateTempDir::PrivateTempDir() {
    wchar_t base[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH) throw std::runtime_error("cannot find the temporary folder");
    // The user's temporary folder is theirs alone; a name nobody can guess keeps others' files
    // out of ours within it.
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = std::wstring(base) + L"ombrik-" + std::to_wstring(entropy()) + std::to_wstring(entropy());
        if (::CreateDirectoryW(name.c_str(), nullptr)) {
            path_ = win32::Utf8Text(name);
            return;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            throw std::runtime_error("cannot create a temporary folder: " + std::string(std::strerror(win32::LastErrno())));
    }
    throw std::runtime_error("cannot create a temporary folder");
}

PrivateTempDir::~PrivateTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(win32::WidePath(path_)), ignored);
}

}  // namespace platform
