// The address of a mail account as one text: imaps://USER@HOST[:PORT][/FOLDER/PREFIX].
#pragma once

#include <string>
#include <string_view>

#include "conversion/mail_server_settings.h"

namespace imap {

constexpr unsigned kImapsPort = 993;
constexpr unsigned kImapPort = 143;

// Fills security, user, host, port and folder_prefix of settings from url. "imaps://" is TLS
// from the start, "imap://" a connection that must turn to TLS (STARTTLS). The user and the
// prefix may carry %XX escapes ("anna%40example.com", or the last "@" separates the user from
// the host); the prefix's "/" separates folder levels; an IPv6 host is written in brackets. A
// password in the address is refused: it would end up in shell histories and process lists.
// False with error set when url is not such an address.
bool ParseServerUrl(std::string_view url, MailServerSettings& settings, std::string& error);

// The port the connection uses: the one given, else the security's default.
unsigned EffectivePort(const MailServerSettings& settings);

// "imaps://anna@mail.example.com:993": the account as the user reads it (no prefix).
std::string AccountText(const MailServerSettings& settings);

}  // namespace imap
