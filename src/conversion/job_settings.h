// The choices of the current conversion, shared by the window, the job and the exporters.
#pragma once

#include <string>

#include "conversion/mail_server_settings.h"

struct JobSettings {
    std::string saving_option;      // "eml", "mbox", "msg", "pst", "html", "rtf", "maildir", "imap"
    std::string destination_path;   // the chosen folder followed by "/ExportDBX"
    std::string outlook_bitness;    // "32BITS" or "64BITS"
    std::string program_bitness = sizeof(void*) == 8 ? "64BITS" : "32BITS";
    std::string pst_mode;           // "seprate", "new" or "old"
    std::string pst_path;
    std::string existing_pst_path;
    std::string pst_options_answer; // "yes" or "no"
    std::string codepage;           // legacy code page for 8-bit subjects; empty: the locale's
    unsigned threads = 0;  // 0: the machine's cores
    bool recover = false;
    // MBOX: a Status:/X-Status: and an X-Mozilla-Status line from each message's state in the
    // folder file, so that mail programs show read, flagged and replied mail as such. Off, the
    // stored bytes go out as they are.
    bool mbox_status = false;
    // A manifest of every message written (CSV and JSON Lines) into the destination at the end.
    bool manifest = false;
    // A message another folder file wrote into this destination already is left out (and counted).
    bool skip_duplicates = false;
    // Every attachment of every message is also saved as a file beside the output (not for an upload).
    bool extract_attachments = false;
    MailServerSettings mail_server;  // "imap": where the messages are uploaded
};

// The one record of the running program.
JobSettings& CurrentJobSettings();
