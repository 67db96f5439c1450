// Files on disk are read through positioned reads into a window, memory streams through
// stdio; both must see exactly the same folder, intact or damaged.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>

#include "dbx_test_support.h"
#include "fixtures/temp_folder.h"
#include "platform/file_stream.h"
#include "platform/process.h"

namespace {

using dbx_test::NumberedEmail;

void DescribeText(std::ostringstream& out, const char* name, const DbxText& text) {
    out << name << '=' << (text ? "[" + *text + "]" : std::string("absent")) << ' ';
}

// Everything the reader reports for a folder, as text.
std::string DescribeFolder(DbxReader* reader, int open_code) {
    std::ostringstream out;
    out << "open " << open_code << '\n';
    if (reader == nullptr) return out.str();
    out << "kind " << int(reader->kind) << " count " << reader->item_count << '\n';
    for (int slot = reader->item_count - 1; slot >= 0; --slot) {
        DbxItem* item = dbx_get(reader, slot);
        out << slot << ": errno " << dbx_errno << ' ';
        if (item->kind == DbxKind::Email) {
            auto* email = static_cast<DbxEmail*>(item);
            DescribeText(out, "text", email->message_text);
            DescribeText(out, "subject", email->subject);
            DescribeText(out, "sender", email->sender_address);
            out << "date " << email->date << " offset " << email->text_offset << ' ';
            const std::int32_t length = dbx_read_text(reader, email);
            out << "reread " << length << '/' << dbx_errno << ' ';
            DescribeText(out, "text", email->message_text);
        } else {
            auto* entry = static_cast<DbxListEntry*>(item);
            DescribeText(out, "02", entry->tag02_text);
            DescribeText(out, "03", entry->tag03_text);
            out << entry->tag80_value << ' ' << entry->tag81_value;
        }
        out << '\n';
        dbx_free(item);
    }
    return out.str();
}

std::string DescribeThroughMemory(const std::string& bytes) {
    dbx_test::MemoryDbx dbx(bytes);
    return DescribeFolder(dbx.reader(), dbx.reader() == nullptr ? dbx_errno : 0);
}

std::string DescribeThroughFile(const std::string& bytes) {
    const std::string path = testing::TempDir() + "/dbx_stream_test-" + std::to_string(platform::CurrentProcessId()) + ".dbx";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    DbxReader* reader = dbx_open(path.c_str());
    const std::string description = DescribeFolder(reader, reader == nullptr ? dbx_errno : 0);
    dbx_close(reader);
    std::remove(path.c_str());
    return description;
}

// A folder with texts of many sizes, one record body larger than the read window, and a
// text ending at the very end of the file.
std::string MixedFolder() {
    fixtures::DbxFileBuilder builder;
    builder.SetEntriesPerNode(3);
    for (int i = 0; i < 12; ++i) {
        fixtures::DbxEmailSpec email = NumberedEmail(i);
        email.text = std::string(static_cast<std::size_t>(i) * i * 997, static_cast<char>('a' + i));
        email.block_size = i % 2 == 0 ? 512 : 0x7FFF;
        builder.AddEmail(email);
    }
    fixtures::DbxEmailSpec huge_subject = NumberedEmail(99);
    huge_subject.subject = std::string(300 * 1024, 's');
    builder.AddEmail(huge_subject);
    return builder.Build();
}

TEST(DbxStreams, FileAndMemoryStreamsReadTheSame) {
    const std::string bytes = MixedFolder();
    const std::string through_memory = DescribeThroughMemory(bytes);
    EXPECT_NE(through_memory.find("count 13"), std::string::npos);
    EXPECT_EQ(DescribeThroughFile(bytes), through_memory);
}

TEST(DbxStreams, FileAndMemoryStreamsAgreeOnDamagedFiles) {
    const std::string good = dbx_test::NumberedFolder(30, 2).SetHeaderSize(0x100).Build();
    std::mt19937 random(20261207);
    for (int round = 0; round < 300; ++round) {
        std::string bytes = good;
        const int flips = 1 + round % 8;
        for (int f = 0; f < flips; ++f) {
            const std::size_t at = std::uniform_int_distribution<std::size_t>(0, bytes.size() - 1)(random);
            bytes[at] = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(random));
        }
        if (round % 10 == 0) bytes.resize(std::uniform_int_distribution<std::size_t>(1, bytes.size())(random));
        ASSERT_EQ(DescribeThroughFile(bytes), DescribeThroughMemory(bytes)) << "round " << round;
    }
}

}  // namespace

// A folder file that shrinks while it is read (another program truncating it, a disk that goes
// away) must make reads fail, never bring the process down, and the reader must say so.
TEST(DbxStream, AFileThatShrinksWhileReadFailsReadsCleanly) {
    fixtures::TempFolder dir;
    const std::string path = dir / "Inbox.dbx";
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 40; ++i) {
        fixtures::DbxEmailSpec spec;
        spec.subject = "m" + std::to_string(i);
        spec.text = std::string(300000, static_cast<char>('a' + i % 26));
        builder.AddEmail(spec);
    }
    builder.WriteTo(path);
    DbxReader* reader = dbx_open(path.c_str());
    ASSERT_NE(reader, nullptr);
    // The first message is read whole, so the part of the file around it has been read too.
    dbx_test::EmailPtr first(static_cast<DbxEmail*>(dbx_get(reader, reader->item_count - 1)));
    ASSERT_TRUE(first->text_complete);
    EXPECT_FALSE(dbx_file_changed(reader));
    std::error_code cut;
    std::filesystem::resize_file(platform::FileSystemPath(path), 1 << 20, cut);
    ASSERT_FALSE(cut) << cut.message();
    for (std::int32_t slot = reader->item_count - 2; slot >= 0; --slot) {
        dbx_test::EmailPtr email(static_cast<DbxEmail*>(dbx_get(reader, slot)));
        ASSERT_NE(email, nullptr);
        if (slot < reader->item_count - 4) {
            EXPECT_FALSE(email->text_complete) << slot;
        }
    }
    EXPECT_TRUE(dbx_file_changed(reader));
    dbx_close(reader);
}

// A file changed in place without shrinking is told by its size or time.
TEST(DbxStream, AFileChangedAfterTheOpenIsTold) {
    fixtures::TempFolder dir;
    const std::string path = dir / "Inbox.dbx";
    dbx_test::NumberedFolder(3).WriteTo(path);
    DbxReader* reader = dbx_open(path.c_str());
    ASSERT_NE(reader, nullptr);
    EXPECT_FALSE(dbx_file_changed(reader));
    std::FILE* grow = std::fopen(path.c_str(), "ab");
    std::fputs("more", grow);
    std::fclose(grow);
    EXPECT_TRUE(dbx_file_changed(reader));
    dbx_close(reader);
}
