#include "app/ombrik_dlg.h"

#include <algorithm>
#include <filesystem>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dnd.h>
#include <wx/filename.h>
#include <wx/gauge.h>
#include <wx/hyperlink.h>
#include <wx/generic/hyperlink.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "app/about_dlg.h"
#include "app/artwork.h"
#include "app/control_ids.h"
#include "app/dialog_units.h"
#include "app/job_control.h"
#include "app/prompter.h"
#include "app/save_pst_option.h"
#include "app/wx_text.h"
#include "conversion/job_settings.h"

namespace {

const wxColour kBackground(240, 240, 240);
constexpr int kStatusFieldEdge = 250;

// .dbx files dropped on the source list.
class DbxDropTarget : public wxFileDropTarget {
public:
    explicit DbxDropTarget(COmbrikDlg& window) : window_(window) {}
    bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& names) override {
        std::vector<std::string> paths;
        for (const wxString& name : names) paths.push_back(Utf8(name));
        window_.AddDroppedFiles(paths);
        return true;
    }

private:
    COmbrikDlg& window_;
};

}  // namespace

COmbrikDlg::COmbrikDlg(JobSettings& settings, Prompter& prompter, const OutlookProbe& probe,
                       JobControl& jobs)
    : wxFrame(nullptr, wxID_ANY, Wx(kMainCaption), wxDefaultPosition, wxDefaultSize,
              wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX | wxCLIP_CHILDREN),
      settings_(settings),
      prompter_(prompter),
      probe_(probe),
      jobs_(jobs),
      bridge_(*this),
      job_timer_(this) {
    SetIcons(ApplicationIcons());
    SetBackgroundColour(kBackground);
    CreateMenus();
    CreateControls();
    CreateStatusArea();
    BindCommands();

    settings_.saving_option = "eml";
    std::error_code error;
    start_directory_ = std::filesystem::current_path(error).string();
    SetTitle(Wx(kMainCaption));
    end_process_ = [this] { Destroy(); };
    CentreOnScreen();
}

COmbrikDlg::~COmbrikDlg() {
    job_timer_.Stop();
    // The job talks to this window for its whole life: never let it outlive it.
    if (jobs_.IsRunning()) {
        bridge_.RequestStop();
    }
}

wxRect COmbrikDlg::Dlu(int x, int y, int width, int height) const {
    return DialogUnits(*panel_).Rect(x, y, width, height);
}

void COmbrikDlg::CreateMenus() {
    auto* file_menu = new wxMenu;
    file_menu->Append(ids::WxMenuId(ids::kMenuOpenFile), "&Open Outlook Express File");
    file_menu->Append(ids::WxMenuId(ids::kMenuExportFile), "&Export File");
    file_menu->Append(ids::WxMenuId(ids::kMenuExit), "&Exit");
    auto* help_menu = new wxMenu;
    help_menu->Append(ids::WxMenuId(ids::kMenuAbout), "About");
    help_menu->Append(ids::WxMenuId(ids::kMenuSoftwareHelp), "Software Help");
    help_menu->Append(ids::WxMenuId(ids::kMenuOnlineHelp), "Online Help");
    auto* bar = new wxMenuBar;
    bar->Append(file_menu, "&File");
    bar->Append(help_menu, "Help");
    SetMenuBar(bar);
}

void COmbrikDlg::CreateControls() {
    panel_ = new wxPanel(this, wxID_ANY);
    panel_->SetBackgroundColour(kBackground);
    // The layout is measured in dialog units of an 8-point sans-serif face.
    panel_->SetFont(wxFontInfo(8).Family(wxFONTFAMILY_SWISS));
    const wxSize client = DialogUnits(*panel_).Size(389, 362);
    panel_->SetSize(client);

    auto place = [this](wxWindow* control, const wxRect& rect) {
        control->SetSize(rect);
        return control;
    };

    // Created in tab order; the statics and group boxes take no focus.
    auto* convert = new wxButton(panel_, ids::kConvertMessages, "Convert Messages");
    place(convert, Dlu(112, 315, 103, 19));
    convert->SetDefault();
    place(new wxButton(panel_, ids::kExit, "Exit"), Dlu(220, 315, 56, 18));

    auto* list_frame = new wxStaticBox(panel_, wxID_ANY, wxEmptyString);
    place(list_frame, Dlu(5, 65, 379, 88));
    source_list_ = new wxListCtrl(panel_, ids::kSourceList, wxDefaultPosition, wxDefaultSize,
                                  wxLC_REPORT | wxLC_HRULES | wxLC_VRULES | wxBORDER_SUNKEN);
    place(source_list_, Dlu(11, 72, 368, 60));
    source_list_->AppendColumn("Folder Path", wxLIST_FORMAT_LEFT, 255);
    source_list_->AppendColumn("Count DBX", wxLIST_FORMAT_LEFT, 84);
    source_list_->AppendColumn("Folder Name", wxLIST_FORMAT_LEFT, 84);
    source_list_->AppendColumn("Type", wxLIST_FORMAT_LEFT, 84);
    source_list_->SetDropTarget(new DbxDropTarget(*this));

    auto* add_file = new wxButton(panel_, ids::kAddFile, "Add File");
    place(add_file, Dlu(216, 135, 56, 16));

    auto* destination_frame = new wxStaticBox(panel_, wxID_ANY, "Destination Path:");
    place(destination_frame, Dlu(5, 158, 378, 35));
    destination_box_ = new wxTextCtrl(panel_, ids::kDestinationBox, wxEmptyString,
                                      wxDefaultPosition, wxDefaultSize, wxTE_READONLY);
    place(destination_box_, Dlu(11, 170, 304, 16));
    destination_box_->Disable();
    auto* browse = new wxButton(panel_, ids::kBrowseDestination, "Browse");
    place(browse, Dlu(323, 169, 56, 16));
    auto* add_folder = new wxButton(panel_, ids::kAddFolder, "Add Folder");
    place(add_folder, Dlu(161, 135, 53, 16));
    auto* clear_list = new wxButton(panel_, ids::kClearList, "Clear List");
    place(clear_list, Dlu(275, 135, 47, 16));
    auto* remove_file = new wxButton(panel_, ids::kRemoveFile, "Remove File");
    place(remove_file, Dlu(326, 135, 53, 16));

    // The link line: a label followed by the maker's address, shown but not followed.
    auto* link_line = new wxPanel(panel_, ids::kWebsiteLink);
    place(link_line, Dlu(277, 339, 111, 8));
    link_line->SetBackgroundColour(kBackground);
    auto* link_sizer = new wxBoxSizer(wxHORIZONTAL);
    link_sizer->Add(new wxStaticText(link_line, wxID_ANY, "visit website: "), 0, wxALIGN_CENTER_VERTICAL);
    auto* link = new wxGenericHyperlinkCtrl(link_line, wxID_ANY, "www.corvanti.example", kWebsiteAddress,
                                            wxDefaultPosition, wxDefaultSize, wxHL_ALIGN_LEFT | wxNO_BORDER);
    link->Bind(wxEVT_HYPERLINK, [](wxHyperlinkEvent&) {});
    link_sizer->Add(link, 0, wxALIGN_CENTER_VERTICAL);
    link_line->SetSizer(link_sizer);
    // The address must show in full: widen the line leftwards when the face needs more room.
    const wxSize link_size = link_sizer->GetMinSize();
    wxRect link_rect = Dlu(277, 339, 111, 8);
    const int right_limit = panel_->GetSize().x - Dlu(0, 0, 4, 0).width;
    if (link_rect.x + link_size.x > right_limit) link_rect.x = right_limit - link_size.x;
    link_rect.width = std::max(link_rect.width, link_size.x);
    link_rect.height = std::max(link_rect.height, link_size.y);
    place(link_line, link_rect);
    link_line->Layout();

    auto* header = new wxStaticBitmap(panel_, wxID_ANY, wxNullBitmap);
    const wxRect header_rect = Dlu(1, 1, 388, 49);
    header->SetBitmap(HeaderBitmap(header_rect.GetSize()));
    place(header, header_rect);

    place(new wxStaticText(panel_, wxID_ANY, "Please Select .dbx File"), Dlu(7, 58, 78, 9));
    place(new wxStaticText(panel_, wxID_ANY, "Count Total Files:"), Dlu(273, 58, 56, 9));
    file_count_ = new wxStaticText(panel_, ids::kFileCount, wxEmptyString, wxDefaultPosition,
                                   wxDefaultSize, wxST_NO_AUTORESIZE);
    place(file_count_, Dlu(331, 58, 50, 8));

    auto* options_frame = new wxStaticBox(panel_, wxID_ANY, "Select Saving Option");
    place(options_frame, Dlu(7, 202, 376, 60));
    struct Option {
        int id;
        const char* text;
        int x, y, width, height;
    };
    const Option options[] = {
        {ids::kSaveAsEml, "Save as EML", 20, 222, 59, 10},
        {ids::kSaveAsMsg, "Save as MSG", 174, 216, 71, 15},
        {ids::kSaveAsPst, "Save as PST", 318, 213, 52, 16},
        {ids::kSaveAsMbox, "Save as MBOX", 18, 240, 62, 10},
        {ids::kSaveAsHtml, "Save as HTML", 174, 241, 58, 10},
        {ids::kSaveAsRtf, "Save as RTF", 317, 240, 54, 10},
    };
    bool first = true;
    for (const Option& option : options) {
        auto* radio = new wxRadioButton(panel_, option.id, option.text, wxDefaultPosition,
                                        wxDefaultSize, first ? wxRB_GROUP : 0);
        // Wider than its template rectangle if the face needs it, so no label is cut.
        wxRect rect = Dlu(option.x, option.y, option.width, option.height);
        rect.width = std::max(rect.width, radio->GetBestSize().x);
        rect.height = std::max(rect.height, radio->GetBestSize().y);
        place(radio, rect);
        job_inputs_.push_back(radio);
        first = false;
    }
    static_cast<wxRadioButton*>(panel_->FindWindow(ids::kSaveAsEml))->SetValue(true);

    place(new wxStaticText(panel_, wxID_ANY, "Conversion Progress Status:"), Dlu(9, 269, 94, 9));
    status_line_ = new wxStaticText(panel_, ids::kStatusLine, wxString('-', 64), wxDefaultPosition,
                                    wxDefaultSize, wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_MIDDLE);
    place(status_line_, Dlu(9, 276, 366, 23));

    for (wxWindow* input : {static_cast<wxWindow*>(convert), static_cast<wxWindow*>(add_file),
                            static_cast<wxWindow*>(browse), static_cast<wxWindow*>(add_folder),
                            static_cast<wxWindow*>(clear_list), static_cast<wxWindow*>(remove_file)}) {
        job_inputs_.push_back(input);
    }
}

void COmbrikDlg::CreateStatusArea() {
    wxStatusBar* bar = CreateStatusBar(2, wxSTB_SHOW_TIPS | wxSTB_ELLIPSIZE_END | wxFULL_REPAINT_ON_RESIZE,
                                       ids::kStatusBar);
    const int widths[] = {kStatusFieldEdge, -1};
    bar->SetStatusWidths(2, widths);
    bar->SetStatusText("Corvanti: Ombrik", 1);
    progress_bar_ = new wxGauge(bar, ids::kProgressBar, 100, wxDefaultPosition, wxDefaultSize,
                                wxGA_HORIZONTAL | wxGA_SMOOTH);
    bar->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        PlaceProgressBar();
        event.Skip();
    });
    // The panel keeps its full template size; the status bar sits below it.
    SetClientSize(panel_->GetSize().x, panel_->GetSize().y + bar->GetSize().y);
    SetMinClientSize(GetClientSize());
    SetMaxClientSize(GetClientSize());
    PlaceProgressBar();
}

void COmbrikDlg::PlaceProgressBar() {
    wxStatusBar* bar = GetStatusBar();
    wxRect field;
    if (bar != nullptr && progress_bar_ != nullptr && bar->GetFieldRect(0, field)) {
        progress_bar_->SetSize(field.Deflate(1));
    }
}

void COmbrikDlg::BindCommands() {
    auto on = [this](int id, void (COmbrikDlg::*handler)()) {
        Bind(wxEVT_BUTTON, [this, handler](wxCommandEvent&) { (this->*handler)(); }, id);
        Bind(wxEVT_MENU, [this, handler](wxCommandEvent&) { (this->*handler)(); }, ids::WxMenuId(id));
    };
    on(ids::kConvertMessages, &COmbrikDlg::OnConvertMessages);
    on(ids::kExit, &COmbrikDlg::OnExit);
    on(ids::kAddFile, &COmbrikDlg::OnAddFile);
    on(ids::kAddFolder, &COmbrikDlg::OnAddFolder);
    on(ids::kClearList, &COmbrikDlg::OnClearList);
    on(ids::kRemoveFile, &COmbrikDlg::OnRemoveFile);
    on(ids::kBrowseDestination, &COmbrikDlg::OnBrowseDestination);
    on(ids::kMenuOpenFile, &COmbrikDlg::OnAddFile);
    on(ids::kMenuExportFile, &COmbrikDlg::OnConvertMessages);
    on(ids::kMenuExit, &COmbrikDlg::OnExit);
    on(ids::kMenuAbout, &COmbrikDlg::OnAbout);
    on(ids::kAboutCommand, &COmbrikDlg::OnAbout);
    on(ids::kMenuSoftwareHelp, &COmbrikDlg::OnSoftwareHelp);
    on(ids::kMenuOnlineHelp, &COmbrikDlg::OnOnlineHelp);
    for (int id : {ids::kSaveAsEml, ids::kSaveAsMbox, ids::kSaveAsMsg, ids::kSaveAsPst,
                   ids::kSaveAsHtml, ids::kSaveAsRtf}) {
        Bind(wxEVT_RADIOBUTTON, [this, id](wxCommandEvent&) { OnSavingOption(id); }, id);
    }
    Bind(wxEVT_CHAR_HOOK, &COmbrikDlg::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &COmbrikDlg::OnClose, this);
    Bind(wxEVT_TIMER, &COmbrikDlg::OnJobTimer, this, job_timer_.GetId());
}

void COmbrikDlg::OnCharHook(wxKeyEvent& event) {
    switch (event.GetKeyCode()) {
    case WXK_ESCAPE:
        OnExit();
        return;
    case WXK_RETURN:
    case WXK_NUMPAD_ENTER: {
        // Enter presses the focused button, anywhere else the default one.
        wxWindow* focus = wxWindow::FindFocus();
        if (focus != nullptr && wxDynamicCast(focus, wxButton) != nullptr) break;
        OnConvertMessages();
        return;
    }
    default: break;
    }
    event.Skip();
}

void COmbrikDlg::OnClose(wxCloseEvent& event) {
    if (!event.CanVeto()) {
        // The desktop session is ending: stop the job cleanly, serving its window calls
        // meanwhile, since it may be waiting for one of them.
        bridge_.RequestStop();
        while (jobs_.IsRunning()) {
            wxTheApp->ProcessPendingEvents();
            wxMilliSleep(5);
        }
        jobs_.Join();
        Destroy();
        return;
    }
    event.Veto();
    OnExit();
}

void COmbrikDlg::OnExit() {
    if (leaving_) return;
    const int answer = prompter_.ShowMessage(this, kExitQuestion, kExitTitle,
                                             msgbox::kYesNo | msgbox::kIconQuestion | msgbox::kSystemModal);
    if (answer != wxID_YES) return;
    leaving_ = true;
    if (!IsJobRunning()) {
        EndProcess();
        return;
    }
    // Ending the process now would cut the message being written in half. Ask the job to stop
    // at the next message boundary; the job timer ends the process once it has closed its files.
    bridge_.RequestStop();
    Disable();
    SetStatusTextNow("stopping after the current message ...");
}

void COmbrikDlg::EndProcess() {
    job_timer_.Stop();
    if (end_process_) end_process_();
}

bool COmbrikDlg::IsJobRunning() const { return jobs_.IsRunning(); }

void COmbrikDlg::EnableJobInputs(bool enable) {
    for (wxWindow* input : job_inputs_) input->Enable(enable);
    if (wxMenuBar* bar = GetMenuBar()) {
        bar->Enable(ids::WxMenuId(ids::kMenuOpenFile), enable);
        bar->Enable(ids::WxMenuId(ids::kMenuExportFile), enable);
    }
}

bool COmbrikDlg::RefuseWhileRunning() {
    if (!IsJobRunning()) return false;
    wxBell();
    return true;
}

void COmbrikDlg::NoteJobFinished() {
    // The worker only clears its running flag after this; join it once it has.
    CallAfter([this] { job_timer_.Start(5); });
}

void COmbrikDlg::OnJobTimer(wxTimerEvent&) {
    if (jobs_.IsRunning()) return;
    OnJobEnded();
}

void COmbrikDlg::OnJobEnded() {
    if (!job_active_) return;
    job_active_ = false;
    job_timer_.Stop();
    jobs_.Join();
    if (leaving_) {
        EndProcess();
        return;
    }
    EnableJobInputs(true);
}

void COmbrikDlg::OnAbout() {
    CAboutDlg about(this);
    about.ShowModal();
}

void COmbrikDlg::OnSoftwareHelp() {
    // A compiled help file in the start directory wins, as it always has; otherwise the help
    // pages shipped with the program open in the desktop's browser.
    const std::string compiled = start_directory_ + "/Ombrik.chm";
    std::error_code error;
    if (std::filesystem::exists(compiled, error)) {
        prompter_.OpenWithDesktop(compiled);
        return;
    }
    const std::string shipped = help_directory_ + "/index.html";
    if (!help_directory_.empty() && std::filesystem::exists(shipped, error)) {
        prompter_.OpenWithDesktop(shipped);
    }
}

void COmbrikDlg::OnOnlineHelp() { prompter_.OpenWithDesktop(kOnlineHelpAddress); }

// UI-thread side of the conversion window.

int COmbrikDlg::RowCountNow() const { return sources_.size(); }

std::string COmbrikDlg::RowTextNow(int row, int column) const {
    if (row < 0 || row >= sources_.size()) return {};
    const SourceRow& source = sources_.rows()[static_cast<std::size_t>(row)];
    switch (column) {
    case 0: return source.path;
    case 1: return source.file_name;
    case 2: return source.folder_name;
    case 3: return source.type;
    default: return {};
    }
}

void COmbrikDlg::SetProgressNow(int position) {
    progress_bar_->SetValue(std::clamp(position, 0, progress_bar_->GetRange()));
}

void COmbrikDlg::SetStatusTextNow(const std::string& text) {
    const wxString label = Wx(text);
    if (status_line_->GetLabel() != label) status_line_->SetLabel(label);
}

void COmbrikDlg::ShowJobMessageNow(const std::string& text, const std::string& title, unsigned style) {
    // Job messages have no owner window, as on the system they were designed for.
    prompter_.ShowMessage(nullptr, text, title, style);
}

void COmbrikDlg::RunPstOptionsDialogNow(JobSettings& settings) {
    CSavePSTOption dialog(this, settings, prompter_);
    dialog.ShowModal();
}
