// Destination, saving option and the checks made before a conversion starts.
#include <filesystem>

#include <wx/listctrl.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include "app/control_ids.h"
#include "app/job_control.h"
#include "app/ombrik_dlg.h"
#include "app/prompter.h"
#include "app/remembered.h"
#include "app/wx_text.h"
#include "conversion/job_settings.h"
#include "platform/file_checks.h"
#include "platform/outlook_probe.h"
#include "platform/paths.h"

namespace {

// How often the window looks whether the running job has ended.
constexpr int kJobPollMilliseconds = 40;

bool NeedsMessagingStore(const std::string& option) {
    return option == "pst" || option == "msg" || option == "html" || option == "rtf";
}

}  // namespace

const char* SavingOptionForControl(int control_id) {
    switch (control_id) {
    case ids::kSaveAsEml: return "eml";
    case ids::kSaveAsMbox: return "mbox";
    case ids::kSaveAsMsg: return "msg";
    case ids::kSaveAsPst: return "pst";
    case ids::kSaveAsHtml: return "html";
    case ids::kSaveAsRtf: return "rtf";
    default: return nullptr;
    }
}

std::string DestinationGoneText(const std::string& path) {
    return "The destination folder " + path + " does not exist any more. Choose it again with Browse.";
}

std::string DestinationNotWritableText(const std::string& path, const std::string& reason) {
    return "The destination folder " + path + " cannot be written to (" + reason +
           "). Choose another one with Browse.";
}

bool COmbrikDlg::CheckDestinationStillThere() {
    // Browse made the ExportDBX folder; when only that one went, it is made again as Browse
    // would. A chosen folder that is gone is not: that is the user's to choose again.
    if (!platform::IsDirectory(settings_.destination_path)) platform::CreateDirectory(settings_.destination_path);
    const std::string refusal = platform::WritableFolderRefusal(settings_.destination_path);
    if (refusal.empty()) return true;
    const bool gone = !platform::FileExists(settings_.destination_path);
    ShowPreflightMessage(gone ? DestinationGoneText(settings_.destination_path)
                              : DestinationNotWritableText(settings_.destination_path, refusal));
    return false;
}

void COmbrikDlg::OnBrowseDestination() {
    if (RefuseWhileRunning()) return;
    const auto chosen = prompter_.ChooseFolder(this, kBrowseTitle, remembered::Text(remembered::kDestinationFolder));
    RestoreFocus();
    if (!chosen) return;
    settings_.destination_path = *chosen;
    if (chosen->empty()) return;
    settings_.destination_path = platform::JoinPath(*chosen, "ExportDBX");  // the system's separator
    destination_box_->ChangeValue(Wx(settings_.destination_path));
    // An existing folder is simply used; a failure shows up when the conversion writes.
    platform::CreateDirectory(settings_.destination_path);
    remembered::Keep(remembered::kDestinationFolder, *chosen);
    remembered::Keep(remembered::kDestination, settings_.destination_path);
}

void COmbrikDlg::OnSavingOption(int control_id) {
    if (IsJobRunning()) return;
    if (const char* option = SavingOptionForControl(control_id)) {
        settings_.saving_option = option;
        remembered::Keep(remembered::kSavingOption, option);
    }
}

std::string COmbrikDlg::ProbeOutlookBitness() const {
    // A component that cannot be found has no bitness to disagree with.
    return probe_.IsInstalled() ? probe_.Bitness() : settings_.program_bitness;
}

void COmbrikDlg::ShowPreflightMessage(const std::string& text) {
    prompter_.ShowMessage(nullptr, text, kMessageTitle, msgbox::kJobMessage);
}

void COmbrikDlg::OnConvertMessages() {
    if (job_active_ && !IsJobRunning()) OnJobEnded();  // ended, and the window not told yet
    if (RefuseWhileRunning()) return;
    if (NeedsMessagingStore(settings_.saving_option)) {
        if (!probe_.IsInstalled()) {
            ShowPreflightMessage(kOutlookMissingText);
            return;
        }
        settings_.outlook_bitness = ProbeOutlookBitness();
        if (settings_.outlook_bitness != settings_.program_bitness) {
            ShowPreflightMessage(kBitnessMismatchText);
            return;
        }
    }
    if (source_list_->GetItemCount() == 0) {
        ShowPreflightMessage(kEmptyListText);
        return;
    }
    if (settings_.destination_path.empty()) {
        ShowPreflightMessage(kNoDestinationText);
        return;
    }
    if (!CheckDestinationStillThere()) return;
    bridge_.ClearStop();
    if (!jobs_.Start(bridge_)) return;
    job_active_ = true;
    stopping_ = false;
    EnableJobInputs(false);
    ShowConvertOrStop(true);
    job_timer_.Start(kJobPollMilliseconds);
}
