// Copying a file's bytes, and forcing a file or a folder's list of names to the disk: what a
// change made on a copy and then put in the original's place needs.
#pragma once

#include <string>

#include "platform/random_access_file.h"

namespace platform {

// Copies every byte of in to out, from the start of both: shared with the original where the
// file system can (the copy is then made in an instant and takes no space until a part of it
// changes), else copied inside the kernel, else through a buffer. 0, or the errno of the failure.
int CopyFileBytes(const RandomAccessFile& in, const RandomAccessFile& out);

enum class SyncTarget { kFile, kFolder };

// Forces the file at path, or the folder's list of names, to the disk. 0, or the errno of the
// failure; opened tells whether path could be opened at all.
int SyncPath(const std::string& path, SyncTarget target, bool& opened);

}  // namespace platform
