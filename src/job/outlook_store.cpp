#include "job/outlook_store.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <system_error>

#include "dbx/dbx.h"
#include "dbx/dbx_failure.h"
#include "platform/file_stream.h"
#include "platform/text_encoding.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kFolderListName = "folders.dbx";
// Far more files than any store holds; a folder with more is not a store we walk through.
constexpr std::size_t kMaxStoreFiles = 100000;

// Folds letter case the way the Windows file systems these stores come from do for the
// letters their names use: ASCII, Latin-1 and Cyrillic.
std::u16string FoldCase(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 0x20);
        else if (c >= 0xC0 && c <= 0xDE && c != 0xD7) c = static_cast<char16_t>(c + 0x20);
        else if (c >= 0x410 && c <= 0x42F) c = static_cast<char16_t>(c + 0x20);
        else if (c >= 0x400 && c <= 0x40F) c = static_cast<char16_t>(c + 0x50);
    }
    return text;
}

std::u16string FileKey(const std::string& utf8_name) { return FoldCase(platform::Utf8ToUtf16(utf8_name)); }

std::string Stem(const std::string& file_name) {
    const auto dot = file_name.rfind('.');
    return dot == std::string::npos || dot == 0 ? file_name : file_name.substr(0, dot);
}

struct DiskFile {
    std::string name;
    std::string path;
    DbxFileKind kind = DbxFileKind::OtherFormat;
    bool used = false;
};

void AddStoreFile(const fs::directory_entry& entry, std::multimap<std::u16string, DiskFile>& files) {
    std::error_code status_ec;
    if (!entry.is_regular_file(status_ec)) return;  // folders, FIFOs, devices, broken links
    const std::string name = entry.path().filename().string();
    std::u16string key = FileKey(name);
    if (key.size() < 4 || key.compare(key.size() - 4, 4, u".dbx") != 0) return;
    DiskFile file{name, platform::Utf8PathText(entry.path())};
    file.kind = dbx_classify_file(file.path.c_str()).kind;
    files.emplace(std::move(key), std::move(file));
}

// The regular files named *.dbx in the store folder, by folded name.
std::multimap<std::u16string, DiskFile> ListStoreFiles(const std::string& directory, std::vector<std::string>& notes) {
    std::multimap<std::u16string, DiskFile> files;  // a copy to a case-sensitive disk may hold both Inbox.dbx and INBOX.DBX
    std::error_code ec;
    fs::directory_iterator it(platform::FileSystemPath(directory), ec), end;
    if (ec) {
        notes.push_back("cannot read the folder " + directory + ": " + ec.message());
        return files;
    }
    for (std::size_t seen = 0; it != end; ++seen) {
        if (seen == kMaxStoreFiles) {
            notes.push_back("the folder " + directory + " holds more than " + std::to_string(kMaxStoreFiles) +
                            " entries; only the first ones were looked at");
            break;
        }
        AddStoreFile(*it, files);
        it.increment(ec);
        if (ec) {
            notes.push_back("cannot read the folder " + directory + " to its end: " + ec.message());
            break;
        }
    }
    return files;
}

// A store's file opened as the conversion opens it: as the kind its classification found, with
// the index as the truth and the header's count a hint.
DbxReader* OpenStoreFile(const std::string& path, DbxKind kind) {
    DbxOpenOptions options(DbxCountCheck::TreeIsTruth);
    options.kind = kind;
    return dbx_open_with(path.c_str(), options);
}

std::size_t CountMessages(const std::string& path) {
    DbxReader* reader = OpenStoreFile(path, DbxKind::Email);
    if (reader == nullptr) return 0;
    const auto count = static_cast<std::size_t>(std::max(reader->item_count, 0));
    dbx_close(reader);
    return count;
}

class StoreLoader {
public:
    StoreLoader(OutlookStore& store, const std::string& codepage) : store_(store), codepage_(codepage) {}

    void Load() {
        files_ = ListStoreFiles(store_.directory, store_.notes);
        const auto list = files_.find(FileKey(kFolderListName));
        DbxFolderTree tree;
        if (list != files_.end()) {
            store_.folder_list_path = list->second.path;
            store_.folder_list_read = ReadTree(list->second, tree);
        }
        if (list == files_.end() && !files_.empty())
            store_.notes.push_back("there is no folder list (Folders.dbx) in " + store_.directory +
                                   "; every folder file is placed at the top level under its file name");
        if (store_.folder_list_read) AddTree(tree);
        AddUnlistedFiles();
        for (auto& [key, file] : files_) {
            if (!file.used && !dbx_kind_holds_mail(file.kind)) store_.other_files.push_back({file.path, file.kind});
        }
    }

private:
    bool ReadTree(DiskFile& list, DbxFolderTree& tree) {
        if (list.kind != DbxFileKind::FolderList) {
            store_.notes.push_back(list.path + " is " + dbx_kind_description(list.kind) +
                                   "; every folder file is placed at the top level under its file name");
            return false;
        }
        DbxReader* reader = OpenStoreFile(list.path, DbxKind::List);
        std::vector<DbxFolderRecord> records;
        const bool damaged = reader != nullptr && reader->index_damaged;
        const bool read = reader != nullptr && !damaged && dbx_read_folder_list(reader, records);
        const int error = damaged ? static_cast<int>(reader->index_failure) : dbx_errno;
        dbx_close(reader);
        if (!read) {
            store_.notes.push_back("the folder list " + list.path + " " + dbx_failure_words(error) +
                                   "; every folder file is placed at the top level under its file name");
            return false;
        }
        tree = dbx_build_folder_tree(std::move(records));
        return true;
    }

    void AddTree(const DbxFolderTree& tree) {
        std::vector<int> stack;
        // Depth first in the list's order; the top folder is the store itself, not a folder.
        for (auto r = tree.roots.rbegin(); r != tree.roots.rend(); ++r) stack.push_back(*r);
        std::map<int, int> folder_of_node;
        while (!stack.empty()) {
            const int node = stack.back();
            stack.pop_back();
            const DbxFolderNode& n = tree.nodes[static_cast<std::size_t>(node)];
            for (auto c = n.children.rbegin(); c != n.children.rend(); ++c) stack.push_back(*c);
            if (IsContainerOfTheTop(tree, node)) continue;
            const auto parent = folder_of_node.find(n.parent);
            const int parent_folder = parent == folder_of_node.end() ? -1 : parent->second;
            folder_of_node[node] = AddListedFolder(n, parent_folder);
        }
    }

    // The top folder stands for the store itself, and "Local Folders" for the mail kept on
    // this disk, which is what the user converts: the local folders become the top of the
    // tree and every other account (an IMAP or HTTP mail account) a folder beside them.
    static bool IsContainerOfTheTop(const DbxFolderTree& tree, int node) {
        if (node == tree.top) return true;
        return node == tree.top_level && tree.nodes[static_cast<std::size_t>(node)].record.file_name.empty();
    }

    int AddListedFolder(const DbxFolderNode& node, int parent) {
        StoreFolder folder;
        folder.name = platform::LegacyToUtf8(node.record.name, codepage_);
        folder.placement = node.placement;
        const std::string file_name = platform::LegacyToUtf8(node.record.file_name, codepage_);
        if (!file_name.empty()) {
            const auto file = FindFile(file_name);
            if (file == files_.end()) {
                store_.notes.push_back("the folder \"" + folder.name + "\" keeps its mail in " + file_name +
                                       ", which is not in the store");
            } else if (file->second.used && dbx_kind_holds_mail(file->second.kind)) {
                store_.notes.push_back("the folder \"" + folder.name + "\" names " + file_name +
                                       ", the file of another folder; it is shown without messages");
            } else if (dbx_kind_holds_mail(file->second.kind)) {
                file->second.used = true;
                folder.file_path = file->second.path;
            }
        }
        if (folder.name.empty()) folder.name = file_name.empty() ? "(folder " + std::to_string(node.record.id) + ")" : Stem(file_name);
        const int index = Append(std::move(folder), parent);
        const char* why = nullptr;
        if (node.placement == DbxPlacement::ParentMissing) why = "names a parent folder the folder list does not hold";
        if (node.placement == DbxPlacement::ParentLoop) why = "has parent folders that lead back to itself";
        if (node.placement == DbxPlacement::TooDeep) why = "lies deeper than any real store";
        if (why != nullptr)
            store_.notes.push_back("the folder \"" + Folder(index).name + "\" " + why + "; it is shown at the top level");
        return index;
    }

    // The disk file a listed name stands for: the one of exactly that name, else the first
    // not yet taken whose name differs in letter case only.
    std::multimap<std::u16string, DiskFile>::iterator FindFile(const std::string& file_name) {
        const auto [first, last] = files_.equal_range(FileKey(file_name));
        for (auto it = first; it != last; ++it)
            if (it->second.name == file_name) return it;
        for (auto it = first; it != last; ++it)
            if (!it->second.used) return it;
        return first == last ? files_.end() : first;
    }

    // Mail files the list does not name go to the top level, among the local folders, as
    // Outlook Express itself places them when it rebuilds its folder list; in file-name order.
    void AddUnlistedFiles() {
        for (auto& [key, file] : files_) {
            if (file.used || !dbx_kind_holds_mail(file.kind)) continue;
            file.used = true;
            StoreFolder folder;
            folder.name = Stem(file.name);
            folder.file_path = file.path;
            folder.listed = false;
            Append(std::move(folder), -1);
        }
    }

    StoreFolder& Folder(int i) { return store_.folders[static_cast<std::size_t>(i)]; }

    // Two folders side by side may carry one name (a folder file the list does not name beside
    // a listed folder of that name, or two accounts' "Inbox"): the later one is shown and
    // converted as "Name (2)", so that every folder has a path of its own.
    std::string NameAmongSiblings(const std::string& name, int parent) {
        std::set<std::string>& taken = sibling_names_[parent];
        std::string candidate = name;
        for (std::size_t n = 2; !taken.insert(candidate).second; ++n) candidate = name + " (" + std::to_string(n) + ")";
        return candidate;
    }

    int Append(StoreFolder folder, int parent) {
        folder.name = NameAmongSiblings(folder.name, parent);
        folder.parent = parent;
        if (parent >= 0) folder.path = Folder(parent).path;
        folder.path.push_back(folder.name);
        for (std::size_t i = 0; i < folder.path.size(); ++i)
            folder.display_path += (i == 0 ? "" : kStorePathSeparator) + folder.path[i];
        if (!folder.file_path.empty()) folder.message_count = CountMessages(folder.file_path);
        const int index = static_cast<int>(store_.folders.size());
        store_.folders.push_back(std::move(folder));
        if (parent >= 0) Folder(parent).children.push_back(index);
        return index;
    }

    OutlookStore& store_;
    const std::string& codepage_;
    std::multimap<std::u16string, DiskFile> files_;
    std::map<int, std::set<std::string>> sibling_names_;  // by parent index, -1 for the top
};

}  // namespace

std::size_t OutlookStore::MailFolderCount() const {
    return static_cast<std::size_t>(
        std::count_if(folders.begin(), folders.end(), [](const StoreFolder& f) { return !f.file_path.empty(); }));
}

std::size_t OutlookStore::MessageCount() const {
    std::size_t total = 0;
    for (const auto& folder : folders) total += folder.message_count;
    return total;
}

OutlookStore LoadOutlookStore(const std::string& directory, const std::string& codepage) {
    OutlookStore store;
    store.directory = directory;
    StoreLoader(store, codepage).Load();
    return store;
}
