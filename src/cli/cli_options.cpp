#include "cli/cli_options.h"

#include <set>

const char* const kCliUsage =
    "Usage: ombrik-cli --dest DIR [--format eml|mbox|msg|rtf|html|pst|maildir] [--add-folder DIR]...\n"
    "                  [--codepage NAME] [--pst-mode separate|new|old] [--pst-folder DIR]\n"
    "                  [--pst-file FILE] [--add-store DIR]... [--threads N] [--quiet|--verbose]\n"
    "                  [--recover] [--mbox-status] [--manifest] [--skip-duplicates]\n"
    "                  [--extract-attachments] [--summary-json FILE] [FILE.dbx]...\n"
    "       ombrik-cli --format imap --imap-url imaps://USER@HOST[:PORT][/FOLDER] [--imap-password-file FILE]\n"
    "                  [--imap-oauth-command COMMAND] [--imap-ca-file FILE] [--add-store DIR]... [FILE.dbx]...\n"
    "       ombrik-cli --check-pst FILE.pst\n"
    "       ombrik-cli --find-stores ROOT [--codepage NAME] [--json|--print0]\n"
    "\n"
    "Converts Outlook Express folder files (.dbx) into e-mail files.\n"
    "\n"
    "  --dest DIR          write into DIR/ExportDBX (both made when missing)\n"
    "  --format FORM       eml (default): one .eml file per message; mbox: one MBOX file per\n"
    "                      folder; msg, rtf, html: one file per message; pst: Outlook PST stores;\n"
    "                      maildir: a Maildir (Maildir++ folders, flags in the file names);\n"
    "                      imap: uploaded to a mail server (no --dest)\n"
    "  FILE.dbx            a folder file to convert; each one goes on top of the list, so the\n"
    "                      last one named is converted first, as in the window\n"
    "  --add-folder DIR    every *.dbx file in DIR (and in sub-folders named *.dbx)\n"
    "  --add-store DIR     a whole Outlook Express store (the folder holding Folders.dbx):\n"
    "                      one row per mail folder, named by its place in the folder tree;\n"
    "                      files that hold no mail (Folders.dbx, Offline.dbx, ...) are passed over;\n"
    "                      the output keeps the tree (mbox: Thunderbird's layout, NAME.sbd/)\n"
    "  --find-stores ROOT  list every Outlook Express store below ROOT (an old Windows disk or\n"
    "                      a copied profile) with its user, identity, folders and messages\n"
    "  --json              with --find-stores: one JSON object (stores with user, identity,\n"
    "                      folders and messages; folders that could not be read)\n"
    "  --print0            with --find-stores: only each store's folder, each ended by a NUL\n"
    "                      byte, for xargs -0 and parallel -0\n"
    "  --codepage NAME     code page of 8-bit text that names no charset, when the message\n"
    "                      declares none either (default: the one of your locale,\n"
    "                      windows-1252 when it says nothing), e.g. windows-1251, CP932\n"
    "  --pst-mode MODE     separate (or seprate): one store per folder file; new: one new\n"
    "                      store for all; old: add to an existing store (needed with pst)\n"
    "  --pst-folder DIR    folder of the new store (DIR/NewPST.pst) for --pst-mode new\n"
    "  --pst-file FILE     the existing store for --pst-mode old\n"
    "                      A message the target folder holds already (same Message-ID, date\n"
    "                      and subject, or the same content) is not added again: converting\n"
    "                      the same folder file twice into a store adds nothing the second\n"
    "                      time; the summary counts those as already in the store.\n"
    "  --threads N         threads that prepare MSG, RTF, HTML and PST messages, counting\n"
    "                      the one that writes them (default: the machine's cores); the\n"
    "                      output is the same for any N\n"
    "  --recover           also write the messages that only a scan of the file finds: deleted\n"
    "                      ones not yet compacted away, and those a damaged index no longer\n"
    "                      reaches; they go apart from the others (a Recovered sub-folder, or\n"
    "                      NAME (recovered).mbox), numbered after the folder's own messages\n"
    "  --mbox-status       mbox: add Status:, X-Status: and X-Mozilla-Status lines from what\n"
    "                      Outlook Express knew of each message (read, flagged, replied,\n"
    "                      forwarded), so that mutt and Thunderbird show it; without it the\n"
    "                      stored messages go out byte for byte\n"
    "  --manifest          also write ExportDBX/ombrik-manifest-<time>.csv and .jsonl: the run's\n"
    "                      version, options and times, and a line per message written or found\n"
    "                      there (source file and its SHA-256, slot or offset, Date, From, To,\n"
    "                      Subject, Message-ID, size, SHA-256, state, output and its SHA-256)\n"
    "  --skip-duplicates   leave out a message another folder file wrote into this destination\n"
    "                      already (same Message-ID, Date and Subject, or without a Message-ID\n"
    "                      the same bytes): each message of overlapping backups once; counted\n"
    "                      (not with pst or imap, whose duplicate checks are per folder)\n"
    "  --extract-attachments  also save every attachment of every message as a file:\n"
    "                      ExportDBX/FOLDER.attachments/MESSAGE/NAME beside the output\n"
    "                      (MESSAGE: the message's file name without its extension; for\n"
    "                      mbox, pst and maildir the name an eml run gives it); embedded\n"
    "                      messages as .eml; names made safe, never over another file\n"
    "                      (not with imap)\n"
    "  --summary-json FILE write what the run did as JSON into FILE (\"-\": standard output, and\n"
    "                      the summary lines for people go to standard error): the exit status,\n"
    "                      the counts, every failure and skipped file with its reason, the notes\n"
    "  --imap-url URL      the account to upload to: imaps://USER@HOST[:PORT] (TLS, port 993)\n"
    "                      or imap://USER@HOST[:PORT] (must turn to TLS with STARTTLS, port\n"
    "                      143; a server without TLS is refused), then the folder the Outlook\n"
    "                      Express folders go below: imaps://anna@mail.example.com/Outlook%20Express\n"
    "                      (%XX escapes; a user with \"@\" may be written as is)\n"
    "  --imap-password-file FILE  the password is the first line of FILE; without it the\n"
    "                      password comes from the OMBRIK_IMAP_PASSWORD variable, else it is\n"
    "                      asked for on the terminal (never on the command line)\n"
    "  --imap-oauth-command COMMAND  log in with XOAUTH2 (Gmail, Microsoft 365): COMMAND prints\n"
    "                      an OAuth 2 access token for the user on its first line\n"
    "  --imap-ca-file FILE trust the certificates in FILE (PEM) too: a private authority, or\n"
    "                      a server's own self-signed certificate\n"
    "                      Dates (the time Outlook Express received each message), read,\n"
    "                      flagged, replied, forwarded and draft go along; a journal in\n"
    "                      ~/.local/state/ombrik/imap remembers what is on the server, so a run\n"
    "                      again (or after a crash, a lost connection or a full account)\n"
    "                      uploads only what is missing\n"
    "  --check-pst FILE    check the structure of a PST store: prints one verdict (damaged,\n"
    "                      or no damage with Outlook's own inconsistencies listed as notes);\n"
    "                      exit status 0 when no damage, 1 otherwise\n"
    "  --quiet             print only messages and the summary\n"
    "  --verbose           print every status line (each output file) when not on a terminal\n"
    "  --help              this text\n"
    "\n"
    "Files already in the destination are never replaced by different content: the same output\n"
    "is left as it is and counted as already there, a different one gets the next free name\n"
    "with \" (2)\", \" (3)\", ... before the extension.\n"
    "\n"
    "Exit status: 0 when every message of every listed file was converted or found already\n"
    "there (a file named twice is converted once, and files that hold no mail are passed over,\n"
    "each with a note); 1 when anything failed, was skipped for an error, or the run was\n"
    "interrupted; 2 for a usage error (nothing is written then). --find-stores: 0 when a store\n"
    "was found, 1 when none, 2 for a usage error. --check-pst: 0 when no damage, 1 otherwise.\n";

std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string& error) {
    static const std::set<std::string> kFormats = {"eml", "mbox", "msg", "rtf", "html", "pst", "maildir", "imap"};
    static const std::set<std::string> kPstModes = {"seprate", "separate", "new", "old"};
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
                error = "unknown format \"" + options.format + "\" (eml, mbox, msg, rtf, html, pst, maildir or imap)";
                return std::nullopt;
            }
        } else if (arg == "--add-folder") {
            std::string folder;
            if (!value(folder)) return std::nullopt;
            options.sources.push_back({true, folder});
        } else if (arg == "--add-store") {
            std::string store;
            if (!value(store)) return std::nullopt;
            options.sources.push_back({false, store, true});
        } else if (arg == "--find-stores") {
            if (!value(options.find_stores)) return std::nullopt;
        } else if (arg == "--imap-url") {
            if (!value(options.imap_url)) return std::nullopt;
        } else if (arg == "--imap-password-file") {
            if (!value(options.imap_password_file)) return std::nullopt;
        } else if (arg == "--imap-oauth-command") {
            if (!value(options.imap_oauth_command)) return std::nullopt;
        } else if (arg == "--imap-ca-file") {
            if (!value(options.imap_ca_file)) return std::nullopt;
        } else if (arg == "--imap-password" || arg.rfind("--imap-password=", 0) == 0) {
            error = "a password is never taken on the command line (others can read it there): use "
                    "--imap-password-file FILE, the OMBRIK_IMAP_PASSWORD variable or the prompt";
            return std::nullopt;
        } else if (arg == "--codepage") {
            if (!value(options.codepage)) return std::nullopt;
        } else if (arg == "--pst-mode") {
            if (!value(options.pst_mode)) return std::nullopt;
            if (!kPstModes.count(options.pst_mode)) {
                error = "unknown PST mode \"" + options.pst_mode + "\" (separate, new or old)";
                return std::nullopt;
            }
            // The job knows the mode by the spelling the options dialog has always stored.
            if (options.pst_mode == "separate") options.pst_mode = "seprate";
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
        } else if (arg == "--recover") {
            options.recover = true;
        } else if (arg == "--mbox-status") {
            options.mbox_status = true;
        } else if (arg == "--manifest") {
            options.manifest = true;
        } else if (arg == "--skip-duplicates") {
            options.skip_duplicates = true;
        } else if (arg == "--extract-attachments") {
            options.extract_attachments = true;
        } else if (arg == "--summary-json") {
            if (!value(options.summary_json)) return std::nullopt;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--print0") {
            options.print0 = true;
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

std::string PstOptionsError(const CliOptions& options) {
    if (options.format != "pst") return {};
    if (options.pst_mode.empty()) return "--format pst needs --pst-mode separate, new or old";
    if (options.pst_mode == "new" && options.pst_folder.empty())
        return "--pst-mode new needs --pst-folder DIR, the folder of the new store";
    if (options.pst_mode == "old" && options.pst_file.empty())
        return "--pst-mode old needs --pst-file FILE, the existing store";
    return {};
}
