#include "export/mbox_export.h"

#include <cstring>
#include <ctime>

#include "export/buffered_output.h"
#include "export/folder_session.h"
#include "export/output_naming.h"
#include "job/conversion_window.h"
#include "job/job_settings.h"
#include "job/job_tally.h"
#include "platform/paths.h"

namespace {

constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;
constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kFirstSecondOfYear3001 = 32535215999LL + 1;

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::int64_t FiletimeToUnixSeconds(std::uint64_t filetime) {
    const auto since_epoch = static_cast<std::int64_t>(filetime - kUnixEpochTicks);
    std::int64_t seconds = since_epoch / kTicksPerSecond;
    if (since_epoch % kTicksPerSecond < 0) --seconds;  // floor, not truncation toward zero
    return seconds;
}

std::string MboxDateText(std::int64_t unix_seconds) {
    std::tm local{};
    const auto t = static_cast<std::time_t>(unix_seconds);
    if (unix_seconds < 0 || unix_seconds >= kFirstSecondOfYear3001 || localtime_r(&t, &local) == nullptr)
        return "Thu Jan 01 00:00:00 1970";
    char text[32];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d", kDayNames[local.tm_wday % 7],
                  kMonthNames[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  local.tm_year + 1900);
    return text;
}

std::string MboxSeparatorLine(const std::optional<std::string>& sender_address, std::uint64_t filetime) {
    std::string line = "From ";
    line += sender_address && !MessageTextView(sender_address).empty() ? std::string(MessageTextView(sender_address))
                                                                        : std::string("MAILER-DAEMON");
    line += ' ';
    line += MboxDateText(FiletimeToUnixSeconds(filetime));
    line += platform::kLineEnd;
    return line;
}

void WriteMboxBody(std::string_view text, BufferedOutput& out) {
    const char* line = text.data();
    const char* const end = line + text.size();
    while (line < end) {
        if (end - line >= 5 && std::memcmp(line, "From ", 5) == 0) out.Put('>');
        const auto* lf = static_cast<const char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
        if (lf == nullptr) {
            out.Write(std::string_view(line, static_cast<std::size_t>(end - line)));  // no line end: none added
            return;
        }
        const char* content_end = lf > line && lf[-1] == '\r' ? lf - 1 : lf;
        out.Write(std::string_view(line, static_cast<std::size_t>(content_end - line)));
        out.Write(platform::kLineEnd);
        line = lf + 1;
    }
}

void ExportFolderToMbox(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                        const std::string& folder_name) {
    ConversionWindow& window = context.window;
    JobTally& tally = context.tally;
    const std::string mbox_path = MakeMboxFilePath(destination_path, folder_name);
    try {
        FolderReader folder(dbx_path);
        BufferedOutput out;
        if (!out.Open(mbox_path)) {
            tally.CountFailure(mbox_path, out.error_text());
            return;
        }
        if (!folder.is_open()) {
            ReportUnopenedFolder(window, tally, dbx_path);
            return;
        }
        tally.CountFolder();
        std::size_t written_here = 0;
        const bool completed = ForEachEmail(folder, window, tally, dbx_path, [&](std::int32_t slot, DbxEmail& email) {
            out.Write(MboxSeparatorLine(email.sender_address, email.date));
            window.SetStatusText(SubjectDisplayText(email.subject, MessageCodepage(email, context.settings.codepage)));
            WriteMboxBody(MessageTextView(email.message_text), out);
            out.Write(platform::kLineEnd);
            out.Write(platform::kLineEnd);
            // A record without a text, or with a chain that breaks off, lost part of its message.
            if (!email.text_complete)
                tally.CountFailure(mbox_path, "message " + std::to_string(slot) + ": text damaged in the folder file");
            else
                ++written_here;
        });
        if (!out.Close()) {
            tally.CountFailure(mbox_path, out.error_text());
            return;
        }
        for (std::size_t i = 0; i < written_here; ++i) tally.CountMessage();
        if (completed) window.SetProgress(0);
    } catch (const std::exception& error) {
        tally.CountFailure(mbox_path, error.what());
        window.SetProgress(0);
    }
}
