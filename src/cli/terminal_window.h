// The conversion window of ombrik-cli: rows from the command line, a live status line and
// progress bar on a terminal, plain lines when piped, messages on standard error.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "conversion/conversion_window.h"
#include "job/source_list.h"

struct CliOptions;

// Text as a terminal may be given it: control characters (C0, DEL, C1) written out as "\x1B"
// or "\u009B" rather than sent, so that a subject or a file name cannot move the cursor, clear
// the screen or change colours. With keep_line_ends, line feeds stay (a message of several lines).
std::string TerminalSafeText(const std::string& text, bool keep_line_ends = false);

class TerminalWindow : public ConversionWindow {
public:
    TerminalWindow(const SourceList& rows, const CliOptions& options, bool interactive);

    int RowCount() override;
    std::string RowText(int row, int column) override;
    std::vector<std::string> RowStorePath(int row) override;
    void SetProgress(int position) override;
    void SetStatusText(const std::string& text) override;
    void ShowMessage(const std::string& text, const std::string& title, unsigned style) override;
    void RunPstOptionsDialog(JobSettings& settings) override;
    bool StopRequested() override;
    // The bar fills with the messages of the folder file done so far, "n/N" beside it.
    void ShowJobProgress(const std::string& folder_path, std::size_t message, std::size_t message_count) override;

    void EndLiveLine();
    // "uploaded 120 messages in 4.2 s: 28.6 messages/s", to standard output.
    void PrintThroughput(std::size_t messages);
    // Safe in a signal handler: the job stops at the next message.
    static void RequestStop();

private:
    void Redraw(bool force);

    const SourceList& rows_;
    const CliOptions& options_;
    bool interactive_;
    int progress_ = 0;
    std::size_t message_ = 0;
    std::size_t message_count_ = 0;  // 0: no folder file under way; the bar then shows progress_
    int last_row_announced_ = -1;
    std::string status_;
    bool live_line_shown_ = false;
    std::chrono::steady_clock::time_point last_draw_{};
    // Throughput, for an upload: messages handed on since the first one.
    bool show_rate_ = false;
    std::size_t messages_seen_ = 0;
    std::chrono::steady_clock::time_point first_message_{};
};
