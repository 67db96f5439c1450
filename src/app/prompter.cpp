#include "app/prompter.h"

#include <filesystem>

#include <wx/app.h>
#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>
#include <wx/weakref.h>

#include "app/completion_dlg.h"
#include "app/desktop_opener.h"
#include "app/wx_text.h"
#include "conversion/conversion_window.h"
#include "platform/paths.h"

long MessageDialogStyle(unsigned style) {
    long wx_style = (style & 0x000F) == msgbox::kYesNo ? wxYES_NO : wxOK;
    if ((style & 0x0F00) == msgbox::kDefaultButton2 && (wx_style & wxYES_NO)) wx_style |= wxNO_DEFAULT;
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

std::string WindowTitle(const std::string& title) {
    const std::size_t first = title.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return title.substr(first, title.find_last_not_of(' ') - first + 1);
}

std::string DesktopFailureText(const DesktopRequest& request, const std::string& reason) {
    return request.what + " could not be shown: " + reason + ".\n" + request.instead;
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
    wxMessageDialog dialog(owner, Wx(parts.heading), Wx(WindowTitle(title)), MessageDialogStyle(style) | wxCENTRE);
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
    const long style = wxFD_SAVE | (request.ask_before_replacing ? wxFD_OVERWRITE_PROMPT : 0);
    wxFileDialog dialog(owner, Wx(request.title), Wx(ChooserStartFolder(request.start_folder)),
                        Wx(request.file_name), Wx(request.wildcard), style);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    std::string path = Utf8(dialog.GetPath());
    const std::string extension = "." + request.default_extension;
    if (!request.default_extension.empty() && wxFileName(dialog.GetPath()).GetExt().empty()) path += extension;
    return path;
}

void WxPrompter::OpenWithDesktop(wxWindow* owner, const DesktopRequest& request) {
    // The answer may come when the dialog that asked is gone; the message then has no owner.
    wxWeakRef<wxWindow> asked_from(owner);
    OpenWithDesktopProgram(request.target, [this, asked_from, request](const std::string& reason) {
        ShowMessage(asked_from.get(), DesktopFailureText(request, reason), kMessageTitle,
                    msgbox::kOk | msgbox::kIconExclamation);
    });
}

void WxPrompter::ShowJobSummary(wxWindow* owner, const JobTally& tally, const std::string& destination,
                                bool stopped) {
    CCompletionDlg dialog(owner, tally, destination, *this, stopped);
    dialog.ShowModal();
}
