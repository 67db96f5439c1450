// Telling the files of a store apart: mail folders, the files that hold no mail, and files
// that are not Outlook Express files at all.
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "dbx/dbx_file_kind.h"
#include "dbx_test_support.h"
#include "fixtures/temp_folder.h"

namespace {

using fixtures::DbxFileBuilder;
using fixtures::PutLe32;

DbxFileClass ClassOf(const std::string& bytes) {
    return dbx_classify_bytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), bytes.size());
}
DbxFileKind Classify(const std::string& bytes) { return ClassOf(bytes).kind; }

DbxFileKind KindOfFile(const std::string& path) { return dbx_classify_file(path.c_str()).kind; }

std::string WithClassWord(std::string bytes, std::uint32_t word) {
    PutLe32(bytes, 4, word);
    return bytes;
}

TEST(DbxFileKind, HeaderClassIdsAndFieldsNameTheStoreFiles) {
    const std::string mail = dbx_test::NumberedFolder(2).Build();
    const std::string list = DbxFileBuilder(DbxKind::List).AddListEntry({"Inbox", "Inbox.dbx", 4, 1}).Build();
    // Headers without a file info, as the other store files have none of a folder's.
    const std::string bare = DbxFileBuilder().SetHeaderSize(0x100).Build();
    EXPECT_EQ(ClassOf(mail).kind, DbxFileKind::MailFolder);
    EXPECT_TRUE(ClassOf(mail).certain);
    EXPECT_EQ(Classify(list), DbxFileKind::FolderList);
    EXPECT_EQ(Classify(WithClassWord(bare, 0x6F74FDC7)), DbxFileKind::Pop3Uidl);
    EXPECT_TRUE(ClassOf(WithClassWord(bare, 0x6F74FDC7)).certain);
    EXPECT_EQ(Classify(WithClassWord(bare, 0x12345678)), DbxFileKind::OtherOutlookExpress);
    // A message folder's fields under another kind's class id: the fields decide, in doubt.
    EXPECT_EQ(Classify(WithClassWord(mail, 0x6F74FDC7)), DbxFileKind::MailFolder);
    EXPECT_FALSE(ClassOf(WithClassWord(mail, 0x6F74FDC7)).certain);
    // A folder list whose class id is spoilt is still told by its nearest id and its fields.
    std::string spoilt = list;
    PutLe32(spoilt, 8, 0);
    EXPECT_EQ(Classify(spoilt), DbxFileKind::FolderList);
    EXPECT_FALSE(ClassOf(spoilt).certain);
    EXPECT_EQ(Classify(mail.substr(0, 6)), DbxFileKind::OtherOutlookExpress);
}

// One flipped bit anywhere in the class id of a real message folder leaves it a mail folder, by
// its fields or by its contents; so does a flip in a folder whose index is gone as well.
TEST(DbxFileKind, AFlippedBitInTheClassIdLeavesAMessageFolderMail) {
    fixtures::TempFolder dir;
    fixtures::DbxLayout layout;
    const std::string intact = dbx_test::NumberedFolder(28, 4).Build(layout);
    std::string no_index = intact;
    PutLe32(no_index, fixtures::kDbxRootNodeAt, 0x7FFFFFF0);
    std::string no_fields = intact;  // a header as bare as the other store files have
    PutLe32(no_fields, 0x1C, 0);
    for (const std::string* folder : {&intact, static_cast<const std::string*>(&no_index), static_cast<const std::string*>(&no_fields)}) {
        for (std::size_t byte = 4; byte < 16; ++byte) {
            for (int bit = 0; bit < 8; ++bit) {
                std::string bytes = *folder;
                bytes[byte] = static_cast<char>(bytes[byte] ^ (1 << bit));
                fixtures::WriteFile(dir / "Inbox.dbx", bytes);
                ASSERT_EQ(KindOfFile(dir / "Inbox.dbx"), DbxFileKind::MailFolder) << byte << "." << bit;
            }
        }
    }
}

// Whatever the header says, a file whose index leads to messages, or whose text blocks hold
// them, is a mail folder; the other store files hold none.
TEST(DbxFileKind, ContentsDecideWhereTheHeaderLeavesDoubt) {
    fixtures::TempFolder dir;
    std::string mail = dbx_test::NumberedFolder(3).Build();
    PutLe32(mail, 0x1C, 0);
    fixtures::WriteFile(dir / "a.dbx", WithClassWord(mail, 0x6F74FDC7));
    EXPECT_EQ(KindOfFile(dir / "a.dbx"), DbxFileKind::MailFolder);
    fixtures::WriteFile(dir / "b.dbx", WithClassWord(mail, 0x12345678));
    EXPECT_EQ(KindOfFile(dir / "b.dbx"), DbxFileKind::MailFolder);
    fixtures::WriteFile(dir / "c.dbx", WithClassWord(DbxFileBuilder().SetHeaderSize(0x100).Build(), 0x6F74FDC7));
    EXPECT_EQ(KindOfFile(dir / "c.dbx"), DbxFileKind::Pop3Uidl);
}

TEST(DbxFileKind, NewsFoldersAreToldByTheirAccountAndStillHoldMail) {
    const std::string news = dbx_test::NumberedFolder(1).SetNewsAccount("00000002").Build();
    EXPECT_EQ(Classify(news), DbxFileKind::NewsFolder);
    EXPECT_TRUE(dbx_kind_holds_mail(DbxFileKind::NewsFolder));
    // A local folder whose account byte is zeroed still names the local store.
    std::string local = dbx_test::NumberedFolder(1).Build();
    fixtures::PutByte(local, fixtures::kDbxHeaderSize + 4, 0);
    EXPECT_EQ(Classify(local), DbxFileKind::MailFolder);
    // Without the file info nothing says news.
    std::string short_info = news;
    PutLe32(short_info, 0x1C, 4);
    EXPECT_EQ(Classify(short_info), DbxFileKind::MailFolder);
}

TEST(DbxFileKind, FilesOfOtherFormatsAreNotFolderFiles) {
    EXPECT_EQ(dbx_classify_bytes(nullptr, 0, 0).kind, DbxFileKind::Empty);
    EXPECT_EQ(Classify("Subject: hello\r\n\r\nThis is a message saved as text.\r\n"), DbxFileKind::Text);
    EXPECT_EQ(Classify("From someone Sat Jan  1 00:00:00 2000\nSubject: caf\xE9\n\n"), DbxFileKind::Text);
    EXPECT_EQ(Classify(std::string("!BDN\x10\x00\x00\x00", 8) + std::string(500, '\0')), DbxFileKind::OtherFormat);
    EXPECT_EQ(Classify(std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(504, '\0')),
              DbxFileKind::OtherFormat);
    EXPECT_EQ(Classify(std::string("JMF6\x03\x00\x10\x00", 8) + std::string(100, '\0')), DbxFileKind::OutlookExpress4);
    // The magic word alone in the middle of a file does not make it one.
    EXPECT_EQ(Classify(std::string(100, '\x01') + std::string("\xCF\xAD\x12\xFE", 4)), DbxFileKind::OtherFormat);
}

TEST(DbxFileKind, FilesOnDiskAndThingsThatAreNotFiles) {
    fixtures::TempFolder dir;
    dbx_test::NumberedFolder(3).WriteTo(dir / "Inbox.dbx");
    fixtures::WriteFile(dir / "empty.dbx", "");
    EXPECT_EQ(KindOfFile(dir / "Inbox.dbx"), DbxFileKind::MailFolder);
    EXPECT_EQ(KindOfFile(dir / "empty.dbx"), DbxFileKind::Empty);
    EXPECT_EQ(KindOfFile(dir / "missing.dbx"), DbxFileKind::Unreadable);
    EXPECT_EQ(KindOfFile(dir.path()), DbxFileKind::Unreadable);
    EXPECT_EQ(dbx_classify_file(nullptr).kind, DbxFileKind::Unreadable);
#ifndef _WIN32
    // Opening a FIFO for reading would wait for a writer that never comes.
    ASSERT_EQ(::mkfifo((dir / "pipe.dbx").c_str(), 0600), 0);
    EXPECT_EQ(KindOfFile(dir / "pipe.dbx"), DbxFileKind::Unreadable);
#endif
}

TEST(DbxFileKind, RealStoreFiles) {
    const std::string samples = std::string(OMBRIK_SAMPLES_DIR) + "/dbx/";
    if (!std::filesystem::is_directory(samples)) GTEST_SKIP() << "no sample folder files in " << samples;
    EXPECT_EQ(KindOfFile(samples + "Folders.dbx"), DbxFileKind::FolderList);
    EXPECT_EQ(KindOfFile(samples + "Inbox.dbx"), DbxFileKind::MailFolder);
    EXPECT_EQ(KindOfFile(samples + "Outbox.dbx"), DbxFileKind::MailFolder);
    EXPECT_EQ(KindOfFile(samples + "Offline.dbx"), DbxFileKind::OfflineActions);
    // The real folders, with any one bit of their class id flipped.
    fixtures::TempFolder dir;
    for (const char* name : {"Inbox.dbx", "Outbox.dbx"}) {
        const std::string original = fixtures::ReadFile(samples + name);
        for (std::size_t byte = 4; byte < 16; ++byte) {
            for (int bit = 0; bit < 8; ++bit) {
                std::string bytes = original;
                bytes[byte] = static_cast<char>(bytes[byte] ^ (1 << bit));
                fixtures::WriteFile(dir / name, bytes);
                ASSERT_EQ(KindOfFile(dir / name), DbxFileKind::MailFolder) << name << " " << byte << "." << bit;
            }
        }
    }
}

}  // namespace
