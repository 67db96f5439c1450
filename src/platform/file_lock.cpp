#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "platform/write_failure.h"

namespace platform {

namespace {

constexpr auto kRetryInterval = std::chrono::milliseconds(100);

std::runtime_error LockError(const std::string& what, const std::string& path, int error) {
    return std::runtime_error("cannot " + what + " the lock file " + path + ": " + WriteFailureWords(WriteFailureOf(error)));
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

std::unique_ptr<FileLock> FileLock::Acquire(const std::string& lock_path, const std::function<void()>& waiting,
                                            const std::function<bool()>& give_up) {
    bool told = false;
    for (;;) {
        // Read access is enough for the lock; no link is followed and nothing but a plain file
        // is taken, so a FIFO planted at the name cannot hold us up.
        const int fd = ::open(lock_path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0) throw LockError("make", lock_path, errno);
        struct stat held{};
        if (::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
            ::close(fd);
            throw LockError("use", lock_path, EINVAL);
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // The holder before us removes the file as it leaves: a lock on a removed file
            // guards nothing, so we lock whatever the name holds now.
            struct stat named{};
            if (::stat(lock_path.c_str(), &named) == 0 && SameFile(held, named))
                return std::unique_ptr<FileLock>(new FileLock(lock_path, fd, false));
            ::close(fd);
            continue;
        }
        const int error = errno;
        ::close(fd);
        if (error != EWOULDBLOCK && error != EINTR) throw LockError("lock", lock_path, error);
        if (!told && waiting) waiting();
        told = true;
        if (give_up && give_up()) return nullptr;
        std::this_thread::sleep_for(kRetryInterval);
    }
}

std::unique_ptr<FileLock> FileLock::AcquireFolder(const std::string& folder_path, const std::function<void()>& waiting,
                                                  const std::function<bool()>& give_up) {
    const int fd = ::open(folder_path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const auto folder_error = [&](int error) {
        return std::runtime_error("cannot lock the folder " + folder_path + ": " + WriteFailureWords(WriteFailureOf(error)));
    };
    if (fd < 0) throw folder_error(errno);
    for (bool told = false;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return std::unique_ptr<FileLock>(new FileLock(folder_path, fd, true));
        const int error = errno;
        if (error != EWOULDBLOCK && error != EINTR) {
            ::close(fd);
            throw folder_error(error);
        }
        if (!told && waiting) waiting();
        told = true;
        if (give_up && give_up()) {
            ::close(fd);
            return nullptr;
        }
        std::this_thread::sleep_for(kRetryInterval);
    }
}

FileLock::~FileLock() {
    if (!folder_) ::unlink(path_.c_str());
    ::close(fd_);
}

}  // namespace platform
