#include "app/store_search_dlg.h"

#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "app/control_ids.h"
#include "app/dialog_units.h"
#include "app/wx_text.h"

CStoreSearchDlg::CStoreSearchDlg(wxWindow* parent, const std::string& root, const std::string& codepage,
                                 StoreWalker walker)
    : wxDialog(parent, wxID_ANY, Wx(kStoreSearchCaption)),
      root_(root),
      codepage_(codepage),
      walker_(std::move(walker)),
      pulse_(this) {
    const DialogUnits du(*this);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    text_ = new wxStaticText(this, ids::kStoreSearchText, Wx("Looking for Outlook Express stores below\n" + root),
                             wxDefaultPosition, wxDefaultSize, wxST_ELLIPSIZE_MIDDLE);
    sizer->Add(text_, 0, wxALL | wxEXPAND, du.X(7));
    gauge_ = new wxGauge(this, ids::kStoreSearchGauge, 100, wxDefaultPosition, du.Size(200, 10));
    sizer->Add(gauge_, 0, wxLEFT | wxRIGHT | wxEXPAND, du.X(7));
    cancel_ = new wxButton(this, wxID_CANCEL, "&Cancel");
    sizer->Add(cancel_, 0, wxALL | wxALIGN_RIGHT, du.X(7));
    SetSizerAndFit(sizer);
    SetEscapeId(wxID_NONE);  // Esc and the close box go through OnCancel too
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCancel(); }, wxID_CANCEL);
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { OnCancel(); });
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
        if (event.GetKeyCode() == WXK_ESCAPE) {
            OnCancel();
            return;
        }
        event.Skip();
    });
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
        if (walk_ended_) {
            OnWalkEnded();
            return;
        }
        gauge_->Pulse();
    });
    CentreOnParent();
}

CStoreSearchDlg::~CStoreSearchDlg() {
    stop_ = true;
    Join();
}

void CStoreSearchDlg::Join() {
    if (worker_.joinable()) worker_.join();
}

int CStoreSearchDlg::ShowModal() {
    if (worker_.joinable()) return wxID_CANCEL;  // one walk per dialog
    stop_ = false;
    walk_ended_ = false;
    cancelled_ = false;
    worker_ = std::thread([this] {
        StoreSearchLimits limits;
        limits.keep_going = [this] { return !stop_.load(); };
        // The worker never touches the toolkit: it only raises a flag, which the bar's timer
        // looks at on the UI thread; the result is read after that.
        result_ = walker_(root_, codepage_, limits);
        walk_ended_ = true;
    });
    pulse_.Start(50);
    const int answer = wxDialog::ShowModal();
    pulse_.Stop();
    Join();
    return answer;
}

void CStoreSearchDlg::OnCancel() {
    if (cancelled_ || !worker_.joinable()) return;
    cancelled_ = true;
    stop_ = true;
    // The walk ends at its next folder; the dialog waits for it so that nothing runs on.
    cancel_->Disable();
    text_->SetLabel(Wx("Stopping the search below\n" + root_));
}

void CStoreSearchDlg::OnWalkEnded() {
    if (!IsModal()) return;
    pulse_.Stop();
    EndModal(cancelled_ || result_.stopped ? wxID_CANCEL : wxID_OK);
}
