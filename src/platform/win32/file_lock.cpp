#include "platform/file_lock.h"

#include <io.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "platform/win32/win32_support.h"
#include "platform/write_failure.h"

namespace platform {

namespace {

constexpr auto kRetryInterval = std::chrono::milliseconds(100);
// A lock file being removed by the holder before us cannot be opened until its last handle is
// closed (it is "delete pending"), which takes moments: that many tries before it counts as
// access really denied.
constexpr int kPendingDeleteTries = 50;

std::runtime_error LockError(const std::string& what, const std::string& path, int error) {
    return std::runtime_error("cannot " + what + " the lock file " + path + ": " + std::strerror(error));
}

bool Identify(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) { return ::GetFileInformationByHandle(handle, &info) != 0; }

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// Whether the name lock_path still leads to the file we hold.
bool NameLeadsTo(const std::string& lock_path, const BY_HANDLE_FILE_INFORMATION& held) {
    const HANDLE named = win32::OpenHandle(lock_path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool same = Identify(named, info) && SameFile(held, info);
    ::CloseHandle(named);
    return same;
}

}  // namespace

std::unique_ptr<FileLock> FileLock::Acquire(const std::string& lock_path, const std::function<void()>& waiting,
                                            const std::function<bool()>& give_up) {
    bool told = false;
    int pending = 0;
    for (;;) {
        // No link is followed and nothing but a plain file is taken.
        const HANDLE handle = win32::OpenHandle(lock_path, GENERIC_READ, OPEN_ALWAYS,
                                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_ACCESS_DENIED && ++pending < kPendingDeleteTries) {
                std::this_thread::sleep_for(kRetryInterval / 5);
                continue;
            }
            throw LockError("make", lock_path, win32::ErrnoOf(error));
        }
        BY_HANDLE_FILE_INFORMATION held{};
        if (::GetFileType(handle) != FILE_TYPE_DISK || !Identify(handle, held) ||
            (held.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
            ::CloseHandle(handle);
            throw LockError("use", lock_path, EINVAL);
        }
        OVERLAPPED whole = win32::OverlappedAt(0);
        if (::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
            // The holder before us removes the file as it leaves: a lock on a removed file
            // guards nothing, so we lock whatever the name holds now.
            if (NameLeadsTo(lock_path, held)) {
                const int fd = win32::DescriptorFor(handle);
                if (fd < 0) throw LockError("use", lock_path, EMFILE);
                return std::unique_ptr<FileLock>(new FileLock(lock_path, fd, false));
            }
            ::CloseHandle(handle);
            continue;
        }
        const DWORD error = ::GetLastError();
        ::CloseHandle(handle);
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) throw LockError("lock", lock_path, win32::ErrnoOf(error));
        pending = 0;
        if (!told && waiting) waiting();
        told = true;
        if (give_up && give_up()) return nullptr;
        std::this_thread::sleep_for(kRetryInterval);
    }
}

std::unique_ptr<FileLock> FileLock::AcquireFolder(const std::string& folder_path, const std::function<void()>& waiting,
                                                  const std::function<bool()>& give_up) {
    // Windows locks no folders, and a lock file in the folder would be left in the user's
    // output: the lock is taken on a file in the temporary folder named after the folder's
    // identity (its volume and file index), which every process of the user finds alike,
    // whatever path it was given.
    const HANDLE folder = win32::OpenHandle(folder_path, FILE_READ_ATTRIBUTES, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    const auto folder_error = [&](int error) {
        return std::runtime_error("cannot lock the folder " + folder_path + ": " + WriteFailureWords(WriteFailureOf(error)));
    };
    if (folder == INVALID_HANDLE_VALUE) throw folder_error(win32::LastErrno());
    BY_HANDLE_FILE_INFORMATION info{};
    const bool identified = Identify(folder, info);
    const int error = win32::LastErrno();
    ::CloseHandle(folder);
    if (!identified) throw folder_error(error);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) throw folder_error(ELOOP);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) throw folder_error(ENOTDIR);
    wchar_t temporary[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temporary);
    if (length == 0 || length > MAX_PATH) throw folder_error(ENOENT);
    char identity[64];
    std::snprintf(identity, sizeof identity, "ombrik-folder-%08lx-%08lx%08lx.lock",
                  static_cast<unsigned long>(info.dwVolumeSerialNumber), static_cast<unsigned long>(info.nFileIndexHigh),
                  static_cast<unsigned long>(info.nFileIndexLow));
    return Acquire(win32::Utf8Text(temporary) + identity, waiting, give_up);
}

FileLock::~FileLock() {
    // Removed while still locked, as on POSIX systems: whoever opens the name next gets a new file.
    ::DeleteFileW(win32::WidePath(path_).c_str());
    ::_close(fd_);
}

}  // namespace platform
