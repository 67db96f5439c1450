#include "platform/write_failure.h"

#include <cerrno>

namespace platform {

WriteFailure WriteFailureOf(int system_error) {
    switch (system_error) {
        case 0: return WriteFailure::kNone;
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
            return WriteFailure::kDiskFull;
        case EFBIG: return WriteFailure::kFileTooLarge;
        case EACCES:
        case EPERM: return WriteFailure::kPermission;
        case EROFS: return WriteFailure::kReadOnlyDisk;
        case EIO:
        case ENXIO:
#ifdef EREMOTEIO
        case EREMOTEIO:
#endif
            return WriteFailure::kIo;
        case ENOENT:
        case ENOTDIR: return WriteFailure::kNotFound;
        case EEXIST:
        case EISDIR:
        case ENOTEMPTY: return WriteFailure::kInTheWay;
        case ELOOP: return WriteFailure::kLinkInTheWay;
        case ENAMETOOLONG: return WriteFailure::kNameTooLong;
        case EINVAL:
        case EILSEQ: return WriteFailure::kNameRefused;
        default: return WriteFailure::kOther;
    }
}

const char* WriteFailureWords(WriteFailure failure) {
    switch (failure) {
        case WriteFailure::kNone: return "";
        case WriteFailure::kDiskFull: return "the disk is full";
        case WriteFailure::kFileTooLarge: return "the file is too large for this disk";
        case WriteFailure::kPermission: return "permission denied";
        case WriteFailure::kReadOnlyDisk: return "the disk is read-only";
        case WriteFailure::kIo: return "the disk reported an input/output error";
        case WriteFailure::kNotFound: return "the file or a folder on its path does not exist";
        case WriteFailure::kInTheWay: return "another kind of file holds the name";
        case WriteFailure::kLinkInTheWay: return "a link is in the way (links are never followed)";
        case WriteFailure::kNameTooLong: return "the name is too long for this disk";
        case WriteFailure::kNameRefused: return "this disk does not accept the name";
        case WriteFailure::kNoFreeName: return "every numbered version of the name is taken";
        case WriteFailure::kOther: return "the system refused to write it";
    }
    return "the system refused to write it";
}

}  // namespace platform
