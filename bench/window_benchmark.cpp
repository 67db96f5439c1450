// Times one conversion in the window: the real window and the real job on an X display, a folder
// file added, a destination and a form chosen, Convert pressed; the time runs from the press to
// the moment the completion dialog would open. Prints the seconds and the summary's counts.
// Usage: ombrik-bench-window eml|mbox|msg|rtf|html DEST FILE.dbx   (HOME pointed somewhere
// disposable: the window remembers its choices)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include <wx/app.h>
#include <wx/log.h>
#include <wx/stdpaths.h>
#include <wx/timer.h>

#include "app/allocator_setup.h"
#include "app/control_ids.h"
#include "app/job_control.h"
#include "app/ombrik_dlg.h"
#include "app/prompter.h"
#include "app/theme_marks.h"
#include "app/toolkit_setup.h"
#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "platform/outlook_probe.h"

namespace {

using Clock = std::chrono::steady_clock;

// Real dialogs but for the ones a benchmark must not wait on: the choosers answer from the
// command line, messages are printed, and the summary ends the run.
class BenchPrompter : public WxPrompter {
public:
    std::string destination, folder_file;
    Clock::time_point pressed;
    int status = 1;
    std::optional<std::string> ChooseFolder(wxWindow*, const std::string&, const std::string&) override {
        return destination;
    }
    std::optional<FileSelection> ChooseFiles(wxWindow*, const FileDialogRequest&) override {
        return FileSelection{destination, {folder_file}};
    }
    int ShowMessage(wxWindow*, const std::string& text, const std::string&, unsigned) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        return wxID_OK;
    }
    void ShowJobSummary(wxWindow*, const JobTally& tally, const std::string&, bool stopped) override {
        const double seconds = std::chrono::duration<double>(Clock::now() - pressed).count();
        std::printf("%.3f\n%s\n", seconds, tally.Summary().c_str());
        std::fflush(stdout);
        status = stopped ? 1 : 0;
    }
};

int SaveAsControl(const std::string& form) {
    if (form == "mbox") return ids::kSaveAsMbox;
    if (form == "msg") return ids::kSaveAsMsg;
    if (form == "rtf") return ids::kSaveAsRtf;
    if (form == "html") return ids::kSaveAsHtml;
    return ids::kSaveAsEml;
}

class BenchApp : public wxApp {
public:
    // The toolkit set up as the program sets it up (its memory depends on it).
    BenchApp() {
        SetUpToolkitEnvironment();
        ReturnFreedMemoryPromptly();
    }

    bool OnInit() override {
        if (argc != 4) {
            std::fprintf(stderr, "usage: ombrik-bench-window eml|mbox|msg|rtf|html DEST FILE.dbx\n");
            return false;
        }
        // Logged complaints go to the terminal: a log window would wait for a person.
        delete wxLog::SetActiveTarget(new wxLogStderr);
        // As the program itself starts.
        SetAppName("ombrik");
        wxStandardPaths::Get().SetFileLayout(wxStandardPaths::FileLayout_XDG);
        DrawThemeMarksFromBitmaps();
        const std::string form = argv[1].ToStdString();
        prompter_.destination = argv[2].ToStdString();
        prompter_.folder_file = argv[3].ToStdString();
        window_ = new COmbrikDlg(CurrentJobSettings(), prompter_, DefaultOutlookProbe(), jobs_);
        window_->SetEndProcessHandler([this] { window_->Destroy(); });
        SetTopWindow(window_);
        window_->Show();
        window_->CallAfter([this, form] {
            window_->OnAddFile();
            window_->OnBrowseDestination();
            window_->OnSavingOption(SaveAsControl(form));
            prompter_.pressed = Clock::now();
            window_->OnConvertMessages();
            WaitForTheEnd();
        });
        return true;
    }
    int OnExit() override { return prompter_.status; }

private:
    // Once the job has ended and the window is ready again, the program ends.
    void WaitForTheEnd() {
        poll_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
            if (jobs_.IsRunning()) return;
            poll_.Stop();
            jobs_.Join();
            window_->Destroy();
        });
        poll_.Start(5);
    }

    wxTimer poll_;

    BenchPrompter prompter_;
    WorkerJobControl jobs_;
    COmbrikDlg* window_ = nullptr;
};

}  // namespace

wxIMPLEMENT_APP(BenchApp);
