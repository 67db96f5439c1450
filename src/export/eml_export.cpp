#include "export/eml_export.h"

#include "export/folder_session.h"
#include "export/output_naming.h"
#include "job/conversion_window.h"
#include "job/job_settings.h"
#include "job/job_tally.h"
#include "msgfile/message_file.h"
#include "platform/paths.h"

void ExportFolderToEml(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                       const std::string& folder_name) {
    ConversionWindow& window = context.window;
    JobTally& tally = context.tally;
    try {
        const std::string directory = MakeFolderOutputDirectory(destination_path, folder_name);
        if (!platform::CreateDirectory(directory)) tally.CountFailure(directory, "cannot create the folder");

        FolderReader folder(dbx_path);
        if (!folder.is_open()) {
            ReportUnopenedFolder(window, tally, dbx_path);
            return;
        }
        tally.CountFolder();
        const bool completed = ForEachEmail(folder, window, tally, dbx_path, [&](std::int32_t slot, DbxEmail& email) {
            const std::string path = platform::JoinPath(
                directory, MakeMessageFileName(email.subject, slot, MessageCodepage(email, context.settings.codepage)));
            window.SetStatusText(path);
            // The text dbx_get assembled is the one written: reading the chain a second time
            // would double the work on large folders and cannot give another result.
            const WriteResult written = WriteMessageFile(path, email.message_text);
            if (!written)
                tally.CountFailure(path, written.error);
            else if (!email.text_complete)
                tally.CountFailure(path, "message text damaged in the folder file");
            else
                tally.CountMessage();
        });
        if (completed) window.SetProgress(0);
    } catch (const std::exception& error) {
        tally.CountFailure(dbx_path, error.what());
    }
}
