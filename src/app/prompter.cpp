#include "app/prompter.h"

#include <filesystem>

#include <wx/app.h>
#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

#include "app/completion_dlg.h"
#include "app/wx_text.h"
#include "conversion/conversion_window.h"
#include "platform/paths.h"

long MessageDialogStyle(unsigned style) {
    long wx_style = (style & 0x000F) == msgbox::kYesNo ? wxYES_NO : wxOK;
    switch (style & 0x00F0) {
    case msgbox::kIconQuestion: wx_style |= wxICON_QUESTION; break;
    case msgbox::kIconExclamation: wx_style |= wxICON_EXCLAMATION; break;
    case 0x0010: wx_style |= wxICON_ERROR; break;
    case 0x0040: wx_style |= wxICON_INFORMATION; break;
    default: break;
    }
    // A system-modal box should not disappear behind other windows.
    if (style & msgbox::kSystemModal) wx_style |= wxSTAY_ON_TOP;
    return wx_style;
}

MessageParts SplitMessage(const std::string& text) {
    std::string trimmed = text;
    while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r')) trimmed.pop_back();
    const std::size_t end = trimmed.find('\n');
    if (end == std::string::npos) return {trimmed, {}};
    std::string heading = trimmed.substr(0, end);
    if (!heading.empty() && heading.back() == '\r') heading.pop_back();
    std::size_t rest = end + 1;
    while (rest < trimmed.size() && (trimmed[rest] == '\n' || trimmed[rest] == '\r')) ++rest;
    return {heading, trimmed.substr(rest)};
}

std::string ChooserStartFolder(const std::string& remembered) {
    if (!remembered.empty() && platform::IsDirectory(remembered)) return remembered;
    return Utf8(wxGetHomeDir());
}

int WxPrompter::ShowMessage(wxWindow* owner, const std::string& text, const std::string& title,
                            unsigned style) {
    // GTK shows the heading in bold and wraps the details under it, so a long path and its
    // reason stay readable instead of stretching one line across the screen.
    const MessageParts parts = SplitMessage(text);
    wxMessageDialog dialog(owner, Wx(parts.heading), Wx(title), MessageDialogStyle(style) | wxCENTRE);
    if (!parts.details.empty()) dialog.SetExtendedMessage(Wx(parts.details));
    return dialog.ShowModal();
}

void WxPrompter::ShowAppMessage(wxWindow* owner, const std::string& text) {
    wxMessageBox(Wx(text), wxTheApp ? wxTheApp->GetAppDisplayName() : wxString("Ombrik"),
                 wxOK | wxICON_EXCLAMATION | wxCENTRE, owner);
}

std::optional<std::string> WxPrompter::ChooseFolder(wxWindow* owner, const std::string& title,
                                                    const std::string& start_folder) {
    wxDirDialog dialog(owner, Wx(title), Wx(ChooserStartFolder(start_folder)), wxDD_DEFAULT_STYLE);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    return Utf8(dialog.GetPath());
}

std::optional<FileSelection> WxPrompter::ChooseFiles(wxWindow* owner,
                                                     const FileDialogRequest& request) {
    long style = wxFD_OPEN | wxFD_FILE_MUST_EXIST;
    if (request.multiple) style |= wxFD_MULTIPLE;
    // A start folder keeps GTK out of its "Recent" view, where a typed path does nothing.
    wxFileDialog dialog(owner, request.title.empty() ? wxString(wxFileSelectorPromptStr) : Wx(request.title),
                        Wx(ChooserStartFolder(request.start_folder)), wxEmptyString,
                        Wx(request.wildcard), style);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    FileSelection selection;
    selection.folder = Utf8(dialog.GetDirectory());
    wxArrayString paths;
    if (request.multiple) {
        dialog.GetPaths(paths);
    } else {
        paths.Add(dialog.GetPath());
    }
    for (const wxString& path : paths) selection.paths.push_back(Utf8(path));
    return selection;
}

std::optional<std::string> WxPrompter::ChooseSaveFile(wxWindow* owner, const SaveFileRequest& request) {
    wxFileDialog dialog(owner, Wx(request.title), Wx(ChooserStartFolder(request.start_folder)),
                        Wx(request.file_name), Wx(request.wildcard), wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    return Utf8(dialog.GetPath());
}

bool WxPrompter::OpenWithDesktop(const std::string& file_or_url) {
    const wxString target = Wx(file_or_url);
    if (target.StartsWith("http://") || target.StartsWith("https://") || target.StartsWith("mailto:")) {
        return wxLaunchDefaultBrowser(target);
    }
    return wxLaunchDefaultApplication(target);
}

void WxPrompter::ShowJobSummary(wxWindow* owner, const JobTally& tally, const std::string& destination) {
    CCompletionDlg dialog(owner, tally, destination, *this);
    dialog.ShowModal();
}
