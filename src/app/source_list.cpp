// The source list commands. The rows live in the shared SourceList model (newest on top, no
// path twice, unreadable files left out); the list control shows them.
#include <algorithm>
#include <cctype>
#include <string_view>

#include <wx/listctrl.h>
#include <wx/stattext.h>

#include "app/ombrik_dlg.h"
#include "app/prompter.h"
#include "app/wx_text.h"
#include "platform/paths.h"

namespace {

constexpr const char* kAddFileWildcard = "Outlook Express (*.dbx)|*.dbx|All Files (*.*)|*.*";

bool HasDbxExtension(std::string_view name) {
    // Folder files come from Windows, where the name pattern ignores letter case.
    if (name.size() < 4) return false;
    const std::string_view extension = name.substr(name.size() - 4);
    return std::equal(extension.begin(), extension.end(), ".dbx", [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.find_last_of(platform::kPathSeparator);
    if (slash == std::string::npos) return {};
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

}  // namespace

void COmbrikDlg::FindDbxFiles(const std::string& directory, std::vector<std::string>& found,
                              bool recurse) {
    ::FindDbxFiles(directory, found, recurse);
}

void COmbrikDlg::AddSourceRow(const std::string& path, const std::string& folder_path) {
    if (!sources_.AddSourceRow(path, folder_path)) return;
    const SourceRow& row = sources_.rows().front();
    const long item = source_list_->InsertItem(0, Wx(row.path));
    source_list_->SetItem(item, 1, Wx(row.file_name));
    source_list_->SetItem(item, 2, Wx(row.folder_name));
    source_list_->SetItem(item, 3, Wx(row.type));
}

void COmbrikDlg::UpdateFileCountLabel() { file_count_->SetLabel(Wx(sources_.CountText())); }

void COmbrikDlg::OnAddFile() {
    if (RefuseWhileRunning()) return;
    FileDialogRequest request;
    request.wildcard = kAddFileWildcard;
    request.default_extension = "dbx";
    request.multiple = true;
    if (const auto selection = prompter_.ChooseFiles(this, request)) {
        for (const std::string& path : selection->paths) AddSourceRow(path, selection->folder);
    }
    UpdateFileCountLabel();
}

void COmbrikDlg::OnAddFolder() {
    if (RefuseWhileRunning()) return;
    const auto chosen = prompter_.ChooseFolder(this, kBrowseTitle);
    if (!chosen) return;
    if (!chosen->empty()) {
        std::vector<std::string> found;
        FindDbxFiles(*chosen, found, true);
        for (const std::string& path : found) AddSourceRow(path, *chosen);
    }
    UpdateFileCountLabel();
}

void COmbrikDlg::OnRemoveFile() {
    if (RefuseWhileRunning()) return;
    // The selection mark is the row the user's selection was last anchored on: the focused
    // row, as long as it is selected. Other selected rows stay.
    const long mark = source_list_->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_FOCUSED);
    if (mark >= 0 && source_list_->GetItemState(mark, wxLIST_STATE_SELECTED) != 0) {
        sources_.RemoveRow(static_cast<int>(mark));
        source_list_->DeleteItem(mark);
    }
    UpdateFileCountLabel();
}

void COmbrikDlg::OnClearList() {
    if (RefuseWhileRunning()) return;
    sources_.Clear();
    source_list_->DeleteAllItems();
    UpdateFileCountLabel();
}

void COmbrikDlg::AddDroppedFiles(const std::vector<std::string>& paths) {
    if (RefuseWhileRunning()) return;
    for (const std::string& path : paths) {
        if (HasDbxExtension(platform::LastPathComponent(path))) AddSourceRow(path, ParentFolder(path));
    }
    UpdateFileCountLabel();
}
