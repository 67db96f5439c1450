// ombrik-cli: the conversion job on a terminal, for batch users and scripts.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/mail_server_options.h"
#include "cli/store_listing.h"
#include "cli/terminal_window.h"
#include "job/conversion_job.h"
#include "conversion/job_settings.h"
#include "job/source_list.h"
#include "platform/file_checks.h"
#include "platform/paths.h"
#include "platform/terminal.h"
#include "platform/text_encoding.h"
#include "cli/pst_check_command.h"
#include "cli/run_summary.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailures = 1;
constexpr int kExitUsage = 2;

// The sources left out before the job began, with why, for the summary a program reads.
std::vector<std::pair<std::string, std::string>> skipped_list;

int UsageError(const std::string& message) {
    std::fprintf(stderr, "ombrik-cli: %s\n\n%s", message.c_str(), kCliUsage);
    return kExitUsage;
}

void PrintSkipped(const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "ombrik-cli: skipped %s: %s\n", path.c_str(), reason.c_str());
    skipped_list.emplace_back(path, reason);
}

void PrintListedTwice(const std::string& path) {
    std::fprintf(stderr, "ombrik-cli: note: %s is named more than once; it is converted once\n", path.c_str());
}

// Rows are added as the window's Add File and Add Folder add them: each on top. A file named
// twice is listed once and is no failure; every file left out is named with the reason.
SourceList BuildSourceList(const CliOptions& options, int& skipped) {
    SourceList list;
    skipped = 0;
    for (const auto& source : options.sources) {
        if (source.is_store) {
            std::vector<std::string> notes;
            const int added = list.AddStore(source.path, options.codepage, &notes);
            for (const auto& note : notes) std::fprintf(stderr, "ombrik-cli: note: %s\n", note.c_str());
            if (added == 0 && ++skipped) {
                std::fprintf(stderr, "ombrik-cli: no mail folder found in the store %s\n", source.path.c_str());
                skipped_list.emplace_back(source.path, "no mail folder found in the store");
            }
        } else if (source.is_folder) {
            if (!platform::IsDirectory(source.path)) {
                const std::string reason = platform::ReadableFileRefusal(source.path);
                PrintSkipped(source.path, reason.empty() ? "is not a folder" : reason);
                ++skipped;
                continue;
            }
            bool any = false;
            const int added = list.AddFolder(source.path, [&](const std::string& path, const SourceAddResult& result) {
                any = true;
                if (result.outcome == SourceAddResult::kAlreadyListed) {
                    PrintListedTwice(path);
                } else {
                    PrintSkipped(path, result.reason);
                    ++skipped;
                }
            });
            if (added == 0 && !any && ++skipped) {
                std::fprintf(stderr, "ombrik-cli: no .dbx file found in %s\n", source.path.c_str());
                skipped_list.emplace_back(source.path, "no .dbx file found");
            }
        } else {
            const std::size_t separator = source.path.find_last_of(platform::kPathSeparators);
            const std::string folder = separator == std::string::npos ? std::string() : source.path.substr(0, separator);
            const SourceAddResult result = list.AddSourceRow(source.path, folder);
            if (result.outcome == SourceAddResult::kAlreadyListed) {
                PrintListedTwice(source.path);
            } else if (!result) {
                PrintSkipped(source.path, result.reason);
                ++skipped;
            }
        }
    }
    return list;
}

// Makes the destination folder with any folders above it that are missing, as "(created)" in
// the usage promises; empty, or why it could not.
std::string MakeDestination(const std::string& folder) {
    std::vector<std::string> missing;
    std::filesystem::path at(folder);
    while (!at.empty() && !platform::IsDirectory(at.string())) {
        if (platform::FileExists(at.string())) return at.string() + " is not a folder";
        missing.push_back(at.string());
        if (at.parent_path() == at) break;
        at = at.parent_path();
    }
    for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
        if (platform::CreateDirectory(*level)) continue;
        const std::filesystem::path above = std::filesystem::path(*level).parent_path();
        const std::string refusal = platform::WritableFolderRefusal(above.empty() ? "." : above.string());
        return refusal.empty() ? "it could not be made" : above.string() + ": " + refusal;
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    platform::UseUtf8Console();
    const auto options = ParseCliOptions(platform::CommandLineArguments(argc, argv), error);
    if (!options) return UsageError(error);
    if (options->help) {
        std::fputs(kCliUsage, stdout);
        return kExitOk;
    }
    if (!options->check_pst.empty()) {
        const std::string refusal = platform::ReadableFileRefusal(options->check_pst);
        if (!refusal.empty()) {
            std::fprintf(stderr, "ombrik-cli: cannot check %s: %s\n", options->check_pst.c_str(), refusal.c_str());
            return kExitFailures;
        }
        return RunPstCheckCommand(options->check_pst);
    }
    if (!options->codepage.empty() && !platform::IsKnownCodepage(options->codepage))
        return UsageError("unknown code page " + options->codepage);
    if (options->json && options->print0) return UsageError("--json and --print0 are two ways of listing: choose one");
    if ((options->json || options->print0) && options->find_stores.empty())
        return UsageError("--json and --print0 go with --find-stores ROOT");
    if (!options->find_stores.empty())
        return RunFindStoresCommand(options->find_stores, options->codepage,
                                    options->json ? StoreListing::kJson
                                    : options->print0 ? StoreListing::kNulSeparated
                                                      : StoreListing::kText);
    const bool upload = options->format == "imap";
    MailServerSettings mail_server;
    if (upload) {
        if (!options->dest.empty()) return UsageError("--format imap uploads to the server and takes no --dest");
        if (options->manifest) return UsageError("--manifest needs a destination folder; --format imap has none");
        if (options->extract_attachments)
            return UsageError("--extract-attachments saves files into a destination folder; --format imap has none");
        if (std::string mail_server_error; !MailServerFromOptions(*options, mail_server, mail_server_error))
            return UsageError(mail_server_error);
    } else {
        if (options->dest.empty()) return UsageError("--dest DIR is required");
        if (!platform::IsDirectory(options->dest) && platform::FileExists(options->dest))
            return UsageError("destination " + options->dest + " is not a folder");
    }
    if (!IsSavingOptionAvailable(options->format))
        return UsageError("the " + options->format + " format is not available yet in this build");
    if (const std::string pst_error = PstOptionsError(*options); !pst_error.empty()) return UsageError(pst_error);
    if (options->skip_duplicates && (options->format == "pst" || upload))
        return UsageError("--skip-duplicates is for the forms of files (eml, mbox, msg, rtf, html, maildir)");
    if (options->format == "pst" && options->pst_mode == "new" && !platform::IsDirectory(options->pst_folder))
        return UsageError("PST folder " + options->pst_folder + " does not exist");
    if (options->format == "pst" && options->pst_mode == "old") {
        const std::string refusal = platform::ReadableFileRefusal(options->pst_file);
        if (!refusal.empty()) return UsageError("PST store " + options->pst_file + ": " + refusal);
    }

    int skipped_sources = 0;
    const SourceList rows = BuildSourceList(*options, skipped_sources);
    if (rows.size() == 0) {
        std::fprintf(stderr, "Please add dbx file\n");
        return kExitUsage;
    }
    if (std::string password_error; upload && !MailServerPassword(*options, mail_server, password_error))
        return UsageError(password_error);

    // Made only now that the command is known to be good: a usage error leaves nothing behind.
    if (const std::string refusal = upload ? std::string() : MakeDestination(options->dest); !refusal.empty()) {
        std::fprintf(stderr, "ombrik-cli: cannot create the destination folder %s: %s\n", options->dest.c_str(),
                     refusal.c_str());
        return kExitFailures;
    }

    JobSettings& settings = CurrentJobSettings();
    settings.saving_option = options->format;
    settings.codepage = options->codepage;
    settings.threads = options->threads;
    settings.recover = options->recover;
    settings.mbox_status = options->mbox_status;
    settings.manifest = options->manifest;
    settings.skip_duplicates = options->skip_duplicates;
    settings.extract_attachments = options->extract_attachments;
    settings.mail_server = mail_server;
    // As the window's Browse: the chosen folder followed by "ExportDBX", created.
    if (!upload) {
        settings.destination_path = platform::JoinPath(options->dest, "ExportDBX");
        platform::CreateDirectory(settings.destination_path);
    }

    TerminalWindow window(rows, *options, platform::StandardErrorIsTerminal());
    // The first Ctrl-C (or a polite kill) asks the job to stop at the next message and close its
    // files and stores cleanly; a second one ends the program at once.
    platform::ListenForInterruption(&TerminalWindow::RequestStop);
    const JobTally tally = RunConversionJob(window, settings);
    window.EndLiveLine();

    const bool stopped = window.StopRequested();
    if (stopped) {
        // The job shows no completion message when stopped; what failed is still told.
        std::fprintf(stderr, upload ? "ombrik-cli: interrupted; what was uploaded is on the server and in the journal, "
                                      "and a run again resumes\n"
                                    : "ombrik-cli: interrupted; the files and stores written so far are complete\n");
        for (const auto& line : tally.failure_lines()) std::fprintf(stderr, "%s\n", TerminalSafeText(line).c_str());
    }
    // The completion message carries the notes; a stopped job shows none, so they are told here.
    if (stopped)
        for (const auto& note : tally.note_lines())
            std::fprintf(stderr, "ombrik-cli: note: %s\n", TerminalSafeText(note).c_str());
    // With the JSON summary on standard output, the lines for people go to standard error.
    std::FILE* const people = options->summary_json == "-" ? stderr : stdout;
    std::fprintf(people, "folders: %zu, messages written: %zu, failures: %zu\n", tally.folders(), tally.messages(),
                 tally.failures());
    if (tally.already_there() != 0)
        std::fprintf(people, options->format == "pst"  ? "messages already in the store, not added again: %zu\n"
                    : upload                  ? "messages already on the server, not uploaded again: %zu\n"
                                              : "messages already there, not written again: %zu\n",
                    tally.already_there());
    if (tally.duplicates() != 0)
        std::fprintf(people, "messages another folder file wrote already, left out: %zu\n", tally.duplicates());
    if (upload && !options->quiet) window.PrintThroughput(tally.messages());
    if (tally.recovered() != 0)
        std::fprintf(people, "of the messages written, recovered (found only by a scan of the folder file): %zu\n",
                     tally.recovered());
    int status = tally.failures() == 0 && skipped_sources == 0 && !stopped ? kExitOk : kExitFailures;
    if (!options->summary_json.empty()) {
        const std::string json = RunSummaryJson({tally, skipped_list, stopped, status, options->format});
        if (options->summary_json == "-") {
            std::fputs(json.c_str(), stdout);
        } else {
            std::ofstream out(options->summary_json, std::ios::binary | std::ios::trunc);
            out << json;
            out.close();
            if (!out) {
                std::fprintf(stderr, "ombrik-cli: the summary could not be written to %s\n", options->summary_json.c_str());
                status = kExitFailures;
            }
        }
    }
    return status;
}
