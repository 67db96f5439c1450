// One digest per folder file, whichever way it comes: read by a thread, fed by a reader of the
// job, or read again when a feed broke off. Two sources must never get each other's digest.
#include <gtest/gtest.h>

#include <string>

#include "export/content_digest.h"
#include "export/source_digests.h"
#include "fixtures/temp_folder.h"

TEST(SourceDigests, FedReadAndBrokenFeedsEachGiveTheirOwnFilesDigest) {
    fixtures::TempFolder dir;
    const std::string inbox(200000, 'i'), sent = "sent items", drafts = "drafts";
    fixtures::WriteFile(dir / "Inbox.dbx", inbox);
    fixtures::WriteFile(dir / "Sent.dbx", sent);
    fixtures::WriteFile(dir / "Drafts.dbx", drafts);
    SourceDigests digests;
    for (const char* name : {"Inbox.dbx", "Sent.dbx", "Drafts.dbx"}) digests.Expect(dir / name);
    const auto inbox_digest = digests.Of(dir / "Inbox.dbx");  // pending until fed
    // Fed whole, in two pieces.
    auto feed = digests.TakeFeed(dir / "Inbox.dbx");
    ASSERT_NE(feed, nullptr);
    EXPECT_EQ(digests.TakeFeed(dir / "Inbox.dbx"), nullptr);  // once only
    feed->Update(inbox.data(), 1000);
    feed->Update(inbox.data() + 1000, inbox.size() - 1000);
    feed->Finish(true);
    EXPECT_EQ(inbox_digest.get(), Sha256Hex(inbox));
    // A feed that broke off, and one dropped unfinished, read their file instead of the part.
    auto broken = digests.TakeFeed(dir / "Sent.dbx");
    broken->Update(sent.data(), 3);
    broken->Finish(false);
    EXPECT_EQ(digests.Now(dir / "Sent.dbx"), Sha256Hex(sent));
    digests.TakeFeed(dir / "Drafts.dbx")->Update("x", 1);
    EXPECT_EQ(digests.Now(dir / "Drafts.dbx"), Sha256Hex(drafts));
    // Expected but never fed: settled by a read. Never expected: read on asking. Missing: empty.
    fixtures::WriteFile(dir / "Outbox.dbx", "outbox");
    digests.Expect(dir / "Outbox.dbx");
    digests.Settle(dir / "Outbox.dbx");
    EXPECT_EQ(digests.Of(dir / "Outbox.dbx").get(), Sha256Hex("outbox"));
    EXPECT_EQ(digests.Now(dir / "Inbox.dbx"), Sha256Hex(inbox));
    EXPECT_EQ(digests.Now(dir / "missing.dbx"), "");
}
