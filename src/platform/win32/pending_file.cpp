#include "platform/pending_file.h"

#include <io.h>

#include <cerrno>

#include "platform/win32/win32_support.h"

namespace platform {

namespace {

constexpr int kTemporaryAttempts = 100;

// Gives the file at from the name to without replacing anything there (a file, a folder or a
// link): the system's rename without MOVEFILE_REPLACE_EXISTING is one step on every file system
// Windows writes. 0, EEXIST when something holds the name, or another errno value.
int RenameWithoutReplacing(const std::wstring& from, const std::wstring& to) {
    if (::MoveFileExW(from.c_str(), to.c_str(), 0)) return 0;
    const DWORD error = ::GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? EEXIST : win32::ErrnoOf(error);
}

// A file being written is hidden (and its name begins with a dot); placed, it is an ordinary file
// again, before its name is given, since a rename keeps a file's attributes.
bool Unhide(int fd) {
    FILE_BASIC_INFO info{};
    info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(win32::HandleOf(fd), FileBasicInfo, &info, sizeof info) != 0;
}

}  // namespace

PendingFile::~PendingFile() {
    if (placed_name_.empty()) {
        Abandon();
    } else if (fd_ >= 0) {
        ::_close(fd_);
    }
}

WriteFailure PendingFile::Begin(const OutputFolder& folder, const std::function<std::string()>& make_name,
                                const DeviceFilter* filter, bool read_back) {
    return Begin(folder, make_name(), filter, read_back);
}

// Windows has no nameless files: the file is always written under a hidden temporary name in
// the folder, which its placing renames.
WriteFailure PendingFile::Begin(const OutputFolder& folder, const std::string& name, const DeviceFilter* filter,
                                bool read_back) {
    Abandon();
    placed_name_.clear();
    if (!folder.is_open()) return WriteFailure::kNotFound;
    folder_fd_ = folder.descriptor();
    const DWORD access = GENERIC_WRITE | (read_back ? GENERIC_READ : 0);
    for (int attempt = 0; fd_ < 0 && attempt < kTemporaryAttempts; ++attempt) {
        temporary_name_ = TemporaryNameFor(name, attempt);
        const std::wstring path = win32::ChildPath(folder_fd_, temporary_name_);
        if (path.empty()) {
            temporary_name_.clear();
            return WriteFailure::kNotFound;
        }
        // Shared for removing, so that the name can be given while the file is open.
        const HANDLE handle = ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            temporary_name_.clear();
            return WriteFailureOf(win32::ErrnoOf(error));
        }
        fd_ = win32::DescriptorFor(handle);
        if (fd_ < 0) {
            ::DeleteFileW(path.c_str());
            temporary_name_.clear();
            return WriteFailure::kOther;
        }
    }
    if (fd_ < 0) {
        temporary_name_.clear();
        return WriteFailure::kNoFreeName;
    }
    device_ = DeviceFor(fd_, filter);
    return WriteFailure::kNone;
}

bool PendingFile::SetTime(std::uint64_t filetime) {
    // As on POSIX systems: a time before 1970 (or past what a FILETIME holds) is not set.
    constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;  // 1970-01-01 as a FILETIME
    if (fd_ < 0 || filetime <= kUnixEpochTicks || filetime >= 0x8000000000000000ULL) return false;
    FILETIME time{};
    time.dwLowDateTime = static_cast<DWORD>(filetime);
    time.dwHighDateTime = static_cast<DWORD>(filetime >> 32);
    return ::SetFileTime(win32::HandleOf(fd_), nullptr, &time, &time) != 0;
}

WriteFailure PendingFile::Link(const std::string& name, bool& taken) {
    taken = false;
    if (fd_ < 0 || !placed_name_.empty() || temporary_name_.empty()) return WriteFailure::kNotFound;
    if (!win32::IsSingleComponent(name)) return WriteFailure::kNameRefused;
    const std::wstring from = win32::ChildPath(folder_fd_, temporary_name_);
    const std::wstring to = win32::ChildPath(folder_fd_, name);
    if (from.empty() || to.empty()) return WriteFailure::kNotFound;
    if (!Unhide(fd_)) return WriteFailureOf(win32::LastErrno());
    const int error = RenameWithoutReplacing(from, to);
    if (error == EEXIST) {
        taken = true;
        return WriteFailure::kNone;
    }
    if (error != 0) return WriteFailureOf(error);
    temporary_name_.clear();
    placed_name_ = name;
    return WriteFailure::kNone;
}

WriteFailure PendingFile::Place(const std::string& name, bool& taken) { return Link(name, taken); }

WriteFailure PendingFile::PlaceOverEmptyFile(const std::string& name, bool& taken) {
    taken = true;
    if (fd_ < 0 || !placed_name_.empty() || temporary_name_.empty()) return WriteFailure::kNotFound;
    if (!win32::IsSingleComponent(name)) return WriteFailure::kNameRefused;
    const std::wstring to = win32::ChildPath(folder_fd_, name);
    if (to.empty()) return WriteFailure::kNotFound;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(to.c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? Place(name, taken) : WriteFailureOf(win32::ErrnoOf(error));
    }
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        data.nFileSizeLow != 0 || data.nFileSizeHigh != 0)
        return WriteFailure::kNone;
    const WriteFailure failure = RenameOnto(name);
    if (failure == WriteFailure::kNone) taken = false;
    return failure;
}

WriteFailure PendingFile::PlaceReplacingFile(const std::string& name) {
    if (fd_ < 0 || !placed_name_.empty() || temporary_name_.empty()) return WriteFailure::kNotFound;
    if (!win32::IsSingleComponent(name)) return WriteFailure::kNameRefused;
    const std::wstring to = win32::ChildPath(folder_fd_, name);
    if (to.empty()) return WriteFailure::kNotFound;
    const DWORD attributes = ::GetFileAttributesW(to.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) return WriteFailureOf(win32::ErrnoOf(error));
    } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return WriteFailure::kLinkInTheWay;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return WriteFailure::kInTheWay;
    }
    return RenameOnto(name);
}

WriteFailure PendingFile::RenameOnto(const std::string& name) {
    const std::wstring from = win32::ChildPath(folder_fd_, temporary_name_);
    const std::wstring to = win32::ChildPath(folder_fd_, name);
    if (from.empty() || to.empty()) return WriteFailure::kNotFound;
    if (!Unhide(fd_)) return WriteFailureOf(win32::LastErrno());
    if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return WriteFailureOf(win32::LastErrno());
    temporary_name_.clear();
    placed_name_ = name;
    return WriteFailure::kNone;
}

ExistingFile PendingFile::CompareWith(const std::string& name) const {
    return fd_ < 0 ? ExistingFile::kOther : CompareWithOpenFileAt(folder_fd_, name, fd_);
}

WriteFailure PendingFile::Finish() {
    WriteFailure failure = device_ ? device_->Close() : WriteFailure::kNone;
    device_.reset();
    if (fd_ >= 0) {
        if (::_close(fd_) != 0 && failure == WriteFailure::kNone) failure = WriteFailureOf(errno);
        fd_ = -1;
    }
    if (failure != WriteFailure::kNone && !placed_name_.empty()) {
        const std::wstring placed = win32::ChildPath(folder_fd_, placed_name_);
        if (!placed.empty()) ::DeleteFileW(placed.c_str());
    }
    if (failure != WriteFailure::kNone) placed_name_.clear();
    return failure;
}

void PendingFile::Abandon() {
    if (device_) device_->Close();
    device_.reset();
    if (fd_ >= 0) {
        ::_close(fd_);
        fd_ = -1;
    }
    if (!temporary_name_.empty()) {
        const std::wstring path = win32::ChildPath(folder_fd_, temporary_name_);
        if (!path.empty()) ::DeleteFileW(path.c_str());
        temporary_name_.clear();
    }
}

}  // namespace platform
