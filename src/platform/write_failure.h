// Why something could not be written, as one of a few kinds a user can act on (free some
// space, ask for permission, pick another disk, move what is in the way). Every writer reports
// its failures in these kinds, and they are shown in these words: never as a system's number.
#pragma once


namespace platform {

enum class WriteFailure {
    kNone,
    kDiskFull,      // no space left, or the user's quota used up
    kFileTooLarge,  // larger than the file system takes in one file (FAT's 4 GB)
    kPermission,
    kReadOnlyDisk,
    kIo,            // the disk or the network share reported an error
    kNotFound,      // a folder on the way does not exist
    kInTheWay,      // another kind of file (a folder where a file goes, a FIFO) holds the name
    kLinkInTheWay,  // a link holds the name: links are never followed
    kNameTooLong,
    kNameRefused,   // the file system does not take this name (characters FAT refuses)
    kNoFreeName,    // every numbered version of the name is taken
    kOther,
};

// The kind of an errno value (the Windows side reports its system codes as errno values).
WriteFailure WriteFailureOf(int system_error);

// The words that follow a path and a colon: "the disk is full". Empty for kNone.
const char* WriteFailureWords(WriteFailure failure);

}  // namespace platform
