// An exclusive advisory lock held on a small lock file, for work that spans several file
// operations (a copy written, checked and renamed over an original) and must not interleave with
// the same work of another process. Advisory: it binds the programs that take it, no others.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

class FileLock {
public:
    // Takes the lock on lock_path, creating the file when missing. While another process holds
    // it, calls waiting() once and tries again a few times a second until the lock is ours or
    // give_up() answers true; then returns nullptr. Throws std::runtime_error when the lock file
    // cannot be made or locked at all.
    static std::unique_ptr<FileLock> Acquire(const std::string& lock_path, const std::function<void()>& waiting,
                                             const std::function<bool()>& give_up);
    // The same lock taken on a folder itself (no link followed at its name), so that nothing is
    // left in it: for work that writes many files into one folder. Throws std::runtime_error
    // when the folder cannot be opened or its file system takes no locks.
    static std::unique_ptr<FileLock> AcquireFolder(const std::string& folder_path, const std::function<void()>& waiting,
                                                   const std::function<bool()>& give_up);
    // Removes the lock file (a folder stays), then lets the lock go.
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    const std::string& path() const { return path_; }

private:
    FileLock(std::string path, int fd, bool folder) : path_(std::move(path)), fd_(fd), folder_(folder) {}

    std::string path_;
    int fd_;
    bool folder_;
};

}  // namespace platform
