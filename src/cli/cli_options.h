// Command-line options of ombrik-cli.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct SourceArgument {
    bool is_folder = false;  // --add-folder DIR, else a FILE.dbx
    std::string path;
    bool is_store = false;  // --add-store DIR
};

struct CliOptions {
    std::string dest;
    std::string format = "eml";
    std::vector<SourceArgument> sources;  // in command-line order
    std::string codepage;
    std::string pst_mode;
    std::string pst_folder;
    std::string pst_file;
    std::string check_pst;
    std::string find_stores;  // --find-stores ROOT
    std::string imap_url;            // --imap-url imaps://USER@HOST[:PORT][/PREFIX]
    std::string imap_password_file;  // first line: the password
    std::string imap_oauth_command;  // prints an OAuth 2 token: XOAUTH2 instead of a password
    std::string imap_ca_file;        // certificates trusted beside the system's
    unsigned threads = 0;  // 0: the machine's cores
    bool recover = false;
    bool mbox_status = false;
    bool manifest = false;  // --manifest
    bool skip_duplicates = false;  // --skip-duplicates
    bool extract_attachments = false;  // --extract-attachments
    std::string summary_json;  // --summary-json FILE ("-": standard output)
    bool json = false;         // --find-stores ... --json
    bool print0 = false;       // --find-stores ... --print0
    bool quiet = false;
    bool verbose = false;
    bool help = false;
};

// Parses argv; returns the options or sets error to a usage message.
std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string& error);

// What is missing from the PST options for the chosen mode; empty when nothing is.
std::string PstOptionsError(const CliOptions& options);

// The environment variable a password for --format imap may come from.
inline const char* const kImapPasswordVariable = "OMBRIK_IMAP_PASSWORD";

extern const char* const kCliUsage;
