// ombrik-cli --find-stores: the stores found below a folder, printed for a person or a script.
#pragma once

#include <cstdio>
#include <string>

#include "job/store_finder.h"

// One block per store: its folder, then user, identity, folders and messages on one line.
void PrintStoreSearch(const StoreSearch& search, std::FILE* out, std::FILE* errors);

// The same as one JSON object: {"root", "stores": [{"path", "user", "identity", "folders",
// "messages"}], "problems": [...], "truncated"}; unknown user or identity as null.
void PrintStoreSearchJson(const std::string& root, const StoreSearch& search, std::FILE* out);

enum class StoreListing { kText, kJson, kNulSeparated };

// Exit status 0 when at least one store was found, 1 when none was. kNulSeparated prints only the
// store folders, each ended by a NUL byte (the problems still go to standard error).
int RunFindStoresCommand(const std::string& root, const std::string& codepage, StoreListing listing = StoreListing::kText);
