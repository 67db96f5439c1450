// Owner and permission bits of a file: a file rewritten as a copy and put in the original's
// place keeps the original's owner and mode, where we may set them.
#pragma once

#include <optional>
#include <string>

namespace platform {

struct OwnerAndMode {
    unsigned mode = 0;  // permission bits, with set-id and sticky bits
    long uid = -1;
    long gid = -1;
};

// What the file at path (links followed) has now; nullopt when it cannot be looked at.
std::optional<OwnerAndMode> OwnerAndModeOf(const std::string& path);

// Gives the file at path this owner and group; 0, or the errno of the failure (EPERM where only
// a privileged user could).
int SetOwner(const std::string& path, long uid, long gid);

// Gives the file at path these permission bits; 0, or the errno of the failure.
int SetMode(const std::string& path, unsigned mode);

}  // namespace platform
