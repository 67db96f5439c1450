// ombrik-cli --find-stores: the stores found below a folder, printed for a person or a script.
#pragma once

#include <cstdio>
#include <string>

#include "job/store_finder.h"

// One block per store: its folder, then user, identity, folders and messages on one line.
void PrintStoreSearch(const StoreSearch& search, std::FILE* out, std::FILE* errors);

// Exit status 0 when at least one store was found, 1 when none was.
int RunFindStoresCommand(const std::string& root, const std::string& codepage);
