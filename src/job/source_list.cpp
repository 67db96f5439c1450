#include "job/source_list.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

#include "platform/file_checks.h"
#include "platform/paths.h"

namespace {

constexpr int kMaxSearchDepth = 32;

void FindDbxFilesBelow(const std::string& directory, std::vector<std::string>& found, bool recurse, int depth,
                       std::set<std::pair<dev_t, ino_t>>& visited) {
    struct stat info;
    if (depth > kMaxSearchDepth || ::stat(directory.c_str(), &info) != 0) return;
    if (!visited.insert({info.st_dev, info.st_ino}).second) return;
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || ::fnmatch("*.dbx", name.c_str(), FNM_CASEFOLD) != 0) continue;
        const std::string full = platform::JoinPath(directory, name);
        if (!platform::IsDirectory(full))
            found.push_back(full);
        else if (recurse)
            FindDbxFilesBelow(full, found, recurse, depth + 1, visited);
    }
    ::closedir(dir);
}

}  // namespace

void FindDbxFiles(const std::string& directory, std::vector<std::string>& found, bool recurse) {
    std::set<std::pair<dev_t, ino_t>> visited;
    FindDbxFilesBelow(directory, found, recurse, 0, visited);
}

SourceAddResult SourceList::AddSourceRow(const std::string& path, const std::string& folder_path) {
    const std::string folder_name = folder_path.empty() ? std::string() : platform::LastPathComponent(folder_path);
    for (const auto& row : rows_)
        if (row.path == path) return {SourceAddResult::kAlreadyListed, {}};
    std::string refusal = platform::ReadableFileRefusal(path);
    if (!refusal.empty()) return {SourceAddResult::kRefused, refusal};
    // The file is opened once, as the conversion will open it, in case the system says no there.
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return {SourceAddResult::kRefused, errno == EACCES ? "permission denied" : std::strerror(errno)};
    std::fclose(file);
    std::string file_name = platform::LastPathComponent(path);
    if (file_name.empty() && path.find(platform::kPathSeparator) == std::string::npos) file_name = path;
    rows_.insert(rows_.begin(), SourceRow{path, file_name, folder_name, "FILES"});
    return {SourceAddResult::kAdded, {}};
}

int SourceList::AddFolder(const std::string& folder_path,
                          const std::function<void(const std::string&, const SourceAddResult&)>& skipped) {
    std::vector<std::string> found;
    FindDbxFiles(folder_path, found, true);
    int added = 0;
    for (const auto& path : found) {
        const SourceAddResult result = AddSourceRow(path, folder_path);
        if (result)
            ++added;
        else if (skipped)
            skipped(path, result);
    }
    return added;
}

void SourceList::RemoveRow(int row) {
    if (row >= 0 && row < size()) rows_.erase(rows_.begin() + row);
}

std::string SourceList::CountText() const { return std::to_string(rows_.size()) + "  files"; }
