// The main window as the conversion job sees it. The job runs on a worker thread, but GTK may
// only be touched from the UI thread. Progress and the status line are never waited for: the
// job leaves its latest values here and the UI thread shows them at most about 30 times a
// second, so a busy window cannot slow the job down. Everything else (questions, messages, the
// list's rows) is carried to the UI thread and the worker waits for its result, after the
// progress left here has been shown.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>

#include <wx/thread.h>
#include <wx/timer.h>

#include "conversion/conversion_window.h"

class COmbrikDlg;

class ConversionBridge : public ConversionWindow {
public:
    explicit ConversionBridge(COmbrikDlg& window) : window_(window) {}

    int RowCount() override;
    std::string RowText(int row, int column) override;
    std::vector<std::string> RowStorePath(int row) override;
    void SetProgress(int position) override;
    void SetStatusText(const std::string& text) override;
    void ShowMessage(const std::string& text, const std::string& title, unsigned style) override;
    void RunPstOptionsDialog(JobSettings& settings) override;
    bool StopRequested() override { return stop_requested_.load(); }
    void JobFinished() override;
    void ShowJobProgress(const std::string& folder_path, std::size_t message, std::size_t message_count) override;
    void ShowJobSummary(const JobTally& tally) override;

    // Stop: the job ends at the next message boundary and shows what it did.
    void RequestStop() { stop_requested_.store(true); }
    // A confirmed Exit: the job ends the same way, and nothing more is asked or shown.
    void RequestLeave() {
        leaving_.store(true);
        stop_requested_.store(true);
    }
    void ClearStop() {
        stop_requested_.store(false);
        leaving_.store(false);
    }

    // True while progress the job left is not on the window yet.
    bool HoldsUnshownProgress() {
        std::lock_guard<std::mutex> lock(pending_mutex_);
        return !pending_.empty();
    }
    // How long the UI thread lets progress gather before it shows it again.
    static constexpr std::chrono::milliseconds kShowInterval{33};

private:
    // What the job has said since the window last showed it, kept so that showing it gives the
    // window the state the calls one by one would have left: a step of 0 ends a folder (and
    // drops the folder's count said before it), a count sets the bar until the next 0.
    struct Pending {
        bool folder_ended = false;
        std::optional<int> position;
        struct Count {
            std::string folder_path;
            std::size_t message = 0, message_count = 0;
        };
        std::optional<Count> count;
        std::optional<std::string> text;
        bool empty() const { return !folder_ended && !position && !count && !text; }
    };
    class ShowTimer : public wxTimer {
    public:
        explicit ShowTimer(ConversionBridge& bridge) : bridge_(bridge) {}
        void Notify() override { bridge_.ShowPending(); }

    private:
        ConversionBridge& bridge_;
    };

    // Runs task on the UI thread and hands back its result (or its exception).
    template <typename Task>
    auto OnUiThread(Task task) -> std::invoke_result_t<Task>;
    // On the worker: notes an update and asks the UI thread to show it, unless it was asked.
    template <typename Update>
    void Leave(Update update);
    // On the UI thread: shows what is pending now, or once kShowInterval has passed since last.
    void ShowSoon();
    void ShowPending();

    COmbrikDlg& window_;
    std::mutex pending_mutex_;
    Pending pending_;
    bool show_asked_ = false;
    std::chrono::steady_clock::time_point last_shown_{};
    ShowTimer show_timer_{*this};
    std::atomic<bool> stop_requested_{false};
    std::atomic<bool> leaving_{false};
};
