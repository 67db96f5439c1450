#include "job/pst_job.h"

#include "conversion/conversion_window.h"
#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "export/exporters.h"
#include "export/folder_loop.h"
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

// The folder at path (below the top folder) named name, made under parent when it is not there.
std::shared_ptr<store::RDOFolder> FindOrCreateFolder(PstJob& job, const std::shared_ptr<store::RDOFolder>& parent,
                                                     const std::string& path, const std::string& name) {
    try {
        auto folder = job.session->GetFolderFromPath(path);
        if (folder) return folder;
    } catch (const std::exception&) {
        // Not there yet: add it below.
    }
    auto folders = parent->Folders();
    if (!folders) throw store::ComError(store::kE_POINTER, "no folder collection");
    auto folder = folders->Add(name, store::kOlFolderMail);
    if (!folder) throw store::ComError(store::kE_POINTER, "no new folder");
    return folder;
}

// The folder named like the folder file under the top folder, made when it is not there.
std::shared_ptr<store::RDOFolder> FindOrCreateTargetFolder(PstJob& job, const std::string& name) {
    return FindOrCreateFolder(job, job.objects.root_folder, job.root_path + "\\" + name, name);
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

// The row's folder file through the exporter of "pst", into the folder named like the file.
void ImportRow(PstJob& job, int row) {
    const std::string dbx_path = job.window.RowText(row, 0);
    const std::string file_name = job.window.RowText(row, 1);
    job.objects.target_folder = FindOrCreateTargetFolder(job, file_name);
    std::shared_ptr<store::RDOFolder> folder = job.objects.target_folder;
    // A second run into the same store adds to the Recovered folder the first one made.
    PstTargetFolder target(folder, [&job, folder, file_name] {
        return FindOrCreateFolder(job, folder, job.root_path + "\\" + file_name + "\\" + kRecoveredFolderName,
                                  kRecoveredFolderName);
    });
    ExportContext context{job.window, job.settings, job.tally, &target};
    FindFolderExporter("pst")(context, dbx_path, job.settings.destination_path, file_name);
    job.objects.target_folder.reset();
}

void RunSingleStoreJob(PstJob& job, int row_count) {
    try {
        OpenStoreAndRoot(job, job.settings.pst_path);
        for (int row = 0; row < row_count && !job.window.StopRequested(); ++row) ImportRow(job, row);
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
            ImportRow(job, row);
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
