// The PST options dialog: one new store per folder file, one new store for all, or an existing
// store. It leaves its answer in the job settings, which the PST export reads.
#pragma once

#include <wx/dialog.h>

class Prompter;
struct JobSettings;
class wxButton;
class wxRadioButton;
class wxTextCtrl;

inline const char* const kSavePstCaption = "Save PST Option";
inline const char* const kSelectPstPathText = "Please select destination pst file path";
inline const char* const kNewStoreName = "NewPST.pst";

class CSavePSTOption : public wxDialog {
public:
    CSavePSTOption(wxWindow* parent, JobSettings& settings, Prompter& prompter);

    // Command handlers, as the controls call them.
    void OnSeparateStores();
    void OnSingleNewStore();
    void OnExistingStore();
    void OnBrowseNewStore();
    void OnBrowseExistingStore();
    void OnConvert();
    void OnCancelDialog();

private:
    wxRect Dlu(int x, int y, int width, int height) const;
    void CreateControls();
    // The mode and the stores of the last accepted answer, chosen again (a store that has gone
    // since is not).
    void PreselectRemembered();
    void RememberAnswer();
    void EnableNewStore(bool enable);
    void EnableExistingStore(bool enable);
    void EndDialog(int code);

    JobSettings& settings_;
    Prompter& prompter_;
    wxTextCtrl* new_store_path_ = nullptr;
    wxButton* new_store_browse_ = nullptr;
    wxTextCtrl* existing_store_path_ = nullptr;
    wxButton* existing_store_browse_ = nullptr;
};
