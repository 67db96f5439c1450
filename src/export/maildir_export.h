// The messages of a folder file as a folder of a Maildir: one file per message, named by when it
// arrived and with its flags, in Maildir++ layout, which Dovecot, mutt, notmuch and mbsync read.
#pragma once

#include <string>
#include <vector>

#include "conversion/folder_export.h"

// The Maildir flag letters of a message's state, in the order the format wants them:
// D draft, F flagged, P forwarded (passed), R replied, S read (seen).
std::string MaildirFlags(bool draft, bool flagged, bool forwarded, bool replied, bool read);

// The part of a message's file name after its unique base: ":2," and the flags, with ';' for
// ':' on a system whose file names cannot hold a colon (Windows), as mbsync writes it there.
std::string MaildirInfo(const std::string& flags);

// The folder's directory under the Maildir's top: ".Parent.Child", each level in modified UTF-7
// with the dots of its own name made "_" (a dot separates the levels). A folder "Inbox" at the
// top is the Maildir's own inbox: "" (the top itself), and its sub-folders ".INBOX.Child".
std::string MaildirFolderName(const std::vector<std::string>& levels);

// A host name as a Maildir file name may hold it: "/" and ":" written as \057 and \072.
std::string MaildirHostName(const std::string& host);

// Writes the e-mails of the folder file into the Maildir at destination_path (made, with cur/,
// new/ and tmp/): the folder's messages in cur/ of its Maildir++ folder, each written to tmp/ first
// and then given its name.
void ExportFolderToMaildir(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                           const std::string& folder_name);
