// Finding message texts by scanning a folder file for text blocks instead of trusting its index:
// messages of a damaged index, and deleted messages whose blocks have not been reused. Plain
// functions over plain records, like the rest of the reader; no system call of its own.
//
// A folder loop uses it as:
//   DbxScan* scan = dbx_scan(reader);        // one pass over the file, compact per-block data
//   dbx_scan_count(scan)                     // how many messages the index does not reach
//   DbxFoundMessage m;
//   while (dbx_scan_next(scan, m)) { ... }   // one message's text at a time, in file order
//   dbx_scan_free(scan);                     // before dbx_close(reader)
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "dbx/dbx.h"

// A message text that no index entry leads to.
struct DbxFoundMessage {
    std::uint32_t head_offset = 0;  // file offset of the chain's first block
    std::string text;               // the blocks' data in chain order; every byte, zeros included
    bool partial = false;           // the chain broke off: text holds the blocks before the break
    bool fragment = false;          // the chain does not begin like a message: a tail whose head is gone
    DbxText subject;                // the Subject header as stored (unfolded, not decoded)
    std::uint64_t date = 0;         // the Date header as FILETIME ticks; 0 when absent or unreadable
};

// What one scan saw, for notes and measurements.
struct DbxScanStats {
    std::size_t blocks = 0;          // text blocks found by their own header
    std::size_t index_messages = 0;  // chains an index entry leads to
    std::size_t found = 0;           // messages only the scan reaches
    std::size_t fragments = 0;       // chains only the scan reaches that do not begin like a message
    std::size_t partial = 0;         // of messages and fragments, chains that break off
};

struct DbxScan;

// Given every byte of the file the scan reads, once each and in file order, as it reads them:
// a caller that wants the file whole (its digest) need not read it a second time. A scan that
// stops early (the file shrank or failed) gives fewer than file_size bytes.
using DbxBytesSeen = std::function<void(const char* data, std::size_t size)>;

// Scans the reader's file. The reader must stay open until dbx_scan_free. Returns no scan with
// dbx_errno 1 for no reader; a folder-list file gives a scan that finds nothing. A chain is a
// message when it begins like a message header; with_fragments adds the other chains that hold
// text (the tails of messages whose first block is lost), flagged as fragments.
DbxScan* dbx_scan(DbxReader* reader, bool with_fragments = false, const DbxBytesSeen& seen = {});
std::size_t dbx_scan_count(const DbxScan* scan);  // what dbx_scan_next gives: messages and fragments
DbxScanStats dbx_scan_stats(const DbxScan* scan);
// Fills message with the next found message and returns true, or returns false at the end.
bool dbx_scan_next(DbxScan* scan, DbxFoundMessage& message);
void dbx_scan_free(DbxScan* scan);

// A scan that reads the file through a read window of its own rather than the reader's, so that
// it may run on another thread while the reader fetches items: the two share only positioned
// reads of one descriptor. Only for a reader dbx_scan_can_read_apart allows (a memory stream
// has one position for every reader). The reader must stay open, and is not written to, until
// dbx_scan_free; what dbx_scan_next reads later goes through the scan's own window too.
bool dbx_scan_can_read_apart(const DbxReader* reader);
DbxScan* dbx_scan_apart(const DbxReader* reader, bool with_fragments = false, const DbxBytesSeen& seen = {});
// A scan apart whose reads came back short: the file shrank or failed under it. (A scan through
// the reader marks the reader itself.)
bool dbx_scan_cut_short(const DbxScan* scan);

// The Subject and Date headers of a message text, as the scan fills them in; exposed for the
// callers that name or date a message from its text alone.
DbxText dbx_header_value(std::string_view text, const char* name);
std::uint64_t dbx_parse_date(const std::string& value);  // 0 when not a date
