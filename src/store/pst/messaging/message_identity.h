// What makes two messages in a folder the same one, so that importing a folder file a second
// time adds nothing: the same Internet Message-ID, submit date and subject; or, for a message
// without a Message-ID, the same content digest, kept in its search key.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_set>

#include "store/mapi/message.h"
#include "store/pst/ltp/context.h"

namespace pst::messaging {

struct MessageIdentity {
    std::uint64_t high = 0, low = 0;
    bool operator==(const MessageIdentity&) const = default;
};

struct MessageIdentityHash {
    std::size_t operator()(const MessageIdentity& id) const { return static_cast<std::size_t>(id.low ^ (id.high * 31)); }
};

using MessageIdentitySet = std::unordered_set<MessageIdentity, MessageIdentityHash>;

// A 16-byte digest of everything a message holds (properties, named properties, recipients,
// attachments and embedded messages), leaving out its search key. Equal messages give equal
// digests on every run; it is not meant to resist forgery.
ltp::Bytes ContentDigest(const mapi::Message& message);

// The tags a stored message's identity is taken from.
bool IsIdentityTag(std::uint32_t tag);

// A stored message's identity from its properties in stored form (only the identity tags are
// looked at); none for a message with neither a Message-ID nor a search key.
std::optional<MessageIdentity> IdentityOfStored(const ltp::PropMap& props);

}  // namespace pst::messaging
