#include "platform/existing_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/random_access_file.h"
#include "platform/win32/win32_support.h"

namespace platform {

namespace {

constexpr std::size_t kChunk = 1 << 16;

// A plain file at name in the folder (a link is not followed), opened for reading with its
// size; -1 otherwise, with kind set to what was found.
int OpenRegularAt(int folder_fd, const std::string& name, ExistingFile& kind, std::uint64_t& size) {
    kind = ExistingFile::kOther;
    if (!win32::IsSingleComponent(name)) return -1;
    const std::wstring path = win32::ChildPath(folder_fd, name);
    if (path.empty()) return -1;
    // Opened first and looked at through the handle: what is compared is what was looked at.
    const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        kind = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ExistingFile::kNone : ExistingFile::kOther;
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        kind = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? ExistingFile::kLink : ExistingFile::kOther;
        ::CloseHandle(handle);
        return -1;
    }
    kind = ExistingFile::kDifferent;
    size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return win32::DescriptorFor(handle);
}

bool ReadPart(const RandomAccessFile& file, char* buffer, std::size_t part, std::uint64_t offset) {
    return file.ReadAt(buffer, part, offset) == static_cast<std::int64_t>(part);
}

bool ReadPart(int fd, char* buffer, std::size_t part, std::uint64_t offset) {
    return ReadAllAt(fd, buffer, part, offset) == static_cast<std::int64_t>(part);
}

}  // namespace

ExistingFile CompareWithExistingAt(int folder_fd, const std::string& name, std::string_view bytes) {
    ExistingFile kind = ExistingFile::kNone;
    std::uint64_t size = 0;
    const RandomAccessFile file(OpenRegularAt(folder_fd, name, kind, size));
    if (!file.is_open() || size != bytes.size()) return kind;
    std::vector<char> buffer(std::min(kChunk, bytes.size()));
    for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
        const std::size_t part = std::min(kChunk, bytes.size() - at);
        if (!ReadPart(file, buffer.data(), part, at) || std::memcmp(buffer.data(), bytes.data() + at, part) != 0)
            return ExistingFile::kDifferent;
    }
    return ExistingFile::kSame;
}

ExistingFile CompareWithOpenFileAt(int folder_fd, const std::string& name, int other_fd) {
    ExistingFile kind = ExistingFile::kNone;
    std::uint64_t size = 0;
    const RandomAccessFile file(OpenRegularAt(folder_fd, name, kind, size));
    if (!file.is_open()) return kind;
    LARGE_INTEGER other_size{};
    const HANDLE other = win32::HandleOf(other_fd);
    if (!::GetFileSizeEx(other, &other_size) || static_cast<std::uint64_t>(other_size.QuadPart) != size)
        return ExistingFile::kDifferent;
    // Positioned reads move a Windows handle's position: the other file's writer finds it back.
    LARGE_INTEGER zero{}, position{};
    if (!::SetFilePointerEx(other, zero, &position, FILE_CURRENT)) return ExistingFile::kDifferent;
    ExistingFile result = ExistingFile::kSame;
    std::vector<char> mine(kChunk), theirs(kChunk);
    for (std::uint64_t at = 0; at < size; at += kChunk) {
        const auto part = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - at));
        if (!ReadPart(file, mine.data(), part, at) || !ReadPart(other_fd, theirs.data(), part, at) ||
            std::memcmp(mine.data(), theirs.data(), part) != 0) {
            result = ExistingFile::kDifferent;
            break;
        }
    }
    ::SetFilePointerEx(other, position, nullptr, FILE_BEGIN);
    return result;
}

int MoveToFreeName(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING the system renames only where nothing is, in one step:
    // no window in which another file is replaced, on every file system Windows writes.
    if (::MoveFileExW(win32::WidePath(from).c_str(), win32::WidePath(to).c_str(), 0)) return 0;
    const DWORD error = ::GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? EEXIST : win32::ErrnoOf(error);
}

}  // namespace platform
