#include "platform/disks.h"

#include <cwchar>
#include <cwctype>
#include <iterator>

#include "platform/win32/win32_support.h"

namespace platform {

namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t value[MAX_PATH + 1];
    const DWORD length = ::GetEnvironmentVariableW(name, value, MAX_PATH + 1);
    return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(value, length);
}

}  // namespace

std::string LocalProfilesFolder() {
    // The parent of this user's profile: C:\Users\anna gives C:\Users.
    const std::wstring profile = Environment(L"USERPROFILE");
    const std::size_t separator = profile.find_last_of(L"\\/");
    if (separator == std::wstring::npos || separator < 3) return {};
    return win32::Utf8Text(profile.substr(0, separator));
}

std::vector<std::string> OtherDriveRoots() {
    const std::wstring system = Environment(L"SystemDrive");  // "C:"
    wchar_t drives[27 * 4 + 1] = {};
    const DWORD length = ::GetLogicalDriveStringsW(static_cast<DWORD>(std::size(drives) - 1), drives);
    std::vector<std::string> roots;
    if (length == 0 || length >= std::size(drives)) return roots;
    for (const wchar_t* root = drives; *root != L'\0'; root += std::wcslen(root) + 1) {
        const UINT type = ::GetDriveTypeW(root);
        if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE) continue;
        if (system.size() == 2 && std::towupper(root[0]) == std::towupper(system[0])) continue;
        roots.push_back(win32::Utf8Text(root));
    }
    return roots;
}

}  // namespace platform
