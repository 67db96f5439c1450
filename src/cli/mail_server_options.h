// The mail server of --format imap, from the command line, a password file, the environment or
// the terminal.
#pragma once

#include <string>

#include "conversion/mail_server_settings.h"

struct CliOptions;

// Fills settings from the options, but for the password; false with error set (a usage error)
// when something is missing or wrong.
bool MailServerFromOptions(const CliOptions& options, MailServerSettings& settings, std::string& error);
// The password (unless a token command logs in): from the password file, else the environment,
// else asked for on the terminal. False with error set (a usage error) when there is none.
bool MailServerPassword(const CliOptions& options, MailServerSettings& settings, std::string& error);
