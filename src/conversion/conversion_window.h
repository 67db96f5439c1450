// What a running conversion needs from the window (or terminal) that started it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "conversion/job_tally.h"

struct JobSettings;

// Message box style bits, as the Windows values the dialogs were designed with.
namespace msgbox {
constexpr unsigned kOk = 0x0000;
constexpr unsigned kYesNo = 0x0004;
constexpr unsigned kIconQuestion = 0x0020;
constexpr unsigned kIconExclamation = 0x0030;
constexpr unsigned kSystemModal = 0x1000;
// The second button (No) is the default one.
constexpr unsigned kDefaultButton2 = 0x0100;
// Every message of the job and the exporters: OK button, question icon, system modal.
constexpr unsigned kJobMessage = kSystemModal | kIconQuestion;
}  // namespace msgbox

inline const char* const kMessageTitle = "Corvanti Ombrik   ";
inline const char* const kCompletionText = "conversion process completed";

class ConversionWindow {
public:
    virtual ~ConversionWindow() = default;
    virtual int RowCount() = 0;
    virtual std::string RowText(int row, int column) = 0;  // UTF-8; column 0 path, 1 file name
    virtual void SetProgress(int position) = 0;             // 0..100
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void ShowMessage(const std::string& text, const std::string& title, unsigned style) = 0;
    virtual void RunPstOptionsDialog(JobSettings& settings) = 0;
    // For a row added from a whole store: the folder's display names from the store's top
    // down to it (UTF-8); empty for a row added as a single folder file.
    virtual std::vector<std::string> RowStorePath(int row) {
        (void)row;
        return {};
    }
    // True once the user asked to leave: exporters stop at the next message boundary and close
    // their files and stores cleanly.
    virtual bool StopRequested() { return false; }
    // Called on the worker thread once the job has ended (after the completion message).
    virtual void JobFinished() {}
    // Before each item of a folder file: "message n of N" of the file at folder_path.
    virtual void ShowJobProgress(const std::string& folder_path, std::size_t message, std::size_t message_count) {
        (void)folder_path;
        (void)message;
        (void)message_count;
    }
    // The completion step's message: the completion text and the tally's summary. Called also
    // when the job was stopped; this default then shows nothing.
    virtual void ShowJobSummary(const JobTally& tally) {
        if (StopRequested()) return;
        ShowMessage(kCompletionText + tally.Summary(), kMessageTitle, msgbox::kJobMessage);
    }
};
