// What kind of file a ".dbx" file is: the message folders hold mail (a newsgroup's articles are
// stored as mail is); the folder list, the offline-actions file and the POP3 download record are
// part of a store but hold none; anything else is not an Outlook Express file at all.
//
// The kind is told by more than one byte: the signature and class id at the head of the file
// (near matches count, so one flipped bit does not change the kind), the header fields each kind
// of file has, and, where those leave any doubt, whether the records the index reaches lead to
// message texts or text blocks of the file hold messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

enum class DbxFileKind {
    MailFolder,      // messages of a local, IMAP or HTTP mail folder
    NewsFolder,      // articles of a newsgroup, stored as the messages of a mail folder are
    FolderList,      // Folders.dbx: names and nesting of the folders
    Pop3Uidl,        // Pop3uidl.dbx: which messages were already fetched from a POP3 server
    OfflineActions,  // Offline.dbx: IMAP and HTTP mail actions waiting for a connection
    OtherOutlookExpress,  // the Outlook Express file signature with a class we do not know
    OutlookExpress4,      // a mail file of Outlook Express 4 (.mbx/.idx), an older format
    Empty,
    Text,
    OtherFormat,  // a PST store, a compound file (MSG, Office), an archive, ...
    Unreadable,   // cannot be opened or read
};

struct DbxFileClass {
    DbxFileKind kind = DbxFileKind::Unreadable;
    // False when the header did not name the kind cleanly (a word of the class id off, or its
    // fields those of another kind): the kind is then the best guess. A mail kind that is not
    // certain was told by the file's contents or by the header's fields.
    bool certain = true;
};

// The first bytes the classification needs (header words, item count, the folder's file info).
inline constexpr std::size_t kDbxKindProbeSize = 0x24C8 + 0x100;

// Classifies a file by its first bytes (at most kDbxKindProbeSize of them; fewer when the file
// is shorter) and its size alone.
DbxFileClass dbx_classify_bytes(const std::uint8_t* head, std::size_t size, std::uint64_t file_size);
// Reads the file's first bytes and classifies them; where the header leaves doubt about an
// Outlook Express file, its index and text blocks are looked at too. Opens regular files only:
// a FIFO or a device is Unreadable rather than a read that may never return.
DbxFileClass dbx_classify_file(const char* path);
// The same for a file its caller has open already (nullptr: Unreadable); the stream stays open
// and can be read from its start again.
DbxFileClass dbx_classify_stream(std::FILE* stream);

// True for the kinds whose items are messages to convert: mail and news folders.
bool dbx_kind_holds_mail(DbxFileKind kind);
// What the file is, in words, for a note to the user ("the folder list of a store (Folders.dbx)").
const char* dbx_kind_description(DbxFileKind kind);
