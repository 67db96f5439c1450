#include "export/mbox_export.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "export/buffered_output.h"
#include "export/folder_loop.h"
#include "export/output_naming.h"
#include "export/output_place.h"
#include "platform/existing_file.h"
#include "platform/local_time.h"
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
    if (unix_seconds < 0 || unix_seconds >= kFirstSecondOfYear3001 || !platform::ToLocalTime(unix_seconds, local))
        return "Thu Jan 01 00:00:00 1970";
    char text[32];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d", kDayNames[local.tm_wday % 7],
                  kMonthNames[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  local.tm_year + 1900);
    return text;
}

namespace {

// A separator line is one line of text: the address stops at a zero byte or a line end.
std::string_view AddressForSeparator(const std::optional<std::string>& sender_address) {
    if (!sender_address) return {};
    const std::string_view address(*sender_address);
    return address.substr(0, address.find_first_of(std::string_view("\0\r\n", 3)));
}

}  // namespace

std::string MboxSeparatorLine(const std::optional<std::string>& sender_address, std::uint64_t filetime) {
    std::string line = "From ";
    const std::string_view address = AddressForSeparator(sender_address);
    line += address.empty() ? std::string_view("MAILER-DAEMON") : address;
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

namespace {

// One MBOX file per folder file: a "From " line, the quoted message text, a blank line. It is
// written under a temporary name beside the target and put in place at the end, so that an
// MBOX file of an earlier run is never replaced: an identical one is left as it is, a different
// one keeps its name and the new file takes the next free one.
class MboxSink : public MessageSink {
public:
    // recovered_path: the MBOX file of the messages only a scan finds; empty for that file itself.
    MboxSink(ExportContext& context, std::string destination, std::string mbox_path, std::string recovered_path = {})
        : context_(context),
          destination_(std::move(destination)),
          mbox_path_(std::move(mbox_path)),
          temporary_path_(platform::TemporaryNameBeside(mbox_path_)),
          recovered_path_(std::move(recovered_path)) {}
    ~MboxSink() override {
        // Ended without End (an exception before it): nothing half-written stays behind.
        if (out_.is_open()) {
            out_.Close();
            platform::DeleteFile(temporary_path_);
        }
    }

    // The output is opened before the messages are read: a destination that cannot take it
    // ends the folder without a word about the folder file.
    bool Begin() override {
        if (!MakeOutputTree(destination_, context_.tree_path, true)) {
            context_.tally.CountFailure(mbox_path_, "cannot create the folder");
            return false;
        }
        if (out_.Open(temporary_path_)) return true;
        context_.tally.CountFailure(mbox_path_, out_.error_text());
        return false;
    }
    std::string StatusText(const FolderMessage& message) override {
        const std::string codepage = MessageCodepage(message.subject, message.text, context_.settings.codepage);
        return SubjectDisplayText(message.subject, codepage);
    }
    std::string FailureSubject(const FolderMessage& message) override {
        return mbox_path_ + ": message " + std::to_string(message.slot);
    }
    std::string Write(PreparedMessage& prepared) override {
        const FolderMessage& message = prepared.message;
        out_.Write(MboxSeparatorLine(message.sender_address, message.date));
        if (message.text) WriteMboxBody(*message.text, out_);
        out_.Write(platform::kLineEnd);
        out_.Write(platform::kLineEnd);
        return {};
    }
    bool End() override {
        if (!out_.Close()) {
            context_.tally.CountFailure(mbox_path_, out_.error_text());
            platform::DeleteFile(temporary_path_);
            return false;
        }
        std::string placed;
        const std::string failure = PlaceFinishedFile(temporary_path_, mbox_path_, placed, already_there_);
        if (failure.empty()) return true;
        context_.tally.CountFailure(mbox_path_, failure);
        return false;
    }
    bool ResetsProgressOnFailure() const override { return true; }
    bool OutputWasThere() const override { return already_there_; }
    std::unique_ptr<MessageSink> RecoveredSink() override {
        if (recovered_path_.empty()) return nullptr;
        return std::make_unique<MboxSink>(context_, destination_, recovered_path_);
    }

private:
    ExportContext& context_;
    std::string destination_;
    std::string mbox_path_;
    std::string temporary_path_;
    std::string recovered_path_;
    BufferedOutput out_;
    bool already_there_ = false;
};

}  // namespace

void ExportFolderToMbox(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                        const std::string& folder_name) {
    // A folder of a whole store goes where Thunderbird keeps it, so that the tree can be copied
    // into a profile as it is; its recovered messages go beside it.
    std::string mbox_path, recovered_path;
    if (context.tree_path.empty()) {
        mbox_path = MakeMboxFilePath(destination_path, folder_name);
        recovered_path = MakeMboxFilePath(destination_path, folder_name + kRecoveredMboxSuffix);
    } else {
        std::vector<std::string> recovered_tree = context.tree_path;
        recovered_tree.back() += kRecoveredMboxSuffix;
        mbox_path = MakeThunderbirdMboxPath(destination_path, context.tree_path);
        recovered_path = MakeThunderbirdMboxPath(destination_path, recovered_tree);
    }
    MboxSink sink(context, destination_path, mbox_path, recovered_path);
    RunFolderLoop(context, dbx_path, sink);
}
