// One Outlook Express store (the folder of an identity that holds Folders.dbx and the folder
// files) as the user saw it: its folders nested and named as in the folder pane, each with the
// file that holds its mail, and the files that hold none.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "dbx/dbx_file_kind.h"
#include "dbx/folder_tree.h"

struct StoreFolder {
    std::string name;               // display name, UTF-8
    // Display names from the top down to this folder. The local folders are the top; the
    // folders of another account lie below the account's name ("Hotmail > Inbox").
    std::vector<std::string> path;
    std::string display_path;       // path joined with kStorePathSeparator
    int parent = -1;                // index in OutlookStore::folders; -1 at the top
    std::vector<int> children;
    std::string file_path;          // the folder's mail file; empty for a folder without one
    std::size_t message_count = 0;  // items of the mail file
    bool listed = true;             // false: a mail file the folder list does not name
    DbxPlacement placement = DbxPlacement::AsListed;
};

// A file of the store that holds no mail to convert, and what it is.
struct StoreFile {
    std::string path;
    DbxFileKind kind = DbxFileKind::OtherFormat;
};

inline constexpr const char* kStorePathSeparator = " > ";

struct OutlookStore {
    std::string directory;
    std::string folder_list_path;  // empty when the store has no folder list
    bool folder_list_read = false;
    std::vector<StoreFolder> folders;    // parents before their children, siblings in the list's order
    std::vector<StoreFile> other_files;  // the folder list, Offline.dbx, Pop3uidl.dbx, foreign files, ...
    std::vector<std::string> notes;      // what the user should know that is not a failure

    std::size_t MailFolderCount() const;
    std::size_t MessageCount() const;
};

// Reads the store in directory. Folder names are decoded with codepage (empty: the locale's).
// Folder files the list does not name are placed at the top level under their file name; a
// store without a readable folder list has every mail file there. Never throws for what it
// finds on disk; a folder that cannot be listed gives a note and no folders.
OutlookStore LoadOutlookStore(const std::string& directory, const std::string& codepage);
