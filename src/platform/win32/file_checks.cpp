#include "platform/file_checks.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/process.h"
#include "platform/win32/win32_support.h"

namespace platform {

namespace {

std::string ReasonOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_NAME: return "does not exist";
    case ERROR_PATH_NOT_FOUND: return "does not exist (a part of its path is not a folder)";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_PRIVILEGE_NOT_HELD: return "permission denied";
    case ERROR_WRITE_PROTECT: return "is on a read-only disk";
    default: return std::strerror(win32::ErrnoOf(error));
    }
}

// What path leads to, links followed: its attributes and whether it is a file on a disk (not a
// device such as CON or a pipe). False, with error set, when it cannot be looked at.
bool LookAt(const std::string& path, BY_HANDLE_FILE_INFORMATION& info, bool& on_disk, DWORD& error) {
    const HANDLE handle = win32::OpenHandle(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        return false;
    }
    on_disk = ::GetFileType(handle) == FILE_TYPE_DISK;
    const bool looked = !on_disk || ::GetFileInformationByHandle(handle, &info);
    error = looked ? 0 : ::GetLastError();
    ::CloseHandle(handle);
    return looked;
}

}  // namespace

std::string ReadableFileRefusal(const std::string& path) {
    if (path.empty()) return "does not exist";
    BY_HANDLE_FILE_INFORMATION info{};
    bool on_disk = false;
    DWORD error = 0;
    if (!LookAt(path, info, on_disk, error)) return ReasonOf(error);
    if (!on_disk) return "is not a regular file";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return "is a folder";
    const HANDLE handle = win32::OpenHandle(path, GENERIC_READ, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) return ReasonOf(::GetLastError());
    ::CloseHandle(handle);
    return {};
}

std::string WritableFolderRefusal(const std::string& path) {
    if (path.empty()) return "does not exist";
    BY_HANDLE_FILE_INFORMATION info{};
    bool on_disk = false;
    DWORD error = 0;
    if (!LookAt(path, info, on_disk, error)) return ReasonOf(error);
    if (!on_disk || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return "is not a folder";
    // Windows decides by access lists that no attribute shows: the question is answered by
    // making a file there, which goes again when its handle closes.
    std::string probe = path;
    if (probe.back() != '\\' && probe.back() != '/') probe += '\\';
    probe += ".ombrik-probe-" + std::to_string(CurrentProcessId());
    const HANDLE handle = win32::OpenHandle(probe, GENERIC_WRITE, CREATE_NEW,
                                            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD refused = ::GetLastError();
        if (refused != ERROR_FILE_EXISTS) return ReasonOf(refused);
        return {};
    }
    ::CloseHandle(handle);
    return {};
}

bool WritableFile(const std::string& path) {
    BY_HANDLE_FILE_INFORMATION info{};
    bool on_disk = false;
    DWORD error = 0;
    if (!LookAt(path, info, on_disk, error) || !on_disk || (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) return false;
    const HANDLE handle = win32::OpenHandle(path, GENERIC_WRITE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(handle);
    return true;
}

}  // namespace platform
