// Real folder files written by Outlook Express.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "dbx/dbx_scan.h"
#include "dbx_test_support.h"
#include "fixtures/temp_folder.h"

namespace {

using dbx_test::EmailPtr;
using dbx_test::ListEntryPtr;

class DbxSamples : public testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::is_directory(Dir())) GTEST_SKIP() << "no sample folder files in " << Dir();
    }
    static std::string Dir() { return std::string(OMBRIK_SAMPLES_DIR) + "/dbx"; }
    static std::string Path(const char* name) { return Dir() + "/" + name; }

    struct Reader {
        DbxReader* reader;
        ~Reader() { dbx_close(reader); }
    };
};

TEST_F(DbxSamples, InboxHoldsTheWelcomeMessage) {
    Reader inbox{dbx_open(Path("Inbox.dbx").c_str())};
    ASSERT_NE(inbox.reader, nullptr) << dbx_errno;
    EXPECT_EQ(inbox.reader->kind, DbxKind::Email);
    ASSERT_EQ(inbox.reader->item_count, 1);

    EmailPtr email(static_cast<DbxEmail*>(dbx_get(inbox.reader, 0)));
    ASSERT_NE(email, nullptr);
    EXPECT_EQ(email->subject, "Welcome to Outlook Express 6");
    EXPECT_EQ(email->sender_address, "msoe@microsoft.com");
    ASSERT_TRUE(email->message_text.has_value());
    EXPECT_EQ(email->message_text->rfind("From: \"Microsoft Outlook Express Team\" <msoe@microsoft.com>\r\n", 0), 0u);
    EXPECT_NE(email->message_text->find("Subject: Welcome to Outlook Express 6\r\n"), std::string::npos);
    // Its Date line says Sat, 11 Dec 2021 20:45:59 -0800, that is 2021-12-12 04:45:59 UTC.
    const std::uint64_t sent = 132837579590000000ull;
    EXPECT_NEAR(static_cast<double>(email->date), static_cast<double>(sent), 864000000000.0);

    const std::string first_read = *email->message_text;
    EXPECT_EQ(dbx_read_text(inbox.reader, email.get()), static_cast<std::int32_t>(first_read.size()));
    EXPECT_EQ(email->message_text, first_read);
}

TEST_F(DbxSamples, OutboxIsEmpty) {
    Reader outbox{dbx_open(Path("Outbox.dbx").c_str())};
    ASSERT_NE(outbox.reader, nullptr) << dbx_errno;
    EXPECT_EQ(outbox.reader->kind, DbxKind::Email);
    EXPECT_EQ(outbox.reader->item_count, 0);
}

TEST_F(DbxSamples, FoldersListsEightFolders) {
    Reader folders{dbx_open(Path("Folders.dbx").c_str())};
    ASSERT_NE(folders.reader, nullptr) << dbx_errno;
    EXPECT_EQ(folders.reader->kind, DbxKind::List);
    ASSERT_EQ(folders.reader->item_count, 8);
    std::vector<std::string> names;
    for (int slot = 7; slot >= 0; --slot) {
        ListEntryPtr entry(static_cast<DbxListEntry*>(dbx_get(folders.reader, slot)));
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->kind, DbxKind::List);
        names.push_back(entry->tag02_text.value_or(""));
        if (entry->tag02_text == "Inbox") {
            EXPECT_EQ(entry->tag03_text, "Inbox.dbx");
        }
    }
    EXPECT_NE(std::find(names.begin(), names.end(), "Inbox"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "Outbox"), names.end());
}

// The welcome message, found again by the scan once the index's root is gone: the same bytes,
// named and dated from its own header lines. While the index holds it, the scan leaves it be.
TEST_F(DbxSamples, ScanFindsTheWelcomeMessageWithoutTheIndex) {
    std::string bytes = fixtures::ReadFile(Path("Inbox.dbx"));
    dbx_test::MemoryDbx intact(bytes, DbxCountCheck::TreeIsTruth);
    ASSERT_NE(intact.reader(), nullptr);
    const std::string stored = intact.Email(0)->message_text.value_or("");
    DbxScan* scan = dbx_scan(intact.reader(), true);
    EXPECT_EQ(dbx_scan_count(scan), 0u);
    EXPECT_EQ(dbx_scan_stats(scan).index_messages, 1u);
    dbx_scan_free(scan);

    fixtures::OverwriteWithZeros(bytes, fixtures::GetLe32(bytes, fixtures::kDbxRootNodeAt), 64);
    dbx_test::MemoryDbx rootless(bytes, DbxCountCheck::TreeIsTruth);
    ASSERT_NE(rootless.reader(), nullptr);
    EXPECT_EQ(rootless.reader()->item_count, 0);
    EXPECT_EQ(rootless.reader()->header_item_count, 1);
    scan = dbx_scan(rootless.reader(), true);
    DbxFoundMessage found;
    ASSERT_TRUE(dbx_scan_next(scan, found));
    EXPECT_EQ(found.text, stored);
    EXPECT_FALSE(found.partial);
    EXPECT_FALSE(found.fragment);
    EXPECT_EQ(found.subject, "Welcome to Outlook Express 6");
    EXPECT_EQ(found.date, 132837579590000000ull);  // Sat, 11 Dec 2021 20:45:59 -0800
    EXPECT_FALSE(dbx_scan_next(scan, found));
    dbx_scan_free(scan);
}

TEST_F(DbxSamples, FolderListsHoldNoMessageTexts) {
    Reader folders{dbx_open(Path("Folders.dbx").c_str())};
    ASSERT_NE(folders.reader, nullptr);
    DbxScan* scan = dbx_scan(folders.reader, true);
    EXPECT_EQ(dbx_scan_count(scan), 0u);
    dbx_scan_free(scan);
}

TEST_F(DbxSamples, OfflineIsNeitherKind) {
    dbx_errno = 0;
    EXPECT_EQ(dbx_open(Path("Offline.dbx").c_str()), nullptr);
    EXPECT_EQ(dbx_errno, 1);
}

}  // namespace

// A folder that never held a message has no index at all (root offset 0): opened with the tree
// as the truth it is whole, not damaged, and a recover run has nothing to say of it.
TEST_F(DbxSamples, AnEmptyFolderHasNoIndexAndIsNotDamaged) {
    const std::string bytes = fixtures::ReadFile(Path("Outbox.dbx"));
    ASSERT_EQ(fixtures::GetLe32(bytes, fixtures::kDbxRootNodeAt), 0u);
    for (const DbxCountCheck check : {DbxCountCheck::Exact, DbxCountCheck::TreeIsTruth}) {
        dbx_test::MemoryDbx empty(bytes, check);
        ASSERT_NE(empty.reader(), nullptr);
        EXPECT_EQ(empty.reader()->item_count, 0);
        EXPECT_FALSE(empty.reader()->index_damaged);
    }
}
