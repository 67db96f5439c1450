#include "export/store_export.h"

#include <cstdio>
#include <memory>

#include "export/folder_session.h"
#include "export/output_naming.h"
#include "job/conversion_window.h"
#include "job/job_settings.h"
#include "job/job_tally.h"
#include "msgfile/message_file.h"
#include "platform/paths.h"
#include "store/session.h"
#include "store/store_objects.h"

const char* const kSessionErrorText =
    "Unable to create redemption session \n"
    " Please Register Redemption DLL by following below steps- \n"
    " 1) Go to software installation location. \n"
    " 2) Click on Start button \xC2\xBB Run \n"
    " 3) Type the below command- \n"
    " regsvr32 C:\\Program Files\\Corvanti Ombrik\\Redemption.dll";

namespace {

struct StoreOutput {
    const char* suffix;
    int save_as_format;  // 0: save the MSG file itself
};

StoreOutput OutputFor(const std::string& saving_option) {
    if (saving_option == "rtf") return {".rtf", store::kOlRtf};
    if (saving_option == "html") return {".html", store::kOlHtml};
    return {".msg", 0};
}

// Removes the temporary files of one message whichever way it ends.
class TemporaryFiles {
public:
    TemporaryFiles(std::string temp_eml, std::string temp_msg)
        : temp_eml_(std::move(temp_eml)), temp_msg_(std::move(temp_msg)) {}
    ~TemporaryFiles() {
        platform::DeleteFile(temp_eml_);
        if (!temp_msg_.empty() && platform::FileExists(temp_msg_)) platform::DeleteFile(temp_msg_);
    }
    TemporaryFiles(const TemporaryFiles&) = delete;
    TemporaryFiles& operator=(const TemporaryFiles&) = delete;

private:
    std::string temp_eml_, temp_msg_;
};

// One message through the component: temporary RFC 822 file, message item, import, save.
void ConvertMessage(store::RDOSession& session, const DbxEmail& email, const std::string& temp_eml,
                    const std::string& temp_msg, const std::string& final_path, const StoreOutput& output) {
    const WriteResult written = WriteMessageFile(temp_eml, email.message_text);
    if (!written) throw std::runtime_error("cannot write the temporary message file: " + written.error);
    const std::string& msg_file = output.save_as_format == 0 ? final_path : temp_msg;
    std::shared_ptr<store::RDOMail>& item = CurrentStoreObjects().current_item;
    item = session.CreateMessageFromMsgFile(msg_file, "IPM.Note", store::kOlMsgUnicode);
    if (!item) throw store::ComError(store::kE_POINTER, "no message item");
    item->Import(temp_eml, store::kOlRfc822);
    if (output.save_as_format == 0)
        item->Save();
    else
        item->SaveAs(final_path, output.save_as_format);
}

}  // namespace

void ExportFolderThroughStore(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                              const std::string& folder_name) {
    ConversionWindow& window = context.window;
    JobTally& tally = context.tally;
    try {
        const std::string directory = MakeFolderOutputDirectory(destination_path, folder_name);
        if (!platform::CreateDirectory(directory)) tally.CountFailure(directory, "cannot create the folder");

        // Our own folder for the temporary files: nobody else can plant or read them there.
        platform::PrivateTempDir temp_dir;
        const std::string temp_eml = platform::JoinPath(temp_dir.path(), "temp.eml");
        const std::string temp_msg = platform::JoinPath(temp_dir.path(), "temp.msg");
        const StoreOutput output = OutputFor(context.settings.saving_option);

        std::shared_ptr<store::RDOSession> session;
        try {
            session = store::CreateSessionFromProgId(store::kSessionProgId);
            session->SetLegacyCodepage(context.settings.codepage);
        } catch (const std::exception& error) {
            tally.CountFailure(dbx_path, store::DescribeFailure(error));
            window.ShowMessage(kSessionErrorText, kMessageTitle, msgbox::kJobMessage);
            return;
        }

        FolderReader folder(dbx_path);
        if (!folder.is_open()) {
            ReportUnopenedFolder(window, tally, dbx_path);
            return;
        }
        tally.CountFolder();
        const bool completed = ForEachEmail(folder, window, tally, dbx_path, [&](std::int32_t slot, DbxEmail& message) {
            DbxEmail* email = &message;
            const std::string name = MakeMessageFileName(email->subject, slot, MessageCodepage(*email, context.settings.codepage));
            const bool text_complete = dbx_read_text(folder.reader(), email) >= 0;
            const std::string final_path = MakeStoreOutputPath(platform::JoinPath(directory, name), output.suffix);
            window.SetStatusText(final_path);
            TemporaryFiles temporary(temp_eml, output.save_as_format == 0 ? std::string() : temp_msg);
            try {
                ConvertMessage(*session, *email, temp_eml, temp_msg, final_path, output);
            } catch (const std::exception& error) {
                // One failed message does not cost the rest of the folder.
                tally.CountFailure(final_path, store::DescribeFailure(error));
                return;
            }
            if (text_complete)
                tally.CountMessage();
            else
                tally.CountFailure(final_path, "message text damaged in the folder file");
        });
        if (completed) window.SetProgress(0);
    } catch (const std::exception& error) {
        tally.CountFailure(dbx_path, error.what());
    }
}
