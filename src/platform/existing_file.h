// What is already at an output path, told without following a link: so that a later run never
// replaces a file of an earlier one with different content.
#pragma once

#include <string>
#include <string_view>

namespace platform {

enum class ExistingFile {
    kNone,       // nothing at the path
    kSame,       // a regular file holding exactly the bytes compared
    kDifferent,  // a regular file holding other bytes
    kLink,       // a link, never followed
    kOther,      // something else that is not a regular file (a folder, a FIFO, ...)
};

// Compares what is at name in the folder open as folder_fd with bytes, or with the file open as
// other_fd (read from its start): the size first, the content only when the sizes agree. A file
// that cannot be read counts as different.
ExistingFile CompareWithExistingAt(int folder_fd, const std::string& name, std::string_view bytes);
ExistingFile CompareWithOpenFileAt(int folder_fd, const std::string& name, int other_fd);

// Gives the file at from the name to, only when nothing is at to yet (never replacing what is
// there): 0, EEXIST when something is, or another errno value.
int MoveToFreeName(const std::string& from, const std::string& to);

}  // namespace platform
