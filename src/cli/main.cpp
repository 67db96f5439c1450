// ombrik-cli: the conversion job on a terminal, for batch users and scripts.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/terminal_window.h"
#include "job/conversion_job.h"
#include "conversion/job_settings.h"
#include "job/source_list.h"
#include "platform/memory_tuning.h"
#include "platform/paths.h"
#include "platform/text_encoding.h"
#include "store/pst/pst_check.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailures = 1;
constexpr int kExitUsage = 2;

int UsageError(const std::string& message) {
    std::fprintf(stderr, "ombrik-cli: %s\n\n%s", message.c_str(), kCliUsage);
    return kExitUsage;
}

// Rows are added as the window's Add File and Add Folder add them: each on top.
SourceList BuildSourceList(const CliOptions& options, int& skipped) {
    SourceList list;
    skipped = 0;
    for (const auto& source : options.sources) {
        if (source.is_folder) {
            if (list.AddFolder(source.path) == 0 && ++skipped)
                std::fprintf(stderr, "ombrik-cli: no readable .dbx file found in %s\n", source.path.c_str());
        } else {
            const std::string folder = source.path.find('/') == std::string::npos
                                           ? std::string()
                                           : source.path.substr(0, source.path.find_last_of('/'));
            const int before = list.size();
            list.AddSourceRow(source.path, folder);
            if (list.size() == before && ++skipped)
                std::fprintf(stderr, "ombrik-cli: skipped %s (cannot be read, or listed twice)\n", source.path.c_str());
        }
    }
    return list;
}

}  // namespace

int main(int argc, char** argv) {
    platform::KeepMessageBuffersInTheHeap();
    std::string error;
    const auto options = ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) return UsageError(error);
    if (options->help) {
        std::fputs(kCliUsage, stdout);
        return kExitOk;
    }
    if (!options->check_pst.empty()) return RunPstCheckCommand(options->check_pst);
    if (options->dest.empty()) return UsageError("--dest DIR is required");
    if (!platform::IsDirectory(options->dest)) return UsageError("destination folder " + options->dest + " does not exist");
    if (!IsSavingOptionAvailable(options->format))
        return UsageError("the " + options->format + " format is not available yet in this build");
    if (!options->codepage.empty() && !platform::IsKnownCodepage(options->codepage))
        return UsageError("unknown code page " + options->codepage);

    int skipped_sources = 0;
    const SourceList rows = BuildSourceList(*options, skipped_sources);
    if (rows.size() == 0) {
        std::fprintf(stderr, "Please add dbx file\n");
        return kExitUsage;
    }

    JobSettings& settings = CurrentJobSettings();
    settings.saving_option = options->format;
    settings.codepage = options->codepage;
    settings.threads = options->threads;
    // As the window's Browse: the chosen folder followed by "ExportDBX", created.
    settings.destination_path = platform::JoinPath(options->dest, "ExportDBX");
    platform::CreateDirectory(settings.destination_path);

    TerminalWindow window(rows, *options, isatty(STDERR_FILENO) != 0);
    const JobTally tally = RunConversionJob(window, settings);
    window.EndLiveLine();

    std::printf("folders: %zu, messages written: %zu, failures: %zu\n", tally.folders(), tally.messages(),
                tally.failures());
    return tally.failures() == 0 && skipped_sources == 0 ? kExitOk : kExitFailures;
}
