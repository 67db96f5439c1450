// Reader for Outlook Express folder files (.dbx): header check, index walk, item records and
// text block chains. Plain records and dbx_* functions; the file is reached through platform/
// alone. Never throws: failures are reported by return value and dbx_errno.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "dbx/dbx_failure.h"
#include "platform/random_access_file.h"

enum class DbxKind : std::uint8_t { Email = 0, List = 2 };

// How an open weighs the header's item count against the index tree.
enum class DbxCountCheck : std::uint8_t {
    // The tree must list exactly the header's count: fewer, more, or an unreadable root fail
    // the open (codes 3, 4, 5).
    Exact,
    // The tree is the truth and the count only a hint: the open lists every item the tree
    // reaches, records the header's count beside it, and fails only when the file is not a
    // folder file at all. A damaged tree (a node that cannot be read, does not name its own
    // offset, comes twice or lies too deep) opens with what could be reached, marked damaged.
    TreeIsTruth,
};

// How a folder file is opened beyond what dbx_open does.
struct DbxOpenOptions {
    DbxCountCheck count_check = DbxCountCheck::Exact;
    // Read the file as a folder of this kind whatever its header words say: for a file whose
    // kind was told by more than its header (dbx_file_kind.h), such as a mail folder with a
    // damaged class word.
    std::optional<DbxKind> kind;
    // Give each text block to the first record whose chain reaches it, as each block of a sound
    // folder belongs to one message. A later record whose chain reaches a block already given
    // gets its text only up to there, as a chain that breaks off: a chain shared by many records
    // is written once, not once per record. For readers that fetch each slot once; a text read
    // again with dbx_read_text is the record's own.
    bool claim_text_blocks = false;

    DbxOpenOptions() = default;
    DbxOpenOptions(DbxCountCheck check) : count_check(check) {}  // NOLINT(google-explicit-constructor)
};

// One block of a text chain as it was read: where it lies and how long the text was with it.
struct DbxChainStep {
    std::uint32_t offset;
    std::uint32_t text_end;
};

// An open folder file with its table of item record offsets.
struct DbxReader {
    std::FILE* stream = nullptr;
    std::int32_t item_count = 0;
    std::int32_t header_item_count = 0;  // the count the header states; may differ from item_count
    bool index_damaged = false;           // some node of the tree could not be read or came twice
    DbxFailure index_failure = DbxFailure::None;  // why, as the user is told: cut short, or damaged
    std::vector<std::int32_t> item_offsets;  // slot item_count-1 is the first item in tree order
    DbxKind kind = DbxKind::Email;
    std::int64_t file_size = 0;  // at the open; every offset and size read is checked against it
    // The file as it was at the open (files with a descriptor), to tell later that it changed.
    std::optional<platform::FileVersion> opened_version;
    // Set once a read inside the file as it was opened came back short or failed: the file
    // shrank or changed under the reader, or its disk fails. Later reads still fail cleanly.
    bool cut_short = false;
    // The part of the file read last: records and text blocks lie close together, so most
    // reads are served from it with no system call of their own.
    struct Window {
        std::vector<char> buffer;
        std::uint64_t offset = 0;
        std::size_t length = 0;  // 0: holds nothing
    } window;
    std::int64_t stream_position = -1;
    bool claim_text_blocks = false;
    std::vector<std::uint64_t> claimed_blocks;  // a bit per 16 bytes of the file; empty until the first claim
    std::vector<DbxChainStep> chain_steps;      // the blocks of the chain being read  // memory streams: where the next read starts, -1 if unknown
};

// Common head of both item records; dbx_get returns one of the two derived records.
struct DbxItem {
    std::int32_t index = 0;
    DbxKind kind = DbxKind::Email;
    virtual ~DbxItem() = default;
};

using DbxText = std::optional<std::string>;  // absent, or the bytes up to (not including) the zero byte

struct DbxEmail : DbxItem {
    DbxText message_text;
    DbxText tag05_text;
    DbxText subject;         // tag 0x08
    DbxText tag07_text;
    DbxText tag0a_text;
    DbxText tag0d_text;
    DbxText sender_address;  // tag 0x0E
    DbxText tag13_text;
    DbxText tag14_text;
    std::uint64_t date = 0;  // FILETIME: 100 ns ticks since 1601-01-01 UTC (tag 0x12)
    std::uint32_t tag00_value = 0;
    std::int32_t text_offset = -1;  // -1: absent
    std::uint32_t tag01_value = 0;
    DbxText tag1a_text;
    DbxText tag1b_text;
    DbxText tag0c_text;
    // True when message_text holds the whole chain its record points to (an empty chain
    // included); false when the record has no text offset or the chain breaks off.
    bool text_complete = false;

    // The message's state as Outlook Express showed it. tag01_value keeps only the low byte
    // of the flags word, which loses replied and forwarded; these come from the whole word.
    std::uint32_t state_flags = 0;  // tag 0x01 as a 32-bit word, or 0x81
    bool state_stored = false;      // the record holds the flags word (0 then means unread)
    bool read = false;
    bool flagged = false;
    bool replied = false;
    bool forwarded = false;
    bool draft = false;           // saved while being written, never sent
    bool has_attachment = false;
    bool signed_message = false;  // digitally signed
    bool watched = false;         // its thread is watched
    bool ignored = false;         // its thread is ignored
    bool body_downloaded = false; // false: only the headers were fetched from the server
    std::uint32_t priority = 0;   // tag 0x10 / 0x90: 1 high, 3 normal, 5 low; 0 when not stored
};

// Bits of the message flags word.
inline constexpr std::uint32_t kDbxMessageBodyDownloaded = 0x00000001;
inline constexpr std::uint32_t kDbxMessageDraft = 0x00000008;
inline constexpr std::uint32_t kDbxMessageFlagged = 0x00000020;
inline constexpr std::uint32_t kDbxMessageRead = 0x00000080;
inline constexpr std::uint32_t kDbxMessageSigned = 0x00001000;
inline constexpr std::uint32_t kDbxMessageHasAttachment = 0x00004000;
inline constexpr std::uint32_t kDbxMessageReplied = 0x00080000;
inline constexpr std::uint32_t kDbxMessageForwarded = 0x00100000;
inline constexpr std::uint32_t kDbxMessageWatched = 0x00400000;
inline constexpr std::uint32_t kDbxMessageIgnored = 0x00800000;
inline constexpr std::uint32_t kDbxPriorityHigh = 1;
inline constexpr std::uint32_t kDbxPriorityNormal = 3;
inline constexpr std::uint32_t kDbxPriorityLow = 5;

struct DbxListEntry : DbxItem {
    DbxText tag02_text;
    DbxText tag03_text;
    std::uint32_t tag80_value = 0;
    std::uint32_t tag81_value = 0;

    // The record read as a folder of the folder list. Numbers may be stored in either form
    // (the top folder's parent, 0xFFFFFFFF, does not fit the 24 bits of the direct form), so
    // these take both; a property that does not fit the body is left out, never stopping
    // the read of the fields above.
    std::optional<std::uint32_t> folder_id;      // tag 0x00 / 0x80
    std::optional<std::uint32_t> parent_id;      // tag 0x01 / 0x81
    DbxText account_key;                         // tag 0x05: the account the folder belongs to
    std::uint32_t folder_flags = 0;              // tag 0x06 / 0x86
    std::optional<std::uint32_t> message_count;  // tag 0x07 / 0x87
    std::optional<std::uint32_t> unread_count;   // tag 0x08 / 0x88
    std::uint32_t special_folder = 0;            // tag 0x09 / 0x89: DbxSpecialFolder
    std::optional<std::uint32_t> store_type;     // tag 0x0A / 0x8A: DbxStoreType
};

// Which of the standard folders a folder of the list is.
enum class DbxSpecialFolder : std::uint32_t { None = 0, Inbox = 1, Outbox = 2, SentItems = 3, DeletedItems = 4, Drafts = 5 };
// Where the folders of a branch of the list live.
enum class DbxStoreType : std::uint32_t { News = 0, Imap = 1, HttpMail = 2, Local = 3 };

// Last error code, 0..8; process-wide, as the reader is used by one conversion at a time.
extern int dbx_errno;
extern const char* const dbx_errors[9];

DbxReader* dbx_open(const char* path);
DbxReader* dbx_open_stream(std::FILE* stream);  // takes ownership of the stream on success
DbxReader* dbx_open_with(const char* path, const DbxOpenOptions& options);  // dbx_open: the defaults
DbxReader* dbx_open_stream_with(std::FILE* stream, const DbxOpenOptions& options);
void dbx_close(DbxReader* reader);
DbxItem* dbx_get(DbxReader* reader, std::int32_t slot);
std::int32_t dbx_read_text(DbxReader* reader, DbxEmail* email);
int dbx_free(DbxItem* item);
void dbx_perror(const char* prefix);
// True when the folder file is no longer what the reader opened: a read came back short or
// failed, or its size or modification time changed since. What was read from it may be cut
// short or mixed from two versions of the file.
bool dbx_file_changed(DbxReader* reader);
