#include "platform/existing_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/paths.h"
#include "platform/process.h"
#include "platform/random_access_file.h"
#include "platform/win32/win32_support.h"

namespace platform {

namespace {

constexpr std::size_t kChunk = 1 << 16;

// A plain file at path (a link is not followed), opened for reading with its size; -1 otherwise,
// with kind set to what was found.
int OpenRegular(const std::string& path, ExistingFile& kind, std::uint64_t& size) {
    const HANDLE handle = win32::OpenHandle(path, GENERIC_READ, OPEN_EXISTING,
                                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        kind = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ExistingFile::kNone : ExistingFile::kOther;
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        ::CloseHandle(handle);
        kind = ExistingFile::kOther;
        return -1;
    }
    kind = ExistingFile::kDifferent;
    size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return win32::DescriptorFor(handle);
}

bool ReadPart(const RandomAccessFile& file, char* buffer, std::size_t part, std::uint64_t offset) {
    return file.ReadAt(buffer, part, offset) == static_cast<std::int64_t>(part);
}

// Attributes of what is at path itself (a link is not followed); INVALID_FILE_ATTRIBUTES when
// nothing is there.
DWORD AttributesAt(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    return ::GetFileAttributesExW(win32::WidePath(path).c_str(), GetFileExInfoStandard, &data) ? data.dwFileAttributes
                                                                                               : INVALID_FILE_ATTRIBUTES;
}

}  // namespace

ExistingFile CompareWithExisting(const std::string& path, std::string_view bytes) {
    ExistingFile kind = ExistingFile::kNone;
    std::uint64_t size = 0;
    const RandomAccessFile file(OpenRegular(path, kind, size));
    if (!file.is_open() || size != bytes.size()) return kind;
    std::vector<char> buffer(kChunk);
    for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
        const std::size_t part = std::min(kChunk, bytes.size() - at);
        if (!ReadPart(file, buffer.data(), part, at) || std::memcmp(buffer.data(), bytes.data() + at, part) != 0)
            return ExistingFile::kDifferent;
    }
    return ExistingFile::kSame;
}

ExistingFile CompareWithExistingFile(const std::string& path, const std::string& other_path) {
    ExistingFile kind = ExistingFile::kNone;
    std::uint64_t size = 0;
    const RandomAccessFile file(OpenRegular(path, kind, size));
    if (!file.is_open()) return kind;
    ExistingFile other_kind = ExistingFile::kNone;
    std::uint64_t other_size = 0;
    const RandomAccessFile other(OpenRegular(other_path, other_kind, other_size));
    if (!other.is_open() || other_size != size) return ExistingFile::kDifferent;
    std::vector<char> mine(kChunk), theirs(kChunk);
    for (std::uint64_t at = 0; at < size; at += kChunk) {
        const auto part = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - at));
        if (!ReadPart(file, mine.data(), part, at) || !ReadPart(other, theirs.data(), part, at) ||
            std::memcmp(mine.data(), theirs.data(), part) != 0)
            return ExistingFile::kDifferent;
    }
    return ExistingFile::kSame;
}

int MoveOverEmptyFile(const std::string& from, const std::string& to) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const DWORD attributes = AttributesAt(to, data);
    if (attributes == INVALID_FILE_ATTRIBUTES) return win32::LastErrno();
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 || data.nFileSizeLow != 0 ||
        data.nFileSizeHigh != 0)
        return EEXIST;
    return ::MoveFileExW(win32::WidePath(from).c_str(), win32::WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING)
               ? 0
               : win32::LastErrno();
}

int MoveToFreeName(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING the system renames only where nothing is, in one step:
    // no window in which another file is replaced, on every file system Windows writes.
    if (::MoveFileExW(win32::WidePath(from).c_str(), win32::WidePath(to).c_str(), 0)) return 0;
    const DWORD error = ::GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? EEXIST : win32::ErrnoOf(error);
}

std::string TemporaryNameBeside(const std::string& path) {
    const std::size_t separator = path.find_last_of(kPathSeparators);
    const std::size_t name_at = separator == std::string::npos ? 0 : separator + 1;
    return path.substr(0, name_at) + "." + path.substr(name_at) + "." + std::to_string(CurrentProcessId()) + ".part";
}

}  // namespace platform
