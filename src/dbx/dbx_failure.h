// The ways the reader fails. Each kind has the code dbx_errno keeps for it, the message
// dbx_perror prints, and the words a user reads after the folder file's name in a summary.
#pragma once

#include <cstdint>

enum class DbxFailure : std::uint8_t {
    None = 0,
    NotOpened = 1,            // the file cannot be opened, or is no folder file; no usable reader
    ItemCountUnreadable = 2,  // the header's item count cannot be read, or cannot be right
    IndexUnreadable = 3,      // the root of the index cannot be read
    IndexShort = 4,           // the index holds fewer items than the header counts
    IndexLong = 5,            // the index holds more items than the header counts
    SlotOutOfRange = 6,       // a slot the folder does not have was asked for
    DataUnreadable = 7,       // a message text cannot be read as far as it goes
    NewsItem = 8,             // kept for the table; no operation of the reader sets it
};

inline constexpr int kDbxFailureKinds = 9;

struct DbxFailureText {
    DbxFailure kind;
    const char* message;  // what dbx_perror prints
    const char* words;    // for a user, after the file's name: "Inbox.dbx is cut short or damaged"
};

// Indexed by the code.
extern const DbxFailureText dbx_failures[kDbxFailureKinds];

// The words for a dbx_errno code; a code outside the table gets words that say so.
const char* dbx_failure_words(int code);
