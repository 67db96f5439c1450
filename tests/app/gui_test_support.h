// Shared pieces of the GUI tests: a prompter with scripted answers, a stand-in job, and a
// main-window fixture with helpers to pump events and read controls.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <wx/app.h>
#include <wx/config.h>
#include <wx/control.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "app/completion_dlg.h"
#include "app/control_ids.h"
#include "app/job_control.h"
#include "app/ombrik_dlg.h"
#include "app/prompter.h"
#include "app/wx_text.h"
#include "conversion/conversion_window.h"
#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "platform/outlook_probe.h"

namespace guitest {

struct ShownMessage {
    std::string text;
    std::string title;
    unsigned style = 0;
    bool has_owner = false;
};

// Answers every question from a script and records what was asked.
class ScriptedPrompter : public Prompter {
public:
    std::deque<int> message_answers;  // for Yes/No boxes; No when empty
    std::deque<std::optional<std::string>> folder_answers;
    std::deque<std::optional<FileSelection>> file_answers;
    // Runs while a message box would be open, on the UI thread.
    std::function<void(const ShownMessage&)> on_message;

    std::vector<ShownMessage> messages;
    std::vector<std::string> app_messages;
    std::vector<std::string> folder_titles;
    std::vector<std::string> folder_starts;
    std::deque<std::optional<std::string>> save_answers;
    std::vector<SaveFileRequest> save_requests;
    bool desktop_opens = true;  // false: as on a desktop without a browser or file manager
    // Every completion summary shown; on_summary runs while it would be open.
    struct Summary {
        std::string counts;
        std::vector<std::string> lines;
        std::string destination;
        bool stopped = false;
    };
    std::vector<Summary> summaries;
    std::function<void(wxWindow*, const JobTally&, const std::string&)> on_summary;
    std::vector<FileDialogRequest> file_requests;
    std::vector<std::string> opened;

    int ShowMessage(wxWindow* owner, const std::string& text, const std::string& title,
                    unsigned style) override {
        EXPECT_TRUE(wxIsMainThread()) << "a message box was shown off the UI thread";
        messages.push_back({text, title, style, owner != nullptr});
        if (on_message) on_message(messages.back());
        if ((style & 0xF) != msgbox::kYesNo) return wxID_OK;
        if (message_answers.empty()) return wxID_NO;
        const int answer = message_answers.front();
        message_answers.pop_front();
        return answer;
    }
    void ShowAppMessage(wxWindow*, const std::string& text) override { app_messages.push_back(text); }
    std::optional<std::string> ChooseFolder(wxWindow*, const std::string& title,
                                            const std::string& start_folder) override {
        folder_titles.push_back(title);
        folder_starts.push_back(start_folder);
        if (folder_answers.empty()) return std::nullopt;
        auto answer = folder_answers.front();
        folder_answers.pop_front();
        return answer;
    }
    std::optional<FileSelection> ChooseFiles(wxWindow*, const FileDialogRequest& request) override {
        file_requests.push_back(request);
        if (file_answers.empty()) return std::nullopt;
        auto answer = file_answers.front();
        file_answers.pop_front();
        return answer;
    }
    std::optional<std::string> ChooseSaveFile(wxWindow*, const SaveFileRequest& request) override {
        save_requests.push_back(request);
        if (save_answers.empty()) return std::nullopt;
        auto answer = save_answers.front();
        save_answers.pop_front();
        return answer;
    }
    void OpenWithDesktop(wxWindow* owner, const DesktopRequest& request) override {
        opened.push_back(request.target);
        if (!desktop_opens)
            ShowMessage(owner, DesktopFailureText(request, "no program to show it is installed"), kMessageTitle,
                        msgbox::kOk | msgbox::kIconExclamation);
    }
    void ShowJobSummary(wxWindow* owner, const JobTally& tally, const std::string& destination,
                        bool stopped) override {
        EXPECT_TRUE(wxIsMainThread()) << "the summary was shown off the UI thread";
        summaries.push_back({CompletionCounts(tally), CompletionLines(tally), destination, stopped});
        if (on_summary) on_summary(owner, tally, destination);
    }

    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> texts;
        for (const auto& message : messages) texts.push_back(message.text);
        return texts;
    }
};

// A job that runs a test-given body on its own thread, as the real job does.
class ScriptedJob : public JobControl {
public:
    std::function<void(ConversionWindow&)> body;
    int starts = 0;

    ~ScriptedJob() override { Join(); }
    bool Start(ConversionWindow& window) override {
        bool expected = false;
        if (!running_.compare_exchange_strong(expected, true)) return false;
        ++starts;
        Join();
        worker_ = std::thread([this, &window] {
            if (body) body(window);
            window.JobFinished();
            running_ = false;
        });
        return true;
    }
    bool IsRunning() override { return running_; }
    void Join() override {
        if (worker_.joinable()) worker_.join();
    }

private:
    std::atomic<bool> running_{false};
    std::thread worker_;
};

// Processes pending events until done() holds or the time runs out; true when it held.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline void Pump() {
    for (int i = 0; i < 5; ++i) {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
    }
}

// One main window per test, with scripted prompts and an injectable probe and job.
class MainWindowTest : public testing::Test {
protected:
    void SetUp() override { window_ = MakeWindow(DefaultOutlookProbe(), job_); }
    void TearDown() override {
        if (window_ != nullptr && !window_destroyed_) {
            PumpUntil([this] { return !job_.IsRunning(); });
            window_->Destroy();
        }
        Pump();
    }

    COmbrikDlg* MakeWindow(const OutlookProbe& probe, JobControl& jobs) {
        auto* window = new COmbrikDlg(settings_, prompter_, probe, jobs);
        window->SetEndProcessHandler([this, window] {
            ++process_ends_;
            window_destroyed_ = true;
            window->Destroy();
        });
        window->Show();
        Pump();
        return window;
    }
    void ReplaceWindow(const OutlookProbe& probe) {
        window_->Destroy();
        Pump();
        window_ = MakeWindow(probe, job_);
    }

    wxListCtrl& List() { return *static_cast<wxListCtrl*>(window_->FindWindow(ids::kSourceList)); }
    std::string Cell(long row, int column) { return Utf8(List().GetItemText(row, column)); }
    std::string CountText() {
        return Utf8(static_cast<wxStaticText*>(window_->FindWindow(ids::kFileCount))->GetLabel());
    }
    std::string StatusLine() {
        return Utf8(static_cast<wxStaticText*>(window_->FindWindow(ids::kStatusLine))->GetLabel());
    }
    std::string DestinationBox() {
        return Utf8(static_cast<wxTextCtrl*>(window_->FindWindow(ids::kDestinationBox))->GetValue());
    }
    bool Enabled(int id) { return window_->FindWindow(id)->IsEnabled(); }
    // A button's text as shown, without its mnemonic mark.
    std::string ButtonText(int id) { return Utf8(static_cast<wxControl*>(window_->FindWindow(id))->GetLabelText()); }
    // Sends a command the way a click or a menu choice does.
    void Click(int id) {
        wxCommandEvent event(wxEVT_BUTTON, id);
        event.SetEventObject(window_->FindWindow(id));
        window_->GetEventHandler()->ProcessEvent(event);
    }
    void Menu(int id) {
        wxCommandEvent event(wxEVT_MENU, ids::WxMenuId(id));
        window_->GetEventHandler()->ProcessEvent(event);
    }
    void AddFiles(const std::string& folder, const std::vector<std::string>& paths) {
        prompter_.file_answers.push_back(FileSelection{folder, paths});
        window_->OnAddFile();
    }

    JobSettings settings_;
    ScriptedPrompter prompter_;
    ScriptedJob job_;
    COmbrikDlg* window_ = nullptr;
    bool window_destroyed_ = false;
    int process_ends_ = 0;
};

}  // namespace guitest
