// The messages of a folder file uploaded into a folder of a mail account (IMAP).
#pragma once

#include <string>
#include <vector>

#include "conversion/folder_export.h"

namespace imap {
class AccountUpload;
}

// The account the job uploads to, and the folder the next folder file goes into.
class ImapTarget : public ExportTarget {
public:
    ImapTarget(imap::AccountUpload& account, std::string journal_folder)
        : account(account), journal_folder(std::move(journal_folder)) {}
    imap::AccountUpload& account;
    std::string journal_folder;  // where the upload journals are kept
    // The folder's levels below the account's top (the prefix, then the Outlook Express tree).
    std::vector<std::string> levels;
};

// Uploads the e-mails of the folder file into target's folder (context.target, an ImapTarget),
// with a Recovered folder below it for the messages only a scan finds.
void ExportFolderToImap(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                        const std::string& folder_name);
