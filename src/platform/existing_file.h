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

// Compares what is at path with bytes: the size first, the content only when the sizes agree.
// A file that cannot be read counts as different.
ExistingFile CompareWithExisting(const std::string& path, std::string_view bytes);

// Compares what is at path with the regular file at other_path, in the same way.
ExistingFile CompareWithExistingFile(const std::string& path, const std::string& other_path);

// The same for name in the folder open as folder_fd: with bytes, or with the file open as
// other_fd (read from its start).
ExistingFile CompareWithExistingAt(int folder_fd, const std::string& name, std::string_view bytes);
ExistingFile CompareWithOpenFileAt(int folder_fd, const std::string& name, int other_fd);

// Gives the file at from the name to, only when nothing is at to yet (never replacing what is
// there): 0, EEXIST when something is, or another errno value.
int MoveToFreeName(const std::string& from, const std::string& to);

// Gives the file at from the name to when what is there is an empty regular file (nothing of
// anyone's is lost by replacing it: an empty parent file made for a folder tree before the
// folder's own messages were written). 0, EEXIST when something else is there, or another errno.
int MoveOverEmptyFile(const std::string& from, const std::string& to);


}  // namespace platform
