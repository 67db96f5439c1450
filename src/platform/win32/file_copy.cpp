#include "platform/file_copy.h"

#include <cstdint>
#include <vector>

#include "platform/win32/win32_support.h"

namespace platform {

int CopyFileBytes(const RandomAccessFile& in, const RandomAccessFile& out) {
    // Windows copies between open handles only through a buffer (CopyFile works on names).
    std::vector<char> buf(1 << 20);
    for (std::uint64_t at = 0;;) {
        const std::int64_t n = in.ReadAt(buf.data(), buf.size(), at);
        if (n < 0) return static_cast<int>(-n);
        if (n == 0) return 0;
        if (int err = out.WriteAt(buf.data(), static_cast<std::size_t>(n), at)) return err;
        at += static_cast<std::uint64_t>(n);
    }
}

int SyncPath(const std::string& path, SyncTarget target, bool& opened) {
    if (target == SyncTarget::kFolder) {
        const DWORD attributes = ::GetFileAttributesW(win32::WidePath(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            opened = false;
            return ENOTDIR;
        }
    }
    const DWORD flags = target == SyncTarget::kFolder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL;
    const HANDLE handle = win32::OpenHandle(path, target == SyncTarget::kFolder ? FILE_READ_ATTRIBUTES : GENERIC_WRITE,
                                            OPEN_EXISTING, flags);
    opened = handle != INVALID_HANDLE_VALUE;
    if (!opened) return win32::LastErrno();
    // A folder's list of names is journalled by NTFS with the rename itself; there is nothing
    // further to force, and FlushFileBuffers refuses a folder opened for reading.
    const bool synced = target == SyncTarget::kFolder || ::FlushFileBuffers(handle);
    const int error = synced ? 0 : win32::LastErrno();
    ::CloseHandle(handle);
    return error;
}

}  // namespace platform
