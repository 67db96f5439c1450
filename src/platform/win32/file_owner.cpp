#include "platform/file_owner.h"

#include "platform/win32/win32_support.h"

namespace platform {

// Windows keeps owners and rights in access lists, which a file made beside the original takes
// from its folder as the original did; of the mode bits only the owner's write bit has a
// counterpart, the read-only attribute. No owner is told (-1), so none is set.

std::optional<OwnerAndMode> OwnerAndModeOf(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(win32::WidePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return OwnerAndMode{(attributes & FILE_ATTRIBUTE_READONLY) ? 0444u : 0644u, -1, -1};
}

int SetOwner(const std::string& path, long uid, long gid) {
    if (uid < 0 && gid < 0) return 0;
    return ::GetFileAttributesW(win32::WidePath(path).c_str()) == INVALID_FILE_ATTRIBUTES ? win32::LastErrno() : EPERM;
}

int SetMode(const std::string& path, unsigned mode) {
    const std::wstring wide = win32::WidePath(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return win32::LastErrno();
    const DWORD wanted = (mode & 0200u) ? attributes & ~DWORD{FILE_ATTRIBUTE_READONLY} : attributes | FILE_ATTRIBUTE_READONLY;
    if (wanted == attributes) return 0;
    return ::SetFileAttributesW(wide.c_str(), wanted) ? 0 : win32::LastErrno();
}

}  // namespace platform
