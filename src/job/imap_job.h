// The upload to a mail server: one connection for the whole job, a folder of the account per
// folder file (the Outlook Express tree under the chosen prefix), and an upload journal per
// folder in the user's state folder so that nothing arrives twice.
#pragma once

#include <string>

#include "conversion/mail_server_settings.h"

class ConversionWindow;
class JobTally;
struct JobSettings;

// Runs the upload of every row on the worker thread. False when it could not start (no login,
// no trusted connection, no journal folder): the user has been told why, and no completion
// step follows. True otherwise, also after a stop that a later run resumes from.
bool RunImapUpload(ConversionWindow& window, JobSettings& settings, JobTally& tally, int row_count);

// The password, or for XOAUTH2 the token the user's command prints. False with error set when
// there is none to be had.
bool MailServerSecret(const MailServerSettings& settings, std::string& secret, std::string& error);

// Connects, checks the certificate and logs in, then logs out: what the window's Test Connection
// button asks. "" when it worked (what the server offers then in offered), else why not.
std::string TestMailServerConnection(const MailServerSettings& settings, std::string& offered);
