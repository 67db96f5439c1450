// The end of a conversion: the completion text, one line of counts and every failure in a list
// that scrolls, in a resizable dialog that fits the screen.
#pragma once

#include <string>
#include <vector>

#include <wx/dialog.h>

class JobTally;
class Prompter;

// "Folder files: 2   Messages written: 120   Already there: 0   Recovered: 0   Failed: 3"
std::string CompletionCounts(const JobTally& tally);
// The lines of the list: every failure kept, then every note, then how many failures were
// counted beyond the kept ones.
std::vector<std::string> CompletionLines(const JobTally& tally);
// What Save Log writes: the completion text, the counts and the lines, one per line.
std::string CompletionLog(const JobTally& tally);

class CCompletionDlg : public wxDialog {
public:
    CCompletionDlg(wxWindow* parent, const JobTally& tally, const std::string& destination,
                   Prompter& prompter);

    void OnOpenDestination();
    void OnSaveLog();

private:
    void CreateControls(const JobTally& tally);
    void FitToScreen();

    std::string destination_;
    std::string log_;
    Prompter& prompter_;
    std::vector<std::string> lines_;
};
