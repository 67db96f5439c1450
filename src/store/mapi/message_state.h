// What a mail client knew of a message beyond its text: read or not, flagged, answered,
// forwarded, a draft, its priority. Carried into the properties a MAPI reader shows as icons,
// flags and importance.
#pragma once

#include <cstdint>

#include "store/mapi/message.h"

namespace mapi {

struct MessageState {
    bool known = false;  // false: the source kept no state; the message keeps the import's defaults
    bool read = false;
    bool flagged = false;
    bool replied = false;
    bool forwarded = false;
    bool draft = false;
    // 1 high, 3 normal, 5 low, as mail clients store it; 0 when not stored (the message's own
    // headers then decide the importance).
    std::uint32_t priority = 0;
    // When the client received (or, for a draft or sent mail, stored) the message, as FILETIME
    // ticks; 0 when it kept no time.
    std::uint64_t received_time = 0;
};

// Sets message flags, icon, last verb, flag status and importance from state; a message whose
// flags are not known keeps those of the import. A received time becomes the delivery time (the
// one Outlook lists mail by, as Outlook Express listed it by this time), and the sent time of a
// message whose headers give none.
void ApplyMessageState(Message& message, const MessageState& state);

}  // namespace mapi
