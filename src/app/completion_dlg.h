// The end of a conversion: the completion text, one line of counts and every failure in a list
// that scrolls, in a resizable dialog that fits the screen.
#pragma once

#include <string>
#include <vector>

#include <wx/dialog.h>

class JobTally;
class Prompter;

// A count with its thousands grouped: "12,345" (the locale's separator where it has one).
std::string GroupedCount(std::size_t count);
// "Folder files: 2   Messages written: 1,120   Already there: 0   Recovered: 0   Failed: 3"
std::string CompletionCounts(const JobTally& tally);
// The lines above the counts: the completion text, then what the user must not miss: that the
// job was stopped, that nothing at all was converted.
std::vector<std::string> CompletionHeadlines(const JobTally& tally, bool stopped);
// The lines of the list: every failure kept, then every note, then how many failures were
// counted beyond the kept ones.
std::vector<std::string> CompletionLines(const JobTally& tally);
// What Save Log writes: the headlines, the counts and the lines, one per line.
std::string CompletionLog(const JobTally& tally, bool stopped = false);

std::string SaveLogFailureText(const std::string& path, const std::string& reason);

inline const char* const kStoppedHeadline =
    "You stopped the conversion: what is counted here was written in full; the rest was not converted.";
inline const char* const kNothingConvertedHeadline = "Nothing was converted: every folder file or message failed.";

class CCompletionDlg : public wxDialog {
public:
    CCompletionDlg(wxWindow* parent, const JobTally& tally, const std::string& destination,
                   Prompter& prompter, bool stopped = false);

    void OnOpenDestination();
    void OnSaveLog();

private:
    void CreateControls(const JobTally& tally, bool stopped);
    void FitToScreen();

    std::string destination_;
    std::string log_;
    Prompter& prompter_;
    std::vector<std::string> lines_;
};
