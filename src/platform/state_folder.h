// Where the program keeps what it must remember about the user's data between runs (which
// messages an upload has put on which server): the user's state folder, private to the user.
#pragma once

#include <string>

namespace platform {

// $XDG_STATE_HOME/ombrik, else ~/.local/state/ombrik, with every missing level made (the
// program's own levels readable by the user alone); sub_folder, when given, is made inside it
// the same way. The path, or "" with error set when it cannot be made.
std::string UserStateFolder(const std::string& sub_folder, std::string& error);

}  // namespace platform
