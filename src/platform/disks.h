// Where the stores of an old disk are looked for first: Outlook Express kept them in the users'
// profiles, and an old disk brought to a Windows PC is another drive letter.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The folder holding the users' profiles on this system (C:\Users, or C:\Documents and Settings
// on Windows XP); "" where profiles are not kept in one folder.
std::string LocalProfilesFolder();

// The roots of the drives other than the system's own (D:\, E:\, ...), fixed and removable ones;
// empty where disks are not drive letters.
std::vector<std::string> OtherDriveRoots();

}  // namespace platform
