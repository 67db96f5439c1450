#include "job/pst_job.h"

#include <algorithm>
#include <string>
#include <vector>

#include "conversion/conversion_window.h"
#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "export/exporters.h"
#include "export/pst_export.h"
#include "export/store_export.h"
#include "job/store_objects.h"
#include "platform/paths.h"

namespace {

// The values of a PST job; its folders are kept in the process-wide store objects.
struct PstJob {
    ConversionWindow& window;
    JobSettings& settings;
    JobTally& tally;
    std::shared_ptr<store::RDOSession> session;
    std::shared_ptr<store::RDOStore> store;
    std::string root_path;
    StoreObjects& objects = CurrentStoreObjects();
};

// Opens the store at path and its top folder.
void OpenStoreAndRoot(PstJob& job, const std::string& path) {
    job.store = job.session->LogonPstStore(path, store::kOlStoreUnicode);
    if (!job.store) throw store::ComError(store::kE_POINTER, "no store");
    job.root_path = "\\\\" + job.store->DisplayName();
    job.objects.root_folder = job.session->GetFolderFromPath(job.root_path);
    if (!job.objects.root_folder) throw store::ComError(store::kE_POINTER, "no top folder");
}

// The folder named like the folder file under the top folder, made when it is not there.
std::shared_ptr<store::RDOFolder> FindOrCreateTargetFolder(PstJob& job, const std::string& name) {
    try {
        auto folder = job.session->GetFolderFromPath(job.root_path + "\\" + name);
        if (folder) return folder;
    } catch (const std::exception&) {
        // Not there yet: add it below.
    }
    auto folders = job.objects.root_folder->Folders();
    if (!folders) throw store::ComError(store::kE_POINTER, "no folder collection");
    auto folder = folders->Add(name, store::kOlFolderMail);
    if (!folder) throw store::ComError(store::kE_POINTER, "no new folder");
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
    std::string path = job.root_path;
    for (const std::string& display_name : store_path) {
        const std::string name = PstFolderName(display_name);
        path += "\\" + name;
        std::shared_ptr<store::RDOFolder> next;
        try {
            next = job.session->GetFolderFromPath(path);
        } catch (const std::exception&) {
            // Not there yet: add it below.
        }
        if (!next) {
            auto folders = folder->Folders();
            if (!folders) throw store::ComError(store::kE_POINTER, "no folder collection");
            next = folders->Add(name, store::kOlFolderMail);
            if (!next) throw store::ComError(store::kE_POINTER, "no new folder");
        }
        folder = std::move(next);
    }
    return folder;
}

// Logs off even after a failure: the store keeps what was imported before it.
void LogOff(PstJob& job) {
    try {
        job.session->Logoff();
    } catch (const std::exception& error) {
        job.tally.CountFailure(job.settings.pst_path, store::DescribeFailure(error));
    }
    job.objects.root_folder.reset();
    job.store.reset();
}

// The row's folder file through the exporter of "pst", into the folder named like the file; in
// one store for all rows, a folder of a whole store goes to its place in the store's tree.
void ImportRow(PstJob& job, int row, bool nested) {
    const std::string dbx_path = job.window.RowText(row, 0);
    const std::string file_name = job.window.RowText(row, 1);
    const std::vector<std::string> store_path = nested ? job.window.RowStorePath(row) : std::vector<std::string>();
    job.objects.target_folder =
        store_path.empty() ? FindOrCreateTargetFolder(job, file_name) : FindOrCreateTreeFolder(job, store_path);
    PstTargetFolder target(job.objects.target_folder);
    ExportContext context{job.window, job.settings, job.tally, &target, {}};
    FindFolderExporter("pst")(context, dbx_path, job.settings.destination_path, file_name);
    job.objects.target_folder.reset();
}

void RunSingleStoreJob(PstJob& job, int row_count) {
    try {
        OpenStoreAndRoot(job, job.settings.pst_path);
        for (int row = 0; row < row_count && !job.window.StopRequested(); ++row) ImportRow(job, row, true);
    } catch (const std::exception& error) {
        // A failing store operation ends the job; the rows after it are skipped.
        job.tally.CountFailure(job.settings.pst_path, store::DescribeFailure(error));
    }
    LogOff(job);
}

void RunSeparateStoresLoop(PstJob& job, int row_count) {
    for (int row = 0; row < row_count && !job.window.StopRequested(); ++row) {
        const std::string file_name = job.window.RowText(row, 1);
        job.settings.pst_path = platform::JoinPath(job.settings.destination_path, file_name + ".pst");
        try {
            OpenStoreAndRoot(job, job.settings.pst_path);
            ImportRow(job, row, false);
        } catch (const std::exception& error) {
            job.tally.CountFailure(job.settings.pst_path, store::DescribeFailure(error));
            LogOff(job);
            return;
        }
        LogOff(job);
    }
}

}  // namespace

bool RunPstExport(ConversionWindow& window, JobSettings& settings, JobTally& tally, int row_count) {
    window.RunPstOptionsDialog(settings);
    if (settings.pst_options_answer == "no") return false;
    PstJob job{window, settings, tally, nullptr, nullptr, {}};
    try {
        job.session = store::CreateSessionFromProgId(store::kSessionProgId);
        if (!job.session) throw store::ComError(store::kE_POINTER, "no session");
        // Another program adding to the same store goes first; the status line says why nothing moves.
        job.session->SetStoreWait(
            [&window](const std::string& path) {
                window.SetStatusText(kStoreBusyText + path + " ...");
            },
            [&window] { return window.StopRequested(); });
        job.session->SetLegacyCodepage(settings.codepage);
    } catch (const std::exception& error) {
        tally.CountFailure("PST", store::DescribeFailure(error));
        window.ShowMessage(kSessionErrorText, kMessageTitle, msgbox::kJobMessage);
        return false;
    }
    if (settings.pst_mode == "seprate") {
        RunSeparateStoresLoop(job, row_count);
        return true;
    }
    if (settings.pst_mode == "old") settings.pst_path = settings.existing_pst_path;
    if (settings.pst_path.empty()) return true;
    RunSingleStoreJob(job, row_count);
    return true;
}
