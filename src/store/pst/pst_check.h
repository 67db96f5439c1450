// The verdict on a PST store's structure, for `ombrik-cli --check-pst FILE` and any other front
// end: the store layer decides, the front end prints.
#pragma once

#include <string>
#include <vector>

#include "store/pst/messaging/checker.h"

namespace pst {

struct PstCheckVerdict {
    enum class Kind {
        kSound,      // nothing found
        kNotesOnly,  // only inconsistencies Outlook itself leaves and mends: no damage
        kDamaged,    // at least one finding is damage
        kNotChecked,  // not a store this check reads: an OST, an ANSI or 4K-page store, another file
    };
    Kind kind = Kind::kSound;
    std::string reason;                 // for kNotChecked: what the file is, and what to do instead
    std::vector<CheckFinding> damage;   // findings that are damage
    std::vector<CheckFinding> notes;    // Outlook's own inconsistencies
    std::uint64_t folders = 0, messages = 0, nodes = 0, blocks = 0;
    // 0 for a store with no damage (sound, or with notes only), 1 otherwise.
    int exit_code() const { return kind == Kind::kSound || kind == Kind::kNotesOnly ? 0 : 1; }
};

// Checks the store at path and sorts its findings into damage and notes. Never throws for a
// damaged or foreign file; that is the verdict.
PstCheckVerdict CheckPstStore(const std::string& path);

}  // namespace pst
