// Fetching and releasing item records: slots, property tags, record bounds, errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbx_test_support.h"

namespace {

using dbx_test::MemoryDbx;
using dbx_test::NumberedFolder;
using fixtures::DbxFileBuilder;
using fixtures::DbxLayout;
using fixtures::DbxRawProperty;
using fixtures::DbxRawRecord;

std::string Le32(std::uint32_t v) {
    std::string s(4, '\0');
    fixtures::PutLe32(s, 0, v);
    return s;
}

// A file holding one hand-made email record.
std::string OneRecordFile(const DbxRawRecord& record, DbxKind kind = DbxKind::Email) {
    return DbxFileBuilder(kind).AddRawRecord(record).Build();
}

// Data area of zero-terminated strings; returns each one's offset.
struct DataArea {
    std::string bytes;
    std::uint32_t Add(const std::string& text) {
        const auto at = static_cast<std::uint32_t>(bytes.size());
        bytes += text;
        bytes.push_back('\0');
        return at;
    }
    std::uint32_t AddRaw(const std::string& raw) {
        const auto at = static_cast<std::uint32_t>(bytes.size());
        bytes += raw;
        return at;
    }
};

TEST(DbxGet, SlotsOutsideTheTableGiveCodeSixAndNoItem) {
    MemoryDbx dbx(NumberedFolder(3).Build());
    ASSERT_NE(dbx.reader(), nullptr);
    for (int slot : {-1, 3, 4, INT32_MIN, INT32_MAX}) {
        dbx_errno = 0;
        EXPECT_EQ(dbx_get(dbx.reader(), slot), nullptr) << slot;
        EXPECT_EQ(dbx_errno, 6);
    }
    auto item = dbx.Email(0);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->index, 0);
    EXPECT_EQ(dbx_errno, 0);
}

TEST(DbxGet, NoReaderOrNoStreamGivesCodeOne) {
    EXPECT_EQ(dbx_get(nullptr, 0), nullptr);
    EXPECT_EQ(dbx_errno, 1);
    DbxReader closed;
    closed.item_count = 1;
    closed.item_offsets = {0};
    dbx_errno = 0;
    EXPECT_EQ(dbx_get(&closed, 0), nullptr);
    EXPECT_EQ(dbx_errno, 1);
    DbxEmail email;
    dbx_errno = 0;
    EXPECT_EQ(dbx_read_text(nullptr, &email), -1);
    EXPECT_EQ(dbx_errno, 1);
    dbx_errno = 0;
    EXPECT_EQ(dbx_read_text(&closed, &email), -1);
    EXPECT_EQ(dbx_errno, 1);
}

TEST(DbxGet, EmailFieldsComeBackAsBuilt) {
    fixtures::DbxEmailSpec spec;
    spec.subject = "Quarterly report";
    spec.sender_address = "anna@example.org";
    spec.date = 0x01D7EF132872FAC0ull;
    spec.text = "From: anna@example.org\r\n\r\nHello\r\n";
    DbxLayout layout;
    MemoryDbx dbx(DbxFileBuilder().AddEmail(spec).AddEmail({}).Build(layout));
    ASSERT_NE(dbx.reader(), nullptr);

    auto email = dbx.Email(1);
    EXPECT_EQ(email->kind, DbxKind::Email);
    EXPECT_EQ(email->index, 1);
    EXPECT_EQ(email->subject, spec.subject);
    EXPECT_EQ(email->sender_address, spec.sender_address);
    EXPECT_EQ(email->date, spec.date);
    EXPECT_EQ(email->message_text, spec.text);
    EXPECT_EQ(email->text_offset, static_cast<std::int32_t>(layout.items[0].chain_blocks[0][0]));
    EXPECT_EQ(email->tag00_value, 1u);

    auto bare = dbx.Email(0);
    EXPECT_FALSE(bare->subject.has_value());
    EXPECT_FALSE(bare->sender_address.has_value());
    EXPECT_FALSE(bare->message_text.has_value());
    EXPECT_EQ(bare->text_offset, -1);
    EXPECT_EQ(bare->date, 0u);
}

TEST(DbxGet, EveryEmailTagLandsInItsField) {
    const std::vector<std::pair<std::uint8_t, DbxText DbxEmail::*>> string_tags = {
        {0x05, &DbxEmail::tag05_text},     {0x07, &DbxEmail::tag07_text}, {0x08, &DbxEmail::subject},
        {0x0A, &DbxEmail::tag0a_text},     {0x0C, &DbxEmail::tag0c_text}, {0x0D, &DbxEmail::tag0d_text},
        {0x0E, &DbxEmail::sender_address}, {0x13, &DbxEmail::tag13_text}, {0x14, &DbxEmail::tag14_text},
        {0x1A, &DbxEmail::tag1a_text},     {0x1B, &DbxEmail::tag1b_text},
    };
    DbxRawRecord record;
    DataArea data;
    for (const auto& [tag, field] : string_tags) record.properties.push_back({tag, data.Add("text of " + std::to_string(tag))});
    record.properties.push_back({0x12, data.AddRaw(Le32(0x89ABCDEF) + Le32(0x01234567))});
    record.properties.push_back({0x01, data.AddRaw("\xF3")});
    record.properties.push_back({0x80, 0xABCDEF});
    // Tags outside the email table are skipped, also where their data would be bad.
    record.properties.push_back({0x02, 0xFFFFFF});
    record.properties.push_back({0x09, 0xFFFFFF});
    record.properties.push_back({0x83, 0x123456});
    record.data = data.bytes;

    MemoryDbx dbx(OneRecordFile(record));
    ASSERT_NE(dbx.reader(), nullptr);
    auto email = dbx.Email(0);
    for (const auto& [tag, field] : string_tags) {
        EXPECT_EQ((*email).*field, "text of " + std::to_string(tag)) << int(tag);
    }
    EXPECT_EQ(email->date, 0x0123456789ABCDEFull);
    EXPECT_EQ(email->tag01_value, 0xF3u);
    EXPECT_EQ(email->tag00_value, 0xABCDEFu);
    EXPECT_EQ(email->text_offset, -1);
    EXPECT_FALSE(email->message_text.has_value());
    EXPECT_EQ(dbx_errno, 0);
}

TEST(DbxGet, ListEntriesReadTheirOwnTagsOnly) {
    DbxRawRecord record = fixtures::MakeListRecord({"Inbox", "Inbox.dbx", 4, 1});
    record.properties.push_back({0x08, 0});  // an email tag: no meaning in a folder list
    MemoryDbx dbx(OneRecordFile(record, DbxKind::List));
    ASSERT_NE(dbx.reader(), nullptr);
    auto entry = dbx.ListEntry(0);
    EXPECT_EQ(entry->kind, DbxKind::List);
    EXPECT_EQ(entry->tag02_text, "Inbox");
    EXPECT_EQ(entry->tag03_text, "Inbox.dbx");
    EXPECT_EQ(entry->tag80_value, 4u);
    EXPECT_EQ(entry->tag81_value, 1u);
}

TEST(DbxGet, LaterEntryForTheSameFieldWins) {
    DataArea data;
    const std::uint32_t text_word = data.AddRaw(Le32(0));  // filled with chain 1's offset
    const std::uint32_t one_byte = data.AddRaw("\x07");
    const std::uint32_t first = data.Add("first subject");
    const std::uint32_t second = data.Add("second, longer subject");

    DbxRawRecord direct_last;
    direct_last.chains = {"indirect text", "direct text"};
    direct_last.properties = {{0x04, text_word, 0}, {0x84, 0, 1}, {0x01, one_byte}, {0x81, 0x42},
                              {0x08, first},        {0x08, second}};
    direct_last.data = data.bytes;

    DbxRawRecord indirect_last = direct_last;
    indirect_last.properties = {{0x84, 0, 1}, {0x04, text_word, 0}, {0x81, 0x42}, {0x01, one_byte},
                                {0x08, second}, {0x08, first}};

    MemoryDbx dbx(DbxFileBuilder().AddRawRecord(direct_last).AddRawRecord(indirect_last).Build());
    ASSERT_NE(dbx.reader(), nullptr);
    auto a = dbx.Email(1);
    EXPECT_EQ(a->message_text, "direct text");
    EXPECT_EQ(a->tag01_value, 0x42u);
    EXPECT_EQ(a->subject, "second, longer subject");
    auto b = dbx.Email(0);
    EXPECT_EQ(b->message_text, "indirect text");
    EXPECT_EQ(b->tag01_value, 0x07u);
    EXPECT_EQ(b->subject, "first subject");
}

TEST(DbxGet, RecordWithoutEntriesHasNoFields) {
    MemoryDbx dbx(OneRecordFile(DbxRawRecord{}));
    ASSERT_NE(dbx.reader(), nullptr);
    auto email = dbx.Email(0);
    ASSERT_NE(email, nullptr);
    EXPECT_EQ(dbx_errno, 0);
    EXPECT_EQ(email->text_offset, -1);
    EXPECT_FALSE(email->message_text.has_value());
    EXPECT_FALSE(email->subject.has_value());
}

// A property entry whose data does not fit the body is skipped; the entries after it still
// count. A record whose body cannot be read comes back with nothing. dbx_get reports success.
struct DamagedRecordCase {
    const char* name;
    DbxRawRecord record;
    std::optional<std::string> subject;
    std::uint32_t tag00_value;
    std::uint32_t tag01_value;  // 5 where the entry after the damaged one was applied
};

std::vector<DamagedRecordCase> DamagedRecordCases() {
    std::vector<DamagedRecordCase> cases;
    auto start = [] {
        DbxRawRecord r;
        r.properties = {{0x80, 9}, {0x08, 0}};
        r.data = std::string("kept") + '\0';
        return r;
    };
    // One damaged entry, then one that is sound.
    auto damaged_entry = [&](const char* name, std::uint8_t tag, std::uint32_t value, const std::string& data) {
        DbxRawRecord r = start();
        r.properties.push_back({tag, value == 0 ? static_cast<std::uint32_t>(r.data.size()) : value});
        r.data += data;
        r.properties.push_back({0x81, 5});
        cases.push_back({name, r, "kept", 9, 5});
    };
    damaged_entry("string without terminator", 0x0E, 0, "runs off the body");
    damaged_entry("string beyond the body", 0x0E, 0xFFFFFF, "");
    damaged_entry("date running off the body", 0x12, 0, Le32(1));  // only half of the 8 bytes
    damaged_entry("text offset running off the body", 0x04, 0, "ab");
    damaged_entry("byte just past the body", 0x01, 0, "");
    {
        DbxRawRecord r;
        r.properties = {{0x80, 9}};
        r.entry_count = 200;  // entries beyond the 4-byte body
        cases.push_back({"entries beyond the body", r, std::nullopt, 9, 0});
    }
    {
        DbxRawRecord r = start();
        r.body_size = 6;  // the string's entry lies beyond this body
        cases.push_back({"body shorter than its entries", r, std::nullopt, 9, 0});
    }
    for (std::int32_t size : {-1, INT32_MIN, INT32_MAX, 0x7FFFFFF0}) {
        DbxRawRecord r = start();
        r.body_size = size;
        cases.push_back({"body size outside the file", r, std::nullopt, 0, 0});
    }
    return cases;
}

TEST(DbxGet, ADamagedPropertyEntryCostsOnlyItself) {
    for (const DamagedRecordCase& c : DamagedRecordCases()) {
        MemoryDbx dbx(OneRecordFile(c.record));
        ASSERT_NE(dbx.reader(), nullptr) << c.name;
        dbx_errno = 9;
        auto email = dbx.Email(0);
        ASSERT_NE(email, nullptr) << c.name;
        EXPECT_EQ(dbx_errno, 0) << c.name;
        EXPECT_EQ(email->subject, c.subject) << c.name;
        EXPECT_EQ(email->tag00_value, c.tag00_value) << c.name;
        EXPECT_EQ(email->tag01_value, c.tag01_value) << c.name;
        EXPECT_FALSE(email->sender_address.has_value()) << c.name;
        EXPECT_FALSE(email->message_text.has_value()) << c.name;
    }
}

// The message text survives a date entry before it that points past the body.
TEST(DbxGet, TheTextSurvivesADamagedEntryBeforeIt) {
    DbxRawRecord r;
    r.properties = {{0x80, 1}, {0x12, 0xFFFFFF}, {0x84, 0, 0}, {0x08, 4}};
    r.data = std::string(4, '\0') + "Hello" + '\0';
    r.chains = {"Subject: Hello\r\n\r\nbody\r\n"};
    MemoryDbx dbx(OneRecordFile(r));
    auto email = dbx.Email(0);
    ASSERT_NE(email, nullptr);
    EXPECT_EQ(email->message_text, "Subject: Hello\r\n\r\nbody\r\n");
    EXPECT_TRUE(email->text_complete);
    EXPECT_EQ(email->subject, "Hello");
    EXPECT_EQ(email->date, 0u);
}

TEST(DbxGet, RecordOutsideTheFileGivesAnEmptyItem) {
    DbxLayout layout;
    std::string bytes = NumberedFolder(2).Build(layout);
    for (std::uint32_t offset : {0xFFFFFFF0u, 0x7FFFFFFFu, static_cast<std::uint32_t>(bytes.size() - 4)}) {
        std::string damaged = bytes;
        fixtures::PutLe32(damaged, fixtures::DbxEntryOffset(layout.root_offset, 0), offset);
        MemoryDbx dbx(damaged);
        ASSERT_NE(dbx.reader(), nullptr);
        auto email = dbx.Email(1);
        ASSERT_NE(email, nullptr);
        EXPECT_EQ(dbx_errno, 0);
        EXPECT_FALSE(email->subject.has_value());
        EXPECT_EQ(dbx.Email(0)->subject, "Subject 1");
    }
}

TEST(DbxFree, ReleasesKnownKindsAndRefusesOthers) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(dbx_free(nullptr), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    MemoryDbx dbx(NumberedFolder(1).Build());
    EXPECT_EQ(dbx_free(dbx_get(dbx.reader(), 0)), 0);
    MemoryDbx list(DbxFileBuilder(DbxKind::List).AddListEntry({"a", "b", 1, 2}).Build());
    EXPECT_EQ(dbx_free(dbx_get(list.reader(), 0)), 0);

    DbxItem* odd = dbx_get(dbx.reader(), 0);
    odd->kind = static_cast<DbxKind>(7);
    testing::internal::CaptureStdout();
    EXPECT_EQ(dbx_free(odd), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Aaarghhh. Cannot free an unknown type!\n");
    odd->kind = DbxKind::Email;  // it was left alone; release it for real
    EXPECT_EQ(dbx_free(odd), 0);
}

TEST(DbxPerror, PrintsPrefixAndTheCurrentMessage) {
    const std::vector<std::pair<int, std::string>> expected = {
        {0, "dbx_get: \n"},
        {2, "dbx_get: Read of \"Item Count\" from DBX file failed\n"},
        {3, "dbx_get: Read of \"Index Pointer\" from DBX file failed\n"},
        {6, "dbx_get: Request was made for index reference greater than exists (subscript out of range)\n"},
        {8, "dbx_get: Item is a news item not an email\n"},
    };
    for (const auto& [code, line] : expected) {
        dbx_errno = code;
        testing::internal::CaptureStderr();
        dbx_perror("dbx_get");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), line);
    }
    MemoryDbx dbx(NumberedFolder(1).Build());
    EXPECT_EQ(dbx_get(dbx.reader(), 1), nullptr);
    testing::internal::CaptureStderr();
    dbx_perror("x");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "x: Request was made for index reference greater than exists (subscript out of range)\n");
}

}  // namespace
