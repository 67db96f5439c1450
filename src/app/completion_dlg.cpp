#include "app/completion_dlg.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include <wx/button.h>
#include <wx/display.h>
#include <wx/listctrl.h>
#include <wx/numformatter.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "app/control_ids.h"
#include "app/dialog_units.h"
#include "app/prompter.h"
#include "app/remembered.h"
#include "app/wx_text.h"
#include "conversion/conversion_window.h"
#include "conversion/job_tally.h"
#include "platform/file_stream.h"
#include "platform/output_file.h"
#include "platform/paths.h"

namespace {

// A report list that asks for its rows only as they scroll into view, so a hundred thousand
// failures cost no more to show than ten.
class LinesView : public wxListCtrl {
public:
    LinesView(wxWindow* parent, const std::vector<std::string>& lines)
        : wxListCtrl(parent, ids::kCompletionList, wxDefaultPosition, wxDefaultSize,
                     wxLC_REPORT | wxLC_VIRTUAL | wxLC_NO_HEADER | wxLC_SINGLE_SEL | wxBORDER_SUNKEN),
          lines_(lines) {
        AppendColumn(wxEmptyString);
        // One column as wide as the longest line, so none is cut; the list scrolls sideways.
        std::size_t longest = 0;
        for (std::size_t i = 1; i < lines_.size(); ++i)
            if (lines_[i].size() > lines_[longest].size()) longest = i;
        const int width = lines_.empty() ? 0 : GetTextExtent(Wx(lines_[longest])).x;
        SetColumnWidth(0, width + FromDIP(24));
        SetItemCount(static_cast<long>(lines_.size()));
    }

private:
    wxString OnGetItemText(long item, long) const override {
        if (item < 0 || static_cast<std::size_t>(item) >= lines_.size()) return {};
        return Wx(lines_[static_cast<std::size_t>(item)]);
    }

    const std::vector<std::string>& lines_;
};

}  // namespace

std::string GroupedCount(std::size_t count) {
    wxChar separator = ',';
    if (!wxNumberFormatter::GetThousandsSeparatorIfUsed(&separator)) separator = ',';
    const std::string digits = std::to_string(count);
    const std::string between = Utf8(wxString(separator));
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) grouped += between;
        grouped += digits[i];
    }
    return grouped;
}

std::string CompletionCounts(const JobTally& tally) {
    return "Folder files: " + GroupedCount(tally.folders()) + "   Messages written: " + GroupedCount(tally.messages()) +
           "   Already there: " + GroupedCount(tally.already_there()) +
           "   Recovered: " + GroupedCount(tally.recovered()) + "   Failed: " + GroupedCount(tally.failures());
}

std::vector<std::string> CompletionHeadlines(const JobTally& tally, bool stopped) {
    std::vector<std::string> lines{kCompletionText};
    if (stopped) lines.emplace_back(kStoppedHeadline);
    if (tally.failures() != 0 && tally.messages() == 0 && tally.already_there() == 0)
        lines.emplace_back(kNothingConvertedHeadline);
    return lines;
}

std::vector<std::string> CompletionLines(const JobTally& tally) {
    std::vector<std::string> lines = tally.failure_lines();
    const std::size_t kept = lines.size();
    for (const std::string& note : tally.note_lines()) lines.push_back("Note - " + note);
    if (tally.failures() > kept)
        lines.push_back("... and " + std::to_string(tally.failures() - kept) + " more failures, not listed");
    return lines;
}

std::string CompletionLog(const JobTally& tally, bool stopped) {
    std::string log;
    for (const std::string& line : CompletionHeadlines(tally, stopped)) log += line + "\n";
    log += CompletionCounts(tally) + "\n";
    for (const std::string& line : CompletionLines(tally)) log += line + "\n";
    return log;
}

CCompletionDlg::CCompletionDlg(wxWindow* parent, const JobTally& tally, const std::string& destination,
                               Prompter& prompter, bool stopped)
    : wxDialog(parent, wxID_ANY, Wx(WindowTitle(kMessageTitle)), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      destination_(destination),
      log_(CompletionLog(tally, stopped)),
      prompter_(prompter),
      lines_(CompletionLines(tally)) {
    CreateControls(tally, stopped);
    FitToScreen();
}

void CCompletionDlg::CreateControls(const JobTally& tally, bool stopped) {
    const DialogUnits dlu(*this);
    auto* top = new wxBoxSizer(wxVERTICAL);
    const int margin = dlu.X(7);
    const std::vector<std::string> headlines = CompletionHeadlines(tally, stopped);
    for (std::size_t i = 0; i < headlines.size(); ++i) {
        auto* line = new wxStaticText(this, i == 0 ? wxID_ANY : ids::kCompletionHeadline + static_cast<int>(i) - 1,
                                      Wx(headlines[i]));
        if (i != 0) line->SetFont(GetFont().Bold());
        top->Add(line, 0, wxLEFT | wxRIGHT | wxTOP, margin);
    }
    top->Add(new wxStaticText(this, ids::kCompletionCounts, Wx(CompletionCounts(tally))), 0,
             wxLEFT | wxRIGHT | wxTOP, margin);
    if (!lines_.empty()) {
        top->Add(new wxStaticText(this, wxID_ANY, "What went wrong, and what to know:"), 0,
                 wxLEFT | wxRIGHT | wxTOP, margin);
        auto* list = new LinesView(this, lines_);
        list->SetMinSize(dlu.Size(200, 60));
        top->Add(list, 1, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, margin);
    }

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    auto* open = new wxButton(this, ids::kCompletionOpenFolder, "&Open Destination Folder");
    open->Enable(!destination_.empty() && platform::IsDirectory(destination_));
    buttons->Add(open, 0, wxRIGHT, dlu.X(4));
    buttons->Add(new wxButton(this, ids::kCompletionSaveLog, "&Save Log..."), 0, wxRIGHT, dlu.X(4));
    buttons->AddStretchSpacer();
    auto* ok = new wxButton(this, wxID_OK, "OK");
    ok->SetDefault();
    buttons->Add(ok);
    top->Add(buttons, 0, wxEXPAND | wxALL, margin);
    SetSizer(top);
    SetEscapeId(wxID_OK);

    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOpenDestination(); }, ids::kCompletionOpenFolder);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnSaveLog(); }, ids::kCompletionSaveLog);
    ok->SetFocus();
}

void CCompletionDlg::FitToScreen() {
    const DialogUnits dlu(*this);
    int display_index = wxDisplay::GetFromWindow(GetParent() != nullptr ? GetParent() : this);
    if (display_index == wxNOT_FOUND) display_index = 0;
    const wxRect area = wxDisplay(static_cast<unsigned>(display_index)).GetClientArea();
    // Room for the window frame the desktop draws around the dialog.
    const wxSize room(area.width * 9 / 10, area.height * 85 / 100);

    const wxSize best = GetSizer()->GetMinSize();
    wxSize size(std::max(best.x, dlu.X(320)), best.y);
    if (!lines_.empty()) {
        // Enough for every line when there are few, never taller than the screen allows.
        auto* list = static_cast<wxListCtrl*>(FindWindow(ids::kCompletionList));
        wxRect row;
        const int row_height = list->GetItemRect(0, row) ? row.height : GetCharHeight() + 4;
        const int wanted = static_cast<int>(std::min<std::size_t>(lines_.size(), 30)) * row_height + dlu.Y(8);
        size.y += std::max(0, wanted - list->GetMinSize().y);
        // Wide enough for the longest line where the screen allows.
        const int scrollbar = wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, this);
        size.x = std::max(size.x, list->GetColumnWidth(0) + 2 * dlu.X(7) + scrollbar);
    }
    size.x = std::min(size.x, room.x);
    size.y = std::min(size.y, room.y);
    const wxSize smallest(std::min(best.x, room.x), std::min(best.y, room.y));
    SetSizeHints(ClientToWindowSize(smallest), area.GetSize());
    SetClientSize(size);
    CentreOnParent();
    // Centring on a parent near the screen's edge may push the dialog off it.
    wxRect rect = GetRect();
    rect.x = std::clamp(rect.x, area.x, std::max(area.x, area.GetRight() - rect.width));
    rect.y = std::clamp(rect.y, area.y, std::max(area.y, area.GetBottom() - rect.height));
    Move(rect.GetPosition());
}

void CCompletionDlg::OnOpenDestination() {
    if (destination_.empty()) return;
    prompter_.OpenWithDesktop(this, {destination_, "The destination folder",
                                     "Install a file manager, or open this folder with the one you have: " +
                                         destination_});
}

void CCompletionDlg::OnSaveLog() {
    SaveFileRequest request;
    request.title = "Save the Conversion Log";
    request.wildcard = "Text files (*.txt)|*.txt|All files (*)|*";
    std::string start = remembered::Text(remembered::kLogFolder);
    if (start.empty()) start = destination_;
    request.start_folder = start;
    request.file_name = "ombrik-log.txt";
    request.default_extension = "txt";
    const auto path = prompter_.ChooseSaveFile(this, request);
    if (!path || path->empty()) return;
    const int error = platform::WriteWholeFile(*path, log_, platform::OutputMode::kTruncate);
    if (error != 0) {
        // The folder is remembered only once a log went there.
        prompter_.ShowAppMessage(this, SaveLogFailureText(*path, platform::ErrorText(error)));
        return;
    }
    remembered::Keep(remembered::kLogFolder, platform::Utf8PathText(platform::FileSystemPath(*path).parent_path()));
}

std::string SaveLogFailureText(const std::string& path, const std::string& reason) {
    // The system's words, in the middle of a sentence: "permission denied".
    std::string words = reason;
    if (words.size() > 1 && std::isupper(static_cast<unsigned char>(words[0])) &&
        std::islower(static_cast<unsigned char>(words[1])))
        words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
    return "The log could not be written to " + path + ": " + words + ".\nChoose another folder or name.";
}
