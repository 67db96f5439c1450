// C streams and std::filesystem paths over the program's own paths, which are UTF-8 text on
// every system: on Windows a narrow name handed to fopen or to std::filesystem would be read in
// the ANSI code page, and a long one would meet the old 260-character limit.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace platform {

// fopen with a UTF-8 path; mode as for fopen ("rb", ...). nullptr with errno set on failure.
std::FILE* OpenFileStream(const std::string& path, const char* mode);

// A new unnamed file for reading and writing in the system's temporary folder, gone when the
// stream is closed or the program ends (tmpfile, which on Windows writes to the drive's root).
std::FILE* OpenTemporaryStream();

// The std::filesystem path of a UTF-8 path, and the UTF-8 text of a std::filesystem path. The
// calls of std::filesystem are the C runtime's: past 260 characters on Windows they need the
// system's long-path support; the platform layer's own calls do not.
std::filesystem::path FileSystemPath(const std::string& path);
std::string Utf8PathText(const std::filesystem::path& path);

}  // namespace platform
