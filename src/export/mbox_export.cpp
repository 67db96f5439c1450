#include "export/mbox_export.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "export/buffered_output.h"
#include "export/folder_loop.h"
#include "export/output_naming.h"
#include "export/output_place.h"
#include "msgfile/message_file.h"
#include "platform/pending_file.h"
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

std::string MboxStatusLines(const mapi::MessageState& state) {
    const std::string end(platform::kLineEnd);
    std::string lines = std::string("Status: ") + (state.read ? "RO" : "O") + end;
    std::string x_status;
    if (state.replied) x_status += 'A';
    if (state.flagged) x_status += 'F';
    if (!x_status.empty()) lines += "X-Status: " + x_status + end;
    unsigned mozilla = 0;
    if (state.read) mozilla |= 0x0001;
    if (state.replied) mozilla |= 0x0002;
    if (state.flagged) mozilla |= 0x0004;
    if (state.forwarded) mozilla |= 0x1000;
    char flags[8];
    std::snprintf(flags, sizeof flags, "%04x", mozilla);
    return lines + "X-Mozilla-Status: " + flags + end + "X-Mozilla-Status2: 00000000" + end;
}

namespace {

bool IsStatusField(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    std::string name(line.substr(0, colon));
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name == "status" || name == "x-status" || name == "x-mozilla-status" || name == "x-mozilla-status2";
}

}  // namespace

void WriteMboxBodyWithStatus(std::string_view text, const mapi::MessageState& state, BufferedOutput& out) {
    std::size_t pos = 0;
    bool skipping = false;  // inside a status field of the message's own, continuation lines too
    while (pos < text.size()) {
        const std::size_t newline = text.find('\n', pos);
        const std::size_t next = newline == std::string_view::npos ? text.size() : newline + 1;
        const std::string_view line = text.substr(pos, next - pos);
        std::string_view content = line;
        while (!content.empty() && (content.back() == '\n' || content.back() == '\r')) content.remove_suffix(1);
        if (content.empty()) break;  // the blank line that ends the header block
        if (content.front() != ' ' && content.front() != '\t') skipping = IsStatusField(content);
        if (!skipping) WriteMboxBody(line, out);
        pos = next;
    }
    if (pos == text.size() && !text.empty() && text.back() != '\n') out.Write(platform::kLineEnd);
    out.Write(MboxStatusLines(state));
    WriteMboxBody(text.substr(pos), out);
}

namespace {

// One MBOX file per folder file: a "From " line, the quoted message text, a blank line. It is
// written beside its name and placed at the end by the one write path, so that nothing of it is
// left when the run fails or is killed, and an MBOX file of an earlier run is never replaced: an
// identical one is left as it is, a different one keeps its name and the new file takes the
// next free one.
class MboxSink : public MessageSink {
public:
    // The file name in the folder of the tree path (the destination itself when it is empty);
    // recovered_name: the MBOX file of the messages only a scan finds, empty for that file itself.
    MboxSink(ExportContext& context, std::string destination, std::vector<std::string> folder_tree, std::string name,
             std::string recovered_name = {})
        : context_(context),
          destination_(std::move(destination)),
          folder_tree_(std::move(folder_tree)),
          name_(std::move(name)),
          mbox_path_(platform::JoinPath(MakeTreeDirectory(destination_, folder_tree_), name_)),
          recovered_name_(std::move(recovered_name)) {}

    // The output is opened before the messages are read: a destination that cannot take it
    // ends the folder without a word about the folder file.
    bool Begin() override {
        if (const platform::WriteFailure failure = OpenMboxFolder(destination_, ThunderbirdTree(), folder_);
            failure != platform::WriteFailure::kNone) {
            context_.tally.CountFailure(mbox_path_, std::string("cannot create the folder: ") +
                                                        platform::WriteFailureWords(failure));
            return false;
        }
        // What a killed run left half made beside its MBOX files goes before this one adds its own.
        folder_.RemoveStaleTemporaries();
        if (const platform::WriteFailure failure = file_.Begin(folder_, name_, context_.devices, true);
            failure != platform::WriteFailure::kNone) {
            context_.tally.CountFailure(mbox_path_, platform::WriteFailureWords(failure));
            return false;
        }
        out_.Open(file_.device());
        return true;
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
        if (message.text && context_.settings.mbox_status && message.state.known)
            WriteMboxBodyWithStatus(*message.text, message.state, out_);
        else if (message.text)
            WriteMboxBody(*message.text, out_);
        out_.Write(platform::kLineEnd);
        out_.Write(platform::kLineEnd);
        return {};
    }
    bool End() override {
        if (!out_.Close()) {
            context_.tally.CountFailure(mbox_path_, out_.error_text());
            file_.Abandon();
            return false;
        }
        const PlacedFile placed = PlaceUnderFreeName(
            file_, name_, [&](const std::string& candidate) { return file_.CompareWith(candidate); }, true);
        already_there_ = placed.already_there;
        if (placed) {
            placed_path_ = platform::JoinPath(MakeTreeDirectory(destination_, folder_tree_), placed.name);
            return true;
        }
        context_.tally.CountFailure(mbox_path_, platform::WriteFailureWords(placed.failure));
        return false;
    }
    bool ResetsProgressOnFailure() const override { return true; }
    bool OutputWasThere() const override { return already_there_; }
    std::string FolderOutputPath() const override { return placed_path_; }
    std::unique_ptr<MessageSink> RecoveredSink() override {
        if (recovered_name_.empty()) return nullptr;
        return std::make_unique<MboxSink>(context_, destination_, folder_tree_, recovered_name_);
    }

private:
    // The levels down to the file's folder in Thunderbird's layout, the file itself last.
    std::vector<std::string> ThunderbirdTree() const {
        std::vector<std::string> tree = context_.tree_path;
        if (tree.empty()) return tree;
        tree.back() = name_;
        return tree;
    }

    ExportContext& context_;
    std::string destination_;
    std::vector<std::string> folder_tree_;  // the ".sbd" folders down to the file's folder
    std::string name_;
    std::string mbox_path_;
    std::string recovered_name_;
    platform::OutputFolder folder_;
    platform::PendingFile file_;  // declared before out_: the buffer goes first
    BufferedOutput out_;
    bool already_there_ = false;
    std::string placed_path_;
};

}  // namespace

void ExportFolderToMbox(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                        const std::string& folder_name) {
    // A folder of a whole store goes where Thunderbird keeps it, so that the tree can be copied
    // into a profile as it is; its recovered messages go beside it.
    std::vector<std::string> folder_tree;
    std::string name, recovered_name;
    if (context.tree_path.empty()) {
        name = folder_name + ".mbox";
        recovered_name = folder_name + kRecoveredMboxSuffix + ".mbox";
    } else {
        for (std::size_t i = 0; i + 1 < context.tree_path.size(); ++i) folder_tree.push_back(context.tree_path[i] + ".sbd");
        name = context.tree_path.back();
        recovered_name = name + kRecoveredMboxSuffix;
    }
    MboxSink sink(context, destination_path, std::move(folder_tree), std::move(name), std::move(recovered_name));
    RunFolderLoop(context, dbx_path, sink, AttachmentsPlaceFor(context, destination_path, folder_name));
}
