#include "cli/terminal_window.h"

#include "cli/cli_options.h"
#include "conversion/job_settings.h"
#include "job/pst_job.h"
#include "platform/paths.h"

#include <algorithm>
#include <atomic>

namespace {
std::atomic<bool> stop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;
constexpr std::size_t kStatusWidth = 60;
}  // namespace

std::string TerminalSafeText(const std::string& text, bool keep_line_ends) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto escaped = [](std::string& out, const char* prefix, unsigned char code) {
        out += prefix;
        out += kHex[code >> 4];
        out += kHex[code & 0xF];
    };
    std::string out;
    out.reserve(text.size());
    int continuations = 0;  // bytes still due to the UTF-8 sequence under way
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80 && byte <= 0xBF && continuations > 0) {
            --continuations;
            out += static_cast<char>(byte);
            continue;
        }
        continuations = byte >= 0xC2 && byte <= 0xDF ? 1 : byte >= 0xE0 && byte <= 0xEF ? 2 : byte >= 0xF0 && byte <= 0xF4 ? 3 : 0;
        if (byte == 0xC2 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80) {
            escaped(out, "\\u00", static_cast<unsigned char>(text[++i]));  // a C1 control in UTF-8
            continuations = 0;
        } else if ((byte < 0x20 && !(keep_line_ends && byte == '\n')) || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F)) {
            escaped(out, "\\x", byte);  // C0, DEL, or a lone C1 byte (an 8-bit terminal acts on it)
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

TerminalWindow::TerminalWindow(const SourceList& rows, const CliOptions& options, bool interactive)
    : rows_(rows), options_(options), interactive_(interactive), show_rate_(options.format == "imap") {}

int TerminalWindow::RowCount() { return rows_.size(); }

std::vector<std::string> TerminalWindow::RowStorePath(int row) {
    if (row < 0 || row >= rows_.size()) return {};
    return rows_.rows()[static_cast<std::size_t>(row)].store_path;
}

std::string TerminalWindow::RowText(int row, int column) {
    if (row < 0 || row >= rows_.size()) return {};
    const SourceRow& source = rows_.rows()[static_cast<std::size_t>(row)];
    if (column == 0 && row != last_row_announced_ && !options_.quiet) {
        // The job reads a row's path when it reaches it: that is where a folder starts.
        last_row_announced_ = row;
        message_count_ = 0;
        EndLiveLine();
        std::fprintf(LinesOut(), "[%d/%d] %s\n", row + 1, rows_.size(), TerminalSafeText(source.path).c_str());
        std::fflush(LinesOut());
    }
    switch (column) {
        case 0: return source.path;
        case 1: return source.file_name;
        case 2: return source.folder_name;
        case 3: return source.type;
        default: return {};
    }
}

std::FILE* TerminalWindow::LinesOut() const { return options_.summary_json == "-" ? stderr : stdout; }

void TerminalWindow::SetProgress(int position) {
    progress_ = position;
    Redraw(false);
}

void TerminalWindow::SetStatusText(const std::string& raw_text) {
    // Kept as given and made safe only when shown: most status texts (one per message) are
    // never drawn, between two redraws or with --quiet.
    status_ = raw_text;
    // A wait for another program is worth a line even when the output files are not.
    const bool waiting = raw_text.rfind(kStoreBusyText, 0) == 0;
    if (!interactive_ && (options_.verbose || waiting) && !options_.quiet) {
        std::fprintf(LinesOut(), "%s\n", TerminalSafeText(raw_text).c_str());
        std::fflush(LinesOut());
    }
    // The wait may be long and nothing else is drawn meanwhile: it must not be skipped.
    Redraw(waiting);
}

void TerminalWindow::ShowMessage(const std::string& text, const std::string&, unsigned) {
    EndLiveLine();
    std::fprintf(stderr, "%s\n", TerminalSafeText(text, true).c_str());
    std::fflush(stderr);
}

// The PST options come from the command line, checked as the options dialog checks them.
void TerminalWindow::RunPstOptionsDialog(JobSettings& settings) {
    if (!options_.pst_mode.empty()) settings.pst_mode = options_.pst_mode;
    if (!options_.pst_folder.empty()) settings.pst_path = platform::JoinPath(options_.pst_folder, "NewPST.pst");
    if (!options_.pst_file.empty()) settings.existing_pst_path = options_.pst_file;
    settings.pst_options_answer = "yes";
    const bool has_store = settings.pst_mode == "seprate" ||
                           (settings.pst_mode == "new" && !settings.pst_path.empty()) ||
                           (settings.pst_mode == "old" && !settings.existing_pst_path.empty());
    if (!has_store) {
        ShowMessage("Please select destination pst file path", "ombrik-cli", msgbox::kOk);
        settings.pst_options_answer = "no";
    }
}

bool TerminalWindow::StopRequested() { return stop_requested; }

void TerminalWindow::ShowJobProgress(const std::string&, std::size_t message, std::size_t message_count) {
    message_ = message;
    message_count_ = message_count;
    if (messages_seen_++ == 0) first_message_ = std::chrono::steady_clock::now();
    // The bar follows with the SetProgress that comes next.
}

void TerminalWindow::RequestStop() { stop_requested = true; }

void TerminalWindow::Redraw(bool force) {
    if (!interactive_ || options_.quiet) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - last_draw_ < kRedrawInterval) return;
    last_draw_ = now;
    // The cycling position only shows that something happens; the message count shows how far.
    const bool counted = message_count_ > 0 && progress_ != 0;
    const int filled = counted ? static_cast<int>(std::min(message_, message_count_) * kBarWidth / message_count_)
                               : progress_ * kBarWidth / 100;
    std::string count = counted ? std::to_string(message_) + "/" + std::to_string(message_count_) + " " : "";
    const double seconds = std::chrono::duration<double>(now - first_message_).count();
    if (show_rate_ && messages_seen_ > 1 && seconds > 0.5) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.0f msg/s ", static_cast<double>(messages_seen_ - 1) / seconds);
        count += rate;
    }
    std::string status = TerminalSafeText(status_);
    // A path is known by its end; the wait for another program by its beginning.
    if (status.size() > kStatusWidth && status.rfind(kStoreBusyText, 0) == 0)
        status = status.substr(0, kStatusWidth - 3) + "...";
    else if (status.size() > kStatusWidth)
        status = "..." + status.substr(status.size() - (kStatusWidth - 3));
    std::fprintf(stderr, "\r\033[K[%s%s] %s%s", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kBarWidth - filled), ' ').c_str(), count.c_str(), status.c_str());
    std::fflush(stderr);
    live_line_shown_ = true;
}

void TerminalWindow::PrintThroughput(std::size_t messages) {
    if (messages == 0) return;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - first_message_).count();
    std::printf("uploaded %zu messages in %.1f s: %.1f messages/s\n", messages, seconds,
                seconds > 0 ? static_cast<double>(messages) / seconds : 0.0);
}

void TerminalWindow::EndLiveLine() {
    if (!live_line_shown_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    live_line_shown_ = false;
}
