// One message as it goes to the server: its bytes with IMAP's line ends, its flags, its date and
// what tells it apart from the others (digest, Message-ID, size).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace imap {

// What a mail client knew of the message.
struct MessageFlags {
    bool read = false;
    bool flagged = false;
    bool replied = false;
    bool draft = false;  // never sent
    bool forwarded = false;
};

// The flags of an APPEND: \Seen, \Flagged, \Answered, \Draft, and $Forwarded when the folder
// takes keywords.
std::vector<std::string> ImapFlags(const MessageFlags& flags, bool keywords_allowed);

// The stored text with every bare LF made CR LF, as IMAP requires; nothing else changes (a CR
// alone stays as it is).
std::string WithImapLineEnds(std::string_view text);

// When the message arrived, in UTC, as APPEND gives it to the server.
struct InternalDate {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// The date of a FILETIME (100 ns ticks since 1601 UTC); nullopt for 0 or a time outside the
// years 1970 to 9999, which the server then dates itself.
std::optional<InternalDate> InternalDateOf(std::uint64_t filetime);
// "05-Mar-2009 14:07:09 +0000".
std::string InternalDateText(const InternalDate& date);

// The Message-ID of the header block ("<id@host>", unfolded and trimmed); empty when it has none.
std::string MessageIdOf(std::string_view message);

// The lowercase hexadecimal SHA-256 of bytes: what the upload journal knows a message by.
std::string MessageDigest(std::string_view bytes);

struct UploadMessage {
    std::string bytes;  // with IMAP's line ends
    std::string digest;
    std::string message_id;
    MessageFlags state;
    std::vector<std::string> flags;  // of state, as the folder takes them: set by the folder's upload
    std::optional<InternalDate> internal_date;
    std::int32_t slot = 0;  // where it came from, for the summary's lines
    bool complete = true;   // false: its text broke off in the folder file
};

}  // namespace imap
