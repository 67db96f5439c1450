#include "platform/state_folder.h"

#include <shlobj.h>

#include "platform/output_file.h"
#include "platform/win32/win32_support.h"

namespace platform {

namespace {

// Makes every missing level of path (levels below the base exist already).
bool MakeLevels(const std::wstring& path, std::size_t from, std::string& error) {
    for (std::size_t at = from; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != L'\\') continue;
        const std::wstring level = path.substr(0, at);
        if (!::CreateDirectoryW(level.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            error = win32::Utf8Text(level) + ": " + ErrorText(win32::LastErrno());
            return false;
        }
    }
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        error = win32::Utf8Text(path) + " is not a folder";
        return false;
    }
    return true;
}

}  // namespace

// %LOCALAPPDATA%\Ombrik: the user's own folder for what stays on this computer (it does not
// travel with a roaming profile), readable by the user alone as the profile's folders are.
std::string UserStateFolder(const std::string& sub_folder, std::string& error) {
    PWSTR local = nullptr;
    if (::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &local) != S_OK || local == nullptr) {
        if (local != nullptr) ::CoTaskMemFree(local);
        error = "the user's local application data folder is unknown";
        return {};
    }
    std::wstring base = local;
    ::CoTaskMemFree(local);
    while (base.size() > 3 && base.back() == L'\\') base.pop_back();
    std::wstring path = base + L"\\Ombrik";
    if (!sub_folder.empty()) {
        std::wstring sub = win32::WideText(sub_folder);
        for (wchar_t& c : sub)
            if (c == L'/') c = L'\\';
        path += L"\\" + sub;
    }
    if (!MakeLevels(path, base.size() + 1, error)) return {};
    return win32::Utf8Text(path);
}

}  // namespace platform
