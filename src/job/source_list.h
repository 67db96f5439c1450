// The list of folder files the next conversion reads, as the window and the terminal both keep
// it: newest row on top, no path twice, unreadable files left out.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct SourceRow {
    std::string path;         // "Folder Path": the full path of the folder file
    std::string file_name;    // "Count DBX": the file's name with its extension
    std::string folder_name;  // "Folder Name": the folder the row was added from
    std::string type = "FILES";
    // Rows added from a whole store know their place in its tree: folder_name then holds the
    // display path ("Lists > hal"), store_path the names from the top down.
    std::string store_directory;          // empty for a row added as a single file
    std::vector<std::string> store_path;
};

// Appends the full paths of the files matching "*.dbx" (any case, as on the disks these files
// come from) in directory; with recurse, sub-directories whose own names match are searched too,
// depth first. Bounded in depth, and never follows a directory link back into itself.
void FindDbxFiles(const std::string& directory, std::vector<std::string>& found, bool recurse);

// What became of a file offered to the list; true when a row was added.
struct SourceAddResult {
    enum Outcome { kAdded, kAlreadyListed, kRefused };
    Outcome outcome = kRefused;
    std::string reason;  // why a file was refused, in the system's words ("permission denied")
    explicit operator bool() const { return outcome == kAdded; }
};

class SourceList {
public:
    // Adds one row at the top. A path already listed adds nothing; a file that is not a plain
    // file we may read is refused without being opened (a FIFO would block).
    SourceAddResult AddSourceRow(const std::string& path, const std::string& folder_path);
    // Add Folder: every folder file FindDbxFiles finds, each with the chosen folder's name;
    // skipped(path, result) hears of each one not added. Returns the number added.
    int AddFolder(const std::string& folder_path,
                  const std::function<void(const std::string&, const SourceAddResult&)>& skipped = {});
    // Add Outlook Express Store: one row per mail folder file of the store in directory, on
    // top of the list in the store's tree order; the files that hold no mail are no rows.
    // Names are decoded with codepage (empty: the locale's). Returns the rows added; notes
    // gets what the user should know (files passed over, folders moved to the top level).
    int AddStore(const std::string& directory, const std::string& codepage, std::vector<std::string>* notes = nullptr);
    void RemoveRow(int row);
    void Clear() { rows_.clear(); }
    const std::vector<SourceRow>& rows() const { return rows_; }
    int size() const { return static_cast<int>(rows_.size()); }
    // "3  files": the count, two blanks, "files".
    std::string CountText() const;

private:
    bool IsListed(const std::string& path) const;
    static bool IsReadableFile(const std::string& path);

    std::vector<SourceRow> rows_;
};
