// `ombrik-cli --check-pst FILE`: the structural check of a PST store on a terminal.
#pragma once

#include <string>

// Prints what is wrong with the store at path (or that it is sound) and returns the exit code:
// 0 for a sound store or one with only minor inconsistencies (listed all the same), 1 for a
// damaged store or one that cannot be read.
int RunPstCheckCommand(const std::string& path);
