#include "platform/pending_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace platform {

namespace {

constexpr int kTemporaryAttempts = 100;

int OpenRetryingInterrupts(int folder_fd, const char* name, int flags) {
    int fd;
    do {
        fd = ::openat(folder_fd, name, flags, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

#ifdef O_TMPFILE
// A nameless file is given its name through its entry in /proc; without /proc it cannot be.
bool CanNameNamelessFiles() {
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can;
}

std::string ProcPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Links the nameless file open as fd to name: straight from the descriptor where the system
// allows it (newer kernels, or a privileged process), else through its entry in /proc. 0 or
// the errno of the failure.
int LinkNameless(int fd, int folder_fd, const char* name) {
    static std::atomic<bool> from_descriptor{true};
    if (from_descriptor.load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", folder_fd, name, AT_EMPTY_PATH) == 0) return 0;
        if (errno != ENOENT && errno != EPERM && errno != EINVAL) return errno;
        from_descriptor.store(false, std::memory_order_relaxed);  // not allowed here: asked once
    }
    return ::linkat(AT_FDCWD, ProcPath(fd).c_str(), folder_fd, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}
#endif

// A rename that never replaces: 0, EEXIST when something holds to, or another errno.
int RenameWithoutReplacing(int folder_fd, const char* from, const char* to) {
#if defined(SYS_renameat2) && defined(RENAME_NOREPLACE)
    if (::syscall(SYS_renameat2, folder_fd, from, folder_fd, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
#endif
    // Neither a link nor an exclusive rename on this disk: look, then rename.
    struct stat info {};
    if (::fstatat(folder_fd, to, &info, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
    if (errno != ENOENT) return errno;
    return ::renameat(folder_fd, from, folder_fd, to) == 0 ? 0 : errno;
}

bool NoHardLinks(int error) { return error == EPERM || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK; }

}  // namespace

PendingFile::~PendingFile() {
    if (placed_name_.empty()) {
        Abandon();
    } else if (fd_ >= 0) {
        ::close(fd_);
    }
}

WriteFailure PendingFile::Begin(const OutputFolder& folder, const std::string& name, const DeviceFilter* filter,
                                bool read_back) {
    return Begin(folder, [&name] { return name; }, filter, read_back);
}

WriteFailure PendingFile::Begin(const OutputFolder& folder, const std::function<std::string()>& make_name,
                                const DeviceFilter* filter, bool read_back) {
    Abandon();
    placed_name_.clear();
    if (!folder.is_open()) return WriteFailure::kNotFound;
    folder_fd_ = folder.descriptor();
    const int access = read_back ? O_RDWR : O_WRONLY;
#ifdef O_TMPFILE
    if (CanNameNamelessFiles()) {
        fd_ = OpenRetryingInterrupts(folder_fd_, ".", O_TMPFILE | access | O_CLOEXEC);
        // File systems without nameless files say so in one of these ways; a named one follows.
        if (fd_ < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
            return WriteFailureOf(errno);
    }
#endif
    const std::string name = fd_ < 0 ? make_name() : std::string();
    for (int attempt = 0; fd_ < 0 && attempt < kTemporaryAttempts; ++attempt) {
        temporary_name_ = TemporaryNameFor(name, attempt);
        fd_ = OpenRetryingInterrupts(folder_fd_, temporary_name_.c_str(),
                                     access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC);
        if (fd_ < 0 && errno != EEXIST) {
            const int error = errno;
            temporary_name_.clear();
            return WriteFailureOf(error);
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
    constexpr std::uint64_t kTicksPerSecond = 10000000;
    constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;  // 1970-01-01 as a FILETIME
    if (fd_ < 0 || filetime <= kUnixEpochTicks) return false;
    const std::uint64_t since_epoch = filetime - kUnixEpochTicks;
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(since_epoch / kTicksPerSecond);
    times[0].tv_nsec = static_cast<long>(since_epoch % kTicksPerSecond) * 100;
    if (static_cast<std::uint64_t>(times[0].tv_sec) != since_epoch / kTicksPerSecond) return false;
    times[1] = times[0];
    return ::futimens(fd_, times) == 0;
}

WriteFailure PendingFile::Link(const std::string& name, bool& taken) {
    taken = false;
    if (fd_ < 0 || !placed_name_.empty()) return WriteFailure::kNotFound;
    int error = 0;
    if (temporary_name_.empty()) {
#ifdef O_TMPFILE
        error = LinkNameless(fd_, folder_fd_, name.c_str());
#endif
    } else if (::linkat(folder_fd_, temporary_name_.c_str(), folder_fd_, name.c_str(), 0) == 0) {
        ::unlinkat(folder_fd_, temporary_name_.c_str(), 0);
    } else {
        error = errno;
        if (NoHardLinks(error)) error = RenameWithoutReplacing(folder_fd_, temporary_name_.c_str(), name.c_str());
    }
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
    if (fd_ < 0 || !placed_name_.empty()) return WriteFailure::kNotFound;
    struct stat info {};
    if (::fstatat(folder_fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Place(name, taken) : WriteFailureOf(errno);
    if (!S_ISREG(info.st_mode) || info.st_size != 0) return WriteFailure::kNone;
    const WriteFailure failure = RenameOnto(name);
    if (failure == WriteFailure::kNone) taken = false;
    return failure;
}

WriteFailure PendingFile::PlaceReplacingFile(const std::string& name) {
    if (fd_ < 0 || !placed_name_.empty()) return WriteFailure::kNotFound;
    struct stat info {};
    if (::fstatat(folder_fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) return WriteFailureOf(errno);
    } else if (S_ISLNK(info.st_mode)) {
        return WriteFailure::kLinkInTheWay;
    } else if (!S_ISREG(info.st_mode)) {
        return WriteFailure::kInTheWay;
    }
    return RenameOnto(name);
}

WriteFailure PendingFile::RenameOnto(const std::string& name) {
    // The rename needs a name to move from: a nameless file gets a hidden one first.
    if (temporary_name_.empty()) {
        for (int attempt = 0; temporary_name_.empty() && attempt < kTemporaryAttempts; ++attempt) {
            const std::string candidate = TemporaryNameFor(name, attempt);
            bool candidate_taken = false;
            if (const WriteFailure failure = Link(candidate, candidate_taken); failure != WriteFailure::kNone)
                return failure;
            if (candidate_taken) continue;
            temporary_name_ = candidate;
            placed_name_.clear();
        }
        if (temporary_name_.empty()) return WriteFailure::kNoFreeName;
    }
    if (::renameat(folder_fd_, temporary_name_.c_str(), folder_fd_, name.c_str()) != 0) return WriteFailureOf(errno);
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
        // close is not retried after EINTR: the descriptor is gone either way on Linux.
        if (::close(fd_) != 0 && errno != EINTR && failure == WriteFailure::kNone) failure = WriteFailureOf(errno);
        fd_ = -1;
    }
    if (failure != WriteFailure::kNone && !placed_name_.empty()) ::unlinkat(folder_fd_, placed_name_.c_str(), 0);
    if (failure != WriteFailure::kNone) placed_name_.clear();
    return failure;
}

void PendingFile::Abandon() {
    if (device_) device_->Close();
    device_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_name_.empty()) {
        ::unlinkat(folder_fd_, temporary_name_.c_str(), 0);
        temporary_name_.clear();
    }
}

}  // namespace platform
