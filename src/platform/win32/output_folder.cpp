#include "platform/output_folder.h"

#include <io.h>

#include <utility>

#include "platform/paths.h"
#include "platform/process.h"
#include "platform/temporary_name.h"
#include "platform/win32/win32_support.h"

namespace platform {

namespace {

// Opens the folder at the wide path as a descriptor over its handle; a link (any reparse point:
// symbolic link or junction) at the last component is refused unless follow is set.
int OpenFolderHandle(const std::wstring& path, bool follow, WriteFailure& failure) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const HANDLE handle = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        failure = WriteFailureOf(win32::LastErrno());
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) {
        failure = WriteFailureOf(win32::LastErrno());
        ::CloseHandle(handle);
        return -1;
    }
    if (!follow && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        failure = WriteFailure::kLinkInTheWay;
        ::CloseHandle(handle);
        return -1;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        failure = WriteFailure::kInTheWay;
        ::CloseHandle(handle);
        return -1;
    }
    const int fd = win32::DescriptorFor(handle);
    if (fd < 0) failure = WriteFailure::kOther;
    return fd;
}

bool IsRoot(const std::string& path) {
    return (path.size() == 2 && path[1] == ':') || (path.size() == 3 && path[1] == ':') || path == "\\" || path == "/";
}

}  // namespace

namespace {

void CloseFolder(int fd) {
    if (fd < 0) return;
    win32::ForgetFolderPath(fd);
    ::_close(fd);
}

}  // namespace

OutputFolder::~OutputFolder() { CloseFolder(fd_); }

OutputFolder::OutputFolder(OutputFolder&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

OutputFolder& OutputFolder::operator=(OutputFolder&& other) noexcept {
    if (this != &other) {
        CloseFolder(fd_);
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

WriteFailure OutputFolder::Open(const std::string& path) {
    *this = OutputFolder();
    std::string trimmed = path;
    while (trimmed.size() > 1 && (trimmed.back() == '/' || trimmed.back() == '\\') && !IsRoot(trimmed))
        trimmed.pop_back();
    if (trimmed.empty()) return WriteFailure::kNotFound;
    // A drive's root is no link; any other folder is taken only when it is itself a folder.
    WriteFailure failure = WriteFailure::kNone;
    const std::string open_path = IsRoot(trimmed) && trimmed.size() == 2 ? trimmed + "\\" : trimmed;
    const int fd = OpenFolderHandle(win32::WidePath(open_path), IsRoot(trimmed), failure);
    if (fd < 0) return failure;
    win32::RememberFolderPath(fd, win32::VerbatimPath(open_path));
    fd_ = fd;
    path_ = path;
    return WriteFailure::kNone;
}

WriteFailure OutputFolder::OpenChild(const std::string& name, OutputFolder& child) const {
    child = OutputFolder();
    if (fd_ < 0) return WriteFailure::kNotFound;
    if (!win32::IsSingleComponent(name)) return WriteFailure::kNameRefused;
    const std::wstring child_path = win32::ChildPath(fd_, name);
    if (child_path.empty()) return WriteFailure::kNotFound;
    if (!::CreateDirectoryW(child_path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return WriteFailureOf(win32::LastErrno());
    WriteFailure failure = WriteFailure::kNone;
    const int fd = OpenFolderHandle(child_path, false, failure);
    if (fd < 0) return failure;
    win32::RememberFolderPath(fd, child_path);
    child.fd_ = fd;
    child.path_ = PathOf(name);
    return WriteFailure::kNone;
}

WriteFailure OutputFolder::MakeEmptyFileUnlessThere(const std::string& name) const {
    if (fd_ < 0) return WriteFailure::kNotFound;
    if (!win32::IsSingleComponent(name)) return WriteFailure::kNameRefused;
    const std::wstring file_path = win32::ChildPath(fd_, name);
    if (file_path.empty()) return WriteFailure::kNotFound;
    // CREATE_NEW fails on whatever holds the name, a link included: nothing is followed.
    const HANDLE handle = ::CreateFileW(file_path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? WriteFailure::kNone
                                                                           : WriteFailureOf(win32::ErrnoOf(error));
    }
    ::CloseHandle(handle);
    return WriteFailure::kNone;
}

ExistingFile OutputFolder::Compare(const std::string& name, std::string_view bytes) const {
    return CompareWithExistingAt(fd_, name, bytes);
}

void OutputFolder::RemoveStaleTemporaries() const {
    if (fd_ < 0) return;
    const std::wstring folder = win32::FolderPathOf(fd_);
    if (folder.empty()) return;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((folder + L"\\.*.part").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    const long own = CurrentProcessId();
    do {
        const std::string name = win32::Utf8Text(found.cFileName);
        const long pid = TemporaryNameOwner(name);
        if (pid <= 0 || pid == own || ProcessRunning(pid)) continue;
        // Only plain files go: never a folder, never a link (removing a link's name is harmless,
        // but nothing of ours is ever a link).
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) continue;
        ::DeleteFileW((folder + L"\\" + found.cFileName).c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

std::string OutputFolder::PathOf(const std::string& name) const { return JoinPath(path_, name); }

}  // namespace platform
