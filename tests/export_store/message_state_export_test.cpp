// What Outlook Express knew of each message (read, flagged, replied, forwarded, draft, priority)
// reaches the MSG files, read back with olefile, and the PST store; every message file carries
// the message's date as its modification time.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "export/export_test_support.h"
#include "fixtures/store_builder.h"
#include "fixtures/strict_checkers.h"
#include "job/conversion_job.h"
#include "store/msg/msg_test_support.h"
#include "store/pst/messaging/store.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;
constexpr std::uint64_t kTicksPerSecond = 10000000;

// The file's modification time in seconds since 1970, as the system keeps it.
std::uint64_t ModificationSeconds(const fs::path& path) {
    const auto time = std::chrono::file_clock::to_sys(fs::last_write_time(path));
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count());
}

struct StateRow {
    const char* subject;
    std::optional<std::uint32_t> flags;  // none: a record without the flags word
    std::optional<std::uint32_t> priority;
    // What a MAPI reader must see.
    int message_flags_read;  // MSGFLAG_READ set (1) or not (0)
    int icon;                // PR_ICON_INDEX
    std::optional<int> last_verb;
    std::optional<int> flag_status;
    int importance;
};

const StateRow kRows[] = {
    {"read and replied", 0x00080081, 1u, 1, 0x105, 102, std::nullopt, 2},
    {"unread and flagged", 0x00000021, 5u, 0, 0x101, std::nullopt, 2, 0},
    {"forwarded", 0x00100081, std::nullopt, 1, 0x106, 104, std::nullopt, 1},
    {"draft", 0x00000089, 3u, 1, 0x103, std::nullopt, std::nullopt, 1},
    {"no state kept", std::nullopt, std::nullopt, 1, -1, std::nullopt, std::nullopt, 1},
    {"never opened", 0u, std::nullopt, 0, 0x101, std::nullopt, std::nullopt, 1},
};

// The last row's message has no Date header: its sent time is the record's, as its delivery
// time always is.
bool Dated(std::size_t row) { return row + 1 < std::size(kRows); }
constexpr std::uint64_t kHeaderDate = kUnixEpochTicks + 946684800ULL * kTicksPerSecond;  // the Date header's

std::uint64_t DateOf(std::size_t row) { return kUnixEpochTicks + (1000000000ULL + 86400ULL * row) * kTicksPerSecond; }

std::string Mail(const std::string& subject, bool dated = true) {
    return "From: Ann <ann@example.com>\r\nTo: bob@example.com\r\nSubject: " + subject +
           (dated ? "\r\nDate: Sat, 01 Jan 2000 00:00:00 +0000" : "") + "\r\nMIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=us-ascii\r\n\r\nbody\r\n";
}

struct StateRun {
    fixtures::TempFolder dir;
    fixtures::RecordingWindow window;
    JobSettings settings;

    explicit StateRun(const std::string& option) {
        fixtures::DbxFileBuilder builder;
        std::uint32_t item = 1;
        for (std::size_t i = 0; i < std::size(kRows); ++i) {
            fixtures::DbxEmailSpec spec =
                testsupport::Email(kRows[i].subject, Mail(kRows[i].subject, Dated(i)), "ann@example.com", DateOf(i));
            if (!kRows[i].flags)
                builder.AddRawRecord(fixtures::MakeEmailRecord(spec, item++));
            else
                builder.AddRawRecord(fixtures::MakeEmailRecordWithState(spec, item++, *kRows[i].flags, kRows[i].priority));
        }
        const std::string path = dir / "Inbox.dbx";
        builder.WriteTo(path);
        window.AddRow(path, "Inbox.dbx");
        settings.saving_option = option;
        settings.destination_path = dir / "ExportDBX";
        fs::create_directories(settings.destination_path);
        window.pst_answer.pst_mode = "new";
        window.pst_answer.pst_path = dir / "Out.pst";
        window.pst_answer.pst_options_answer = "yes";
        const JobTally tally = RunConversionJob(window, settings);
        EXPECT_EQ(tally.failures(), 0u) << tally.Summary();
        EXPECT_EQ(tally.messages(), std::size(kRows));
    }
    // The output file of each row's message, found by its subject.
    std::map<std::string, fs::path> FilesBySubject() const {
        std::map<std::string, fs::path> files;
        for (const auto& entry : fs::directory_iterator(settings.destination_path + "/Inbox"))
            for (const auto& row : kRows)
                if (entry.path().filename().string().rfind(row.subject, 0) == 0) files[row.subject] = entry.path();
        return files;
    }
};

std::optional<int> DumpedInt(const std::map<std::string, std::string>& props, const char* tag) {
    const auto at = props.find(tag);
    if (at == props.end()) return std::nullopt;
    return std::stoi(at->second);
}

}  // namespace

TEST(MessageStateExport, MsgFilesCarryTheStateAndEveryFileTheMessageDate) {
    if (!msgtest::HaveOlefile()) GTEST_SKIP() << "python3-olefile not installed: MSG state not read back";
    StateRun run("msg");
    const auto files = run.FilesBySubject();
    ASSERT_EQ(files.size(), std::size(kRows));
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
        const StateRow& row = kRows[i];
        SCOPED_TRACE(row.subject);
        std::string error;
        const auto dump = msgtest::DumpMsg(files.at(row.subject).string(), &error);
        ASSERT_TRUE(dump.count("msg")) << error;
        const auto& props = dump.at("msg");
        EXPECT_EQ(DumpedInt(props, "0E070003").value_or(-99) & 1, row.message_flags_read);
        EXPECT_EQ(DumpedInt(props, "10800003"), row.icon);
        EXPECT_EQ(DumpedInt(props, "10810003"), row.last_verb);
        EXPECT_EQ(DumpedInt(props, "10900003"), row.flag_status);
        EXPECT_EQ(DumpedInt(props, "00170003"), row.importance);
        EXPECT_EQ((DumpedInt(props, "0E070003").value_or(0) & 8) != 0, row.flags == 0x00000089u) << "draft: unsent";
        // Delivered when Outlook Express received it; sent when the Date header says, else then too.
        EXPECT_EQ(props.count("0E060040") ? props.at("0E060040") : "none", std::to_string(DateOf(i)));
        EXPECT_EQ(props.count("00390040") ? props.at("00390040") : "none", std::to_string(Dated(i) ? kHeaderDate : DateOf(i)));

        EXPECT_EQ(ModificationSeconds(files.at(row.subject)), (DateOf(i) - kUnixEpochTicks) / kTicksPerSecond);
    }
    if (msgtest::HaveMsgCheck()) {
        for (const auto& [subject, path] : files) EXPECT_EQ(msgtest::MsgCheckStrict(path.string()), "") << subject;
    }
}

TEST(MessageStateExport, EmlFilesKeepTheirBytesAndTakeTheMessageDate) {
    StateRun run("eml");
    const auto files = run.FilesBySubject();
    ASSERT_EQ(files.size(), std::size(kRows));
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
        SCOPED_TRACE(kRows[i].subject);
        EXPECT_EQ(fixtures::ReadFile(files.at(kRows[i].subject).string()), Mail(kRows[i].subject, Dated(i)));
        EXPECT_EQ(ModificationSeconds(files.at(kRows[i].subject)), (DateOf(i) - kUnixEpochTicks) / kTicksPerSecond);
    }
}

TEST(MessageStateExport, PstMessagesCarryTheStateAndTheFolderCountsTheUnread) {
    StateRun run("pst");
    auto store = pst::messaging::Store::Open(run.dir / "Out.pst", false);
    const auto folder = store->FindFolderByPath("Inbox.dbx");
    ASSERT_TRUE(folder);
    std::map<std::string, mapi::Message> by_subject;
    for (auto id : store->Messages(*folder)) {
        mapi::Message message = store->ReadMessage(id);
        by_subject[message.props.GetString(0x0037001F).value_or("")] = std::move(message);
    }
    ASSERT_EQ(by_subject.size(), std::size(kRows));
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
        const StateRow& row = kRows[i];
        SCOPED_TRACE(row.subject);
        const mapi::PropertyBag& props = by_subject.at(row.subject).props;
        EXPECT_EQ(props.GetTime(0x0E060040), mapi::Filetime{DateOf(i)});
        EXPECT_EQ(props.GetTime(0x00390040), mapi::Filetime{Dated(i) ? kHeaderDate : DateOf(i)});
        EXPECT_EQ(props.GetInt32(0x0E070003).value_or(-99) & 1, row.message_flags_read);
        EXPECT_EQ(props.GetInt32(0x10800003), std::optional<std::int32_t>(row.icon));
        EXPECT_EQ(props.GetInt32(0x10810003), row.last_verb ? std::optional<std::int32_t>(*row.last_verb) : std::nullopt);
        EXPECT_EQ(props.GetInt32(0x10900003), row.flag_status ? std::optional<std::int32_t>(*row.flag_status) : std::nullopt);
        EXPECT_EQ(props.GetInt32(0x00170003), std::optional<std::int32_t>(row.importance));
    }
    // The strict checker compares the folder's unread count with its messages too.
    EXPECT_EQ(fixtures::PstCheckStrictFailure(run.dir / "Out.pst"), "");
}
