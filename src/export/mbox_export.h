#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "conversion/folder_export.h"
#include "store/mapi/message_state.h"

class BufferedOutput;

// One MBOX file per folder file: a "From " line, the quoted message text, a blank line.
void ExportFolderToMbox(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                        const std::string& folder_name);

// Whole seconds since 1970-01-01 UTC (floor) of a FILETIME tick count.
std::int64_t FiletimeToUnixSeconds(std::uint64_t filetime);

// "Thu Mar 05 14:07:09 2009" in local time; the Unix epoch's text for a time before 1970 or
// beyond the year 3000, which the separator line cannot carry.
std::string MboxDateText(std::int64_t unix_seconds);

// The "From " separator line with its line end; an absent sender becomes MAILER-DAEMON.
std::string MboxSeparatorLine(const std::optional<std::string>& sender_address, std::uint64_t filetime);

// Writes a message text line by line: ">" before every line that begins with "From ", and each
// CR LF or LF line end written as the platform's line end.
void WriteMboxBody(std::string_view text, BufferedOutput& out);

// The lines --mbox-status puts in a message's header block, each with the platform's line end:
// Status: and X-Status: as mutt and Python's mailbox read them, X-Mozilla-Status and
// X-Mozilla-Status2 as Thunderbird does.
std::string MboxStatusLines(const mapi::MessageState& state);

// WriteMboxBody with the status lines at the end of the message's header block, in place of any
// such lines the message held.
void WriteMboxBodyWithStatus(std::string_view text, const mapi::MessageState& state, BufferedOutput& out);
