#include <algorithm>

#include <gtest/gtest.h>

#include "fixtures/temp_folder.h"
#include "imap/upload_journal.h"

namespace {

const std::string kA(64, 'a'), kB(64, 'b'), kC(64, 'c');

imap::JournalRecord Record(imap::JournalRecord::Kind kind, const std::string& digest, std::uint32_t uid = 0,
                           std::uint64_t size = 0, const std::string& id = {}) {
    imap::JournalRecord record;
    record.kind = kind;
    record.digest = digest;
    record.uid = uid;
    record.size = size;
    record.message_id = id;
    return record;
}

using Kind = imap::JournalRecord::Kind;

TEST(UploadJournal, TextSaysTheLastWordOfEachMessage) {
    const std::string text = imap::JournalStartText("imaps://a@h:993", "INBOX") + imap::UidValidityLine(7) +
                             imap::RecordLine(Record(Kind::kPending, kA, 0, 120, "<x@y>")) +
                             imap::RecordLine(Record(Kind::kDone, kA, 5)) +
                             imap::RecordLine(Record(Kind::kPending, kA, 0, 120, "<x@y>")) +  // a resend cut short: still done
                             imap::RecordLine(Record(Kind::kPending, kB, 0, 99)) +
                             imap::RecordLine(Record(Kind::kPending, kC, 0, 1)) + imap::RecordLine(Record(Kind::kDropped, kC)) +
                             "done " + kB.substr(0, 10) + " 3\n" + "what is this\n" + "done " + kB + " 12";  // torn last line
    const imap::JournalState state = imap::ReadJournalText(text);
    ASSERT_TRUE(state.is_journal);
    EXPECT_EQ(state.uid_validity, 7u);
    ASSERT_EQ(state.size(), 3u);
    EXPECT_EQ(state.Find(kA)->kind, Kind::kDone);
    EXPECT_EQ(state.Find(kA)->uid, 5u);
    EXPECT_EQ(state.Find(kB)->kind, Kind::kPending);
    EXPECT_EQ(state.Find(kB)->size, 99u);
    EXPECT_EQ(state.Find(kB)->message_id, "");
    EXPECT_EQ(state.Find(kC)->kind, Kind::kDropped);

    // A new UIDVALIDITY voids what was said before it; records before any say nothing.
    EXPECT_TRUE(imap::ReadJournalText(text + "\n" + imap::UidValidityLine(8)).size() == 0);
    EXPECT_TRUE(imap::ReadJournalText(imap::JournalStartText("a", "b") + imap::RecordLine(Record(Kind::kDone, kA, 1)))
                    .size() == 0);
    EXPECT_FALSE(imap::ReadJournalText("something else\n").is_journal);
    // A Message-ID with blanks (or a "-" of its own) survives its record.
    for (const char* id : {"<a b%c>", "-", "<x\ty>"}) {
        const std::string line = imap::RecordLine(Record(Kind::kPending, kA, 0, 3, id));
        EXPECT_EQ(std::count(line.begin(), line.end(), ' '), 3) << line;
        const auto read = imap::ReadJournalText(imap::JournalStartText("a", "b") + imap::UidValidityLine(1) + line);
        EXPECT_EQ(read.Find(kA)->message_id, id) << line;
    }
}

TEST(UploadJournal, FileKeepsItsRecordsAcrossRuns) {
    fixtures::TempFolder dir;
    const std::string path = imap::JournalPath(dir.path(), "imaps://anna@host:993", "Outlook Express/Inbox");
    EXPECT_EQ(path.rfind(dir.path(), 0), 0u);
    EXPECT_NE(path, imap::JournalPath(dir.path(), "imaps://anna@host:993", "Outlook Express/Sent"));
    const auto never = [] { return false; };
    {
        imap::UploadJournal journal(path, "imaps://anna@host:993", "Outlook Express/Inbox", [] {}, never);
        EXPECT_EQ(journal.uid_validity(), 0u);
        journal.StartOver(41);
        journal.Write({Record(Kind::kPending, kA, 0, 10, "<a@b>"), Record(Kind::kPending, kB, 0, 20)});
        journal.Write({Record(Kind::kDone, kA, 3)});
    }
    // A crash in the middle of a record.
    fixtures::WriteFile(path, fixtures::ReadFile(path) + "done " + kB.substr(0, 20));
    {
        imap::UploadJournal journal(path, "imaps://anna@host:993", "Outlook Express/Inbox", [] {}, never);
        EXPECT_EQ(journal.uid_validity(), 41u);
        ASSERT_TRUE(journal.Find(kA).has_value());
        EXPECT_EQ(journal.Find(kA)->kind, Kind::kDone);
        EXPECT_EQ(journal.DoneUids(), std::vector<std::uint32_t>{3});
        ASSERT_EQ(journal.Pending().size(), 1u);
        EXPECT_EQ(journal.Pending()[0].digest, kB);
        journal.Write({Record(Kind::kDone, kB, 4)});  // lands on a line of its own
    }
    imap::UploadJournal journal(path, "imaps://anna@host:993", "Outlook Express/Inbox", [] {}, never);
    EXPECT_TRUE(journal.Pending().empty());
    EXPECT_EQ(journal.Find(kB)->uid, 4u);
    EXPECT_FALSE(journal.Find(kC).has_value());
}

TEST(UploadJournal, ForeignFileIsNotTakenOver) {
    fixtures::TempFolder dir;
    const std::string path = dir / "x.journal";
    fixtures::WriteFile(path, "my own notes\n");
    EXPECT_THROW(imap::UploadJournal(path, "a", "b", [] {}, [] { return false; }), std::runtime_error);
    EXPECT_EQ(fixtures::ReadFile(path), "my own notes\n");
}

}  // namespace
