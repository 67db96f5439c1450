// The main window as the conversion job sees it. The job runs on a worker thread, but GTK may
// only be touched from the UI thread, so every call is carried to the UI thread and the worker
// waits for its result: the same synchronous behaviour a cross-thread window message gives.
#pragma once

#include <atomic>
#include <future>
#include <string>
#include <type_traits>

#include <wx/thread.h>

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

private:
    // Runs task on the UI thread and hands back its result (or its exception).
    template <typename Task>
    auto OnUiThread(Task task) -> std::invoke_result_t<Task>;

    COmbrikDlg& window_;
    std::atomic<bool> stop_requested_{false};
    std::atomic<bool> leaving_{false};
};
