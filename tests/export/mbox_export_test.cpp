#include "export/mbox_export.h"

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "export/buffered_output.h"
#include "export/export_test_support.h"
#include "fixtures/environment.h"
#include "fixtures/linux_tools.h"
#include "fixtures/store_builder.h"
#include "platform/paths.h"

using fixtures::ReadFile;
using testsupport::Email;
using testsupport::ExportHarness;

namespace {

constexpr std::uint64_t kEpochTicks = 116444736000000000ULL;

std::string BodyThroughMbox(const std::string& text) {
    fixtures::TempFolder dir;
    BufferedOutput out;
    EXPECT_TRUE(out.Open(dir / "body"));
    WriteMboxBody(text, out);
    EXPECT_TRUE(out.Close());
    return ReadFile(dir / "body");
}

// Runs the test body in the UTC zone, so that local-time texts are predictable.
class UtcZone : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        saved_ = tz ? tz : "";
        had_ = tz != nullptr;
        fixtures::SetEnvironment("TZ", "UTC");
        fixtures::ReadTimeZone();
    }
    void TearDown() override {
        if (had_) fixtures::SetEnvironment("TZ", saved_); else fixtures::UnsetEnvironment("TZ");
        fixtures::ReadTimeZone();
    }
    std::string saved_;
    bool had_ = false;
};

}  // namespace

// Expected MBOX text with the platform's line end in place of each "\n".
std::string Lines(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += platform::kLineEnd;
        else out += c;
    }
    return out;
}

TEST(FiletimeToUnixSeconds, TakesTheFloor) {
    EXPECT_EQ(FiletimeToUnixSeconds(kEpochTicks), 0);
    EXPECT_EQ(FiletimeToUnixSeconds(kEpochTicks + 10000000), 1);
    EXPECT_EQ(FiletimeToUnixSeconds(kEpochTicks + 9999999), 0);
    EXPECT_EQ(FiletimeToUnixSeconds(kEpochTicks - 1), -1);
    EXPECT_EQ(FiletimeToUnixSeconds(0), -11644473600);
}

TEST(WriteMboxBody, QuotesOnlyLinesBeginningWithFromBlank) {
    EXPECT_EQ(BodyThroughMbox("From the desk of X\n>From me\nfrom you\nFrom: header\nFrom the end"),
              Lines(">From the desk of X\n>From me\nfrom you\nFrom: header\n>From the end"));
    EXPECT_EQ(BodyThroughMbox(""), "");
}

TEST(WriteMboxBody, WritesEachLineEndAsOne) {
    // A stored CR LF must not become CR CR LF; a lone CR is not a line end and stays.
    EXPECT_EQ(BodyThroughMbox("A\r\nB\r\n"), Lines("A\nB\n"));
    EXPECT_EQ(BodyThroughMbox("A\nB\r\nC"), Lines("A\nB\nC"));
    EXPECT_EQ(BodyThroughMbox("bare\rcr\r\n\r\n"), Lines("bare\rcr\n\n"));
}

TEST_F(UtcZone, SeparatorLineCarriesSenderAndLocalDate) {
    const std::uint64_t march_5_2009 = kEpochTicks + 1236262029ULL * 10000000ULL;  // 2009-03-05 14:07:09 UTC
    EXPECT_EQ(MboxSeparatorLine(std::string("x@example.com"), march_5_2009),
              Lines("From x@example.com Thu Mar 05 14:07:09 2009\n"));
    EXPECT_EQ(MboxSeparatorLine(std::nullopt, march_5_2009), Lines("From MAILER-DAEMON Thu Mar 05 14:07:09 2009\n"));
    EXPECT_EQ(MboxSeparatorLine(std::string("a@b"), 0), Lines("From a@b Thu Jan 01 00:00:00 1970\n"));
    EXPECT_EQ(MboxSeparatorLine(std::string("a@b"), ~0ULL >> 1), Lines("From a@b Thu Jan 01 00:00:00 1970\n"));
}

TEST_F(UtcZone, WritesOneEntryPerEmail) {
    ExportHarness h;
    const std::uint64_t date = kEpochTicks + 1236262029ULL * 10000000ULL;
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("first", "Subject: one\r\n\r\nA\r\nB\r\n", "X", date))
        .AddEmail(Email("second", "Subject: two\r\n\r\nFrom here\r\nend", "Y", date));
    const std::string destination = h.Destination();
    ExportFolderToMbox(h.context, h.WriteDbx("Inbox.dbx", builder), destination, "Inbox");

    EXPECT_EQ(ReadFile(destination + "/Inbox.mbox"),
              Lines("From X Thu Mar 05 14:07:09 2009\nSubject: one\n\nA\nB\n\n\n"
                    "From Y Thu Mar 05 14:07:09 2009\nSubject: two\n\n>From here\nend\n\n"));
    EXPECT_EQ(h.window.status, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(h.window.progress, (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(h.tally.messages(), 2u);
}

TEST(MboxExport, IndependentReaderSeesEveryMessage) {
    if (!fixtures::CanRunLinuxTool("/usr/bin/python3")) GTEST_SKIP() << "no python3";
    ExportHarness h;
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 25; ++i)
        builder.AddEmail(Email("m" + std::to_string(i),
                               "Subject: message " + std::to_string(i) + "\r\n\r\nFrom the top\r\nbody " +
                                   std::to_string(i) + "\r\n",
                               "s" + std::to_string(i) + "@example.com", kEpochTicks + i * 10000000ULL * 86400));
    const std::string destination = h.Destination();
    ExportFolderToMbox(h.context, h.WriteDbx("Inbox.dbx", builder), destination, "Inbox");
    const std::string script =
        "import mailbox,sys\n"
        "m=mailbox.mbox(sys.argv[1])\n"
        "subjects=[x['Subject'] for x in m]\n"
        "assert len(subjects)==25, len(subjects)\n"
        "assert subjects[0]=='message 0' and subjects[24]=='message 24', subjects\n"
        "assert all(x.get_payload().startswith('>From the top') for x in m)\n";
    fixtures::WriteFile(h.dir / "check.py", script);
    const std::string command = "/usr/bin/python3 " + (h.dir / "check.py") + " " + destination + "/Inbox.mbox";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

// --mbox-status: mail programs read the state Outlook Express kept; without it the bytes stay.
TEST(MboxExport, StatusLinesCarryTheStateToMailPrograms) {
#ifdef _WIN32
    GTEST_SKIP() << "Python's mailbox reader is run by the Linux build's copy of this test";
#endif
    if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no python3";
    struct Row {
        const char* subject;
        std::optional<std::uint32_t> flags;  // none: no flags word in the record
        const char* python_flags;            // what Python's mailbox reads, in letter order
        const char* mozilla;                 // X-Mozilla-Status
    };
    const Row rows[] = {
        {"read", 0x00000081u, "OR", "0001"},
        {"unread flagged", 0x00000021u, "FO", "0004"},
        {"replied", 0x00080081u, "AOR", "0003"},
        {"forwarded", 0x00100081u, "OR", "1001"},
        {"never opened", 0u, "O", "0000"},
        {"no state", std::nullopt, "", ""},
    };
    for (bool with_status : {true, false}) {
        ExportHarness h;
        h.settings.mbox_status = with_status;
        fixtures::DbxFileBuilder builder;
        std::uint32_t item = 1;
        for (const Row& row : rows) {
            // A stale status line of the message's own is replaced, not repeated.
            const std::string text = std::string("Subject: ") + row.subject + "\r\nStatus: RO\r\nX-Status: D\r\n\r\nFrom here\r\n";
            fixtures::DbxEmailSpec spec = Email(row.subject, text);
            builder.AddRawRecord(row.flags ? fixtures::MakeEmailRecordWithState(spec, item++, *row.flags)
                                           : fixtures::MakeEmailRecord(spec, item++));
        }
        const std::string destination = h.Destination();
        ExportFolderToMbox(h.context, h.WriteDbx("Inbox.dbx", builder), destination, "Inbox");
        std::string expected = "{";
        for (const Row& row : rows) {
            const bool lines = with_status && row.flags;
            expected += std::string("'") + row.subject + "': ('" + (lines ? row.python_flags : "DOR") + "', '" +
                        (lines ? row.mozilla : "None") + "', 'From here\\n\\n'), ";
        }
        expected += "}";
        const std::string script =
            "import mailbox,sys\n"
            "got={m['Subject']: (''.join(sorted(m.get_flags())), str(m['X-Mozilla-Status']), m.get_payload().lstrip('>'))\n"
            "     for m in mailbox.mbox(sys.argv[1])}\n"
            "want=" + expected + "\n"
            "assert all(len(m.get_all('Status') or []) <= 1 for m in mailbox.mbox(sys.argv[1]))\n"
            "assert got==want, (got, want)\n";
        fixtures::WriteFile(h.dir / "check.py", script);
        const std::string command = "/usr/bin/python3 " + (h.dir / "check.py") + " " + destination + "/Inbox.mbox";
        EXPECT_EQ(std::system(command.c_str()), 0) << (with_status ? "with" : "without") << " --mbox-status";
    }
}

TEST(MboxExport, UnopenableFolderFileLeavesNoMbox) {
    ExportHarness h;
    fixtures::WriteFile(h.dir / "Bad.dbx", std::string(300, 'x'));
    const std::string destination = h.Destination();
    ExportFolderToMbox(h.context, h.dir / "Bad.dbx", destination, "Bad");
    ASSERT_EQ(h.window.messages.size(), 1u);
    EXPECT_EQ(h.window.messages[0].text.substr(0, h.window.messages[0].text.find('\n')), "Unable to open DBX File");
    EXPECT_FALSE(std::filesystem::exists(destination + "/Bad.mbox"));
    EXPECT_EQ(h.tally.failures(), 1u);
}

TEST(MboxExport, MissingDestinationWritesNothingAndShowsNothingButIsCounted) {
    ExportHarness h;
    fixtures::DbxFileBuilder inbox;
    inbox.AddEmail(Email("a", "x"));
    ExportFolderToMbox(h.context, h.WriteDbx("Inbox.dbx", inbox), h.dir / "missing", "Inbox");
    EXPECT_TRUE(h.window.messages.empty());
    EXPECT_FALSE(std::filesystem::exists(h.dir / "missing"));
    EXPECT_EQ(h.tally.failures(), 1u);
}

TEST(MboxExport, FolderListGivesNoFileButANote) {
    ExportHarness h;
    fixtures::DbxFileBuilder list(DbxKind::List);
    list.AddListEntry({std::string("Inbox"), {}, 1, 1});
    const std::string destination = h.Destination();
    ExportFolderToMbox(h.context, h.WriteDbx("Folders.dbx", list), destination, "Folders");
    EXPECT_FALSE(std::filesystem::exists(destination + "/Folders.mbox"));
    EXPECT_TRUE(h.window.progress.empty());
    EXPECT_EQ(h.tally.failures(), 0u);
    EXPECT_EQ(h.tally.note_lines().size(), 1u);
}

#ifndef _WIN32  // /dev/full is a POSIX device
TEST(MboxExport, AFullDiskIsReported) {
    BufferedOutput out(64);
    ASSERT_TRUE(out.Open("/dev/full"));
    out.Write(std::string(1000, 'x'));
    EXPECT_FALSE(out.Close());
    EXPECT_FALSE(out.error_text().empty());
}
#endif
