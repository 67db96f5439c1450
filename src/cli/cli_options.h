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
    unsigned threads = 0;  // 0: the machine's cores
    bool recover = false;
    bool mbox_status = false;
    bool quiet = false;
    bool verbose = false;
    bool help = false;
};

// Parses argv; returns the options or sets error to a usage message.
std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string& error);

// What is missing from the PST options for the chosen mode; empty when nothing is.
std::string PstOptionsError(const CliOptions& options);

extern const char* const kCliUsage;
