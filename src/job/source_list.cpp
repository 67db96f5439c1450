#include "job/source_list.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <set>
#include <utility>

#include "job/outlook_store.h"
#include "platform/directory.h"
#include "platform/file_checks.h"
#include "platform/file_stream.h"
#include "platform/paths.h"

namespace {

constexpr int kMaxSearchDepth = 32;

// "*.dbx" in any case, as on the disks these files come from.
bool HasDbxExtension(const std::string& name) {
    static constexpr char kExtension[] = ".dbx";
    constexpr std::size_t kLength = sizeof kExtension - 1;
    if (name.size() < kLength) return false;
    for (std::size_t i = 0; i < kLength; ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - kLength + i])) != kExtension[i]) return false;
    return true;
}

void FindDbxFilesBelow(const std::string& directory, std::vector<std::string>& found, bool recurse, int depth,
                       std::set<platform::FileIdentity>& visited) {
    if (depth > kMaxSearchDepth) return;
    const auto identity = platform::IdentityOf(directory);
    if (!identity || !visited.insert(*identity).second) return;
    const auto names = platform::ListDirectory(directory);
    if (!names) return;
    for (const std::string& name : *names) {
        if (!HasDbxExtension(name)) continue;
        const std::string full = platform::JoinPath(directory, name);
        if (!platform::IsDirectory(full))
            found.push_back(full);
        else if (recurse)
            FindDbxFilesBelow(full, found, recurse, depth + 1, visited);
    }
}

}  // namespace

void FindDbxFiles(const std::string& directory, std::vector<std::string>& found, bool recurse) {
    std::set<platform::FileIdentity> visited;
    FindDbxFilesBelow(directory, found, recurse, 0, visited);
}

SourceAddResult SourceList::AddSourceRow(const std::string& path, const std::string& folder_path) {
    const std::string folder_name = folder_path.empty() ? std::string() : platform::LastPathComponent(folder_path);
    for (const auto& row : rows_)
        if (row.path == path) return {SourceAddResult::kAlreadyListed, {}};
    std::string refusal = platform::ReadableFileRefusal(path);
    if (!refusal.empty()) return {SourceAddResult::kRefused, refusal};
    // The file is opened once, as the conversion will open it, in case the system says no there.
    std::FILE* file = platform::OpenFileStream(path, "rb");
    if (file == nullptr) return {SourceAddResult::kRefused, errno == EACCES ? "permission denied" : std::strerror(errno)};
    std::fclose(file);
    std::string file_name = platform::LastPathComponent(path);
    if (file_name.empty() && path.find(platform::kPathSeparator) == std::string::npos) file_name = path;
    SourceRow row;
    row.path = path;
    row.file_name = file_name;
    row.folder_name = folder_name;
    rows_.insert(rows_.begin(), std::move(row));
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

int SourceList::AddStore(const std::string& directory, const std::string& codepage, std::vector<std::string>* notes) {
    const OutlookStore store = LoadOutlookStore(directory, codepage);
    std::vector<SourceRow> added;
    for (const StoreFolder& folder : store.folders) {
        if (folder.file_path.empty() || IsListed(folder.file_path) || !IsReadableFile(folder.file_path)) continue;
        SourceRow row;
        row.path = folder.file_path;
        row.file_name = platform::LastPathComponent(folder.file_path);
        row.folder_name = folder.display_path;
        row.store_directory = directory;
        row.store_path = folder.path;
        added.push_back(std::move(row));
    }
    if (notes != nullptr) {
        *notes = store.notes;
        for (const StoreFile& file : store.other_files) {
            // The folder list that gave the rows their names goes without saying.
            if (store.folder_list_read && file.path == store.folder_list_path) continue;
            notes->push_back("passed over " + platform::LastPathComponent(file.path) + ": " + dbx_kind_description(file.kind));
        }
    }
    rows_.insert(rows_.begin(), std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
    return static_cast<int>(added.size());
}

bool SourceList::IsListed(const std::string& path) const {
    for (const auto& row : rows_)
        if (row.path == path) return true;
    return false;
}

bool SourceList::IsReadableFile(const std::string& path) {
    // Checked before the open: opening a FIFO for reading would block.
    if (!platform::ReadableFileRefusal(path).empty()) return false;
    std::FILE* file = platform::OpenFileStream(path, "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return !platform::IsDirectory(path);
}

void SourceList::RemoveRow(int row) {
    if (row >= 0 && row < size()) rows_.erase(rows_.begin() + row);
}

std::string SourceList::CountText() const { return std::to_string(rows_.size()) + "  files"; }
