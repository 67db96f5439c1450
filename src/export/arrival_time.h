// When a message arrived, for the forms that keep it apart from the text (an upload's date on the
// server, a Maildir file's name and time).
#pragma once

#include <cstdint>

#include "dbx/dbx_scan.h"
#include "export/folder_loop.h"

// The time Outlook Express recorded for the message, else the time its own Date header gives; 0
// when neither says (FILETIME).
inline std::uint64_t ArrivalTime(const FolderMessage& message) {
    if (message.date != 0 || !message.text) return message.date;
    const DbxText date = dbx_header_value(*message.text, "Date");
    return date ? dbx_parse_date(*date) : 0;
}
