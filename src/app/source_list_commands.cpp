// The source list commands. The rows live in the shared SourceList model (newest on top, no
// path twice, unreadable files left out); the list control shows them.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string_view>

#include <wx/listctrl.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include "app/ombrik_dlg.h"
#include "app/prompter.h"
#include "app/remembered.h"
#include "app/store_choice_dlg.h"
#include "app/wx_text.h"
#include "conversion/job_settings.h"
#include "job/store_finder.h"
#include "platform/directory.h"
#include "platform/disks.h"
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
    const std::size_t slash = path.find_last_of(platform::kPathSeparators);
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
    request.title = kAddFileTitle;
    request.start_folder = remembered::Text(remembered::kAddFileFolder);
    const auto selection = prompter_.ChooseFiles(this, request);
    RestoreFocus();
    if (selection) {
        // A path typed into the chooser may lie anywhere: each row names its own file's folder,
        // not the folder the chooser happened to show.
        for (const std::string& path : selection->paths) AddSourceRow(path, ParentFolder(path));
        if (!selection->paths.empty())
            remembered::Keep(remembered::kAddFileFolder, ParentFolder(selection->paths.front()));
    }
    UpdateFileCountLabel();
}

void COmbrikDlg::AddFolderRows(const std::string& folder) {
    std::vector<std::string> found;
    FindDbxFiles(folder, found, true);
    if (found.empty()) {
        TellUser("No Outlook Express folder file (.dbx) was found in\n" + folder);
        return;
    }
    for (const std::string& path : found) AddSourceRow(path, ParentFolder(path));
}

bool IsStoreFolder(const std::string& folder) {
    // An Outlook Express store is the folder that holds the folder list, whatever its case.
    const auto names = platform::ListDirectory(folder);
    if (!names) return false;
    return std::any_of(names->begin(), names->end(), [](const std::string& name) {
        return name.size() == 11 && std::equal(name.begin(), name.end(), "folders.dbx", [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) == b;
               });
    });
}

void COmbrikDlg::OnAddFolder() {
    if (RefuseWhileRunning()) return;
    const auto chosen = prompter_.ChooseFolder(this, kAddFolderTitle, remembered::Text(remembered::kAddFolderFolder));
    RestoreFocus();
    if (!chosen) return;
    if (!chosen->empty()) {
        remembered::Keep(remembered::kAddFolderFolder, *chosen);
        // A whole store added file by file loses its folder tree and lists the files that hold
        // no mail: offer to add it as the store it is.
        if (IsStoreFolder(*chosen) &&
            prompter_.ShowMessage(this, StoreFolderQuestion(*chosen), kMessageTitle,
                                  msgbox::kYesNo | msgbox::kIconQuestion) == wxID_YES) {
            RestoreFocus();
            AddStoreFromFolder(*chosen);
            return;
        }
        RestoreFocus();
        AddFolderRows(*chosen);
    }
    UpdateFileCountLabel();
}

std::string StoreFolderQuestion(const std::string& folder) {
    return "This folder is a whole Outlook Express store: it holds the folder list, Folders.dbx.\n" + folder +
           "\n\nAdd it with Add Outlook Express Store, each folder named and placed as Outlook Express "
           "showed it? (No adds its .dbx files one by one, the folder list among them.)";
}

int COmbrikDlg::AddStoreRows(const std::string& directory, std::vector<std::string>& notes) {
    std::vector<std::string> store_notes;
    const int added = sources_.AddStore(directory, settings_.codepage, &store_notes);
    // The model put the store's rows on top in its tree order; the list shows them the same way.
    for (int i = added - 1; i >= 0; --i) {
        const SourceRow& row = sources_.rows()[static_cast<std::size_t>(i)];
        const long item = source_list_->InsertItem(0, Wx(row.path));
        source_list_->SetItem(item, 1, Wx(row.file_name));
        source_list_->SetItem(item, 2, Wx(row.folder_name));
        source_list_->SetItem(item, 3, Wx(row.type));
    }
    if (added == 0) notes.push_back("No mail folder to add was found in " + directory + ".");
    notes.insert(notes.end(), store_notes.begin(), store_notes.end());
    return added;
}

void COmbrikDlg::TellStoreNotes(const std::string& heading, const std::vector<std::string>& notes) {
    if (notes.empty()) return;
    constexpr std::size_t kNamed = 12;
    std::string text = heading;
    for (std::size_t i = 0; i < notes.size() && i < kNamed; ++i) text += "\n" + notes[i];
    if (notes.size() > kNamed) text += "\n... and " + std::to_string(notes.size() - kNamed) + " more";
    TellUser(text);
}

void COmbrikDlg::OnAddStore() {
    if (RefuseWhileRunning()) return;
    const auto chosen = prompter_.ChooseFolder(this, kAddStoreTitle, remembered::Text(remembered::kAddStoreFolder));
    RestoreFocus();
    if (!chosen || chosen->empty()) return;
    remembered::Keep(remembered::kAddStoreFolder, *chosen);
    AddStoreFromFolder(*chosen);
}

void COmbrikDlg::AddStoreFromFolder(const std::string& directory) {
    std::vector<std::string> notes;
    const int added = AddStoreRows(directory, notes);
    UpdateFileCountLabel();
    TellStoreNotes("Added " + std::to_string(added) + (added == 1 ? " folder" : " folders") + " of the store " +
                       directory + ".",
                   notes);
}

void COmbrikDlg::OnFindStores() {
    if (RefuseWhileRunning()) return;
    // Outlook Express kept its stores in the users' profiles: the search starts there unless
    // another folder was searched before.
    const std::string last_searched = remembered::Text(remembered::kFindStoresFolder);
    const auto root =
        prompter_.ChooseFolder(this, kFindStoresTitle, last_searched.empty() ? platform::LocalProfilesFolder() : last_searched);
    RestoreFocus();
    if (!root || root->empty()) return;
    remembered::Keep(remembered::kFindStoresFolder, *root);
    StoreSearch search;
    {
        // The walk runs off the UI thread; the window waits in the dialog, which Cancel ends.
        CStoreSearchDlg searching(this, *root, settings_.codepage, store_walker_);
        const int ended = searching.ShowModal();
        RestoreFocus();
        if (ended != wxID_OK) return;
        search = searching.result();
    }
    if (search.stores.empty()) {
        const std::string remarks = StoreSearchRemarks(search);
        // An old disk is usually another drive letter: name the ones there are.
        std::string drives;
        for (const std::string& drive : platform::OtherDriveRoots())
            if (root->rfind(drive, 0) != 0) drives += (drives.empty() ? "" : ", ") + drive;
        TellUser("No Outlook Express store was found below\n" + *root + (remarks.empty() ? "" : "\n" + remarks) +
                 (drives.empty() ? "" : "\nOther drives to search: " + drives));
        return;
    }
    CStoreChoiceDlg dialog(this, *root, search);
    const int answer = dialog.ShowModal();
    RestoreFocus();
    if (answer != wxID_OK) return;
    std::vector<std::string> notes;
    int added = 0;
    for (std::size_t index : dialog.chosen()) {
        std::vector<std::string> store_notes;
        added += AddStoreRows(search.stores[index].path, store_notes);
        if (store_notes.empty()) continue;
        notes.push_back(search.stores[index].path + ":");
        for (const std::string& note : store_notes) notes.push_back("  " + note);
    }
    UpdateFileCountLabel();
    TellStoreNotes("Added " + std::to_string(added) + (added == 1 ? " folder." : " folders."), notes);
}

void COmbrikDlg::OnRemoveFile() {
    if (RefuseWhileRunning()) return;
    // Every selected row goes, from the bottom up so the indexes still ahead stay valid.
    std::vector<long> selected;
    for (long item = source_list_->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); item >= 0;
         item = source_list_->GetNextItem(item, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED)) {
        selected.push_back(item);
    }
    if (selected.empty()) {
        TellUser(kNothingSelectedText);
        return;
    }
    for (auto row = selected.rbegin(); row != selected.rend(); ++row) {
        sources_.RemoveRow(static_cast<int>(*row));
        source_list_->DeleteItem(*row);
    }
    UpdateFileCountLabel();
}

void COmbrikDlg::OnListKey(wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_DELETE || event.GetKeyCode() == WXK_NUMPAD_DELETE) {
        OnRemoveFile();
        return;
    }
    event.Skip();
}

void COmbrikDlg::OnClearList() {
    if (RefuseWhileRunning()) return;
    sources_.Clear();
    source_list_->DeleteAllItems();
    UpdateFileCountLabel();
}

void COmbrikDlg::AddDroppedFiles(const std::vector<std::string>& paths) {
    if (RefuseWhileRunning()) return;
    std::vector<std::string> refused;
    for (const std::string& path : paths) {
        if (platform::IsDirectory(path)) {
            AddFolderRows(path);
        } else if (HasDbxExtension(platform::LastPathComponent(path))) {
            AddSourceRow(path, ParentFolder(path));
        } else {
            refused.push_back(path);
        }
    }
    UpdateFileCountLabel();
    if (refused.empty()) return;
    std::string text = refused.size() == 1 ? "This file is not an Outlook Express folder file (.dbx) and was not added:"
                                           : "These files are not Outlook Express folder files (.dbx) and were not added:";
    constexpr std::size_t kNamed = 10;
    for (std::size_t i = 0; i < refused.size() && i < kNamed; ++i) text += "\n" + refused[i];
    if (refused.size() > kNamed) text += "\n... and " + std::to_string(refused.size() - kNamed) + " more";
    TellUser(text);
}
