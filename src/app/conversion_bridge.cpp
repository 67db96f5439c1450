#include "app/conversion_bridge.h"

#include <exception>

#include "app/ombrik_dlg.h"
#include "conversion/job_settings.h"

template <typename Task>
auto ConversionBridge::OnUiThread(Task task) -> std::invoke_result_t<Task> {
    using Result = std::invoke_result_t<Task>;
    if (wxIsMainThread()) return task();
    std::promise<Result> done;
    std::future<Result> result = done.get_future();
    window_.CallAfter([&task, &done] {
        try {
            if constexpr (std::is_void_v<Result>) {
                task();
                done.set_value();
            } else {
                done.set_value(task());
            }
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    return result.get();
}

int ConversionBridge::RowCount() {
    return OnUiThread([this] { return window_.RowCountNow(); });
}

std::vector<std::string> ConversionBridge::RowStorePath(int row) {
    return OnUiThread([this, row] { return window_.RowStorePathNow(row); });
}

std::string ConversionBridge::RowText(int row, int column) {
    return OnUiThread([this, row, column] { return window_.RowTextNow(row, column); });
}

void ConversionBridge::SetProgress(int position) {
    OnUiThread([this, position] { window_.SetProgressNow(position); });
}

void ConversionBridge::SetStatusText(const std::string& text) {
    OnUiThread([this, &text] { window_.SetStatusTextNow(text); });
}

void ConversionBridge::ShowMessage(const std::string& text, const std::string& title, unsigned style) {
    // Once the user has confirmed Exit, nothing more is asked or announced.
    if (leaving_.load()) return;
    OnUiThread([this, &text, &title, style] { window_.ShowJobMessageNow(text, title, style); });
}

void ConversionBridge::RunPstOptionsDialog(JobSettings& settings) {
    if (StopRequested()) {
        settings.pst_options_answer = "no";
        return;
    }
    OnUiThread([this, &settings] { window_.RunPstOptionsDialogNow(settings); });
}

void ConversionBridge::ShowJobProgress(const std::string& folder_path, std::size_t message,
                                       std::size_t message_count) {
    OnUiThread([this, &folder_path, message, message_count] {
        window_.ShowJobProgressNow(folder_path, message, message_count);
    });
}

void ConversionBridge::ShowJobSummary(const JobTally& tally) {
    // A job the user stopped shows what it did; one ended by a confirmed Exit shows nothing.
    if (leaving_.load()) return;
    OnUiThread([this, &tally] { window_.ShowJobSummaryNow(tally); });
}

void ConversionBridge::JobFinished() { window_.NoteJobFinished(); }
