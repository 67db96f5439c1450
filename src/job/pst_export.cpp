#include "job/pst_export.h"

#include <cstdio>

#include "export/folder_session.h"
#include "export/output_naming.h"
#include "export/store_export.h"
#include "job/conversion_window.h"
#include "job/job_settings.h"
#include "job/job_tally.h"
#include "msgfile/message_file.h"
#include "platform/paths.h"

namespace {

// The values of a PST job (the process-wide store objects, held per job here).
struct PstJob {
    ConversionWindow& window;
    JobSettings& settings;
    JobTally& tally;
    std::shared_ptr<store::RDOSession> session;
    std::shared_ptr<store::RDOStore> store;
    std::shared_ptr<store::RDOFolder> root_folder;
    std::string root_path;
};

// Opens the store at path and its top folder.
void OpenStoreAndRoot(PstJob& job, const std::string& path) {
    job.store = job.session->LogonPstStore(path, store::kOlStoreUnicode);
    if (!job.store) throw store::ComError(store::kE_POINTER, "no store");
    job.root_path = "\\\\" + job.store->DisplayName();
    job.root_folder = job.session->GetFolderFromPath(job.root_path);
    if (!job.root_folder) throw store::ComError(store::kE_POINTER, "no top folder");
}

// The folder named like the folder file under the top folder, made when it is not there.
std::shared_ptr<store::RDOFolder> FindOrCreateTargetFolder(PstJob& job, const std::string& name) {
    try {
        auto folder = job.session->GetFolderFromPath(job.root_path + "\\" + name);
        if (folder) return folder;
    } catch (const std::exception&) {
        // Not there yet: add it below.
    }
    auto folders = job.root_folder->Folders();
    if (!folders) throw store::ComError(store::kE_POINTER, "no folder collection");
    auto folder = folders->Add(name, store::kOlFolderMail);
    if (!folder) throw store::ComError(store::kE_POINTER, "no new folder");
    return folder;
}

// Logs off even after a failure: the store keeps what was imported before it.
void LogOff(PstJob& job) {
    try {
        job.session->Logoff();
    } catch (const std::exception& error) {
        job.tally.CountFailure(job.settings.pst_path, store::DescribeFailure(error));
    }
    job.root_folder.reset();
    job.store.reset();
}

void ImportRow(PstJob& job, int row) {
    const std::string dbx_path = job.window.RowText(row, 0);
    const std::string file_name = job.window.RowText(row, 1);
    auto target = FindOrCreateTargetFolder(job, file_name);
    ImportFolderIntoPst(job.window, job.settings, job.tally, dbx_path, job.settings.destination_path, std::move(target));
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
    PstJob job{window, settings, tally, nullptr, nullptr, nullptr, {}};
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

void ImportFolderIntoPst(ConversionWindow& window, const JobSettings& settings, JobTally& tally, std::string dbx_path,
                         std::string destination_path, std::shared_ptr<store::RDOFolder> folder) {
    try {
        platform::CreateDirectory(destination_path);
        FolderReader reader(dbx_path);
        if (!reader.is_open()) {
            tally.CountFailure(dbx_path, DbxErrorText());
            return;
        }
        tally.CountFolder();
        // The temporary message files go into a folder of our own, never beside the user's files.
        platform::PrivateTempDir temp_dir;
        std::shared_ptr<store::RDOItems> items;
        const bool completed = ForEachEmail(reader, window, tally, dbx_path, [&](std::int32_t slot, DbxEmail& message) {
            DbxEmail* email = &message;
            const std::string temp_path =
                platform::JoinPath(temp_dir.path(), MakeMessageFileName(email->subject, slot, MessageCodepage(*email, settings.codepage)));
            window.SetStatusText(temp_path);
            const bool text_complete = email->text_complete;
            try {
                const WriteResult written = WriteMessageFile(temp_path, email->message_text);
                if (!written) throw std::runtime_error("cannot write the temporary message file: " + written.error);
                if (folder) items = folder->Items();
                if (!items) throw store::ComError(store::kE_POINTER, "no item collection");
                auto item = items->Add(store::kOlMailItem);
                if (!item) throw store::ComError(store::kE_POINTER, "no message item");
                item->Import(temp_path, store::kOlRfc822);
                const bool added = item->Save();
                platform::DeleteFile(temp_path);
                if (!added) {
                    tally.CountAlreadyThere();
                    return;
                }
            } catch (const std::exception& error) {
                platform::DeleteFile(temp_path);
                // One failed message does not cost the rest of the folder.
                tally.CountFailure(dbx_path, "message " + std::to_string(slot) + ": " + store::DescribeFailure(error));
                return;
            }
            if (text_complete)
                tally.CountMessage();
            else
                tally.CountFailure(dbx_path, "message " + std::to_string(slot) + ": message text damaged in the folder file");
        });
        if (completed) window.SetProgress(0);
    } catch (const std::exception& error) {
        tally.CountFailure(dbx_path, store::DescribeFailure(error));
    }
}
