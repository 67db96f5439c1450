#include "job/imap_job.h"

#include <memory>

#include "conversion/conversion_window.h"
#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "export/imap_export.h"
#include "export/output_naming.h"
#include "imap/account_upload.h"
#include "imap/imap_failure.h"
#include "imap/imap_session.h"
#include "imap/server_url.h"
#include "job/conversion_job.h"
#include "platform/command_output.h"
#include "platform/state_folder.h"

namespace {

// The job's window as the folder loop sees it: it also stops when the upload cannot go on.
class UploadWindow : public ConversionWindow {
public:
    UploadWindow(ConversionWindow& window, const imap::AccountUpload& account) : window_(window), account_(account) {}
    int RowCount() override { return window_.RowCount(); }
    std::string RowText(int row, int column) override { return window_.RowText(row, column); }
    std::vector<std::string> RowStorePath(int row) override { return window_.RowStorePath(row); }
    void SetProgress(int position) override { window_.SetProgress(position); }
    void SetStatusText(const std::string& text) override { window_.SetStatusText(text); }
    void ShowMessage(const std::string& text, const std::string& title, unsigned style) override {
        window_.ShowMessage(text, title, style);
    }
    void RunPstOptionsDialog(JobSettings& settings) override { window_.RunPstOptionsDialog(settings); }
    bool StopRequested() override { return window_.StopRequested() || account_.stopped(); }
    void ShowJobProgress(const std::string& folder_path, std::size_t message, std::size_t message_count) override {
        window_.ShowJobProgress(folder_path, message, message_count);
    }

private:
    ConversionWindow& window_;
    const imap::AccountUpload& account_;
};

// A folder's display name as the name of a folder on a server: only what no server takes goes
// (control characters); the separator is dealt with when the full name is made.
std::string ServerFolderName(const std::string& display_name) { return imap::MailboxLevelName(display_name, 0); }

std::string Plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

void RefuseToStart(ConversionWindow& window, JobTally& tally, const std::string& account, const std::string& why) {
    tally.CountFailure(account, why);
    window.ShowMessage("Cannot upload to " + account + ":\n" + why, kMessageTitle, msgbox::kJobMessage);
}

}  // namespace

bool MailServerSecret(const MailServerSettings& settings, std::string& secret, std::string& error) {
    if (settings.oauth_command.empty()) {
        secret = settings.password;
        if (!secret.empty()) return true;
        error = "no password was given";
        return false;
    }
    std::string why;
    if (!platform::FirstLineOfCommand(settings.oauth_command, secret, why)) {
        error = "the token command (" + settings.oauth_command + ") " + why;
        return false;
    }
    if (secret.empty()) {
        error = "the token command (" + settings.oauth_command + ") printed no token";
        return false;
    }
    return true;
}

std::string TestMailServerConnection(const MailServerSettings& settings, std::string& offered) {
    std::string secret, error;
    if (!MailServerSecret(settings, secret, error)) return error;
    try {
        // One try, and a short wait: the user is looking at the dialog.
        imap::Session session(settings, std::chrono::seconds(20));
        session.Open(secret, !settings.oauth_command.empty());
        session.Namespace();
        offered = session.batches_appends() ? "takes many messages in one command" : "takes one message at a time";
        if (session.append_limit() != 0)
            offered += ", up to " + std::to_string(session.append_limit()) + " bytes each";
        session.Close();
        return {};
    } catch (const std::exception& failure) {
        return failure.what();
    }
}

bool RunImapUpload(ConversionWindow& window, JobSettings& settings, JobTally& tally, int row_count) {
    const MailServerSettings& server = settings.mail_server;
    const std::string account_text = imap::AccountText(server);
    std::string secret, error;
    if (!MailServerSecret(server, secret, error)) {
        RefuseToStart(window, tally, account_text, error);
        return false;
    }
    const std::string journal_folder = platform::UserStateFolder("imap", error);
    if (journal_folder.empty()) {
        RefuseToStart(window, tally, account_text, "the upload journals cannot be kept: " + error);
        return false;
    }
    imap::UploadHooks hooks{[&window](const std::string& text) { window.SetStatusText(text); },
                            [&window] { return window.StopRequested(); }};
    imap::AccountUpload account(server, secret, !server.oauth_command.empty(), hooks);
    window.SetStatusText("Connecting to " + server.host + " ...");
    try {
        account.Open();
    } catch (const std::exception& failure) {
        RefuseToStart(window, tally, account_text, failure.what());
        return false;
    }

    UploadWindow upload_window(window, account);
    ImapTarget target(account, journal_folder);
    OutputFolderNames folder_names(ServerFolderName);
    const std::size_t already_before = tally.already_there();
    for (int row = 0; row < row_count && !upload_window.StopRequested(); ++row) {
        const std::string dbx_path = window.RowText(row, 0);
        const std::vector<std::string> store_path = window.RowStorePath(row);
        const std::vector<std::string> tree =
            store_path.empty() ? std::vector<std::string>{folder_names.ClaimTopFolder(ServerFolderName(FolderNameFromFileName(window.RowText(row, 1))))}
                               : folder_names.ClaimStoreFolder(store_path);
        target.levels = server.folder_prefix;
        target.levels.insert(target.levels.end(), tree.begin(), tree.end());
        ExportContext context{upload_window, settings, tally, &target, {}};
        try {
            ExportFolderToImap(context, dbx_path, {}, tree.back());
        } catch (const std::exception& failure) {
            tally.CountFailure(dbx_path, failure.what());
            break;
        }
    }
    if (const std::size_t already = tally.already_there() - already_before; already != 0)
        tally.AddNote(account_text, Plural(already, "message was", "messages were") + " already on the server, not uploaded again");
    if (account.stopped()) {
        tally.CountFailure(account_text, account.stop_reason() + "; " +
                                             Plural(account.uploaded(), "message", "messages") +
                                             " of this run are on the server. Run the upload again later: it resumes "
                                             "where this one stopped and uploads nothing twice");
    }
    try {
        account.session().Close();
    } catch (const std::exception&) {
        // Logging out politely is all that is left; the work is done either way.
    }
    return true;
}
