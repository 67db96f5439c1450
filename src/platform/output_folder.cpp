#include "platform/output_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/paths.h"
#include "platform/process.h"
#include "platform/temporary_name.h"

namespace platform {

namespace {

int OpenFolderAt(int parent_fd, const char* name, bool follow) {
    const int nofollow = follow ? 0 : O_NOFOLLOW;
    int fd;
    do {
        fd = ::openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | nofollow);
    } while (fd < 0 && errno == EINTR);
#ifdef O_PATH
    // A folder we may write into but not list (mode 0333) is still a folder to write into.
    if (fd < 0 && errno == EACCES) fd = ::openat(parent_fd, name, O_PATH | O_DIRECTORY | O_CLOEXEC | nofollow);
#endif
    return fd;
}

// Why name in the folder could not be opened as a folder: a link and a file in the way are
// told apart from a missing one.
WriteFailure FolderOpenFailure(int parent_fd, const char* name, int error) {
    if (error == ENOTDIR || error == ELOOP) {
        struct stat info {};
        if (::fstatat(parent_fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0)
            return S_ISLNK(info.st_mode) ? WriteFailure::kLinkInTheWay : WriteFailure::kInTheWay;
    }
    return WriteFailureOf(error);
}

bool IsSingleComponent(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}  // namespace

OutputFolder::~OutputFolder() {
    if (fd_ >= 0) ::close(fd_);
}

OutputFolder::OutputFolder(OutputFolder&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

OutputFolder& OutputFolder::operator=(OutputFolder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

WriteFailure OutputFolder::Open(const std::string& path) {
    *this = OutputFolder();
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    if (trimmed.empty()) return WriteFailure::kNotFound;
    const std::size_t slash = trimmed.find_last_of('/');
    int fd;
    if (slash == std::string::npos || trimmed == "/") {
        fd = OpenFolderAt(AT_FDCWD, trimmed.c_str(), trimmed == "/");
        if (fd < 0) return FolderOpenFailure(AT_FDCWD, trimmed.c_str(), errno);
    } else {
        const std::string parent = slash == 0 ? std::string("/") : trimmed.substr(0, slash);
        const std::string leaf = trimmed.substr(slash + 1);
        const int parent_fd = OpenFolderAt(AT_FDCWD, parent.c_str(), true);
        if (parent_fd < 0) return WriteFailureOf(errno);
        fd = OpenFolderAt(parent_fd, leaf.c_str(), false);
        const WriteFailure failure = fd < 0 ? FolderOpenFailure(parent_fd, leaf.c_str(), errno) : WriteFailure::kNone;
        ::close(parent_fd);
        if (fd < 0) return failure;
    }
    fd_ = fd;
    path_ = path;
    return WriteFailure::kNone;
}

WriteFailure OutputFolder::OpenChild(const std::string& name, OutputFolder& child) const {
    child = OutputFolder();
    if (fd_ < 0) return WriteFailure::kNotFound;
    if (!IsSingleComponent(name)) return WriteFailure::kNameRefused;
    if (::mkdirat(fd_, name.c_str(), 0777) != 0 && errno != EEXIST) return WriteFailureOf(errno);
    const int fd = OpenFolderAt(fd_, name.c_str(), false);
    if (fd < 0) return FolderOpenFailure(fd_, name.c_str(), errno);
    child.fd_ = fd;
    child.path_ = PathOf(name);
    return WriteFailure::kNone;
}

WriteFailure OutputFolder::MakeEmptyFileUnlessThere(const std::string& name) const {
    if (fd_ < 0) return WriteFailure::kNotFound;
    if (!IsSingleComponent(name)) return WriteFailure::kNameRefused;
    const int fd = ::openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return errno == EEXIST ? WriteFailure::kNone : WriteFailureOf(errno);
    return ::close(fd) == 0 || errno == EINTR ? WriteFailure::kNone : WriteFailureOf(errno);
}

ExistingFile OutputFolder::Compare(const std::string& name, std::string_view bytes) const {
    return CompareWithExistingAt(fd_, name, bytes);
}

void OutputFolder::RemoveStaleTemporaries() const {
    if (fd_ < 0) return;
    const int list_fd = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (list_fd < 0) return;
    DIR* dir = ::fdopendir(list_fd);
    if (dir == nullptr) {
        ::close(list_fd);
        return;
    }
    const long own = CurrentProcessId();
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const long pid = TemporaryNameOwner(name);
        if (pid <= 0 || pid == own || ProcessRunning(pid)) continue;
        struct stat info {};
        if (::fstatat(fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
            ::unlinkat(fd_, name.c_str(), 0);
    }
    ::closedir(dir);
}

std::string OutputFolder::PathOf(const std::string& name) const { return JoinPath(path_, name); }

}  // namespace platform
