// `ombrik-cli --check-pst FILE`: the store layer's verdict on a PST store, on a terminal.
#pragma once

#include <cstdio>
#include <string>

#include "store/pst/pst_check.h"

// The verdict as text: its first line is the verdict itself, the findings follow indented.
std::string FormatPstCheckVerdict(const std::string& path, const pst::PstCheckVerdict& verdict);

// Prints the verdict on out and returns the exit status it stands for: 0 for a sound store or one
// with Outlook's own inconsistencies only, 1 for a damaged store or a file that is not one.
int RunPstCheckCommand(const std::string& path, std::FILE* out = stdout);
