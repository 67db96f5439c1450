// "Find Outlook Express Stores on a Disk...": the stores found below the chosen folder, each
// with its user, identity, folders and messages, and a check box; the checked ones are added.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <wx/dialog.h>

#include "job/store_finder.h"

class wxListCtrl;

inline const char* const kStoreChoiceCaption = "Outlook Express Stores Found";

class CStoreChoiceDlg : public wxDialog {
public:
    CStoreChoiceDlg(wxWindow* parent, const std::string& root, const StoreSearch& search);
    // The indexes (into search.stores) of the checked stores, in the list's order.
    std::vector<std::size_t> chosen() const;

private:
    wxListCtrl* list_ = nullptr;
};

// The line under the list: folders that could not be searched, and a walk cut short.
std::string StoreSearchRemarks(const StoreSearch& search);
