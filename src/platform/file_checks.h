// Questions asked of a path before the program opens or writes there, answered without opening
// anything: a FIFO, a socket or a device would block a reader, or feed it endless bytes.
#pragma once

#include <string>

namespace platform {

// Why path cannot be read as a plain file, in the system's words ("does not exist", "is a
// folder", "permission denied", "is not a regular file"); empty when it can. Links are followed.
std::string ReadableFileRefusal(const std::string& path);

// Why files cannot be written into the folder at path ("does not exist", "is not a folder",
// "permission denied", ...); empty when they can.
std::string WritableFolderRefusal(const std::string& path);

// True when the file at path (links followed) may be written: its owner has left it writable
// and this process has the right to write it. The owner's read-only mark counts even for a user
// who could write anyway.
bool WritableFile(const std::string& path);

}  // namespace platform
