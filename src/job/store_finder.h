// Finding the Outlook Express stores on an old disk or in a copied profile: every folder below
// a root that holds a folder list (Folders.dbx), with the Windows user and identity it belongs
// to when it sits where Windows keeps them.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct FoundStore {
    std::string path;      // the store folder
    std::string user;      // the Windows user ("Documents and Settings/<user>"); empty when not known
    std::string identity;  // the identity folder ("{GUID}" under "Identities"); empty when not known
    std::size_t folders = 0;   // mail folders
    std::size_t messages = 0;  // messages in them
};

struct StoreSearch {
    std::vector<FoundStore> stores;     // in path order
    std::vector<std::string> problems;  // folders that could not be read, and why
    bool truncated = false;             // the walk stopped at its bound of folders or depth
    bool stopped = false;               // keep_going said no: what was found so far is partial
};

struct StoreSearchLimits {
    int max_depth = 24;                  // Windows keeps stores 9 levels below the disk's top
    std::size_t max_folders = 2000000;   // folders visited in all
    // Asked before each folder is entered, on the walking thread; false ends the walk there
    // (a window's Cancel). Empty: the walk goes on to its bounds.
    std::function<bool()> keep_going;
};

// The user and identity a store path names, from the Windows layouts
// ".../Documents and Settings/<user>/.../Identities/{GUID}/Microsoft/Outlook Express" and
// ".../Windows/Profiles/<user>/..." (letter case ignored); empty parts when it names none.
void NameStoreOwner(const std::string& store_path, std::string& user, std::string& identity);

// Walks root depth first. Links are followed, but no folder is entered twice, so a link loop
// ends; files are only looked at, never opened unless they are regular files. codepage decodes
// the folder names (empty: the locale's).
StoreSearch FindOutlookExpressStores(const std::string& root, const std::string& codepage,
                                     const StoreSearchLimits& limits = {});
