#include "app/ombrik_dlg.h"

#include <algorithm>
#include <filesystem>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/config.h>
#include <wx/dcclient.h>
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
#include "app/mail_server_dlg.h"
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
// How long after a menu closed an Esc still belongs to that menu.
constexpr long kMenuEscapeMilliseconds = 300;
// Convert, Exit and the link sit in a strip of their own from this height of the template on.
constexpr int kStripTopDlu = 306;
// The narrowest the layout gets before the window scrolls sideways.
constexpr int kLeastWidthDlu = 300;
// The least height of the part above Convert and Exit: the header and the list.
constexpr int kLeastUpperHeightDlu = 150;
constexpr const char* kProductLine = "Corvanti: Ombrik";

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
              wxDEFAULT_FRAME_STYLE | wxCLIP_CHILDREN),
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
    convert_->SetFocus();
}

COmbrikDlg::~COmbrikDlg() {
    job_timer_.Stop();
    // The job talks to this window for its whole life: never let it outlive it.
    if (jobs_.IsRunning()) {
        bridge_.RequestLeave();
    }
}

wxRect COmbrikDlg::Dlu(int x, int y, int width, int height) const {
    return DialogUnits(*panel_).Rect(x, y, width, height);
}

void COmbrikDlg::CreateMenus() {
    // Every item has its underlined letter; the ones used most have their keys as well.
    auto* file_menu = new wxMenu;
    file_menu->Append(ids::WxMenuId(ids::kMenuOpenFile), "&Open Outlook Express File\tCtrl+O");
    file_menu->Append(ids::WxMenuId(ids::kMenuExportFile), "&Export File");
    file_menu->Append(ids::WxMenuId(ids::kMenuAddStore), "Add Outlook Express &Store...");
    file_menu->Append(ids::WxMenuId(ids::kMenuFindStores), "&Find Outlook Express Stores on a Disk...");
    file_menu->Append(ids::WxMenuId(ids::kMenuUploadToMailServer), kMailServerMenuText);
    file_menu->Append(ids::WxMenuId(ids::kMenuCodePage), "Code &Page of Old Messages...");
    file_menu->AppendCheckItem(ids::WxMenuId(ids::kMenuRecover), "&Recover deleted and damaged messages");
    file_menu->AppendCheckItem(ids::WxMenuId(ids::kMenuManifest), "Write a &Manifest of every message");
    file_menu->AppendCheckItem(ids::WxMenuId(ids::kMenuSkipDuplicates), "Leave out &Duplicates from other folder files");
    file_menu->AppendCheckItem(ids::WxMenuId(ids::kMenuExtractAttachments), "Extract &Attachments as files");
    file_menu->Append(ids::WxMenuId(ids::kMenuExit), "&Exit\tCtrl+Q");
    auto* help_menu = new wxMenu;
    help_menu->Append(ids::WxMenuId(ids::kMenuAbout), "&About");
    help_menu->Append(ids::WxMenuId(ids::kMenuSoftwareHelp), "&Software Help\tF1");
    help_menu->Append(ids::WxMenuId(ids::kMenuOnlineHelp), "&Online Help");
    auto* bar = new wxMenuBar;
    bar->Append(file_menu, "&File");
    bar->Append(help_menu, "&Help");
    SetMenuBar(bar);
}

void COmbrikDlg::CreateControls() {
    // Above: everything but Convert, Exit and the link, in a part that scrolls when the window
    // is smaller than its smallest layout; below: those three, always in view.
    panel_ = new wxScrolledWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    panel_->SetBackgroundColour(kBackground);
    // The layout is measured in dialog units of an 8-point sans-serif face.
    panel_->SetFont(wxFontInfo(8).Family(wxFONTFAMILY_SWISS));
    strip_ = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    strip_->SetBackgroundColour(kBackground);
    strip_->SetFont(panel_->GetFont());
    upper_template_ = DialogUnits(*panel_).Size(389, kStripTopDlu);
    // The list may lose a third of its height, and the window some width, before anything scrolls.
    upper_least_extra_ = wxSize(-DialogUnits(*panel_).X(389 - kLeastWidthDlu), -DialogUnits(*panel_).Y(20));
    panel_->SetVirtualSize(upper_template_);
    strip_->SetMinSize(wxSize(-1, DialogUnits(*panel_).Y(362 - kStripTopDlu)));
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(panel_, 1, wxEXPAND);
    sizer->Add(strip_, 0, wxEXPAND);
    SetSizer(sizer);

    // Created in the order of the layout, which is the order Tab follows.
    CreateUpperControls();
    CreateButtonStrip();
    panel_->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        event.Skip();
        LayOutUpperPart();
    });
    strip_->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        event.Skip();
        LayOutButtonStrip();
    });
}

void COmbrikDlg::CreateUpperControls() {
    using namespace anchors;
    AnchoredLayout& layout = upper_layout_;
    // Wider or taller than its template rectangle if the face needs it, so no text is cut.
    auto fitted = [](wxWindow* control, wxRect rect) {
        rect.width = std::max(rect.width, control->GetBestSize().x);
        rect.height = std::max(rect.height, control->GetBestSize().y);
        return rect;
    };

    header_ = new wxStaticBitmap(panel_, wxID_ANY, wxNullBitmap);
    header_rect_ = Dlu(1, 1, 388, 49);
    header_->SetBitmap(HeaderBitmap(header_rect_.GetSize()));
    layout.Add(header_, header_rect_, kWide);

    // A label's underlined letter takes the focus to the list (see FollowLabelMnemonic).
    layout.Add(new wxStaticText(panel_, wxID_ANY, "Please Se&lect .dbx File"), Dlu(7, 58, 78, 9), kStay);
    layout.Add(new wxStaticText(panel_, wxID_ANY, "Count Total Files:"), Dlu(273, 58, 56, 9), kRight);
    file_count_ = new wxStaticText(panel_, ids::kFileCount, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                   wxST_NO_AUTORESIZE);
    layout.Add(file_count_, Dlu(331, 58, 50, 8), kRight);

    layout.Add(new wxStaticBox(panel_, wxID_ANY, wxEmptyString), Dlu(5, 65, 379, 88), kGrow);
    source_list_ = new wxListCtrl(panel_, ids::kSourceList, wxDefaultPosition, wxDefaultSize,
                                  wxLC_REPORT | wxLC_HRULES | wxLC_VRULES | wxBORDER_SUNKEN);
    layout.Add(source_list_, Dlu(11, 72, 368, 60), kGrow);
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
        if (source_list_->GetColumnCount() == 1) path_column_ = {std::max(units.X(column.width), heading), heading};
    }
    source_list_->SetDropTarget(new DbxDropTarget(*this));
    source_list_->Bind(wxEVT_KEY_DOWN, &COmbrikDlg::OnListKey, this);

    const struct {
        int id;
        const char* label;
        int x, width;
    } list_buttons[] = {{ids::kAddFolder, "Add Fol&der", 161, 53},
                        {ids::kAddFile, "&Add File", 216, 56},
                        {ids::kClearList, "&Clear List", 275, 47},
                        {ids::kRemoveFile, "Remove F&ile", 326, 53}};
    for (const auto& button : list_buttons) {
        auto* control = new wxButton(panel_, button.id, button.label);
        layout.Add(control, Dlu(button.x, 135, button.width, 16), kBelowRight);
        job_inputs_.push_back(control);
    }

    layout.Add(new wxStaticBox(panel_, wxID_ANY, "Desti&nation Path:"), Dlu(5, 158, 378, 35), kBelowWide);
    destination_box_ = new wxTextCtrl(panel_, ids::kDestinationBox, wxEmptyString, wxDefaultPosition,
                                      wxDefaultSize, wxTE_READONLY);
    destination_box_->Disable();
    layout.Add(destination_box_, Dlu(11, 170, 304, 16), kBelowWide);
    auto* browse = new wxButton(panel_, ids::kBrowseDestination, "&Browse");
    layout.Add(browse, Dlu(323, 169, 56, 16), kBelowRight);
    job_inputs_.push_back(browse);

    layout.Add(new wxStaticBox(panel_, wxID_ANY, "Select Saving &Option"), Dlu(7, 202, 376, 60), kBelowWide);
    // Three columns: the middle one keeps to the middle, the last one to the right edge.
    const Anchor middle{0.5, 0, 1, 0};
    const struct {
        int id;
        const char* text;
        int x, y, width, height;
        Anchor anchor;
    } options[] = {
        {ids::kSaveAsEml, "Save as &EML", 20, 222, 59, 10, kBelow},
        {ids::kSaveAsMsg, "Save as MS&G", 174, 216, 71, 15, middle},
        {ids::kSaveAsPst, "Save as &PST", 318, 213, 52, 16, kBelowRight},
        {ids::kSaveAsMbox, "Save as &MBOX", 18, 240, 62, 10, kBelow},
        {ids::kSaveAsHtml, "Save as H&TML", 174, 241, 58, 10, middle},
        {ids::kSaveAsRtf, "Save as &RTF", 317, 240, 54, 10, kBelowRight},
    };
    bool first = true;
    for (const auto& option : options) {
        auto* radio = new wxRadioButton(panel_, option.id, option.text, wxDefaultPosition, wxDefaultSize,
                                        first ? wxRB_GROUP : 0);
        layout.Add(radio, fitted(radio, Dlu(option.x, option.y, option.width, option.height)), option.anchor);
        job_inputs_.push_back(radio);
        first = false;
    }
    static_cast<wxRadioButton*>(panel_->FindWindow(ids::kSaveAsEml))->SetValue(true);

    layout.Add(new wxStaticText(panel_, wxID_ANY, "Conversion Progress Status:"), Dlu(9, 269, 94, 9), kBelow);
    status_line_ = new wxStaticText(panel_, ids::kStatusLine, wxString('-', 64), wxDefaultPosition, wxDefaultSize,
                                    wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_MIDDLE);
    layout.Add(status_line_, Dlu(9, 276, 366, 23), kBelowWide);
}

void COmbrikDlg::CreateButtonStrip() {
    using namespace anchors;
    const DialogUnits units(*panel_);
    // The strip starts where the template's status line has ended.
    auto strip = [&](int x, int y, int width, int height) {
        return units.Rect(x, y - kStripTopDlu, width, height);
    };
    convert_ = new wxButton(strip_, ids::kConvertMessages, kConvertLabel);
    convert_->SetDefault();
    strip_layout_.Add(convert_, strip(112, 315, 103, 19), kCentre);
    exit_ = new wxButton(strip_, ids::kExit, "E&xit");
    strip_layout_.Add(exit_, strip(220, 315, 56, 18), kCentre);

    // The link line: a label followed by the maker's address, shown but not followed.
    auto* link_line = new wxPanel(strip_, ids::kWebsiteLink);
    link_line_ = link_line;
    link_line->SetBackgroundColour(kBackground);
    auto* link_sizer = new wxBoxSizer(wxHORIZONTAL);
    link_sizer->Add(new wxStaticText(link_line, wxID_ANY, "visit &website: "), 0, wxALIGN_CENTER_VERTICAL);
    auto* link = new wxGenericHyperlinkCtrl(link_line, wxID_ANY, "www.corvanti.example", kWebsiteAddress,
                                            wxDefaultPosition, wxDefaultSize, wxHL_ALIGN_LEFT | wxNO_BORDER);
    link->Bind(wxEVT_HYPERLINK, [](wxHyperlinkEvent&) {});
    link_sizer->Add(link, 0, wxALIGN_CENTER_VERTICAL);
    link_line->SetSizer(link_sizer);
    // The address must show in full: widen the line leftwards when the face needs more room.
    const wxSize link_size = link_sizer->GetMinSize();
    wxRect link_rect = strip(277, 339, 111, 8);
    const int right_limit = upper_template_.x - units.X(4);
    if (link_rect.x + link_size.x > right_limit) link_rect.x = right_limit - link_size.x;
    link_rect.width = std::max(link_rect.width, link_size.x);
    link_rect.height = std::max(link_rect.height, link_size.y);
    strip_layout_.Add(link_line, link_rect, kRight);
    link_line->Layout();
}

void COmbrikDlg::LayOutUpperPart() {
    if (laying_out_) return;
    laying_out_ = true;
    const wxSize shown = panel_->GetClientSize();
    const wxSize extra(std::max(shown.x - upper_template_.x, upper_least_extra_.x),
                       std::max(shown.y - upper_template_.y, upper_least_extra_.y));
    if (extra != last_upper_extra_) {
        last_upper_extra_ = extra;
        const wxRect header = AnchoredLayout::Placed(header_rect_, anchors::kWide, extra);
        if (header.GetSize() != header_->GetBitmap().GetSize()) header_->SetBitmap(HeaderBitmap(header.GetSize()));
        upper_layout_.Apply(extra);
        // The paths are what needs the room: their column takes the list's extra width.
        source_list_->SetColumnWidth(0, std::max(path_column_.x + extra.x, path_column_.y));
        const wxSize virtual_size = upper_template_ + extra;
        panel_->SetVirtualSize(virtual_size);
        // Scrolling only where the smallest layout does not fit.
        const DialogUnits units(*panel_);
        panel_->SetScrollRate(virtual_size.x > shown.x ? units.X(8) : 0, virtual_size.y > shown.y ? units.Y(8) : 0);
    }
    laying_out_ = false;
}

void COmbrikDlg::LayOutButtonStrip() {
    strip_layout_.Apply(wxSize(strip_->GetClientSize().x - upper_template_.x, 0));
}

void COmbrikDlg::CreateStatusArea() {
    wxStatusBar* bar = CreateStatusBar(3, wxSTB_SHOW_TIPS | wxSTB_ELLIPSIZE_END | wxFULL_REPAINT_ON_RESIZE,
                                       ids::kStatusBar);
    // Tall enough for a bar that reads at a glance.
    bar->SetMinHeight(DialogUnits(*panel_).Y(12));
    bar->SetStatusText(kProductLine, 1);
    SetStatusFieldWidths();
    progress_bar_ = new CProgressBar(bar, ids::kProgressBar);
    bar->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        PlaceProgressBar();
        event.Skip();
    });
    PlaceProgressBar();
}

void COmbrikDlg::SetStatusFieldWidths() {
    wxStatusBar* bar = GetStatusBar();
    if (bar == nullptr) return;
    // The product line and the code page as wide as their texts, the bar's field the rest (at
    // the starting size more than the template's 250 pixels): nothing squeezes the product line.
    const int margin = DialogUnits(*panel_).X(10);
    const int widths[] = {-1, bar->GetTextExtent(kProductLine).x + margin,
                          bar->GetTextExtent(Wx(CodePageStatusText(settings_.codepage))).x + margin};
    bar->SetStatusWidths(3, widths);
}

wxRect COmbrikDlg::DisplayArea() const {
    int display_index = wxDisplay::GetFromWindow(this);
    if (display_index == wxNOT_FOUND) display_index = 0;
    return wxDisplay(static_cast<unsigned>(display_index)).GetClientArea();
}

void COmbrikDlg::FitToDisplay() {
    if (fitting_) return;
    fitting_ = true;
    const wxRect area = DisplayArea();
    // What the frame, the menu bar and the status bar take around the two parts. Before the
    // window manager has framed the window it is not known yet: allow for a title bar at least,
    // and measure again once the window is shown.
    wxSize decoration = GetSize() - GetClientSize();
    decoration.x = std::max(decoration.x, 2);
    decoration.y = std::max(decoration.y, DialogUnits(*panel_).Y(14));
    const int strip_height = strip_->GetMinSize().y;
    const wxSize room(area.width - decoration.x, area.height - decoration.y);
    // Never narrower than the narrowest layout, nor lower than the header and the list above
    // Convert and Exit (the rest then scrolls), unless the screen itself is smaller.
    const wxSize least(std::min(upper_template_.x + upper_least_extra_.x, room.x),
                       std::min(DialogUnits(*panel_).Y(kLeastUpperHeightDlu) + strip_height, room.y));
    wxSize client = RememberedClientSize();
    if (client == wxDefaultSize) client = wxSize(upper_template_.x, upper_template_.y + strip_height);
    client.x = std::clamp(client.x, least.x, std::max(least.x, room.x));
    client.y = std::clamp(client.y, least.y, std::max(least.y, room.y));
    SetMinClientSize(least);
    SetClientSize(client);
    Layout();
    // The window manager's frame may be larger than estimated: take off what still overflows.
    const wxSize outer = GetSize();
    if (outer.x > area.width || outer.y > area.height) {
        client.x -= std::max(0, outer.x - area.width);
        client.y -= std::max(0, outer.y - area.height);
        SetMinClientSize(wxSize(std::min(least.x, client.x), std::min(least.y, client.y)));
        SetClientSize(client);
        Layout();
    }
    CentreOnScreen();
    fitting_ = false;
}

void COmbrikDlg::KeepOnScreen() {
    const wxRect area = DisplayArea();
    const wxSize outer = GetSize();
    if (outer.x <= area.width && outer.y <= area.height) return;
    fitting_ = true;
    wxSize client = GetClientSize();
    client.x -= std::max(0, outer.x - area.width);
    client.y -= std::max(0, outer.y - area.height);
    const wxSize least = GetMinClientSize();
    SetMinClientSize(wxSize(std::min(least.x, client.x), std::min(least.y, client.y)));
    SetClientSize(client);
    Layout();
    wxRect rect = GetScreenRect();
    rect.x = std::clamp(rect.x, area.x, std::max(area.x, area.GetRight() + 1 - rect.width));
    rect.y = std::clamp(rect.y, area.y, std::max(area.y, area.GetBottom() + 1 - rect.height));
    Move(rect.GetPosition());
    fitting_ = false;
}

wxSize COmbrikDlg::RememberedClientSize() const {
    long width = 0;
    long height = 0;
    wxConfigBase* config = wxConfigBase::Get();
    if (config == nullptr || !config->Read(remembered::kWindowWidth, &width) ||
        !config->Read(remembered::kWindowHeight, &height) || width <= 0 || height <= 0 || width > 100000 ||
        height > 100000)
        return wxDefaultSize;
    const DialogUnits units(*panel_);
    return units.Size(static_cast<int>(width), static_cast<int>(height));
}

void COmbrikDlg::KeepWindowSize() {
    if (IsIconized() || IsMaximized() || IsFullScreen()) return;
    wxConfigBase* config = wxConfigBase::Get();
    if (config == nullptr) return;
    const DialogUnits units(*panel_);
    const wxSize client = GetClientSize();
    config->Write(remembered::kWindowWidth, static_cast<long>(units.ToX(client.x)));
    config->Write(remembered::kWindowHeight, static_cast<long>(units.ToY(client.y)));
    config->Flush();
}

void COmbrikDlg::OnFirstShow(wxShowEvent& event) {
    event.Skip();
    if (!event.IsShown() || fitted_after_show_) return;
    // Now the frame's real size is known; fit once more, and again once the window manager
    // has had a moment to draw its frame.
    CallAfter([this] {
        FitToDisplay();
        fitted_after_show_ = true;
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
    settings_.manifest = remembered::Text(remembered::kManifest) == "1";
    settings_.skip_duplicates = remembered::Text(remembered::kSkipDuplicates) == "1";
    settings_.extract_attachments = remembered::Text(remembered::kExtractAttachments) == "1";
    if (wxMenuBar* bar = GetMenuBar()) {
        bar->Check(ids::WxMenuId(ids::kMenuRecover), settings_.recover);
        bar->Check(ids::WxMenuId(ids::kMenuManifest), settings_.manifest);
        bar->Check(ids::WxMenuId(ids::kMenuSkipDuplicates), settings_.skip_duplicates);
        bar->Check(ids::WxMenuId(ids::kMenuExtractAttachments), settings_.extract_attachments);
    }
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
    // The Convert button stops the job it started; the menu's Export File only ever converts.
    Bind(wxEVT_BUTTON,
         [this](wxCommandEvent&) {
             // A job that ended a moment ago, before the window noticed, is over already.
             if (job_active_ && !jobs_.IsRunning()) OnJobEnded();
             job_active_ ? OnStopConversion() : OnConvertMessages();
         },
         ids::kConvertMessages);
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
    on(ids::kMenuManifest, &COmbrikDlg::OnManifestChoice);
    on(ids::kMenuSkipDuplicates, &COmbrikDlg::OnSkipDuplicatesChoice);
    on(ids::kMenuExtractAttachments, &COmbrikDlg::OnExtractAttachmentsChoice);
    on(ids::kMenuAddStore, &COmbrikDlg::OnAddStore);
    on(ids::kMenuFindStores, &COmbrikDlg::OnFindStores);
    on(ids::kMenuUploadToMailServer, &COmbrikDlg::OnUploadToMailServer);
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
    Bind(wxEVT_CHILD_FOCUS, [this](wxChildFocusEvent& event) {
        event.Skip();
        UpdateFocusRing();
    });
    Bind(wxEVT_ACTIVATE, [this](wxActivateEvent& event) {
        event.Skip();
        CallAfter([this] { UpdateFocusRing(); });
    });
    // Focus moved by code (a label's letter) sends no child-focus event: the controls tell.
    for (wxWindow* ringed : {static_cast<wxWindow*>(source_list_), link_line_}) {
        std::vector<wxWindow*> parts{ringed};
        for (wxWindow* child : ringed->GetChildren()) parts.push_back(child);
        for (wxWindow* part : parts) {
            part->Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent& event) {
                event.Skip();
                CallAfter([this] { UpdateFocusRing(); });
            });
            part->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& event) {
                event.Skip();
                CallAfter([this] { UpdateFocusRing(); });
            });
        }
    }
    panel_->Bind(wxEVT_PAINT, [this](wxPaintEvent&) { DrawFocusRing(*panel_); });
    strip_->Bind(wxEVT_PAINT, [this](wxPaintEvent&) { DrawFocusRing(*strip_); });
    // The window manager tells the size of its frame only after the window is up, and the
    // window grows by it: bring it back within the screen when that pushes it past an edge.
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        event.Skip();
        if (!fitted_after_show_ || fitting_ || IsMaximized() || IsFullScreen()) return;
        const wxRect area = DisplayArea();
        if (GetSize().x > area.width || GetSize().y > area.height) CallAfter([this] { KeepOnScreen(); });
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
        // Enter presses the focused button, anywhere else the default one. While a job runs
        // the default button is Stop: a job is stopped by a deliberate press, never by an
        // Enter meant for something else.
        wxWindow* focus = wxWindow::FindFocus();
        const bool on_button = focus != nullptr && wxDynamicCast(focus, wxButton) != nullptr;
        if (job_active_ && (!on_button || focus == convert_)) {
            wxBell();
            return;
        }
        if (on_button) break;
        OnConvertMessages();
        return;
    }
    default:
        if (FollowLabelMnemonic(event)) return;
        break;
    }
    event.Skip();
}

bool COmbrikDlg::FollowLabelMnemonic(const wxKeyEvent& event) {
    // Buttons and choices answer their own letters; these are the labels that name another
    // control.
    if (!event.AltDown() || event.ControlDown() || event.MetaDown()) return false;
    wxWindow* target = nullptr;
    switch (event.GetKeyCode()) {
    case 'L': target = source_list_; break;
    case 'N': target = panel_->FindWindow(ids::kBrowseDestination); break;
    case 'O':
        for (int id : {ids::kSaveAsEml, ids::kSaveAsMsg, ids::kSaveAsPst, ids::kSaveAsMbox, ids::kSaveAsHtml,
                       ids::kSaveAsRtf}) {
            auto* radio = static_cast<wxRadioButton*>(panel_->FindWindow(id));
            if (radio != nullptr && radio->GetValue()) target = radio;
        }
        break;
    case 'W': target = FindWindow(ids::kWebsiteLink); break;
    default: return false;
    }
    if (target == nullptr) return false;
    if (target->GetId() == ids::kWebsiteLink && !target->GetChildren().empty()) target = target->GetChildren().back();
    if (!target->IsEnabled()) {
        wxBell();
        return true;
    }
    target->SetFocus();
    if (target->GetParent() == panel_) {
        // Scrolled into view when the window is small.
        const wxPoint at = target->GetPosition();
        const wxSize shown = panel_->GetClientSize();
        if (at.y < 0 || at.y + target->GetSize().y > shown.y) {
            int unit_x = 0, unit_y = 0;
            panel_->GetScrollPixelsPerUnit(&unit_x, &unit_y);
            if (unit_y > 0) {
                int view_x = 0, view_y = 0;
                panel_->GetViewStart(&view_x, &view_y);
                panel_->Scroll(-1, std::max(0, view_y + at.y / unit_y - 1));
            }
        }
    }
    return true;
}

void COmbrikDlg::UpdateFocusRing() {
    if (IsBeingDeleted()) return;
    wxWindow* focus = IsActive() ? wxWindow::FindFocus() : nullptr;
    wxWindow* ringed = nullptr;
    for (wxWindow* candidate : {static_cast<wxWindow*>(source_list_), link_line_}) {
        for (wxWindow* at = focus; at != nullptr && ringed == nullptr; at = at->GetParent())
            if (at == candidate) ringed = candidate;
    }
    if (ringed == ringed_) return;
    const int width = FromDIP(2);
    for (wxWindow* changed : {ringed_, ringed}) {
        if (changed != nullptr) changed->GetParent()->RefreshRect(changed->GetRect().Inflate(2 * width));
    }
    ringed_ = ringed;
}

void COmbrikDlg::DrawFocusRing(wxWindow& parent) {
    wxPaintDC dc(&parent);
    if (ringed_ == nullptr || ringed_->GetParent() != &parent) return;
    const int width = FromDIP(2);
    dc.SetPen(wxPen(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT), width));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(ringed_->GetRect().Inflate(width));
}

void COmbrikDlg::OnClose(wxCloseEvent& event) {
    if (!event.CanVeto()) {
        // The desktop session is ending: stop the job cleanly, serving its window calls
        // meanwhile, since it may be waiting for one of them.
        KeepWindowSize();
        bridge_.RequestLeave();
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
    const bool running = IsJobRunning();
    // Leaving in the middle of a job is the answer that loses the rest of it: not the default.
    const unsigned style = msgbox::kYesNo | msgbox::kIconQuestion | msgbox::kSystemModal |
                           (running ? msgbox::kDefaultButton2 : 0u);
    const int answer = prompter_.ShowMessage(this, kExitQuestion, kExitTitle, style);
    if (answer != wxID_YES) {
        RestoreFocus();
        return;
    }
    leaving_ = true;
    KeepWindowSize();
    if (!IsJobRunning()) {
        EndProcess();
        return;
    }
    // Ending the process now would cut the message being written in half. Ask the job to stop
    // at the next message boundary; the job timer ends the process once it has closed its files.
    bridge_.RequestLeave();
    BeginStopping();
    exit_->Disable();
}

void COmbrikDlg::OnStopConversion() {
    if (!job_active_ || stopping_) return;
    bridge_.RequestStop();
    BeginStopping();
}

void COmbrikDlg::BeginStopping() {
    stopping_ = true;
    convert_->Disable();
    // The window stays as it is, not greyed: the status line says what is happening.
    ShowStatusLines();
    status_line_->Update();
}

void COmbrikDlg::EndProcess() {
    job_timer_.Stop();
    if (end_process_) end_process_();
}

bool COmbrikDlg::IsJobRunning() const { return jobs_.IsRunning(); }

void COmbrikDlg::EnableJobInputs(bool enable) {
    // A focused control about to be greyed out would leave the focus to whatever GTK picks
    // next, which may be Exit; the Stop button takes it instead.
    if (!enable) {
        wxWindow* focus = wxWindow::FindFocus();
        if (focus == nullptr || focus == exit_ ||
            std::find(job_inputs_.begin(), job_inputs_.end(), focus) != job_inputs_.end())
            convert_->SetFocus();
    }
    for (wxWindow* input : job_inputs_) input->Enable(enable);
    if (wxMenuBar* bar = GetMenuBar()) {
        for (int id : {ids::kMenuOpenFile, ids::kMenuExportFile, ids::kMenuRecover, ids::kMenuManifest, ids::kMenuSkipDuplicates,
                       ids::kMenuExtractAttachments, ids::kMenuAddStore,
                       ids::kMenuFindStores, ids::kMenuCodePage, ids::kMenuUploadToMailServer})
            bar->Enable(ids::WxMenuId(id), enable);
    }
}

void COmbrikDlg::ShowConvertOrStop(bool running) {
    convert_->SetLabel(running ? kStopLabel : kConvertLabel);
    convert_->Enable();
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
    EndUpload();
    if (leaving_) {
        EndProcess();
        return;
    }
    stopping_ = false;
    ShowConvertOrStop(false);
    EnableJobInputs(true);
    progress_line_.clear();
    ShowStatusLines();
    FocusAfterJob();
}

void COmbrikDlg::RestoreFocus() {
    if (leaving_ || IsBeingDeleted()) return;
    // Disabling the focused button during the job left the window without a focus, and with
    // it Esc and Enter; the default button takes it back.
    wxWindow* focus = wxWindow::FindFocus();
    if (focus != nullptr && wxGetTopLevelParent(focus) == this && focus->IsEnabled()) return;
    Raise();
    if (convert_->IsEnabled())
        convert_->SetFocus();
    else
        SetFocus();
}

void COmbrikDlg::FocusAfterJob() {
    if (leaving_ || IsBeingDeleted()) return;
    wxWindow* focus = wxWindow::FindFocus();
    if (focus == exit_) convert_->SetFocus();
    RestoreFocus();
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
        prompter_.OpenWithDesktop(this, {compiled, "The help file", "Open it with a viewer of CHM files: " + compiled});
        return;
    }
    const std::string shipped = platform::JoinPath(help_directory_, "index.html");
    if (help_directory_.empty() || !platform::FileExists(shipped)) {
        TellUser("The help pages were not found.\nThey are installed with Ombrik in share/ombrik/help.");
        return;
    }
    prompter_.OpenWithDesktop(this, {shipped, "The help pages",
                                     "Install a web browser, or open this file in one: " + shipped});
}

void COmbrikDlg::TellUser(const std::string& text) {
    prompter_.ShowMessage(this, text, kMessageTitle, msgbox::kOk | msgbox::kIconExclamation);
    RestoreFocus();
}

void COmbrikDlg::OnOnlineHelp() {
    prompter_.OpenWithDesktop(this, {kOnlineHelpAddress, "The online help",
                                     std::string("Install a web browser, or open this address in one: ") +
                                         kOnlineHelpAddress});
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
    std::string text = progress_line_.empty() ? job_text_ : progress_line_ + "\n" + job_text_;
    // Whatever the job still writes (closing a store can take a while), the first line says
    // that it is ending.
    if (stopping_) text = std::string(kStoppingText) + "\n" + (progress_line_.empty() ? job_text_ : progress_line_);
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
    // The job has ended its work: a stop asked for is done with.
    const bool stopped = stopping_;
    stopping_ = false;
    progress_line_.clear();
    ShowStatusLines();
    // An upload has no folder of ours to open.
    prompter_.ShowJobSummary(this, tally, option_before_upload_ ? std::string() : settings_.destination_path, stopped);
    FocusAfterJob();
}

void COmbrikDlg::ShowJobMessageNow(const std::string& text, const std::string& title, unsigned style) {
    // Job messages have no owner window, as on the system they were designed for.
    prompter_.ShowMessage(nullptr, text, title, style);
}

void COmbrikDlg::RunPstOptionsDialogNow(JobSettings& settings) {
    CSavePSTOption dialog(this, settings, prompter_);
    dialog.ShowModal();
    FocusAfterJob();
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

// The manifest (CSV and JSON Lines of every message written) goes into the destination at the end.
void COmbrikDlg::OnManifestChoice() {
    wxMenuBar* bar = GetMenuBar();
    if (bar == nullptr) return;
    if (IsJobRunning()) {
        bar->Check(ids::WxMenuId(ids::kMenuManifest), settings_.manifest);
        return;
    }
    settings_.manifest = bar->IsChecked(ids::WxMenuId(ids::kMenuManifest));
    remembered::Keep(remembered::kManifest, settings_.manifest ? "1" : "0");
}

// A message another folder file wrote into the destination already is left out (forms of files).
void COmbrikDlg::OnSkipDuplicatesChoice() {
    wxMenuBar* bar = GetMenuBar();
    if (bar == nullptr) return;
    if (IsJobRunning()) {
        bar->Check(ids::WxMenuId(ids::kMenuSkipDuplicates), settings_.skip_duplicates);
        return;
    }
    settings_.skip_duplicates = bar->IsChecked(ids::WxMenuId(ids::kMenuSkipDuplicates));
    remembered::Keep(remembered::kSkipDuplicates, settings_.skip_duplicates ? "1" : "0");
}

// Every attachment is also saved as a file beside the output (an upload writes no files).
void COmbrikDlg::OnExtractAttachmentsChoice() {
    wxMenuBar* bar = GetMenuBar();
    if (bar == nullptr) return;
    if (IsJobRunning()) {
        bar->Check(ids::WxMenuId(ids::kMenuExtractAttachments), settings_.extract_attachments);
        return;
    }
    settings_.extract_attachments = bar->IsChecked(ids::WxMenuId(ids::kMenuExtractAttachments));
    remembered::Keep(remembered::kExtractAttachments, settings_.extract_attachments ? "1" : "0");
}

void COmbrikDlg::ShowCodePage() {
    SetStatusFieldWidths();
    if (wxStatusBar* bar = GetStatusBar()) bar->SetStatusText(Wx(CodePageStatusText(settings_.codepage)), 2);
}
