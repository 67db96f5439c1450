#include "platform/disks.h"

namespace platform {

// Disks are mounted into the one tree here; the home folder is where the choosers start.
std::string LocalProfilesFolder() { return {}; }

std::vector<std::string> OtherDriveRoots() { return {}; }

}  // namespace platform
