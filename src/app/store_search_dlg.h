// The dialog shown while a disk is searched for Outlook Express stores. The walk of a large
// disk takes minutes, so it runs on a thread of its own while the window stays live, a bar
// moves and Cancel ends the walk at the next folder.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include <wx/dialog.h>
#include <wx/timer.h>

#include "job/store_finder.h"

class wxButton;
class wxGauge;
class wxStaticText;

inline const char* const kStoreSearchCaption = "Searching for Outlook Express Stores";

// How a disk is searched; the program's is FindOutlookExpressStores. Runs on the worker thread.
using StoreWalker =
    std::function<StoreSearch(const std::string& root, const std::string& codepage, const StoreSearchLimits& limits)>;

class CStoreSearchDlg : public wxDialog {
public:
    CStoreSearchDlg(wxWindow* parent, const std::string& root, const std::string& codepage,
                    StoreWalker walker = FindOutlookExpressStores);
    ~CStoreSearchDlg() override;

    // Starts the walk and waits in a modal loop: wxID_OK when it ended by itself, wxID_CANCEL
    // when the user cancelled it.
    int ShowModal() override;
    // What the walk found; valid once ShowModal has returned.
    const StoreSearch& result() const { return result_; }

    void OnCancel();

private:
    void OnWalkEnded();
    void Join();

    std::string root_;
    std::string codepage_;
    StoreWalker walker_;
    StoreSearch result_;
    std::thread worker_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> walk_ended_{false};
    bool cancelled_ = false;
    wxTimer pulse_;
    wxGauge* gauge_ = nullptr;
    wxStaticText* text_ = nullptr;
    wxButton* cancel_ = nullptr;
};
