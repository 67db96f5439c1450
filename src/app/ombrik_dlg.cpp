#include "app/ombrik_dlg.h"

#include <algorithm>
#include <filesystem>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/config.h>
#include <wx/dnd.h>
#include <wx/filename.h>
#include <wx/hyperlink.h>
#include <wx/generic/hyperlink.h>
#include <wx/listctrl.h>
#include <wx/display.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/scrolwin.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/settings.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "app/about_dlg.h"
#include "app/artwork.h"
#include "app/code_page_dlg.h"
#include "app/control_ids.h"
#include "app/dialog_units.h"
#include "app/job_control.h"
#include "app/progress_bar.h"
#include "app/prompter.h"
#include "app/remembered.h"
#include "app/save_pst_option.h"
#include "app/wx_text.h"
#include "conversion/job_settings.h"
#include "platform/paths.h"
#include "platform/text_encoding.h"
#include "platform/file_stream.h"

namespace {

const wxColour kBackground(240, 240, 240);
// The status bar's first field, in dialog units: the 250 pixels the window was drawn with at
// its 96-dpi face.
constexpr int kStatusFieldEdgeDlu = 167;
// How long after a menu closed an Esc still belongs to that menu.
constexpr long kMenuEscapeMilliseconds = 300;
constexpr int kCodePageFieldWidth = 300;

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
      job_timer_(this),
      job_text_(64, '-') {
    SetIcons(ApplicationIcons());
    SetBackgroundColour(kBackground);
    CreateMenus();
    CreateControls();
    CreateStatusArea();
    BindCommands();

    settings_.saving_option = "eml";
    LoadRememberedChoices();
    // The code page chosen in an earlier run, unless it is one this system cannot read.
    wxString saved;
    if (wxConfigBase::Get()->Read(kCodePageConfigKey, &saved) && platform::IsKnownCodepage(Utf8(saved)))
        settings_.codepage = Utf8(saved);
    ShowCodePage();
    std::error_code error;
    start_directory_ = platform::Utf8PathText(std::filesystem::current_path(error));
    SetTitle(Wx(kMainCaption));
    end_process_ = [this] { Destroy(); };
    FitToDisplay();
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
    file_menu->Append(ids::WxMenuId(ids::kMenuAddStore), "Add Outlook Express &Store...");
    file_menu->Append(ids::WxMenuId(ids::kMenuFindStores), "&Find Outlook Express Stores on a Disk...");
    file_menu->Append(ids::WxMenuId(ids::kMenuCodePage), "Code &Page of Old Messages...");
    file_menu->AppendCheckItem(ids::WxMenuId(ids::kMenuRecover), "&Recover deleted and damaged messages");
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
    panel_ = new wxScrolledWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    panel_->SetBackgroundColour(kBackground);
    // The layout is measured in dialog units of an 8-point sans-serif face.
    panel_->SetFont(wxFontInfo(8).Family(wxFONTFAMILY_SWISS));
    const wxSize client = DialogUnits(*panel_).Size(389, 362);
    panel_->SetSize(client);
    panel_->SetVirtualSize(client);

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
    // Column widths in dialog units (the 255 and 84 pixels of the 96-dpi face), and never
    // narrower than their heading, so larger fonts do not cut the headings.
    const DialogUnits units(*panel_);
    const struct {
        const char* heading;
        int width;
    } columns[] = {{"Folder Path", 170}, {"Count DBX", 56}, {"Folder Name", 56}, {"Type", 56}};
    for (const auto& column : columns) {
        const int heading = source_list_->GetTextExtent(column.heading).x + units.X(12);
        source_list_->AppendColumn(column.heading, wxLIST_FORMAT_LEFT, std::max(units.X(column.width), heading));
    }
    source_list_->SetDropTarget(new DbxDropTarget(*this));
    source_list_->Bind(wxEVT_KEY_DOWN, &COmbrikDlg::OnListKey, this);

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
    wxStatusBar* bar = CreateStatusBar(3, wxSTB_SHOW_TIPS | wxSTB_ELLIPSIZE_END | wxFULL_REPAINT_ON_RESIZE,
                                       ids::kStatusBar);
    const int widths[] = {DialogUnits(*panel_).X(kStatusFieldEdgeDlu), -1, kCodePageFieldWidth};
    bar->SetStatusWidths(3, widths);
    // Tall enough for a bar that reads at a glance.
    bar->SetMinHeight(DialogUnits(*panel_).Y(12));
    bar->SetStatusText("Corvanti: Ombrik", 1);
    progress_bar_ = new CProgressBar(bar, ids::kProgressBar);
    bar->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        PlaceProgressBar();
        event.Skip();
    });
    PlaceProgressBar();
}

void COmbrikDlg::FitToDisplay() {
    if (fitting_) return;
    fitting_ = true;
    const wxSize panel = panel_->GetVirtualSize();
    const int bar_height = GetStatusBar() != nullptr ? GetStatusBar()->GetSize().y : 0;
    const wxSize whole(panel.x, panel.y + bar_height);
    int display_index = wxDisplay::GetFromWindow(this);
    if (display_index == wxNOT_FOUND) display_index = 0;
    const wxRect area = wxDisplay(static_cast<unsigned>(display_index)).GetClientArea();
    // What the frame and the menu bar take around the client area. Before the window manager
    // has framed the window it is not known yet: allow for a title bar at least, and measure
    // again once the window is shown.
    wxSize decoration = GetSize() - GetClientSize();
    decoration.x = std::max(decoration.x, 2);
    decoration.y = std::max(decoration.y, DialogUnits(*panel_).Y(14));
    wxSize client = whole;
    client.x = std::min(client.x, area.width - decoration.x);
    client.y = std::min(client.y, area.height - decoration.y);
    ApplyClientSize(client, whole, area);
    // The window manager's frame may be larger than estimated: take off what still overflows.
    const wxSize outer = GetSize();
    if (outer.x > area.width || outer.y > area.height) {
        client.x -= std::max(0, outer.x - area.width);
        client.y -= std::max(0, outer.y - area.height);
        ApplyClientSize(client, whole, area);
    }
    CentreOnScreen();
    fitting_ = false;
}

void COmbrikDlg::ApplyClientSize(wxSize client, const wxSize& whole, const wxRect& area) {
    const int bar_height = GetStatusBar() != nullptr ? GetStatusBar()->GetSize().y : 0;
    if (client != whole) {
        // The template does not fit: the controls scroll, the status bar stays at the bottom.
        const int scrollbar = wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, this);
        if (client.y < whole.y && client.x == whole.x) client.x = std::min(whole.x + scrollbar, area.width);
        panel_->SetScrollRate(client.x < whole.x ? DialogUnits(*panel_).X(8) : 0, DialogUnits(*panel_).Y(8));
    }
    SetMinClientSize(wxDefaultSize);
    SetMaxClientSize(wxDefaultSize);
    SetClientSize(client);
    SetMinClientSize(client);
    SetMaxClientSize(client);
    panel_->SetSize(client.x, client.y - bar_height);
}

void COmbrikDlg::OnFirstShow(wxShowEvent& event) {
    event.Skip();
    if (!event.IsShown() || fitted_after_show_) return;
    fitted_after_show_ = true;
    // Now the frame's real size is known; fit once more, and again once the window manager
    // has had a moment to draw its frame.
    CallAfter([this] {
        FitToDisplay();
        CallAfter([this] { FitToDisplay(); });
    });
}

void COmbrikDlg::LoadRememberedChoices() {
    const std::string destination = remembered::Text(remembered::kDestination);
    if (!destination.empty() && platform::IsDirectory(destination)) {
        settings_.destination_path = destination;
        destination_box_->ChangeValue(Wx(destination));
    }
    const std::string option = remembered::Text(remembered::kSavingOption);
    for (int id : {ids::kSaveAsEml, ids::kSaveAsMbox, ids::kSaveAsMsg, ids::kSaveAsPst, ids::kSaveAsHtml,
                   ids::kSaveAsRtf}) {
        auto* radio = static_cast<wxRadioButton*>(panel_->FindWindow(id));
        if (radio != nullptr && option == SavingOptionForControl(id)) {
            radio->SetValue(true);
            settings_.saving_option = option;
        }
    }
    settings_.recover = remembered::Text(remembered::kRecover) == "1";
    if (wxMenuBar* bar = GetMenuBar()) bar->Check(ids::WxMenuId(ids::kMenuRecover), settings_.recover);
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
    on(ids::kMenuCodePage, &COmbrikDlg::OnCodePageOfOldMessages);
    on(ids::kMenuRecover, &COmbrikDlg::OnRecoverChoice);
    on(ids::kMenuAddStore, &COmbrikDlg::OnAddStore);
    on(ids::kMenuFindStores, &COmbrikDlg::OnFindStores);
    for (int id : {ids::kSaveAsEml, ids::kSaveAsMbox, ids::kSaveAsMsg, ids::kSaveAsPst,
                   ids::kSaveAsHtml, ids::kSaveAsRtf}) {
        Bind(wxEVT_RADIOBUTTON, [this, id](wxCommandEvent&) { OnSavingOption(id); }, id);
    }
    Bind(wxEVT_CHAR_HOOK, &COmbrikDlg::OnCharHook, this);
    Bind(wxEVT_MENU_OPEN, [this](wxMenuEvent& event) {
        menu_open_ = true;
        event.Skip();
    });
    Bind(wxEVT_MENU_CLOSE, [this](wxMenuEvent& event) {
        menu_open_ = false;
        menu_closed_at_ = wxGetLocalTimeMillis();
        event.Skip();
    });
    Bind(wxEVT_CLOSE_WINDOW, &COmbrikDlg::OnClose, this);
    Bind(wxEVT_SHOW, &COmbrikDlg::OnFirstShow, this);
    // The window manager tells the size of its frame only after the window is up, and the
    // window grows by it: fit again when that pushes the window past the screen.
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        event.Skip();
        if (!fitted_after_show_ || fitting_) return;
        int display_index = wxDisplay::GetFromWindow(this);
        if (display_index == wxNOT_FOUND) display_index = 0;
        const wxRect area = wxDisplay(static_cast<unsigned>(display_index)).GetClientArea();
        if (GetSize().x > area.width || GetSize().y > area.height) CallAfter([this] { FitToDisplay(); });
    });
    Bind(wxEVT_TIMER, &COmbrikDlg::OnJobTimer, this, job_timer_.GetId());
}

void COmbrikDlg::OnCharHook(wxKeyEvent& event) {
    switch (event.GetKeyCode()) {
    case WXK_ESCAPE:
        // Esc on an open menu is the menu's: it closes it, and nothing else happens.
        if (menu_open_ || wxGetLocalTimeMillis() - menu_closed_at_ < kMenuEscapeMilliseconds) {
            event.Skip();
            return;
        }
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
        bar->Enable(ids::WxMenuId(ids::kMenuRecover), enable);
        bar->Enable(ids::WxMenuId(ids::kMenuAddStore), enable);
        bar->Enable(ids::WxMenuId(ids::kMenuFindStores), enable);
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
    progress_line_.clear();
    RestoreFocus();
}

void COmbrikDlg::RestoreFocus() {
    if (leaving_ || IsBeingDeleted()) return;
    // Disabling the focused button during the job left the window without a focus, and with
    // it Esc and Enter; the default button takes it back.
    wxWindow* focus = wxWindow::FindFocus();
    if (focus != nullptr && wxGetTopLevelParent(focus) == this && focus->IsEnabled()) return;
    Raise();
    if (wxWindow* convert = panel_->FindWindow(ids::kConvertMessages); convert != nullptr && convert->IsEnabled())
        convert->SetFocus();
    else
        SetFocus();
}

void COmbrikDlg::OnAbout() {
    CAboutDlg about(this);
    about.ShowModal();
}

void COmbrikDlg::OnSoftwareHelp() {
    // A compiled help file in the start directory wins, as it always has; otherwise the help
    // pages shipped with the program open in the desktop's browser.
    const std::string compiled = platform::JoinPath(start_directory_, "Ombrik.chm");
    if (platform::FileExists(compiled)) {
        prompter_.OpenWithDesktop(compiled);
        return;
    }
    const std::string shipped = platform::JoinPath(help_directory_, "index.html");
    if (help_directory_.empty() || !platform::FileExists(shipped)) {
        TellUser("The help pages were not found.\nThey are installed with Ombrik in share/ombrik/help.");
        return;
    }
    if (!prompter_.OpenWithDesktop(shipped)) {
        TellUser("No web browser was found to show the help pages.\nOpen this file in any browser: " + shipped);
    }
}

void COmbrikDlg::TellUser(const std::string& text) {
    prompter_.ShowMessage(this, text, kMessageTitle, msgbox::kOk | msgbox::kIconExclamation);
    RestoreFocus();
}

void COmbrikDlg::OnOnlineHelp() {
    if (!prompter_.OpenWithDesktop(kOnlineHelpAddress)) {
        TellUser(std::string("No web browser was found.\nThe online help is at ") + kOnlineHelpAddress);
    }
}

// UI-thread side of the conversion window.

int COmbrikDlg::RowCountNow() const { return sources_.size(); }

std::vector<std::string> COmbrikDlg::RowStorePathNow(int row) const {
    if (row < 0 || row >= sources_.size()) return {};
    return sources_.rows()[static_cast<std::size_t>(row)].store_path;
}

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
    last_job_position_ = position;
    // The job's step cycles through 1..99 per folder file and says nothing of how far it got;
    // once the message count is known the bar shows the fraction instead. 0 ends a folder.
    if (position == 0) progress_line_.clear();
    if (!progress_line_.empty()) return;
    progress_bar_->SetValue(std::clamp(position, 0, progress_bar_->GetRange()));
    if (position == 0) ShowStatusLines();
}

void COmbrikDlg::SetStatusTextNow(const std::string& text) {
    job_text_ = text;
    ShowStatusLines();
}

void COmbrikDlg::ShowStatusLines() {
    const std::string text = progress_line_.empty() ? job_text_ : progress_line_ + "\n" + job_text_;
    const wxString label = Wx(text);
    if (status_line_->GetLabel() != label) status_line_->SetLabel(label);
}

void COmbrikDlg::ShowJobProgressNow(const std::string& folder_path, std::size_t message,
                                    std::size_t message_count) {
    if (message_count == 0) return;
    message = std::min(message, message_count);
    progress_line_ = platform::LastPathComponent(folder_path) + ": message " + std::to_string(message) + " of " +
                     std::to_string(message_count);
    progress_bar_->SetValue(static_cast<int>(message * static_cast<std::size_t>(progress_bar_->GetRange()) /
                                             message_count));
    ShowStatusLines();
}

void COmbrikDlg::ShowJobSummaryNow(const JobTally& tally) {
    progress_line_.clear();
    ShowStatusLines();
    prompter_.ShowJobSummary(this, tally, settings_.destination_path);
    RestoreFocus();
}

void COmbrikDlg::ShowJobMessageNow(const std::string& text, const std::string& title, unsigned style) {
    // Job messages have no owner window, as on the system they were designed for.
    prompter_.ShowMessage(nullptr, text, title, style);
}

void COmbrikDlg::RunPstOptionsDialogNow(JobSettings& settings) {
    CSavePSTOption dialog(this, settings, prompter_);
    dialog.ShowModal();
    RestoreFocus();
}

void COmbrikDlg::OnCodePageOfOldMessages() {
    if (RefuseWhileRunning()) return;
    wxConfigBase* config = wxConfigBase::Get();
    CCodePageDlg dialog(this, settings_.codepage);
    if (dialog.ShowModal() != wxID_OK) return;
    settings_.codepage = dialog.codepage();
    config->Write(kCodePageConfigKey, Wx(settings_.codepage));
    config->Flush();
    ShowCodePage();
}

void COmbrikDlg::OnRecoverChoice() {
    wxMenuBar* bar = GetMenuBar();
    if (bar == nullptr) return;
    // The item is greyed out while a job runs; the job reads the setting once at its start.
    if (IsJobRunning()) {
        bar->Check(ids::WxMenuId(ids::kMenuRecover), settings_.recover);
        return;
    }
    settings_.recover = bar->IsChecked(ids::WxMenuId(ids::kMenuRecover));
    remembered::Keep(remembered::kRecover, settings_.recover ? "1" : "0");
}

void COmbrikDlg::ShowCodePage() {
    if (wxStatusBar* bar = GetStatusBar()) bar->SetStatusText(Wx(CodePageStatusText(settings_.codepage)), 2);
}
