// The mail server an upload goes to, as the window or the command line chose it.
#pragma once

#include <string>
#include <vector>

enum class MailServerSecurity {
    kImplicitTls,  // imaps: TLS from the first byte (port 993)
    kStartTls,     // imap: a plain connection that must turn to TLS before anything else (port 143)
};

struct MailServerSettings {
    MailServerSecurity security = MailServerSecurity::kImplicitTls;
    std::string host;
    unsigned port = 0;  // 0: the default port of the security
    std::string user;
    // The folder levels the Outlook Express folders go below ("Outlook Express"); none: at the
    // top of the account.
    std::vector<std::string> folder_prefix;
    // Kept in memory only: from a file, the environment, a prompt or the window's field.
    std::string password;
    // A command that prints an OAuth 2 bearer token: with it the login is XOAUTH2, not a password.
    std::string oauth_command;
    // Certificates (PEM) trusted beside the system's: a private authority or a server's own.
    std::string ca_file;
};
