#include "platform/directory.h"

#include "platform/paths.h"
#include "platform/win32/win32_support.h"

namespace platform {

std::optional<std::vector<std::string>> ListDirectory(const std::string& path) {
    std::string pattern = path;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAW entry{};
    const HANDLE search = ::FindFirstFileExW(win32::WidePath(pattern).c_str(), FindExInfoBasic, &entry,
                                             FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        // Only the root of an empty drive has no entries at all, not even "." and "..".
        if (::GetLastError() == ERROR_FILE_NOT_FOUND && IsDirectory(path)) return std::vector<std::string>{};
        return std::nullopt;
    }
    std::vector<std::string> names;
    do {
        const std::wstring_view name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(win32::Utf8Text(name));
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    return names;
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    // Opened as what a link leads to, folders too (backup semantics), without reading anything.
    const HANDLE handle = win32::OpenHandle(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(handle, &info) != 0;
    ::CloseHandle(handle);
    if (!known) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

}  // namespace platform
