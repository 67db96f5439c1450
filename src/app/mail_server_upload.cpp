// The upload of the list to a mail server, as the main window starts and ends it.
#include <wx/listctrl.h>

#include "app/job_control.h"
#include "app/mail_server_dlg.h"
#include "app/ombrik_dlg.h"
#include "conversion/job_settings.h"

namespace {
// How often the window looks whether the running job has ended.
constexpr int kJobPollMilliseconds = 40;
}  // namespace

void COmbrikDlg::OnUploadToMailServer() {
    if (RefuseWhileRunning()) return;
    if (source_list_->GetItemCount() == 0) {
        ShowPreflightMessage(kEmptyListText);
        return;
    }
    CMailServerDlg dialog(this, prompter_);
    const int answer = dialog.ShowModal();
    RestoreFocus();
    if (answer != wxID_OK) return;
    settings_.mail_server = dialog.settings();
    // The job takes the saving option "imap" for this run; the window's choice comes back after.
    option_before_upload_ = settings_.saving_option;
    settings_.saving_option = "imap";
    bridge_.ClearStop();
    if (!jobs_.Start(bridge_)) {
        EndUpload();
        return;
    }
    job_active_ = true;
    stopping_ = false;
    EnableJobInputs(false);
    ShowConvertOrStop(true);  // an upload is stopped as a conversion is
    job_timer_.Start(kJobPollMilliseconds);
}

void COmbrikDlg::EndUpload() {
    if (!option_before_upload_) return;
    settings_.saving_option = *option_before_upload_;
    option_before_upload_.reset();
    settings_.mail_server.password.clear();
}
