// Mailbox names as IMAP carries them: modified UTF-7, where printable ASCII stands for itself,
// "&" is written "&-", and every other run of characters is UTF-16 in a base64 variant between
// "&" and "-".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace imap {

// The modified UTF-7 form of a UTF-8 name. Bytes that are not UTF-8 become U+FFFD, so every
// input gives a name the server takes.
std::string EncodeMailboxName(std::string_view utf8);

// The UTF-8 text of a modified UTF-7 name; nullopt when it is not well formed (a name from a
// server that does not follow the rules is then compared as it is).
std::optional<std::string> DecodeMailboxName(std::string_view modified_utf7);

}  // namespace imap
