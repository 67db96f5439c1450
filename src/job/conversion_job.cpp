#include "job/conversion_job.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

#include "conversion/conversion_window.h"
#include "conversion/job_settings.h"
#include "export/exporters.h"
#include "export/output_naming.h"
#include "job/imap_job.h"
#include "job/pst_job.h"
#include "platform/file_lock.h"
#include "platform/paths.h"

namespace {

// The window of the running job; only one job runs at a time.
ConversionWindow* conversion_window = nullptr;

std::atomic<bool> job_running{false};
std::mutex thread_mutex;
std::thread worker;

void ShowCompletion(ConversionWindow& window, const JobTally& tally) {
    window.SetProgress(0);
    window.SetStatusText(kCompletionText);
    // Also after a stop: the window decides whether a stopped job shows what it did.
    window.ShowJobSummary(tally);
}

// Two conversions into one destination one after the other, as two into one store: the second
// waits, with a status line, and then finds the first one's files in place instead of writing
// "(2)" copies beside them. False when the wait was given up (counted); a destination that
// cannot be locked (missing, or on a disk that takes no locks) is written unlocked.
bool LockDestination(ConversionWindow& window, const std::string& destination, JobTally& tally,
                     std::unique_ptr<platform::FileLock>& lock) {
    if (!platform::IsDirectory(destination)) return true;
    try {
        lock = platform::FileLock::AcquireFolder(
            destination, [&] { window.SetStatusText(kStoreBusyText + destination + " ..."); },
            [&] { return window.StopRequested(); });
    } catch (const std::runtime_error&) {
        return true;
    }
    if (lock) return true;
    tally.CountFailure(destination, "another conversion is still writing into this folder; the wait for it was "
                                    "interrupted and nothing was written. Run this conversion again when the other "
                                    "one has finished");
    return false;
}

// Rows in list order, each to the exporter of the saving option. A later row whose folder name
// an earlier row of this job already used gets a name of its own, so no output is replaced. A
// row of a whole store takes its place in the store's tree.
void RunRows(ConversionWindow& window, const JobSettings& settings, JobTally& tally, int row_count,
             const platform::DeviceFilter* devices) {
    const FolderExporter exporter = FindFolderExporter(settings.saving_option);
    if (!exporter || settings.saving_option == "pst" || settings.saving_option == "imap") return;
    std::unique_ptr<platform::FileLock> destination_lock;
    if (!LockDestination(window, settings.destination_path, tally, destination_lock)) return;
    OutputFolderNames folder_names;
    for (int row = 0; row < row_count && !window.StopRequested(); ++row) {
        const std::string dbx_path = window.RowText(row, 0);
        ExportContext context{window, settings, tally, nullptr, {}, devices};
        std::string folder_name;
        const std::vector<std::string> store_path = window.RowStorePath(row);
        if (store_path.empty()) {
            folder_name = folder_names.ClaimTopFolder(FolderNameFromFileName(window.RowText(row, 1)));
        } else {
            context.tree_path = folder_names.ClaimStoreFolder(store_path);
            folder_name = context.tree_path.back();
        }
        try {
            exporter(context, dbx_path, settings.destination_path, folder_name);
        } catch (const std::exception& error) {
            // An exporter that lets a failure out ends the job; the completion step still runs.
            tally.CountFailure(dbx_path, error.what());
            return;
        }
    }
}

}  // namespace

bool IsSavingOptionAvailable(const std::string& saving_option) {
    return static_cast<bool>(FindFolderExporter(saving_option));
}

std::string FolderNameFromFileName(const std::string& file_name) {
    static constexpr std::string_view kSuffix = ".dbx";
    std::string name = file_name;
    for (auto at = name.find(kSuffix); at != std::string::npos; at = name.find(kSuffix, at)) name.erase(at, kSuffix.size());
    return name;
}

JobTally RunConversionJob(ConversionWindow& window, JobSettings& settings, const platform::DeviceFilter* devices) {
    JobTally tally;
    const int row_count = window.RowCount();
    if (settings.saving_option == "pst") {
        if (!RunPstExport(window, settings, tally, row_count, devices)) return tally;
    } else if (settings.saving_option == "imap") {
        if (!RunImapUpload(window, settings, tally, row_count)) return tally;
    } else {
        RunRows(window, settings, tally, row_count, devices);
    }
    ShowCompletion(window, tally);
    return tally;
}

void ConversionThreadProc(ConversionWindow* window) {
    conversion_window = window;
    RunConversionJob(*conversion_window, CurrentJobSettings());
    conversion_window->JobFinished();
    job_running = false;
}

bool StartConversionThread(ConversionWindow& window) {
    bool expected = false;
    if (!job_running.compare_exchange_strong(expected, true)) return false;
    std::lock_guard<std::mutex> lock(thread_mutex);
    if (worker.joinable()) worker.join();
    try {
        worker = std::thread(ConversionThreadProc, &window);
    } catch (const std::system_error&) {
        job_running = false;
        return false;
    }
    return true;
}

bool IsConversionRunning() { return job_running; }

void JoinConversionThread() {
    std::lock_guard<std::mutex> lock(thread_mutex);
    if (worker.joinable()) worker.join();
}
