// Reader for Outlook Express folder files (.dbx): header check, index walk, item records and
// text block chains. Plain records and dbx_* functions; the file is reached through platform/
// alone. Never throws: failures are reported by return value and dbx_errno.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/mapped_region.h"

enum class DbxKind : std::uint8_t { Email = 0, List = 2 };

// How an open weighs the header's item count against the index tree.
enum class DbxCountCheck : std::uint8_t {
    // The tree must list exactly the header's count: fewer, more, or an unreadable root fail
    // the open (codes 3, 4, 5).
    Exact,
    // The tree is the truth and the count only a hint: the open lists every item the tree
    // reaches, records the header's count beside it, and fails only when the file is not a
    // folder file at all. A damaged tree opens with what could be reached.
    TreeIsTruth,
};

// An open folder file with its table of item record offsets.
struct DbxReader {
    std::FILE* stream = nullptr;
    std::int32_t item_count = 0;
    std::int32_t header_item_count = 0;  // the count the header states; may differ from item_count
    bool index_damaged = false;           // some node of the tree could not be read or came twice
    std::vector<std::int32_t> item_offsets;  // slot item_count-1 is the first item in tree order
    DbxKind kind = DbxKind::Email;
    std::int64_t file_size = 0;  // every offset and size read from the file is checked against it
    // A window of the file mapped into memory (or, where mapping fails, read with one
    // positioned read): records and text blocks lie close together, so most reads are served
    // from it without a system call or a second copy.
    struct Window {
        const char* data = nullptr;
        std::uint64_t offset = 0;
        std::size_t length = 0;
        platform::MappedRegion mapping;
        std::vector<char> buffer;  // used when mapping fails
        Window() = default;
        Window(const Window&) = delete;
        Window& operator=(const Window&) = delete;
        void Release();
    } window;
    std::int64_t stream_position = -1;  // memory streams: where the next read starts, -1 if unknown
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
DbxReader* dbx_open_with(const char* path, DbxCountCheck check);  // dbx_open is Exact
DbxReader* dbx_open_stream_with(std::FILE* stream, DbxCountCheck check);
void dbx_close(DbxReader* reader);
DbxItem* dbx_get(DbxReader* reader, std::int32_t slot);
std::int32_t dbx_read_text(DbxReader* reader, DbxEmail* email);
int dbx_free(DbxItem* item);
void dbx_perror(const char* prefix);
