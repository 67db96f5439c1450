// Names of the files and folders a conversion writes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <map>
#include <string>
#include <vector>

#include "conversion/folder_export.h"
#include "dbx/dbx.h"

// destination + separator + folder name.
std::string MakeFolderOutputDirectory(const std::string& destination_path, const std::string& folder_name);

// The bare file name of one message: the subject (decoded with the code page, cut to 50 UTF-16
// units, forbidden and control characters and pairs of blanks removed, no dot at its start, so
// that no message file is hidden), the slot number, ".eml".
std::string MakeMessageFileName(const std::optional<std::string>& subject, std::int32_t slot,
                                const std::string& codepage = std::string());

// The code page for the 8-bit subject of one message: the legacy charset its Subject header's
// encoded words name, else the one its first text part declares when that is a legacy charset
// (as the store reads the message's own headers, so the file name and the text inside the file
// agree), else the job's (empty: this system's).
std::string MessageCodepage(const DbxText& subject, const DbxText& message_text, const std::string& job_codepage);
inline std::string MessageCodepage(const DbxEmail& email, const std::string& job_codepage) {
    return MessageCodepage(email.subject, email.message_text, job_codepage);
}

// A message output path with its final ".eml" replaced by suffix (".msg", ".rtf", ".html").
std::string MakeStoreOutputPath(const std::string& message_output_path, const std::string& suffix);

// The output file of one message in directory: its file name (the subject decoded with the
// message's own legacy charset or the job's code page) with ".eml" replaced by suffix.
std::string MakeMessageOutputPath(const std::string& directory, const DbxText& subject, const DbxText& message_text,
                                  std::int32_t slot, const std::string& job_codepage, const std::string& suffix = ".eml");

// destination + separator + folder name + ".mbox".
std::string MakeMboxFilePath(const std::string& destination_path, const std::string& folder_name);

// The subject as UTF-8 for the status line (empty when absent).
std::string SubjectDisplayText(const std::optional<std::string>& subject, const std::string& codepage);

// A folder's display name (UTF-8) as a name in the file system, by the rules message file names
// follow: cut to 50 UTF-16 units, forbidden characters and pairs of blanks removed; control
// characters go too, and leading and trailing blanks and dots, so that no name is ".", ".." or
// one that Windows refuses. A name left empty becomes "Folder".
std::string CleanFolderName(const std::string& display_name);

// A folder name made from a folder file's name (the name without ".dbx") as a name in the file
// system, by CleanFolderName's rules but at the file name's own length (cut only where the
// outputs named after it would not fit): forbidden and control characters go, and leading and
// trailing blanks and dots, so that "...dbx", ".dbx" and "..dbx" name a folder of their own,
// never the destination, its parent or a hidden folder.
std::string CleanFileFolderName(const std::string& name);

// An attachment's name as the mail gives it (UTF-8) as a file name: its last component only, no
// forbidden or control characters, no leading or trailing blanks and dots, "_" before a name
// Windows keeps for a device (CON, NUL, COM1, ...), cut on a character's boundary to 200 bytes
// with its extension kept. A name left empty becomes "attachment" with the extension of its
// MIME type, when that is a common one.
std::string CleanAttachmentName(const std::string& name, const std::string& mime_type);

// Safe file names for the attachments of one message (CleanAttachmentName), each told apart
// from the others of the message, in letter case too: "a.txt", "A (2).txt".
std::vector<std::string> AttachmentFileNames(const std::vector<std::string>& names, const std::vector<std::string>& mime_types);

// destination/A/B/C for the cleaned names {A, B, C} of a folder and its parents.
std::string MakeTreeDirectory(const std::string& destination_path, const std::vector<std::string>& tree_path);

// Thunderbird's layout of the same folder: destination/A.sbd/B.sbd/C, the MBOX file without an
// extension, the sub-folders of a folder in "<name>.sbd".
std::string MakeThunderbirdMboxPath(const std::string& destination_path, const std::vector<std::string>& tree_path);

// The folder a form of one file per message writes a folder file's messages into: for a
// folder of a whole store its place in the tree (context.tree_path), else destination/folder_name.
std::string FolderOutputDirectory(const ExportContext& context, const std::string& destination_path,
                                  const std::string& folder_name);
// The output names of one job's folders, single-file rows and store rows alike. A single-file
// row's folder sits at the top under its cleaned name, " (2)" when an earlier row took it (names that
// differ only in letter case meet). A store row's folder sits below its parents, each named by its cleaned
// display name; siblings whose names meet (in letter case too, or as "A" and "A.sbd") get
// " (2)", " (3)", ... A parent seen before is the same folder again; a folder path that already
// had a row of its own is another folder of the same name (a second store), so it gets a new
// name and the rows after it that lie below that path go below it.
class OutputFolderNames {
public:
    // clean: how a display name becomes the name of its folder; by default as the file system
    // takes it (CleanFolderName), a mail server's folders keep more.
    explicit OutputFolderNames(std::function<std::string(const std::string&)> clean = CleanFolderName)
        : clean_(std::move(clean)) {}
    std::string ClaimTopFolder(const std::string& folder_name);
    // For a top folder whose name was chosen elsewhere (the destination's memory of earlier
    // runs): whether this job gave the name already, and taking it.
    bool IsTopFolderTaken(const std::string& name) const;
    void TakeTopFolder(const std::string& name);
    std::vector<std::string> ClaimStoreFolder(const std::vector<std::string>& store_path);

private:
    struct Node {
        std::map<std::string, std::size_t> child_by_display_name;  // the latest folder of that name
        std::set<std::string> taken;                               // folded names of the children
        std::string name;
        bool has_row = false;
    };
    std::string ClaimChildName(Node& parent, const std::string& cleaned);

    std::function<std::string(const std::string&)> clean_;
    std::vector<Node> nodes_{1};  // nodes_[0]: the destination
};
