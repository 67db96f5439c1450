// What an errno value means to a user, where the systems disagree on which values exist.
#pragma once

#include <cerrno>

namespace platform {

// True when a write failed for want of room: the disk is full, the user's quota is used up, or
// the file has reached the largest size allowed (EDQUOT has no counterpart on Windows).
inline bool IsOutOfSpace(int error) {
#ifdef EDQUOT
    if (error == EDQUOT) return true;
#endif
    return error == ENOSPC || error == EFBIG;
}

}  // namespace platform
