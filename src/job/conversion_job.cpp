#include "job/conversion_job.h"

#include <atomic>
#include <memory>
#include <cstdio>
#include <mutex>
#include <thread>

#include "conversion/conversion_window.h"
#include "conversion/job_settings.h"
#include "export/exporters.h"
#include "export/folder_loop.h"
#include "export/output_naming.h"
#include "export/source_digests.h"
#include "export/written_messages.h"
#include "job/imap_job.h"
#include "job/job_rows.h"
#include "job/pst_job.h"
#include "job/remembered_folders.h"
#include "job/run_manifest.h"
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
void RunRows(ConversionWindow& window, const JobSettings& settings, JobTally& tally, const std::vector<JobRow>& rows,
             const platform::DeviceFilter* devices, MessageManifest* manifest, SourceDigests& digests) {
    const FolderExporter exporter = FindFolderExporter(settings.saving_option);
    if (!exporter || settings.saving_option == "pst" || settings.saving_option == "imap") return;
    std::unique_ptr<platform::FileLock> destination_lock;
    if (!LockDestination(window, settings.destination_path, tally, destination_lock)) return;
    // Read under the lock: a conversion that waited finds what the one before it wrote.
    std::unique_ptr<WrittenMessages> written;
    if (settings.skip_duplicates) written = std::make_unique<WrittenMessages>(settings.destination_path);
    // A destination that is not there yet has no memory, and gets one when it is made.
    const std::unique_ptr<FolderPlaces> places =
        OpenFolderPlaces(platform::JoinPath(settings.destination_path, FolderPlaces::kFileName), tally);
    OutputFolderNames folder_names;
    // A recover scan beside the walk reads each folder file whole and in order: where the file's
    // digest is wanted, it is computed from those bytes rather than from a read of its own.
    const bool scan_gives_digest = settings.recover && WorkerThreadCount(settings.threads) > 1;
    for (const JobRow& row : rows) {
        if (window.StopRequested()) break;
        ExportContext context{window, settings, tally, nullptr, {}, devices};
        context.manifest = manifest;
        context.written = written.get();
        context.digests = &digests;
        if (scan_gives_digest && (row.store_path.empty() || manifest != nullptr || written != nullptr))
            digests.Expect(row.dbx_path);
        std::string folder_name;
        std::vector<std::uint64_t> folder_keys;
        if (row.store_path.empty()) {
            const std::string base = CleanFileFolderName(FolderNameFromFileName(row.file_name));
            folder_name = PlaceRowFolder(
                *places, row, base, [&](int n) { return n == 1 ? base : base + " (" + std::to_string(n) + ")"; },
                [&](const std::string& name) { return folder_names.IsTopFolderTaken(name); }, &digests);
            folder_names.TakeTopFolder(folder_name);
            context.folder_keys = &folder_keys;
        } else {
            context.tree_path = folder_names.ClaimStoreFolder(row.store_path);
            folder_name = context.tree_path.back();
        }
        try {
            exporter(context, row.dbx_path, settings.destination_path, folder_name);
        } catch (const std::exception& error) {
            // An exporter that lets a failure out ends the job; the completion step still runs.
            tally.CountFailure(row.dbx_path, error.what());
            digests.Settle(row.dbx_path);
            break;
        }
        digests.Settle(row.dbx_path);
        places->RememberMessages(folder_name, folder_keys);
    }
    SaveFolderPlaces(*places, tally);
    if (const std::string failure = written ? written->Save() : std::string(); !failure.empty())
        tally.AddNote(settings.destination_path, "the messages this run wrote could not be noted (" + failure +
                                                     "); a later run may write them again from another folder file");
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
    const std::vector<JobRow> rows = ReadJobRows(window);
    const std::string started = UtcTimestamp();
    MessageManifest manifest;
    MessageManifest* const recorder = KeepsManifest(settings) ? &manifest : nullptr;
    SourceDigests digests;
    SourceDigestOf source_digest;
    if (settings.saving_option == "pst") {
        if (!RunPstExport(window, settings, tally, rows, devices, recorder)) return tally;
    } else if (settings.saving_option == "imap") {
        if (!RunImapUpload(window, settings, tally, rows)) return tally;
    } else {
        RunRows(window, settings, tally, rows, devices, recorder, digests);
        source_digest = [&](const std::string& path) { return digests.Now(path); };
    }
    // Written also after a stop: what was written so far is in the destination and is recorded.
    if (recorder != nullptr) WriteRunManifest(settings, RunManifestHeader(settings, manifest.sources(), started), manifest, tally,
                                            source_digest);
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
