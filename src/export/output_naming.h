// Names of the files and folders a conversion writes.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "dbx/dbx.h"

// destination + separator + folder name.
std::string MakeFolderOutputDirectory(const std::string& destination_path, const std::string& folder_name);

// The bare file name of one message: the subject (decoded with the code page, cut to 50 UTF-16
// units, forbidden characters and pairs of blanks removed), the slot number, ".eml".
std::string MakeMessageFileName(const std::optional<std::string>& subject, std::int32_t slot,
                                const std::string& codepage = std::string());

// The code page for the 8-bit subject of one message: the one its first text part declares when
// that is a legacy charset (as the store reads the message's own headers, so the file name and
// the text inside the file agree), else the job's (empty: this system's).
std::string MessageCodepage(const DbxText& subject, const DbxText& message_text, const std::string& job_codepage);
inline std::string MessageCodepage(const DbxEmail& email, const std::string& job_codepage) {
    return MessageCodepage(email.subject, email.message_text, job_codepage);
}

// A message output path with its final ".eml" replaced by suffix (".msg", ".rtf", ".html").
std::string MakeStoreOutputPath(const std::string& message_output_path, const std::string& suffix);

// destination + separator + folder name + ".mbox".
std::string MakeMboxFilePath(const std::string& destination_path, const std::string& folder_name);

// The subject as UTF-8 for the status line (empty when absent).
std::string SubjectDisplayText(const std::optional<std::string>& subject, const std::string& codepage);

// Folder names handed out within one job: the first use of a name keeps it; a later folder file
// of the same name gets "Name (2)", "Name (3)", ... so it never overwrites the earlier output.
class FolderNameRegistry {
public:
    std::string Claim(const std::string& folder_name);

private:
    static std::string Key(const std::string& name);  // names that differ only in case collide on some disks
    std::set<std::string> taken_;
};
