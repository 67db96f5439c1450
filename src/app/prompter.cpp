#include "app/prompter.h"

#include <wx/app.h>
#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

#include "app/wx_text.h"
#include "conversion/conversion_window.h"

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

int WxPrompter::ShowMessage(wxWindow* owner, const std::string& text, const std::string& title,
                            unsigned style) {
    wxMessageDialog dialog(owner, Wx(text), Wx(title), MessageDialogStyle(style) | wxCENTRE);
    return dialog.ShowModal();
}

void WxPrompter::ShowAppMessage(wxWindow* owner, const std::string& text) {
    wxMessageBox(Wx(text), wxTheApp ? wxTheApp->GetAppDisplayName() : wxString("Ombrik"),
                 wxOK | wxICON_EXCLAMATION | wxCENTRE, owner);
}

std::optional<std::string> WxPrompter::ChooseFolder(wxWindow* owner, const std::string& title) {
    wxDirDialog dialog(owner, Wx(title), wxEmptyString, wxDD_DEFAULT_STYLE);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    return Utf8(dialog.GetPath());
}

std::optional<FileSelection> WxPrompter::ChooseFiles(wxWindow* owner,
                                                     const FileDialogRequest& request) {
    long style = wxFD_OPEN | wxFD_FILE_MUST_EXIST;
    if (request.multiple) style |= wxFD_MULTIPLE;
    wxFileDialog dialog(owner, wxFileSelectorPromptStr, wxEmptyString, wxEmptyString,
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

void WxPrompter::OpenWithDesktop(const std::string& file_or_url) {
    const wxString target = Wx(file_or_url);
    if (target.StartsWith("http://") || target.StartsWith("https://") || target.StartsWith("mailto:")) {
        wxLaunchDefaultBrowser(target);
    } else {
        wxLaunchDefaultApplication(target);
    }
}
