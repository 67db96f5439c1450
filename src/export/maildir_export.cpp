#include "export/maildir_export.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <set>

#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "export/arrival_time.h"
#include "export/folder_loop.h"
#include "export/mbox_export.h"
#include "export/output_naming.h"
#include "export/output_place.h"
#include "imap/mailbox_name.h"
#include "imap/upload_message.h"
#include "platform/directory.h"
#include "platform/existing_file.h"
#include "platform/output_file.h"
#include "platform/output_folder.h"
#include "platform/pending_file.h"
#include "platform/write_failure.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace {

// A Maildir (the top or a folder of it): its three sub-folders, and the file that marks a folder.
bool MakeMaildir(const std::string& path, bool folder) {
    if (!platform::IsDirectory(path) && !platform::CreateDirectory(path)) return false;
    for (const char* sub : {"cur", "new", "tmp"}) {
        const std::string sub_path = platform::JoinPath(path, sub);
        if (!platform::IsDirectory(sub_path) && !platform::CreateDirectory(sub_path)) return false;
    }
    if (!folder) return true;
    const std::string marker = platform::JoinPath(path, "maildirfolder");
    if (platform::FileExists(marker)) return true;
    const int error = platform::WriteWholeFile(marker, {}, platform::OutputMode::kCreateNew);
    return error == 0 || error == EEXIST;
}

// The unique part of a Maildir file name ("<time>.<unique>.<host>:2,<flags>", ';' for ':'
// where names cannot hold one): what tells one
// message of an earlier run from another, whatever flags a reader gave it since, and whatever
// time its name took (a message without a date is named by the time of the run that wrote it).
std::string BaseOf(const std::string& file_name) {
    const std::size_t first = file_name.find('.');
    if (first == std::string::npos) return file_name;
    const std::size_t second = file_name.find('.', first + 1);
    return file_name.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

class MaildirSink : public MessageSink {
public:
    MaildirSink(ExportContext& context, std::string top, std::vector<std::string> levels)
        : context_(context), top_(std::move(top)), levels_(std::move(levels)),
          folder_(MaildirFolderName(levels_).empty() ? top_ : platform::JoinPath(top_, MaildirFolderName(levels_))),
          host_(MaildirHostName(platform::HostName())) {}

    bool Begin() override {
        // The top is a Maildir of its own (the account's inbox); each level above the folder
        // is a folder too, so that a folder without mail but with sub-folders shows.
        bool made = MakeMaildir(top_, false);
        for (std::size_t depth = 1; made && depth <= levels_.size(); ++depth) {
            const std::vector<std::string> path(levels_.begin(), levels_.begin() + static_cast<std::ptrdiff_t>(depth));
            const std::string name = MaildirFolderName(path);
            if (!name.empty()) made = MakeMaildir(platform::JoinPath(top_, name), true);
        }
        if (!made) {
            context_.tally.CountFailure(folder_, "cannot create the folder");
            return false;
        }
        for (const char* sub : {"cur", "new"})
            if (const auto names = platform::ListDirectory(platform::JoinPath(folder_, sub)))
                for (const std::string& name : *names) earlier_.insert(BaseOf(name));
        return true;
    }
    std::string StatusText(const FolderMessage& message) override {
        return SubjectDisplayText(message.subject, MessageCodepage(message.subject, message.text, context_.settings.codepage));
    }
    std::string FailureSubject(const FolderMessage& message) override { return folder_ + ": message " + std::to_string(message.slot); }
    std::string Write(PreparedMessage& prepared) override {
        const FolderMessage& message = prepared.message;
        const std::string_view bytes = message.text ? std::string_view(*message.text) : std::string_view();
        const std::uint64_t arrival = ArrivalTime(message);
        const std::int64_t arrived = arrival != 0 ? FiletimeToUnixSeconds(arrival) : std::time(nullptr);
        // Named by the message's own bytes, so that a run again finds what it wrote before.
        const std::string unique = "O" + imap::MessageDigest(bytes).substr(0, 20) + "S" + std::to_string(message.slot);
        const mapi::MessageState& state = message.state;
        const std::string flags = state.known ? MaildirFlags(state.draft, state.flagged, state.forwarded, state.replied, state.read) : "";
        platform::OutputFolder cur;
        if (const platform::WriteFailure failure = cur.Open(platform::JoinPath(folder_, "cur"));
            failure != platform::WriteFailure::kNone)
            return platform::WriteFailureWords(failure);
        for (int version = 1; version <= kMaxOutputVersions;) {
            const std::string base = unique + (version == 1 ? "" : "V" + std::to_string(version));
            const std::string name = std::to_string(arrived) + "." + base + "." + host_;
            if (earlier_.count(base) != 0) {
                // A file of an earlier run: the same message when its bytes are the same.
                if (std::string earlier = SameAsEarlier(base, bytes); !earlier.empty()) {
                    prepared.already_there = true;
                    prepared.output_path = std::move(earlier);
                    return {};
                }
                ++version;
                continue;
            }
            // Written beside its name and named only once whole, as a Maildir delivery through
            // tmp/ would be: a reader never sees half a message, and a killed run leaves none.
            platform::PendingFile file;
            platform::WriteFailure failure = file.Begin(cur, name, context_.devices);
            if (failure == platform::WriteFailure::kNone) failure = file.device().Write(bytes);
            if (failure != platform::WriteFailure::kNone) {
                file.Abandon();
                return platform::WriteFailureWords(failure);
            }
            // Readers take the file's time as when the message arrived.
            if (arrival != 0) file.SetTime(arrival);
            bool taken = false;
            failure = file.Place(name + MaildirInfo(flags), taken);
            if (failure == platform::WriteFailure::kNone && taken) {
                file.Abandon();
                earlier_.insert(base);  // someone else's meanwhile: looked at as a file of an earlier run
                continue;
            }
            if (failure == platform::WriteFailure::kNone) failure = file.Finish();
            if (failure != platform::WriteFailure::kNone) {
                file.Abandon();
                return platform::WriteFailureWords(failure);
            }
            earlier_.insert(base);
            prepared.output_path = platform::JoinPath(platform::JoinPath(folder_, "cur"), name + MaildirInfo(flags));
            return {};
        }
        return "no free name for another version of the message";
    }
    std::unique_ptr<MessageSink> RecoveredSink() override {
        std::vector<std::string> levels = levels_;
        levels.emplace_back(kRecoveredFolderName);
        return std::make_unique<MaildirSink>(context_, top_, std::move(levels));
    }

private:
    // Whether a file of this base in cur/ or new/ holds exactly these bytes.
    // The path of the file of an earlier run that holds these bytes under base; empty when none.
    std::string SameAsEarlier(const std::string& base, std::string_view bytes) const {
        for (const char* sub : {"cur", "new"}) {
            const std::string directory = platform::JoinPath(folder_, sub);
            const auto names = platform::ListDirectory(directory);
            platform::OutputFolder folder;
            if (!names || folder.Open(directory) != platform::WriteFailure::kNone) continue;
            for (const std::string& name : *names)
                if (BaseOf(name) == base && folder.Compare(name, bytes) == platform::ExistingFile::kSame)
                    return platform::JoinPath(directory, name);
        }
        return {};
    }

    ExportContext& context_;
    std::string top_;
    std::vector<std::string> levels_;
    std::string folder_;
    std::string host_;
    std::set<std::string> earlier_;  // bases of the files in cur/ and new/
};

}  // namespace

namespace {

// Readers of a Maildir know one inbox: its top, whatever a folder of that name says.
bool IsInbox(const std::string& name) {
    if (name.size() != 5) return false;
    for (std::size_t i = 0; i < 5; ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != "inbox"[i]) return false;
    return true;
}

}  // namespace

std::string MaildirFlags(bool draft, bool flagged, bool forwarded, bool replied, bool read) {
    std::string flags;
    if (draft) flags += 'D';
    if (flagged) flags += 'F';
    if (forwarded) flags += 'P';
    if (replied) flags += 'R';
    if (read) flags += 'S';
    return flags;
}

std::string MaildirInfo(const std::string& flags) {
    // Where ':' cannot be in a name, the delimiter mbsync uses there, so that it reads these.
    return std::string(1, platform::kColonInNames ? ':' : ';') + "2," + flags;
}

std::string MaildirFolderName(const std::vector<std::string>& levels) {
    std::string name;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        std::string plain = levels[i];
        if (i == 0 && IsInbox(plain)) {
            // The Maildir's own messages are the inbox; an inbox's sub-folders are INBOX's.
            if (levels.size() == 1) return {};
            plain = "INBOX";
        }
        for (char& c : plain)
            if (c == '.') c = '_';
        name += "." + imap::EncodeMailboxName(plain);
    }
    return name;
}

std::string MaildirHostName(const std::string& host) {
    std::string name;
    for (char c : host) {
        if (c == '/') name += "\\057";
        else if (c == ':') name += "\\072";
        else name += c;
    }
    return name;
}

void ExportFolderToMaildir(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                           const std::string& folder_name) {
    const std::vector<std::string> levels = context.tree_path.empty() ? std::vector<std::string>{folder_name} : context.tree_path;
    MaildirSink sink(context, destination_path, levels);
    RunFolderLoop(context, dbx_path, sink, AttachmentsPlaceFor(context, destination_path, folder_name));
}
