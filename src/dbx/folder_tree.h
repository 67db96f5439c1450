// The folder list of a store (Folders.dbx) read as a tree: every folder with its parent, as
// Outlook Express shows them in its folder pane. Names stay the 8-bit text of the file; the
// caller decodes them with the code page it knows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dbx/dbx.h"

inline constexpr std::uint32_t kDbxNoParent = 0xFFFFFFFF;  // the parent of the list's top folder

struct DbxFolderRecord {
    std::uint32_t id = 0;              // absent in the record: 0, the top folder's id
    std::uint32_t parent_id = 0;       // absent: 0; the top folder has kDbxNoParent
    std::string name;                  // display name, 8-bit text
    std::string file_name;             // the folder file's name; empty for folders without one
    std::optional<std::uint32_t> store_type;  // DbxStoreType of the branch
    std::uint32_t special_folder = 0;  // DbxSpecialFolder
    std::uint32_t folder_flags = 0;
    std::optional<std::uint32_t> message_count;
    std::optional<std::uint32_t> unread_count;
};

// Reads every record of an open folder list, in the list's order. False (and nothing read)
// when the reader is not of the list kind or a record cannot be fetched.
bool dbx_read_folder_list(DbxReader* reader, std::vector<DbxFolderRecord>& records);

// Why a folder sits where it does in the tree.
enum class DbxPlacement {
    AsListed,        // under the parent the list names
    Top,             // the list's top folder itself
    ParentMissing,   // the list names a parent it does not hold: moved to the top level
    ParentLoop,      // its parents lead back to itself: moved to the top level
    TooDeep,         // deeper than any real store: moved to the top level
};

struct DbxFolderNode {
    DbxFolderRecord record;
    int parent = -1;  // index of the parent node; -1 for the top folder and a list without one
    std::vector<int> children;  // in the list's order
    DbxPlacement placement = DbxPlacement::AsListed;
};

struct DbxFolderTree {
    std::vector<DbxFolderNode> nodes;  // in the list's order
    int top = -1;  // the list's top folder ("Outlook Express"), -1 when the list has none
    // Where folders without a place of their own go: the local folders' container ("Local
    // Folders"), as Outlook Express itself puts folder files it finds without a list entry
    // there; else the top folder; -1 when the list has neither.
    int top_level = -1;
    // Nodes whose parent is -1, in the list's order.
    std::vector<int> roots;
};

// Folders deeper than this below the top are moved to the top level.
inline constexpr int kDbxMaxFolderDepth = 64;

// Builds the tree. A folder whose parent is missing, or whose parents lead back to itself, is
// hung under top_level; every folder ends up in the tree exactly once and no chain of parents
// is longer than kDbxMaxFolderDepth.
DbxFolderTree dbx_build_folder_tree(std::vector<DbxFolderRecord> records);

// The chain of nodes from the top folder's child down to node (the top folder itself is left
// out: it is the store, not a folder of it).
std::vector<int> dbx_folder_chain(const DbxFolderTree& tree, int node);
