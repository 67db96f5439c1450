// Every modal question the desktop program asks goes through a Prompter, so that GUI tests can
// script the answers instead of waiting for a person.
#pragma once

#include <optional>
#include <string>
#include <vector>

class JobTally;
class wxWindow;

// Files chosen in an open-file dialog: the folder shown by the dialog and the full paths.
struct FileSelection {
    std::string folder;
    std::vector<std::string> paths;
};

struct FileDialogRequest {
    std::string wildcard;           // wx syntax: "Label|*.ext|Label|*.*"
    std::string default_extension;  // without the dot
    bool multiple = false;
    std::string title;              // what is being chosen
    std::string start_folder;       // where the dialog opens; empty: the home folder
};

struct SaveFileRequest {
    std::string title;
    std::string wildcard;
    std::string start_folder;
    std::string file_name;  // proposed name
    std::string default_extension;  // without the dot; added to a name typed without one
    // False where an existing file is added to rather than replaced (a store).
    bool ask_before_replacing = true;
};

// Something the desktop is asked to show, and what the user can do when it cannot.
struct DesktopRequest {
    std::string target;   // a file, a folder or a web address
    std::string what;     // "The help pages"
    std::string instead;  // "Open this file in any web browser: ..."
};

class Prompter {
public:
    virtual ~Prompter() = default;
    // A message box with a Windows style value (msgbox:: bits); returns wxID_OK, wxID_YES or
    // wxID_NO. The title is the system's own text; blanks around it are not drawn.
    virtual int ShowMessage(wxWindow* owner, const std::string& text, const std::string& title,
                            unsigned style) = 0;
    // The framework's plain message box: OK button, the application's name as title.
    virtual void ShowAppMessage(wxWindow* owner, const std::string& text) = 0;
    // A folder chooser opening at start_folder (the home folder when empty); nullopt when
    // cancelled. An empty text stands for a place with no path.
    virtual std::optional<std::string> ChooseFolder(wxWindow* owner, const std::string& title,
                                                    const std::string& start_folder) = 0;
    // An open-file dialog; nullopt when cancelled.
    virtual std::optional<FileSelection> ChooseFiles(wxWindow* owner,
                                                     const FileDialogRequest& request) = 0;
    // A save-file dialog (asking before replacing a file, unless told not to); nullopt when
    // cancelled.
    virtual std::optional<std::string> ChooseSaveFile(wxWindow* owner, const SaveFileRequest& request) = 0;
    // Hands a file or an address to the desktop's program for it; when that fails, now or once
    // the desktop has tried, says so with what to do instead (DesktopFailureText).
    virtual void OpenWithDesktop(wxWindow* owner, const DesktopRequest& request) = 0;
    // The end of a conversion: its counts and failures, with the destination folder to open;
    // stopped when the user stopped the job before its end.
    virtual void ShowJobSummary(wxWindow* owner, const JobTally& tally, const std::string& destination,
                                bool stopped) = 0;
};

// The prompter of a normal run: real wxWidgets dialogs and the desktop's launcher.
class WxPrompter : public Prompter {
public:
    int ShowMessage(wxWindow* owner, const std::string& text, const std::string& title,
                    unsigned style) override;
    void ShowAppMessage(wxWindow* owner, const std::string& text) override;
    std::optional<std::string> ChooseFolder(wxWindow* owner, const std::string& title,
                                            const std::string& start_folder) override;
    std::optional<FileSelection> ChooseFiles(wxWindow* owner,
                                             const FileDialogRequest& request) override;
    std::optional<std::string> ChooseSaveFile(wxWindow* owner, const SaveFileRequest& request) override;
    void OpenWithDesktop(wxWindow* owner, const DesktopRequest& request) override;
    void ShowJobSummary(wxWindow* owner, const JobTally& tally, const std::string& destination,
                        bool stopped) override;
};

// "The help pages could not be shown: no program to show it is installed." and, below, what to
// do instead.
std::string DesktopFailureText(const DesktopRequest& request, const std::string& reason);

// A title as the window manager draws it: the blanks around the text trimmed, which it would
// otherwise draw, cutting the words to make room for them.
std::string WindowTitle(const std::string& title);

// wxMessageDialog style bits for a Windows message box style value.
long MessageDialogStyle(unsigned style);

// A message of several lines shown as a heading (its first line) and the details below it.
struct MessageParts {
    std::string heading;
    std::string details;
};
MessageParts SplitMessage(const std::string& text);

// Where a chooser opens: the remembered folder when it still exists, else the home folder.
std::string ChooserStartFolder(const std::string& remembered);
