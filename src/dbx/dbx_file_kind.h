// What kind of file a store's ".dbx" file is, told from its first bytes: the message folders
// hold mail; the folder list, the offline-actions file and the POP3 download record are part
// of the store but hold none; anything else is not an Outlook Express file at all.
#pragma once

#include <cstddef>
#include <cstdint>

enum class DbxFileKind {
    MailFolder,      // messages of a local, IMAP or HTTP mail folder
    NewsFolder,      // articles of a newsgroup
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

// The first bytes the classification needs (header words, item count, the folder's file info).
inline constexpr std::size_t kDbxKindProbeSize = 0x24C8;

// Classifies the first bytes of a file (at most kDbxKindProbeSize of them; fewer when the file
// is shorter) and the file's size.
DbxFileKind dbx_classify_bytes(const std::uint8_t* head, std::size_t size, std::uint64_t file_size);
// Reads the file's first bytes and classifies them. Opens regular files only: a FIFO or a
// device is Unreadable rather than a read that may never return.
DbxFileKind dbx_classify_file(const char* path);

// True for the kinds whose items are e-mails to convert.
bool dbx_kind_holds_mail(DbxFileKind kind);
// What the file is, in words, for a note to the user ("the folder list of a store (Folders.dbx)").
const char* dbx_kind_description(DbxFileKind kind);
