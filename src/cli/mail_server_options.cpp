#include "cli/mail_server_options.h"

#include <cstdlib>
#include <fstream>

#include "cli/cli_options.h"
#include "imap/server_url.h"
#include "platform/file_checks.h"
#include "platform/terminal.h"

namespace {

// The first line of the file, its line end removed; false when it cannot be read.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error) {
    const std::string refusal = platform::ReadableFileRefusal(path);
    if (!refusal.empty()) {
        error = "the password file " + path + " " + refusal;
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line) || line.size() > 4096) {
        error = "the password file " + path + " holds no password on its first line";
        return false;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    password = line;
    return !password.empty() || (error = "the password file " + path + " holds no password on its first line", false);
}

}  // namespace

bool MailServerFromOptions(const CliOptions& options, MailServerSettings& settings, std::string& error) {
    if (options.imap_url.empty()) {
        error = "--format imap needs --imap-url imaps://USER@HOST[:PORT][/FOLDER]";
        return false;
    }
    if (!imap::ParseServerUrl(options.imap_url, settings, error)) return false;
    if (!options.imap_ca_file.empty()) {
        const std::string refusal = platform::ReadableFileRefusal(options.imap_ca_file);
        if (!refusal.empty()) {
            error = "the certificate file " + options.imap_ca_file + " " + refusal;
            return false;
        }
        settings.ca_file = options.imap_ca_file;
    }
    if (!options.imap_oauth_command.empty()) {
        if (!options.imap_password_file.empty()) {
            error = "--imap-oauth-command and --imap-password-file exclude each other";
            return false;
        }
        settings.oauth_command = options.imap_oauth_command;
    }
    return true;
}

bool MailServerPassword(const CliOptions& options, MailServerSettings& settings, std::string& error) {
    if (!settings.oauth_command.empty()) return true;
    if (!options.imap_password_file.empty()) return ReadPasswordFile(options.imap_password_file, settings.password, error);
    if (const char* password = std::getenv(kImapPasswordVariable); password != nullptr && password[0] != '\0') {
        settings.password = password;
        return true;
    }
    const auto typed = platform::ReadSecretFromTerminal("Password for " + imap::AccountText(settings) + ": ");
    if (!typed || typed->empty()) {
        error = "no password: give --imap-password-file FILE, set OMBRIK_IMAP_PASSWORD, or run on a terminal to be asked";
        return false;
    }
    settings.password = *typed;
    return true;
}
