#include "job/pst_job.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "conversion/conversion_window.h"
#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "export/exporters.h"
#include "export/folder_loop.h"
#include "export/message_manifest.h"
#include "export/output_place.h"
#include "export/pst_export.h"
#include "export/store_export.h"
#include "job/remembered_folders.h"
#include "job/store_objects.h"
#include "platform/file_stream.h"
#include "platform/output_folder.h"
#include "platform/paths.h"
#include "platform/write_failure.h"

namespace {

// The values of a PST job; its folders are kept in the process-wide store objects.
struct PstJob {
    ConversionWindow& window;
    const JobSettings& settings;
    JobTally& tally;
    const std::vector<JobRow>& rows;
    std::shared_ptr<store::RDOSession> session;
    std::shared_ptr<store::RDOStore> store;
    std::set<std::string> names_taken;  // folder names handed out in this job, lower case
    // What the rows did to the store open now. Its messages are in the store only once the
    // store has been closed: then this goes into the job's tally.
    JobTally store_tally;
    const platform::DeviceFilter* devices = nullptr;
    StoreObjects& objects = CurrentStoreObjects();
    // The run's manifest (nullptr: none), and what the rows wrote into the store open now, which
    // joins it once the store has been closed.
    MessageManifest* manifest = nullptr;
    MessageManifest store_manifest{};
    std::string open_store_path{};  // the file of the store open now
};

// The name of the row's folder (and, in separate mode, of its store): where the memory of
// earlier runs puts the file, else its name, or for a later file of the same name in this job
// "Inbox (2).dbx", as the other forms keep same-named folder files apart. Names that differ only
// in case are the same folder to Outlook.
std::string PlaceFolderName(PstJob& job, FolderPlaces& places, const JobRow& row) {
    const auto key = [](std::string name) {
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        return name;
    };
    const std::string name = PlaceRowFolder(
        places, row, row.file_name, [&](int n) { return NumberedOutputPath(row.file_name, n); },
        [&](const std::string& candidate) { return job.names_taken.count(key(candidate)) != 0; });
    job.names_taken.insert(key(name));
    return name;
}

// Opens the store at path and its top folder.
void OpenStoreAndRoot(PstJob& job, const std::string& path) {
    job.open_store_path = path;
    job.store = job.session->LogonPstStore(path, store::kOlStoreUnicode);
    if (!job.store) throw store::StoreFailure(store::FailureKind::kFailed, "no store");
    job.objects.root_folder = job.store->RootFolder();
    if (!job.objects.root_folder) throw store::StoreFailure(store::FailureKind::kFailed, "no top folder");
}

// The folder named name directly below parent, made when it is not there. Only a folder that is
// not there is made: a store that cannot be read fails here.
std::shared_ptr<store::RDOFolder> FindOrCreateFolder(const std::shared_ptr<store::RDOFolder>& parent, const std::string& name) {
    auto folders = parent->Folders();
    if (!folders) throw store::StoreFailure(store::FailureKind::kFailed, "no folder collection");
    if (auto found = folders->Find(name)) return found;
    auto folder = folders->Add(name, store::kOlFolderMail);
    if (!folder) throw store::StoreFailure(store::FailureKind::kFailed, "no new folder");
    return folder;
}

// A store folder's name as a PST folder name: the backslash separates the levels of a folder
// path, so it cannot be part of a name.
std::string PstFolderName(const std::string& display_name) {
    std::string name = display_name;
    name.erase(std::remove(name.begin(), name.end(), '\\'), name.end());
    return name.empty() ? std::string("Folder") : name;
}

// The folder of a whole store's folder at its place below the top folder, with every parent
// on the way made when it is not there yet. Folders already there are used again, so a second
// run into the same store adds nothing twice.
std::shared_ptr<store::RDOFolder> FindOrCreateTreeFolder(PstJob& job, const std::vector<std::string>& store_path) {
    std::shared_ptr<store::RDOFolder> folder = job.objects.root_folder;
    for (const std::string& display_name : store_path) folder = FindOrCreateFolder(folder, PstFolderName(display_name));
    return folder;
}

// Logs off even after a failure. Returns why the store could not be closed, or "".
std::string LogOff(PstJob& job) {
    std::string failure;
    try {
        job.session->Logoff();
    } catch (const store::StoreFailure& error) {
        // A failure to write is told by its kind alone: the path of the working file means
        // nothing to the user.
        failure = error.write_failure() != platform::WriteFailure::kNone
                      ? platform::WriteFailureWords(error.write_failure())
                      : store::DescribeFailure(error);
    } catch (const std::exception& error) {
        failure = store::DescribeFailure(error);
    }
    job.objects.root_folder.reset();
    job.store.reset();
    return failure;
}

// Hands what the rows did to one store over to the job's tally once the store is closed. A
// store that could not be closed holds none of this run's messages: they are not counted as
// written, and the line that says what became of the store comes before the lines of single
// messages. A new store that could not be finished is removed, so that nothing half-made looks
// like a store; one that existed is left as it was, since it is only replaced once finished.
void SettleStore(PstJob& job, const std::string& path, bool existed, const std::string& close_failure) {
    const JobTally& done = job.store_tally;
    JobTally& tally = job.tally;
    const bool closed = close_failure.empty();
    if (!closed) {
        // A new store is built under a name of its own and takes the store's name only once
        // closed: whatever holds the name now is not this run's, and is left alone.
        const std::string fate = existed ? "it is left as it was before this run" : "the unfinished store was removed";
        const std::size_t lost = done.messages();
        tally.CountFailure(path, "the store could not be closed: " + close_failure + "; " + fate + ", and the " +
                                     std::to_string(lost) + (lost == 1 ? " message" : " messages") +
                                     " converted in this run are not in it");
    }
    for (std::size_t i = 0; i < done.folders(); ++i) tally.CountFolder();
    if (closed && job.manifest != nullptr) job.manifest->Take(job.store_manifest);
    job.store_manifest.Clear();
    if (closed) {
        for (std::size_t i = 0; i < done.messages(); ++i) tally.CountMessage();
        for (std::size_t i = 0; i < done.recovered(); ++i) tally.CountRecovered();
    }
    if (closed || existed)
        for (std::size_t i = 0; i < done.already_there(); ++i) tally.CountAlreadyThere();
    tally.AddFailuresAndNotesOf(done);
    job.store_tally = JobTally();
}

// Opens the store at path, runs import_rows into it and closes it; false when the job should
// end here (a store operation or the close failed).
bool RunStore(PstJob& job, const std::string& path, const std::function<void()>& import_rows) {
    std::error_code ec;
    const bool existed = std::filesystem::exists(std::filesystem::symlink_status(platform::FileSystemPath(path), ec));
    bool ok = true;
    try {
        OpenStoreAndRoot(job, path);
        import_rows();
    } catch (const std::exception& error) {
        // A failing store operation ends the job; the rows after it are skipped.
        job.store_tally.CountFailure(path, store::DescribeFailure(error));
        ok = false;
    }
    const std::string close_failure = LogOff(job);
    SettleStore(job, path, existed, close_failure);
    return ok && close_failure.empty();
}

// The row's folder file through the exporter of "pst", into the folder of the given name; in
// one store for all rows, a folder of a whole store goes to its place in the store's tree.
void ImportRow(PstJob& job, const JobRow& row, const std::string& folder_name, bool nested,
               std::vector<std::uint64_t>* folder_keys = nullptr) {
    const std::vector<std::string> store_path = nested ? row.store_path : std::vector<std::string>();
    job.objects.target_folder = store_path.empty() ? FindOrCreateFolder(job.objects.root_folder, folder_name)
                                                   : FindOrCreateTreeFolder(job, store_path);
    std::shared_ptr<store::RDOFolder> folder = job.objects.target_folder;
    // A second run into the same store adds to the Recovered folder the first one made.
    // Where the manifest says the messages went: the store's file and the folder's path in it.
    std::string folder_path = "\\\\" + job.store->DisplayName();
    if (store_path.empty()) {
        folder_path += "\\" + folder_name;
    } else {
        for (const std::string& display_name : store_path) folder_path += "\\" + PstFolderName(display_name);
    }
    PstTargetFolder target(
        folder, [folder] { return FindOrCreateFolder(folder, kRecoveredFolderName); }, job.open_store_path, folder_path);
    ExportContext context{job.window, job.settings, job.store_tally, &target, {}, job.devices};
    context.manifest = job.manifest ? &job.store_manifest : nullptr;
    context.folder_keys = folder_keys;
    FindFolderExporter("pst")(context, row.dbx_path, job.settings.destination_path, folder_name);
    job.objects.target_folder.reset();
}

// False for a row whose file holds no mail or cannot be opened (told in the tally): it gets no
// folder and no store.
bool RowHoldsMail(PstJob& job, const JobRow& row) {
    ExportContext context{job.window, job.settings, job.store_tally, nullptr, {}, job.devices};
    return FolderFileOpens(context, row.dbx_path);
}

void RunSingleStoreJob(PstJob& job, const std::string& store_path) {
    RunStore(job, store_path, [&] {
        // Read and written while the store is locked: the store's memory of its folders.
        const std::unique_ptr<FolderPlaces> places =
            OpenFolderPlaces(platform::NameBeside(store_path, FolderPlaces::kFileName), job.store_tally);
        try {
            for (const JobRow& row : job.rows) {
                if (job.window.StopRequested()) break;
                if (!RowHoldsMail(job, row)) continue;
                // A folder of a whole store has its place in the store's tree; only the folder
                // files added alone share the level below the top folder by their file names.
                if (!row.store_path.empty()) {
                    ImportRow(job, row, row.file_name, true);
                    continue;
                }
                const std::string name = PlaceFolderName(job, *places, row);
                std::vector<std::uint64_t> keys;
                ImportRow(job, row, name, true, &keys);
                places->RememberMessages(name, keys);
            }
        } catch (...) {
            SaveFolderPlaces(*places, job.store_tally);
            throw;
        }
        SaveFolderPlaces(*places, job.store_tally);
    });
}

void RunSeparateStores(PstJob& job, FolderPlaces& places);

void RunSeparateStoresLoop(PstJob& job) {
    // The stores go into the destination: a link planted at its name would send them elsewhere.
    platform::OutputFolder destination;
    if (const auto failure = OpenDestination(job.settings.destination_path, destination);
        failure == platform::WriteFailure::kLinkInTheWay || failure == platform::WriteFailure::kInTheWay) {
        job.tally.CountFailure(job.settings.destination_path, platform::WriteFailureWords(failure));
        return;
    }
    // Which store each folder file went to, kept in the destination as the other forms keep
    // their folders.
    const std::unique_ptr<FolderPlaces> places =
        OpenFolderPlaces(platform::JoinPath(job.settings.destination_path, FolderPlaces::kFileName), job.tally);
    RunSeparateStores(job, *places);
    SaveFolderPlaces(*places, job.tally);
}

void RunSeparateStores(PstJob& job, FolderPlaces& places) {
    for (const JobRow& row : job.rows) {
        if (job.window.StopRequested()) break;
        if (!RowHoldsMail(job, row)) {
            SettleStore(job, row.dbx_path, true, {});  // only its note or failure to hand over
            continue;
        }
        const std::string name = PlaceFolderName(job, places, row);
        const std::string store_path = platform::JoinPath(job.settings.destination_path, name + ".pst");
        std::vector<std::uint64_t> keys;
        const bool ok = RunStore(job, store_path, [&] { ImportRow(job, row, name, false, &keys); });
        places.RememberMessages(name, keys);
        if (!ok) return;
    }
}

}  // namespace

std::optional<PstChoice> PstChoiceFromAnswer(const JobSettings& settings) {
    if (settings.pst_options_answer == "no") return std::nullopt;
    if (settings.pst_mode == "seprate") return PstChoice{PstChoice::Stores::kOnePerFolderFile, {}};
    if (settings.pst_mode == "old") return PstChoice{PstChoice::Stores::kExisting, settings.existing_pst_path};
    return PstChoice{PstChoice::Stores::kOneNew, settings.pst_path};
}

bool RunPstExport(ConversionWindow& window, JobSettings& settings, JobTally& tally, const std::vector<JobRow>& rows,
                  const platform::DeviceFilter* devices, MessageManifest* manifest) {
    window.RunPstOptionsDialog(settings);
    const std::optional<PstChoice> choice = PstChoiceFromAnswer(settings);
    if (!choice) return false;
    PstJob job{window, settings, tally, rows, nullptr, nullptr, {}, {}, devices};
    job.manifest = manifest;
    try {
        job.session = store::CreateSessionFromProgId(store::kSessionProgId);
        if (!job.session) throw store::StoreFailure(store::FailureKind::kFailed, "no session");
        // Another program adding to the same store goes first; the status line says why nothing moves.
        job.session->SetStoreWait(
            [&window](const std::string& path) {
                window.SetStatusText(kStoreBusyText + path + " ...");
            },
            [&window] { return window.StopRequested(); });
        job.session->SetLegacyCodepage(settings.codepage);
        job.session->SetDeviceFilter(devices);
    } catch (const std::exception& error) {
        tally.CountFailure("PST", store::DescribeFailure(error));
        window.ShowMessage(kSessionErrorText, kMessageTitle, msgbox::kJobMessage);
        return false;
    }
    if (choice->stores == PstChoice::Stores::kOnePerFolderFile) {
        RunSeparateStoresLoop(job);
        return true;
    }
    if (choice->store_path.empty()) return true;
    RunSingleStoreJob(job, choice->store_path);
    return true;
}
