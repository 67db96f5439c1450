// What every Windows implementation in platform/ shares: paths turned wide at the system's
// boundary (UTF-8 inside the program, UTF-16 for every call), the system's error codes told as
// errno values, and the C runtime's descriptors over the system's handles.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// <windows.h> renames these to their ...A or ...W forms, which would rename ours too.
#undef CreateDirectory
#undef DeleteFile

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::win32 {

// UTF-16 of UTF-8 text (invalid sequences become U+FFFD) and back.
std::wstring WideText(std::string_view utf8);
std::string Utf8Text(std::wstring_view wide);

// The wide form of a path for the system's file calls: both separators accepted, and a path
// too long for the old limit of 260 characters made absolute under the \\?\ prefix (its UNC
// form for a share), which lifts the limit. Short paths stay as given, relative ones too.
std::wstring WidePath(const std::string& path);

// The errno value closest to a system error code (EIO for the ones without a match).
int ErrnoOf(DWORD error);
inline int LastErrno() { return ErrnoOf(::GetLastError()); }

// The handle under a C runtime descriptor (INVALID_HANDLE_VALUE for none), and a descriptor
// that takes over a handle (-1, with the handle closed, when the runtime has no room).
HANDLE HandleOf(int fd);
int DescriptorFor(HANDLE handle);

// Opens path with CreateFileW; share modes let others read, write, rename and remove the file
// while it is open, as on POSIX systems.
HANDLE OpenHandle(const std::string& path, DWORD access, DWORD disposition, DWORD flags = FILE_ATTRIBUTE_NORMAL);

// A new file in the user's temporary folder, read and written, removed by the system when its
// last handle closes; INVALID_HANDLE_VALUE (with the error set) when none can be made.
HANDLE CreateTemporaryFile();

// A folder's handle that its descriptor carries: opened without following a link at its last
// component, and kept open so that the files made "in" it go where it is, not where a name
// leads later. The folder's path as the system knows it (under \\?\), "" when unknown.
std::wstring FolderPathOf(int folder_fd);
// Where a folder descriptor was opened (a full path under \\?\), for the systems that cannot
// tell a long path from a handle (Wine, past 260 characters); forgotten when it is closed.
void RememberFolderPath(int folder_fd, const std::wstring& path);
void ForgetFolderPath(int folder_fd);
// The full path of path under \\?\ (its UNC form for a share), however long it is.
std::wstring VerbatimPath(const std::string& path);
// The path of name in the folder open as folder_fd; empty when the folder's path is unknown.
std::wstring ChildPath(int folder_fd, const std::string& name);
// A name that is one component on Windows: not empty, no "." or "..", no separator of either
// kind and no ':' (which names a hidden stream of a file rather than a file).
bool IsSingleComponent(const std::string& name);

// A 64-bit offset for an OVERLAPPED record.
OVERLAPPED OverlappedAt(std::uint64_t offset);

}  // namespace platform::win32
