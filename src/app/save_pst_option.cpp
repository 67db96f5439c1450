#include "app/save_pst_option.h"

#include <filesystem>

#include <wx/button.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>

#include "app/artwork.h"
#include "app/control_ids.h"
#include "app/dialog_units.h"
#include "app/ombrik_dlg.h"
#include "app/prompter.h"
#include "app/remembered.h"
#include "app/wx_text.h"
#include "conversion/job_settings.h"
#include "platform/file_stream.h"
#include "platform/paths.h"

namespace {
constexpr const char* kPstWildcard = "Outlook PST File (*pst)|*.pst;*.pst";
}

CSavePSTOption::CSavePSTOption(wxWindow* parent, JobSettings& settings, Prompter& prompter)
    : wxDialog(parent, wxID_ANY, kSavePstCaption, wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX),
      settings_(settings),
      prompter_(prompter) {
    SetFont(wxFontInfo(8).Family(wxFONTFAMILY_SWISS));
    SetIcons(ApplicationIcons());
    CreateControls();
    PreselectRemembered();
    SetClientSize(DialogUnits(*this).Size(255, 155));
    SetEscapeId(ids::kPstCancel);
    SetAffirmativeId(ids::kPstConvert);
    Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnSeparateStores(); }, ids::kPstSeparateStores);
    Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnSingleNewStore(); }, ids::kPstSingleNewStore);
    Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnExistingStore(); }, ids::kPstExistingStore);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnBrowseNewStore(); }, ids::kPstNewStoreBrowse);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnBrowseExistingStore(); }, ids::kPstExistingStoreBrowse);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnConvert(); }, ids::kPstConvert);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCancelDialog(); }, ids::kPstCancel);
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { OnCancelDialog(); });
    CentreOnParent();
}

wxRect CSavePSTOption::Dlu(int x, int y, int width, int height) const {
    return DialogUnits(*this).Rect(x, y, width, height);
}

void CSavePSTOption::CreateControls() {
    // GTK always keeps one button of a group checked; a hidden first member holds that check
    // so that the three visible choices all start unchecked.
    auto* unchecked = new wxRadioButton(this, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                        wxDefaultSize, wxRB_GROUP);
    unchecked->SetValue(true);
    unchecked->Hide();

    // The three choices, then the rest from the top down: the order Tab follows. The choices
    // stay side by side, which is what makes them one group on every toolkit.
    struct Choice {
        int id;
        const char* text;
        wxRect rect;
    };
    const Choice choices[] = {
        {ids::kPstSeparateStores, "Create &Seperate Outlook PST file for Each (.dbx) file", Dlu(13, 20, 183, 10)},
        {ids::kPstSingleNewStore, "Create Sin&gle Outlook PST file for All (.dbx) files", Dlu(13, 49, 168, 10)},
        {ids::kPstExistingStore, "Save in E&xisting PST File", Dlu(13, 94, 93, 10)},
    };
    for (const Choice& choice : choices) {
        auto* radio = new wxRadioButton(this, choice.id, choice.text);
        wxRect rect = choice.rect;
        rect.width = std::max(rect.width, radio->GetBestSize().x);
        rect.height = std::max(rect.height, radio->GetBestSize().y);
        radio->SetSize(rect);
    }
    new_store_path_ = new wxTextCtrl(this, ids::kPstNewStorePath, wxEmptyString, wxDefaultPosition,
                                     wxDefaultSize, wxTE_READONLY);
    new_store_path_->SetSize(Dlu(17, 63, 186, 13));
    new_store_browse_ = new wxButton(this, ids::kPstNewStoreBrowse, "&Browse");
    new_store_browse_->SetSize(Dlu(204, 62, 49, 15));
    existing_store_path_ = new wxTextCtrl(this, ids::kPstExistingStorePath, wxEmptyString,
                                          wxDefaultPosition, wxDefaultSize, wxTE_READONLY);
    existing_store_path_->SetSize(Dlu(17, 110, 185, 15));
    existing_store_browse_ = new wxButton(this, ids::kPstExistingStoreBrowse, "B&rowse");
    existing_store_browse_->SetSize(Dlu(204, 110, 50, 15));
    auto* convert = new wxButton(this, ids::kPstConvert, "&Convert");
    convert->SetSize(Dlu(66, 132, 50, 14));
    convert->SetDefault();
    (new wxButton(this, ids::kPstCancel, "C&ancel"))->SetSize(Dlu(125, 132, 51, 15));
    EnableNewStore(false);
    EnableExistingStore(false);
}

void CSavePSTOption::PreselectRemembered() {
    const std::string new_store = remembered::Text(remembered::kPstNewStore);
    if (!new_store.empty() && platform::IsDirectory(platform::Utf8PathText(platform::FileSystemPath(new_store).parent_path()))) {
        settings_.pst_path = new_store;
        new_store_path_->ChangeValue(Wx(new_store));
    }
    const std::string existing = remembered::Text(remembered::kPstExistingStore);
    if (!existing.empty() && platform::FileExists(existing) && !platform::IsDirectory(existing)) {
        settings_.existing_pst_path = existing;
        existing_store_path_->ChangeValue(Wx(existing));
    }
    // The mode of this run's earlier answer, else the one of an earlier run.
    const std::string mode = settings_.pst_mode.empty() ? remembered::Text(remembered::kPstMode) : settings_.pst_mode;
    const int radio = mode == "seprate" ? ids::kPstSeparateStores
                      : mode == "new"   ? ids::kPstSingleNewStore
                      : mode == "old"   ? ids::kPstExistingStore
                                        : 0;
    if (radio == 0) return;
    static_cast<wxRadioButton*>(FindWindow(radio))->SetValue(true);
    settings_.pst_mode = mode;
    EnableNewStore(mode == "new");
    EnableExistingStore(mode == "old");
    FindWindow(radio)->SetFocus();
}

void CSavePSTOption::RememberAnswer() {
    remembered::Keep(remembered::kPstMode, settings_.pst_mode);
    if (settings_.pst_mode == "new") remembered::Keep(remembered::kPstNewStore, settings_.pst_path);
    if (settings_.pst_mode == "old") remembered::Keep(remembered::kPstExistingStore, settings_.existing_pst_path);
}

void CSavePSTOption::EnableNewStore(bool enable) {
    new_store_path_->Enable(enable);
    new_store_browse_->Enable(enable);
}

void CSavePSTOption::EnableExistingStore(bool enable) {
    existing_store_path_->Enable(enable);
    existing_store_browse_->Enable(enable);
}

void CSavePSTOption::OnSeparateStores() { settings_.pst_mode = "seprate"; }

void CSavePSTOption::OnSingleNewStore() {
    EnableNewStore(true);
    EnableExistingStore(false);
    settings_.pst_mode = "new";
}

void CSavePSTOption::OnExistingStore() {
    EnableNewStore(false);
    EnableExistingStore(true);
    settings_.pst_mode = "old";
}

void CSavePSTOption::OnBrowseNewStore() {
    // The store is named in a save dialog, NewPST.pst unless the user names it otherwise. A
    // store that exists already is added to, never replaced, so the dialog does not ask.
    SaveFileRequest request;
    request.title = kBrowseTitle;
    request.wildcard = kPstWildcard;
    request.default_extension = "pst";
    request.start_folder = remembered::Text(remembered::kNewStoreFolder);
    request.file_name = kNewStoreName;
    request.ask_before_replacing = false;
    if (!settings_.pst_path.empty() && settings_.pst_path == Utf8(new_store_path_->GetValue())) {
        const std::filesystem::path shown = platform::FileSystemPath(settings_.pst_path);
        request.start_folder = platform::Utf8PathText(shown.parent_path());
        request.file_name = platform::Utf8PathText(shown.filename());
    }
    const auto chosen = prompter_.ChooseSaveFile(this, request);
    if (!chosen) return;
    settings_.pst_path = *chosen;
    if (chosen->empty()) return;
    remembered::Keep(remembered::kNewStoreFolder, platform::Utf8PathText(platform::FileSystemPath(*chosen).parent_path()));
    new_store_path_->ChangeValue(Wx(settings_.pst_path));
}

void CSavePSTOption::OnBrowseExistingStore() {
    FileDialogRequest request;
    request.wildcard = kPstWildcard;
    request.default_extension = "pst";
    request.title = "Select an Existing Outlook PST File";
    request.start_folder = remembered::Text(remembered::kExistingStoreFolder);
    const auto chosen = prompter_.ChooseFiles(this, request);
    if (!chosen || chosen->paths.empty()) return;
    remembered::Keep(remembered::kExistingStoreFolder,
                     platform::Utf8PathText(platform::FileSystemPath(chosen->paths.front()).parent_path()));
    existing_store_path_->ChangeValue(Wx(chosen->paths.front()));
    settings_.existing_pst_path = chosen->paths.front();
}

void CSavePSTOption::OnConvert() {
    settings_.pst_options_answer = "yes";
    // Each mode needs its own path: the other mode's path left from an earlier choice would be
    // accepted here and then give the export nothing to write to.
    const bool has_store = settings_.pst_mode == "seprate" ||
                           (settings_.pst_mode == "old" ? !settings_.existing_pst_path.empty()
                                                        : !settings_.pst_path.empty());
    if (has_store) {
        RememberAnswer();
        EndDialog(wxID_OK);
        return;
    }
    prompter_.ShowAppMessage(this, kSelectPstPathText);
}

void CSavePSTOption::OnCancelDialog() {
    settings_.pst_options_answer = "no";
    EndDialog(wxID_CANCEL);
}

void CSavePSTOption::EndDialog(int code) {
    if (IsModal()) {
        EndModal(code);
    } else {
        SetReturnCode(code);
        Hide();
    }
}
