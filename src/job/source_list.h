// The list of folder files the next conversion reads, as the window and the terminal both keep
// it: newest row on top, no path twice, unreadable files left out.
#pragma once

#include <string>
#include <vector>

struct SourceRow {
    std::string path;         // "Folder Path": the full path of the folder file
    std::string file_name;    // "Count DBX": the file's name with its extension
    std::string folder_name;  // "Folder Name": the folder the row was added from
    std::string type = "FILES";
};

// Appends the full paths of the files matching "*.dbx" (any case, as on the disks these files
// come from) in directory; with recurse, sub-directories whose own names match are searched too,
// depth first. Bounded in depth, and never follows a directory link back into itself.
void FindDbxFiles(const std::string& directory, std::vector<std::string>& found, bool recurse);

class SourceList {
public:
    // Adds one row at the top; false (and nothing added) for a path already listed or a file
    // that cannot be opened for reading.
    bool AddSourceRow(const std::string& path, const std::string& folder_path);
    // Add Folder: every folder file FindDbxFiles finds, each with the chosen folder's name.
    int AddFolder(const std::string& folder_path);
    void RemoveRow(int row);
    void Clear() { rows_.clear(); }
    const std::vector<SourceRow>& rows() const { return rows_; }
    int size() const { return static_cast<int>(rows_.size()); }
    // "3  files": the count, two blanks, "files".
    std::string CountText() const;

private:
    std::vector<SourceRow> rows_;
};
