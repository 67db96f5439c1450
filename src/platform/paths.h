// Path joins and small file-system services with the platform's own separator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
constexpr std::string_view kPathSeparators = "\\/";  // Windows takes both
constexpr std::string_view kLineEnd = "\r\n";
constexpr bool kColonInNames = false;  // ':' names a stream of a file, never a file
constexpr bool kDeviceNamesReserved = true;  // "CON", "aux.txt", "COM1.eml" open devices
#else
constexpr char kPathSeparator = '/';
constexpr std::string_view kPathSeparators = "/";
constexpr std::string_view kLineEnd = "\n";
constexpr bool kColonInNames = true;
constexpr bool kDeviceNamesReserved = false;
#endif

// left + separator + right, by plain concatenation: a left part that already ends in a
// separator gives two in a row, which every platform accepts.
std::string JoinPath(const std::string& left, const std::string& right);

// The last component of a path ("" when it ends in a separator or holds none); any of
// kPathSeparators counts.
std::string LastPathComponent(const std::string& path);

// The longest name (in bytes) a file system takes for one component.
constexpr std::size_t kNameLimit = 255;

// The first bytes of text, at most limit, not ending inside a UTF-8 sequence.
std::string CutToBytes(const std::string& text, std::size_t limit);

// path + suffix ("Inbox.pst" + ".ombrik-lock"), for a file kept beside path; when the name
// would pass kNameLimit, path's last component is cut and told apart by a short hash of the
// whole, so that the name fits wherever path does.
std::string NameBeside(const std::string& path, const std::string& suffix);

// Creates one directory (no parents); true when it exists afterwards.
bool CreateDirectory(const std::string& path);
bool FileExists(const std::string& path);
bool IsDirectory(const std::string& path);
bool DeleteFile(const std::string& path);
// Gives the file at from the name to, replacing what is there (a link there is replaced, not
// followed); 0, or the errno value of the failure.
int RenameReplacing(const std::string& from, const std::string& to);
// A private temporary folder (mode 0700) for one job, removed with everything in it when the
// object goes. Nobody else can pre-create or redirect the files we put there.
class PrivateTempDir {
public:
    PrivateTempDir();  // throws std::runtime_error when no folder can be made
    ~PrivateTempDir();
    PrivateTempDir(const PrivateTempDir&) = delete;
    PrivateTempDir& operator=(const PrivateTempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace platform
