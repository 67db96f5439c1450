// The message state of e-mail records: read, flagged, replied, forwarded, priority and the
// rest of the flags word.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "dbx_test_support.h"
#include "fixtures/store_builder.h"

namespace {

using fixtures::DbxFileBuilder;
using fixtures::MakeEmailRecordWithState;

// A file of one record, and the e-mail read from it (released before the file).
struct OneEmail {
    std::unique_ptr<dbx_test::MemoryDbx> dbx;
    dbx_test::EmailPtr email;
};
OneEmail ReadOne(const fixtures::DbxRawRecord& record) {
    OneEmail one;
    one.dbx = std::make_unique<dbx_test::MemoryDbx>(DbxFileBuilder().AddRawRecord(record).Build());
    one.email = one.dbx->Email(0);
    return one;
}

struct StateCase {
    const char* name;
    std::uint32_t flags;
    bool read, flagged, replied, forwarded;
};

TEST(DbxMessageState, EachFlagBitGivesItsField) {
    const StateCase cases[] = {
        {"unread", 0x00000001, false, false, false, false},
        {"read", 0x00000081, true, false, false, false},
        {"flagged, unread", 0x00000021, false, true, false, false},
        {"replied", 0x00080081, true, false, true, false},
        {"forwarded", 0x00100081, true, false, false, true},
        {"everything", 0x001800A1, true, true, true, true},
    };
    for (const auto& c : cases) {
        const OneEmail one = ReadOne(MakeEmailRecordWithState(dbx_test::NumberedEmail(1), 1, c.flags));
        const auto& email = one.email;
        ASSERT_NE(email, nullptr) << c.name;
        EXPECT_EQ(email->state_flags, c.flags) << c.name;
        EXPECT_TRUE(email->state_stored) << c.name;
        EXPECT_EQ(email->read, c.read) << c.name;
        EXPECT_EQ(email->flagged, c.flagged) << c.name;
        EXPECT_EQ(email->replied, c.replied) << c.name;
        EXPECT_EQ(email->forwarded, c.forwarded) << c.name;
        EXPECT_TRUE(email->body_downloaded) << c.name;
        // The one-byte field keeps the low byte only, as always.
        EXPECT_EQ(email->tag01_value, c.flags & 0xFF) << c.name;
        EXPECT_EQ(email->subject, "Subject 1") << c.name;
    }
}

TEST(DbxMessageState, TheOtherBitsAndThePriority) {
    const std::uint32_t all = kDbxMessageDraft | kDbxMessageHasAttachment | kDbxMessageSigned | kDbxMessageWatched |
                              kDbxMessageIgnored;
    const OneEmail one = ReadOne(MakeEmailRecordWithState(dbx_test::NumberedEmail(2), 2, all, kDbxPriorityHigh));
    const auto& email = one.email;
    ASSERT_NE(email, nullptr);
    EXPECT_TRUE(email->draft);
    EXPECT_TRUE(email->has_attachment);
    EXPECT_TRUE(email->signed_message);
    EXPECT_TRUE(email->watched);
    EXPECT_TRUE(email->ignored);
    EXPECT_FALSE(email->read);
    EXPECT_FALSE(email->body_downloaded);  // headers only, left on the server
    EXPECT_EQ(email->priority, kDbxPriorityHigh);

    // Priority stored as data (tag 0x10) rather than directly; no state at all gives zeros.
    fixtures::DbxRawRecord record = fixtures::MakeEmailRecord(dbx_test::NumberedEmail(3), 3);
    record.properties.push_back({0x10, static_cast<std::uint32_t>(record.data.size())});
    record.data += std::string("\x05\x00\x00\x00", 4);
    dbx_test::MemoryDbx low(DbxFileBuilder().AddRawRecord(record).Build());
    EXPECT_EQ(low.Email(0)->priority, kDbxPriorityLow);
    dbx_test::MemoryDbx plain(dbx_test::NumberedFolder(1).Build());
    auto none = plain.Email(0);
    EXPECT_EQ(none->state_flags, 0u);
    EXPECT_FALSE(none->state_stored);
    EXPECT_EQ(none->priority, 0u);
    EXPECT_FALSE(none->read);
    // A flags word stored as 0 is a state all the same: never opened.
    const OneEmail zero = ReadOne(MakeEmailRecordWithState(dbx_test::NumberedEmail(6), 6, 0));
    ASSERT_NE(zero.email, nullptr);
    EXPECT_TRUE(zero.email->state_stored);
    EXPECT_FALSE(zero.email->read);
}

TEST(DbxMessageState, FlagsStoredDirectlyAndAStateRunningOffTheBody) {
    fixtures::DbxRawRecord direct = fixtures::MakeEmailRecord(dbx_test::NumberedEmail(4), 4);
    direct.properties.push_back({0x81, 0x100020});
    dbx_test::MemoryDbx a(DbxFileBuilder().AddRawRecord(direct).Build());
    auto email = a.Email(0);
    EXPECT_TRUE(email->flagged);
    EXPECT_TRUE(email->forwarded);
    EXPECT_EQ(email->tag01_value, 0x100020u);  // the direct form keeps all 24 bits, as always

    // A priority whose data starts past the body's end: none, and every other field still read.
    fixtures::DbxRawRecord outside = fixtures::MakeEmailRecord(dbx_test::NumberedEmail(5), 5);
    outside.properties.insert(outside.properties.begin(), {0x10, 0xFFFF});
    dbx_test::MemoryDbx b(DbxFileBuilder().AddRawRecord(outside).Build());
    auto damaged = b.Email(0);
    EXPECT_EQ(damaged->priority, 0u);
    EXPECT_EQ(damaged->subject, "Subject 5");
    EXPECT_TRUE(damaged->message_text.has_value());
}

TEST(DbxMessageState, RealMessageWasReadAndHasNormalPriority) {
    const std::string path = std::string(OMBRIK_SAMPLES_DIR) + "/dbx/Inbox.dbx";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no sample folder file at " << path;
    DbxReader* reader = dbx_open(path.c_str());
    ASSERT_NE(reader, nullptr);
    dbx_test::EmailPtr email(static_cast<DbxEmail*>(dbx_get(reader, 0)));
    dbx_close(reader);
    ASSERT_NE(email, nullptr);
    // The folder list of the same store counts this folder's unread messages as none.
    EXPECT_TRUE(email->read);
    EXPECT_TRUE(email->body_downloaded);
    EXPECT_FALSE(email->flagged);
    EXPECT_FALSE(email->replied);
    EXPECT_FALSE(email->forwarded);
    EXPECT_EQ(email->priority, kDbxPriorityNormal);
}

}  // namespace
