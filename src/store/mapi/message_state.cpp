#include "store/mapi/message_state.h"

#include "store/mapi/prop_tags.h"

namespace mapi {

namespace {

// A reader shows one icon; the one that tells most about what was done with the message wins.
std::int32_t IconFor(const MessageState& state) {
    if (state.draft) return ICON_MAIL_UNSENT;
    if (state.replied) return ICON_MAIL_REPLIED;
    if (state.forwarded) return ICON_MAIL_FORWARDED;
    return state.read ? ICON_MAIL_READ : ICON_MAIL_UNREAD;
}

// FILETIME ticks of 1601-01-02 and 9999-12-31: a time outside is no time a client recorded.
constexpr std::uint64_t kFirstTime = 864000000000ULL;
constexpr std::uint64_t kLastTime = 2650466880000000000ULL;

void ApplyReceivedTime(PropertyBag& props, std::uint64_t ticks) {
    if (ticks < kFirstTime || ticks > kLastTime) return;
    const Filetime received{ticks};
    props.Set(PR_MESSAGE_DELIVERY_TIME, received);
    for (PropTag tag : {PR_CLIENT_SUBMIT_TIME, PR_CREATION_TIME, PR_LAST_MODIFICATION_TIME})
        if (!props.Has(tag)) props.Set(tag, received);
}

}  // namespace

void ApplyMessageState(Message& message, const MessageState& state) {
    ApplyReceivedTime(message.props, state.received_time);
    // Priorities are the one part a record may hold without the flags word.
    if (state.priority == 1 || state.priority == 2)
        message.props.Set(PR_IMPORTANCE, IMPORTANCE_HIGH);
    else if (state.priority == 4 || state.priority == 5)
        message.props.Set(PR_IMPORTANCE, IMPORTANCE_LOW);
    else if (state.priority == 3)
        message.props.Set(PR_IMPORTANCE, IMPORTANCE_NORMAL);
    if (!state.known) return;

    std::int32_t flags = message.props.GetInt32(PR_MESSAGE_FLAGS).value_or(MSGFLAG_READ);
    flags = state.read ? (flags | MSGFLAG_READ) : (flags & ~MSGFLAG_READ);
    flags = state.draft ? (flags | MSGFLAG_UNSENT) : (flags & ~MSGFLAG_UNSENT);
    message.props.Set(PR_MESSAGE_FLAGS, flags);
    message.props.Set(PR_ICON_INDEX, IconFor(state));
    if (state.replied)
        message.props.Set(PR_LAST_VERB_EXECUTED, VERB_REPLY_TO_SENDER);
    else if (state.forwarded)
        message.props.Set(PR_LAST_VERB_EXECUTED, VERB_FORWARD);
    if (state.flagged) {
        message.props.Set(PR_FLAG_STATUS, FLAG_STATUS_FLAGGED);
        message.props.Set(PR_FOLLOWUP_ICON, FOLLOWUP_ICON_RED);
    }
}

}  // namespace mapi
