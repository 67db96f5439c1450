#include "cli/cli_options.h"

#include <set>

const char* const kCliUsage =
    "Usage: ombrik-cli --dest DIR [--format eml|mbox|msg|rtf|html|pst] [--add-folder DIR]...\n"
    "                  [--codepage NAME] [--pst-mode seprate|new|old] [--pst-folder DIR]\n"
    "                  [--pst-file FILE] [--threads N] [--quiet|--verbose] [FILE.dbx]...\n"
    "       ombrik-cli --check-pst FILE.pst\n"
    "\n"
    "Converts Outlook Express folder files (.dbx) into e-mail files.\n"
    "\n"
    "  --dest DIR          write into DIR/ExportDBX (created)\n"
    "  --format FORM       eml (default): one .eml file per message; mbox: one MBOX file per\n"
    "                      folder; msg, rtf, html: one file per message; pst: Outlook PST stores\n"
    "  FILE.dbx            a folder file to convert; each one goes on top of the list, so the\n"
    "                      last one named is converted first, as in the window\n"
    "  --add-folder DIR    every *.dbx file in DIR (and in sub-folders named *.dbx)\n"
    "  --codepage NAME     code page of 8-bit subjects (default: the one of your locale,\n"
    "                      windows-1252 when it says nothing), e.g. windows-1251, CP932\n"
    "  --pst-mode MODE     seprate: one store per folder file; new: one new store for all;\n"
    "                      old: add to an existing store\n"
    "  --pst-folder DIR    folder of the new store (DIR/NewPST.pst) for --pst-mode new\n"
    "  --pst-file FILE     the existing store for --pst-mode old\n"
    "  --threads N         worker threads that prepare MSG, RTF, HTML and PST messages\n"
    "                      (default: the machine's cores); the output is the same for any N\n"
    "  --check-pst FILE    check the structure of a PST store and report what is wrong\n"
    "  --quiet             print only messages and the summary\n"
    "  --verbose           print every status line (each output file) when not on a terminal\n"
    "  --help              this text\n"
    "\n"
    "Exit status: 0 when every message of every listed file was converted; 1 when anything\n"
    "failed or was skipped for an error; 2 for a usage error.\n";

std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string& error) {
    static const std::set<std::string> kFormats = {"eml", "mbox", "msg", "rtf", "html", "pst"};
    static const std::set<std::string> kPstModes = {"seprate", "new", "old"};
    CliOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            target = args[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--dest") {
            if (!value(options.dest)) return std::nullopt;
        } else if (arg == "--format") {
            if (!value(options.format)) return std::nullopt;
            if (!kFormats.count(options.format)) {
                error = "unknown format \"" + options.format + "\" (eml, mbox, msg, rtf, html or pst)";
                return std::nullopt;
            }
        } else if (arg == "--add-folder") {
            std::string folder;
            if (!value(folder)) return std::nullopt;
            options.sources.push_back({true, folder});
        } else if (arg == "--codepage") {
            if (!value(options.codepage)) return std::nullopt;
        } else if (arg == "--pst-mode") {
            if (!value(options.pst_mode)) return std::nullopt;
            if (!kPstModes.count(options.pst_mode)) {
                error = "unknown PST mode \"" + options.pst_mode + "\" (seprate, new or old)";
                return std::nullopt;
            }
        } else if (arg == "--pst-folder") {
            if (!value(options.pst_folder)) return std::nullopt;
        } else if (arg == "--pst-file") {
            if (!value(options.pst_file)) return std::nullopt;
        } else if (arg == "--threads") {
            std::string count;
            if (!value(count)) return std::nullopt;
            // A small positive number: more workers than this only cost memory.
            constexpr unsigned kMaxThreads = 256;
            unsigned parsed = 0;
            bool ok = !count.empty() && count.size() <= 3;
            for (char c : count) ok = ok && c >= '0' && c <= '9';
            if (ok) parsed = static_cast<unsigned>(std::stoul(count));
            if (!ok || parsed == 0 || parsed > kMaxThreads) {
                error = "--threads needs a number from 1 to " + std::to_string(kMaxThreads);
                return std::nullopt;
            }
            options.threads = parsed;
        } else if (arg == "--check-pst") {
            if (!value(options.check_pst)) return std::nullopt;
        } else if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
        } else if (arg == "--verbose" || arg == "-v") {
            options.verbose = true;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            error = "unknown option " + arg;
            return std::nullopt;
        } else {
            options.sources.push_back({false, arg});
        }
    }
    return options;
}
