#include "app/conversion_bridge.h"

#include <exception>

#include "app/ombrik_dlg.h"
#include "conversion/job_settings.h"

template <typename Task>
auto ConversionBridge::OnUiThread(Task task) -> std::invoke_result_t<Task> {
    using Result = std::invoke_result_t<Task>;
    if (wxIsMainThread()) {
        ShowPending();
        return task();
    }
    std::promise<Result> done;
    std::future<Result> result = done.get_future();
    window_.CallAfter([this, &task, &done] {
        try {
            ShowPending();
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

template <typename Update>
void ConversionBridge::Leave(Update update) {
    bool ask = false;
    {
        std::lock_guard<std::mutex> lock(pending_mutex_);
        update(pending_);
        ask = !show_asked_;
        show_asked_ = true;
    }
    if (!ask) return;
    if (wxIsMainThread())
        ShowSoon();
    else
        window_.CallAfter([this] { ShowSoon(); });
}

void ConversionBridge::ShowSoon() {
    const auto since = std::chrono::steady_clock::now() - last_shown_;
    if (since >= kShowInterval) {
        ShowPending();
        return;
    }
    if (!show_timer_.IsRunning())
        show_timer_.StartOnce(static_cast<int>(
            std::chrono::ceil<std::chrono::milliseconds>(kShowInterval - since).count()));
}

void ConversionBridge::ShowPending() {
    Pending shown;
    {
        std::lock_guard<std::mutex> lock(pending_mutex_);
        if (pending_.empty()) return;
        shown = std::move(pending_);
        pending_ = Pending();
        show_asked_ = false;
    }
    last_shown_ = std::chrono::steady_clock::now();
    // In the order that gives the state of the calls one by one (see Pending).
    if (shown.folder_ended) window_.SetProgressNow(0);
    if (shown.count) window_.ShowJobProgressNow(shown.count->folder_path, shown.count->message, shown.count->message_count);
    if (shown.position && (*shown.position != 0 || !shown.folder_ended)) window_.SetProgressNow(*shown.position);
    if (shown.text) window_.SetStatusTextNow(*shown.text);
}

void ConversionBridge::SetProgress(int position) {
    Leave([position](Pending& pending) {
        if (position == 0) {
            pending.folder_ended = true;
            pending.count.reset();
        }
        pending.position = position;
    });
}

void ConversionBridge::SetStatusText(const std::string& text) {
    Leave([&text](Pending& pending) { pending.text = text; });
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
    // A count of nothing changes nothing on the window.
    if (message_count == 0) return;
    Leave([&](Pending& pending) { pending.count = Pending::Count{folder_path, message, message_count}; });
}

void ConversionBridge::ShowJobSummary(const JobTally& tally) {
    // A job the user stopped shows what it did; one ended by a confirmed Exit shows nothing.
    if (leaving_.load()) return;
    OnUiThread([this, &tally] { window_.ShowJobSummaryNow(tally); });
}

void ConversionBridge::JobFinished() {
    // What the job said last is shown before the window learns that it ended.
    window_.CallAfter([this] { ShowPending(); });
    window_.NoteJobFinished();
}
