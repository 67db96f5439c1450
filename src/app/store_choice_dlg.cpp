#include "app/store_choice_dlg.h"

#include <algorithm>

#include <wx/listctrl.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "app/control_ids.h"
#include "app/wx_text.h"

namespace {

constexpr std::size_t kProblemsNamed = 5;

enum Column { kUser, kIdentity, kFolders, kMessages, kFolder };

}  // namespace

std::string StoreSearchRemarks(const StoreSearch& search) {
    std::string text;
    for (std::size_t i = 0; i < search.problems.size() && i < kProblemsNamed; ++i)
        text += (text.empty() ? "" : "\n") + search.problems[i];
    if (search.problems.size() > kProblemsNamed)
        text += "\n... and " + std::to_string(search.problems.size() - kProblemsNamed) + " more folders that could not be read";
    if (search.truncated) text += std::string(text.empty() ? "" : "\n") + "The search stopped early: the disk holds more folders than it looks through.";
    return text;
}

CStoreChoiceDlg::CStoreChoiceDlg(wxWindow* parent, const std::string& root, const StoreSearch& search)
    : wxDialog(parent, wxID_ANY, Wx(kStoreChoiceCaption), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER) {
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(new wxStaticText(this, wxID_ANY,
                                Wx("Outlook Express stores below " + root + ".\nThe checked stores are added to the list, "
                                   "each folder in its place in the store's folder tree.")),
               0, wxALL, 10);
    list_ = new wxListCtrl(this, ids::kStoreChoiceList, wxDefaultPosition, wxDefaultSize, wxLC_REPORT);
    list_->EnableCheckBoxes();
    list_->AppendColumn("User");
    list_->AppendColumn("Identity");
    list_->AppendColumn("Folders", wxLIST_FORMAT_RIGHT);
    list_->AppendColumn("Messages", wxLIST_FORMAT_RIGHT);
    list_->AppendColumn("Store folder");
    for (std::size_t i = 0; i < search.stores.size(); ++i) {
        const FoundStore& store = search.stores[i];
        const long item = list_->InsertItem(static_cast<long>(i), Wx(store.user.empty() ? "(unknown)" : store.user));
        list_->SetItem(item, kIdentity, Wx(store.identity));
        list_->SetItem(item, kFolders, Wx(std::to_string(store.folders)));
        list_->SetItem(item, kMessages, Wx(std::to_string(store.messages)));
        list_->SetItem(item, kFolder, Wx(store.path));
        list_->SetItemData(item, static_cast<long>(i));
        list_->CheckItem(item, true);
    }
    // Each column as wide as the wider of its heading and its widest cell.
    for (int column = kUser; column <= kFolder; ++column) {
        list_->SetColumnWidth(column, wxLIST_AUTOSIZE_USEHEADER);
        const int heading = list_->GetColumnWidth(column);
        list_->SetColumnWidth(column, wxLIST_AUTOSIZE);
        if (list_->GetColumnWidth(column) < heading) list_->SetColumnWidth(column, heading);
    }
    // Wide enough for the columns, within reason; the list scrolls for the rest.
    int width = 0;
    for (int column = kUser; column <= kFolder; ++column) width += list_->GetColumnWidth(column);
    list_->SetMinSize(FromDIP(wxSize(std::min(std::max(width + 30, 520), 900), 220)));
    sizer->Add(list_, 1, wxLEFT | wxRIGHT | wxEXPAND, 10);
    const std::string remarks = StoreSearchRemarks(search);
    if (!remarks.empty()) sizer->Add(new wxStaticText(this, wxID_ANY, Wx(remarks)), 0, wxLEFT | wxRIGHT | wxTOP, 10);
    sizer->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxALL | wxALIGN_RIGHT, 10);
    if (wxWindow* ok = FindWindow(wxID_OK)) ok->SetLabel("&Add");
    SetSizerAndFit(sizer);
    CentreOnParent();
}

std::vector<std::size_t> CStoreChoiceDlg::chosen() const {
    std::vector<std::size_t> checked;
    for (long item = 0; item < list_->GetItemCount(); ++item)
        if (list_->IsItemChecked(item)) checked.push_back(static_cast<std::size_t>(list_->GetItemData(item)));
    return checked;
}
