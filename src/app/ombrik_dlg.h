// The main window: source list, destination, saving options, status line and progress bar,
// Convert Messages and Exit, and the menus.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <wx/frame.h>
#include <wx/timer.h>

#include "app/anchored_layout.h"
#include "app/conversion_bridge.h"
#include "app/store_search_dlg.h"
#include "job/source_list.h"

class JobControl;
class CProgressBar;
class JobTally;
class OutlookProbe;
class Prompter;
struct JobSettings;
class wxButton;
class wxListCtrl;
class wxPanel;
class wxScrolledWindow;
class wxRadioButton;
class wxStaticBitmap;
class wxStaticText;
class wxTextCtrl;

inline const char* const kMainCaption = "Ombrik: Full Version 2.0 (Outlook 32-bit Supported)";
inline const char* const kExitQuestion = "Do you want to Exit ?       ";
inline const char* const kExitTitle = " Corvanti Ombrik       ";
inline const char* const kOutlookMissingText =
    "MS Outlook is not installed !. Please Install MS- Outlook On your machine.";
inline const char* const kBitnessMismatchText = "Mis Match Outlook Bitness & Software Bitness.";
inline const char* const kEmptyListText = "Please add dbx file";
inline const char* const kNoDestinationText = "Please Select Destination Path:";
// The destination chosen earlier is gone (a removed folder, an unplugged disk) or closed to us.
std::string DestinationGoneText(const std::string& path);
std::string DestinationNotWritableText(const std::string& path, const std::string& reason);
inline const char* const kBrowseTitle = "Select the Destination Path";
inline const char* const kAddFileTitle = "Select Outlook Express Folder Files (.dbx)";
inline const char* const kAddFolderTitle = "Select a Folder Holding Outlook Express Folder Files (.dbx)";
inline const char* const kAddStoreTitle = "Select the Folder of an Outlook Express Store (it holds Folders.dbx)";
inline const char* const kFindStoresTitle = "Select a Disk or Folder to Search for Outlook Express Stores";
// What the status line says from the moment the user asked to stop until the job has ended.
inline const char* const kStoppingText = "stopping after the current message ...";
inline const char* const kConvertLabel = "Con&vert Messages";
inline const char* const kStopLabel = "&Stop";
inline const char* const kNothingSelectedText =
    "No row is selected.\nClick the rows to remove (Ctrl+click for several), then Remove File.";
inline const char* const kWebsiteAddress = "https://www.corvanti.example/";
inline const char* const kOnlineHelpAddress = "https://www.corvanti.example/ombrik/help/";

// True for a folder holding an Outlook Express store's folder list (Folders.dbx, any case).
bool IsStoreFolder(const std::string& folder);
// What Add Folder asks when the chosen folder is a whole store.
std::string StoreFolderQuestion(const std::string& folder);

// "eml", "mbox", ... for a saving-option radio button; nullptr for any other control.
const char* SavingOptionForControl(int control_id);

// The main window is a frame rather than a dialog because only frames carry a menu bar in
// wxWidgets; it keeps the behaviour of the dialog it was designed as (Enter converts, Esc and
// the close box ask before leaving), opens at the template's size and can be resized, the list
// growing with it.
class COmbrikDlg : public wxFrame {
public:
    COmbrikDlg(JobSettings& settings, Prompter& prompter, const OutlookProbe& probe,
               JobControl& jobs);
    ~COmbrikDlg() override;

    // Commands, as the buttons and menus call them.
    void OnConvertMessages();
    // The Convert button while a job runs: the job ends after the message being written and
    // the summary shows what was done; the window stays.
    void OnStopConversion();
    void OnExit();
    void OnAddFile();
    void OnAddFolder();
    void OnRemoveFile();
    void OnClearList();
    void OnBrowseDestination();
    void OnSavingOption(int control_id);
    void OnAbout();
    void OnSoftwareHelp();
    void OnOnlineHelp();
    void OnCodePageOfOldMessages();
    // The File menu's check item: the job also writes what a scan of each folder file finds.
    void OnRecoverChoice();
    void OnManifestChoice();
    void OnSkipDuplicatesChoice();
    void OnExtractAttachmentsChoice();
    void OnAddStore();
    void OnFindStores();
    // File > Upload to a Mail Server (IMAP)...: the account, then the job over the list.
    void OnUploadToMailServer();

    // Source list operations.
    void AddSourceRow(const std::string& path, const std::string& folder_path);
    static void FindDbxFiles(const std::string& directory, std::vector<std::string>& found,
                             bool recurse);
    void UpdateFileCountLabel();
    // Paths dropped on the list: .dbx files are added as Add File adds them, folders as Add
    // Folder adds them; anything else is named in a message.
    void AddDroppedFiles(const std::vector<std::string>& paths);

    std::string ProbeOutlookBitness() const;

    // What ends the program once Exit is confirmed and no conversion is left running.
    void SetEndProcessHandler(std::function<void()> handler) { end_process_ = std::move(handler); }
    const std::string& start_directory() const { return start_directory_; }
    // Where "Software Help" finds the shipped help pages when no Ombrik.chm is present.
    void SetHelpDirectory(const std::string& directory) { help_directory_ = directory; }
    // How Find Stores walks a disk (the finder unless replaced, as tests do to hold a walk).
    void SetStoreWalker(StoreWalker walker) { store_walker_ = std::move(walker); }
    bool IsJobRunning() const;
    bool IsLeaving() const { return leaving_; }
    bool IsStopping() const { return stopping_; }
    // The control the window draws a focus ring around (the list or the link), if any.
    const wxWindow* FocusRingAround() const { return ringed_; }
    ConversionBridge& conversion_window() { return bridge_; }

    // The UI-thread side of the conversion window; the bridge calls them.
    int RowCountNow() const;
    std::string RowTextNow(int row, int column) const;
    std::vector<std::string> RowStorePathNow(int row) const;
    void SetProgressNow(int position);
    void SetStatusTextNow(const std::string& text);
    void ShowJobMessageNow(const std::string& text, const std::string& title, unsigned style);
    void RunPstOptionsDialogNow(JobSettings& settings);
    void ShowJobProgressNow(const std::string& folder_path, std::size_t message, std::size_t message_count);
    void ShowJobSummaryNow(const JobTally& tally);
    // The last position the job gave the bar, whether or not the bar shows it.
    int last_job_position() const { return last_job_position_; }
    // Called from the worker once the job is over; picks up the end on the UI thread.
    void NoteJobFinished();

private:
    void CreateMenus();
    void ShowCodePage();
    void CreateControls();
    void CreateUpperControls();
    void CreateButtonStrip();
    void CreateStatusArea();
    void SetStatusFieldWidths();
    void PlaceProgressBar();
    void BindCommands();
    wxRect Dlu(int x, int y, int width, int height) const;
    void OnCharHook(wxKeyEvent& event);
    // Alt and the underlined letter of a label: the focus goes to the control it names.
    bool FollowLabelMnemonic(const wxKeyEvent& event);
    void OnListKey(wxKeyEvent& event);
    // The list and the link draw no focus of their own (an empty list shows nothing at all):
    // the window draws a ring around the one that has it.
    void UpdateFocusRing();
    void DrawFocusRing(wxWindow& parent);
    // The controls follow the window: the list takes the extra room, the rest keeps to its
    // edges; below the smallest layout the upper part scrolls, Convert and Exit stay in view.
    void LayOutUpperPart();
    void LayOutButtonStrip();
    // The template's size, or the size the user left the window at, within the screen.
    void FitToDisplay();
    wxRect DisplayArea() const;
    void KeepOnScreen();
    void OnFirstShow(wxShowEvent& event);
    // The window's size, kept for the next run (in dialog units, so a change of font scale
    // keeps its proportions).
    void KeepWindowSize();
    wxSize RememberedClientSize() const;
    void LoadRememberedChoices();
    void ShowStatusLines();
    // Gives the keyboard focus back to the window after a job or a dialog took it.
    void RestoreFocus();
    // After a job or a dialog of the job: never on Exit, where a second Enter would leave.
    void FocusAfterJob();
    void AddFolderRows(const std::string& folder);
    // Adds the mail folders of the store in directory on top of the list; notes gets what the
    // user should hear of it. Returns the rows added.
    int AddStoreRows(const std::string& directory, std::vector<std::string>& notes);
    void TellStoreNotes(const std::string& heading, const std::vector<std::string>& notes);
    void AddStoreFromFolder(const std::string& directory);
    void TellUser(const std::string& text);
    void OnClose(wxCloseEvent& event);
    void OnJobTimer(wxTimerEvent& event);
    void OnJobEnded();
    // Convert, the list commands, Browse and the saving options stay still while a job runs.
    void EnableJobInputs(bool enable);
    // The Convert button is the Stop button while a job runs.
    void ShowConvertOrStop(bool running);
    void BeginStopping();
    bool RefuseWhileRunning();
    void ShowPreflightMessage(const std::string& text);
    // After the other checks: the destination still exists and takes files; says why not.
    bool CheckDestinationStillThere();
    void EndProcess();
    // After an upload: the saving option the window shows is the job's again, the password goes.
    void EndUpload();

    JobSettings& settings_;
    Prompter& prompter_;
    const OutlookProbe& probe_;
    JobControl& jobs_;
    ConversionBridge bridge_;
    std::function<void()> end_process_;
    std::string start_directory_;
    std::string help_directory_;
    StoreWalker store_walker_ = FindOutlookExpressStores;
    bool leaving_ = false;
    bool job_active_ = false;
    // Stop or a confirmed Exit was asked for; the job has not ended yet.
    bool stopping_ = false;
    wxTimer job_timer_;
    // A menu that is open takes Esc for itself; so does one that closed a moment ago, as GTK
    // may pass on the key press that closed it.
    bool fitted_after_show_ = false;
    bool fitting_ = false;
    bool menu_open_ = false;
    bool laying_out_ = false;
    wxLongLong menu_closed_at_ = 0;
    // "Inbox.dbx: message 5 of 120" while a folder file's count is known; the job's own text.
    std::string progress_line_;
    std::optional<std::string> option_before_upload_;  // while an upload runs: the saving option to return to
    std::string job_text_;
    int last_job_position_ = 0;

    wxScrolledWindow* panel_ = nullptr;
    wxPanel* strip_ = nullptr;
    AnchoredLayout upper_layout_;
    AnchoredLayout strip_layout_;
    // The template's upper part (everything above Convert and Exit) and how much smaller than
    // it the layout may get before the part scrolls, in pixels.
    wxSize upper_template_;
    wxSize upper_least_extra_;
    wxSize last_upper_extra_{-1000000, -1000000};
    // The path column's width at the template size and the least it may have (its heading).
    wxSize path_column_;
    wxStaticBitmap* header_ = nullptr;
    wxRect header_rect_;
    wxWindow* link_line_ = nullptr;
    wxWindow* ringed_ = nullptr;
    wxButton* convert_ = nullptr;
    wxButton* exit_ = nullptr;
    wxListCtrl* source_list_ = nullptr;
    wxStaticText* status_line_ = nullptr;
    wxStaticText* file_count_ = nullptr;
    wxTextCtrl* destination_box_ = nullptr;
    CProgressBar* progress_bar_ = nullptr;
    std::vector<wxWindow*> job_inputs_;
    SourceList sources_;
};
