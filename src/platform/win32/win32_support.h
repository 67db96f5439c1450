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

// A 64-bit offset for an OVERLAPPED record.
OVERLAPPED OverlappedAt(std::uint64_t offset);

}  // namespace platform::win32
