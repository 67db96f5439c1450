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

DbxFileKind Classify(const std::string& bytes) {
    return dbx_classify_bytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), bytes.size());
}

std::string WithClassWord(std::string bytes, std::uint32_t word) {
    PutLe32(bytes, 4, word);
    return bytes;
}

// The fifth byte of a message folder's file info names its account kind; the header says
// how long the info is.
std::string WithSourceType(std::string bytes, std::uint32_t info_length, std::uint8_t source) {
    PutLe32(bytes, 0x1C, info_length);
    if (bytes.size() < 0x24C8) bytes.resize(0x24C8, '\0');
    fixtures::PutByte(bytes, 0x24BC + 4, source);
    return bytes;
}

TEST(DbxFileKind, HeaderClassWordsNameTheStoreFiles) {
    const std::string mail = dbx_test::NumberedFolder(2).Build();
    const std::string list = DbxFileBuilder(DbxKind::List).AddListEntry({"Inbox", "Inbox.dbx", 4, 1}).Build();
    EXPECT_EQ(Classify(mail), DbxFileKind::MailFolder);
    EXPECT_EQ(Classify(list), DbxFileKind::FolderList);
    EXPECT_EQ(Classify(WithClassWord(mail, 0x6F74FDC7)), DbxFileKind::Pop3Uidl);
    EXPECT_EQ(Classify(WithClassWord(mail, 0x26FE9D30)), DbxFileKind::OfflineActions);
    EXPECT_EQ(Classify(WithClassWord(mail, 0x12345678)), DbxFileKind::OtherOutlookExpress);
    // The class word of a folder list with the database words spoilt is not a folder list.
    std::string spoilt = list;
    PutLe32(spoilt, 8, 0);
    EXPECT_EQ(Classify(spoilt), DbxFileKind::OtherOutlookExpress);
    EXPECT_EQ(Classify(mail.substr(0, 6)), DbxFileKind::OtherOutlookExpress);
}

TEST(DbxFileKind, NewsFoldersAreToldByTheirFileInfo) {
    const std::string mail = dbx_test::NumberedFolder(1).Build();
    EXPECT_EQ(Classify(WithSourceType(mail, 0x618, 0)), DbxFileKind::NewsFolder);
    EXPECT_EQ(Classify(WithSourceType(mail, 0x618, 1)), DbxFileKind::MailFolder);  // IMAP
    EXPECT_EQ(Classify(WithSourceType(mail, 0x618, 3)), DbxFileKind::MailFolder);  // local
    // Without a file info long enough to hold the byte, nothing says news.
    EXPECT_EQ(Classify(WithSourceType(mail, 4, 0)), DbxFileKind::MailFolder);
}

TEST(DbxFileKind, FilesOfOtherFormatsAreNotFolderFiles) {
    EXPECT_EQ(dbx_classify_bytes(nullptr, 0, 0), DbxFileKind::Empty);
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
    EXPECT_EQ(dbx_classify_file((dir / "Inbox.dbx").c_str()), DbxFileKind::MailFolder);
    EXPECT_EQ(dbx_classify_file((dir / "empty.dbx").c_str()), DbxFileKind::Empty);
    EXPECT_EQ(dbx_classify_file((dir / "missing.dbx").c_str()), DbxFileKind::Unreadable);
    EXPECT_EQ(dbx_classify_file(dir.path().c_str()), DbxFileKind::Unreadable);
    EXPECT_EQ(dbx_classify_file(nullptr), DbxFileKind::Unreadable);
#ifndef _WIN32
    // Opening a FIFO for reading would wait for a writer that never comes.
    ASSERT_EQ(::mkfifo((dir / "pipe.dbx").c_str(), 0600), 0);
    EXPECT_EQ(dbx_classify_file((dir / "pipe.dbx").c_str()), DbxFileKind::Unreadable);
#endif
}

TEST(DbxFileKind, RealStoreFiles) {
    const std::string samples = std::string(OMBRIK_SAMPLES_DIR) + "/dbx/";
    if (!std::filesystem::is_directory(samples)) GTEST_SKIP() << "no sample folder files in " << samples;
    EXPECT_EQ(dbx_classify_file((samples + "Folders.dbx").c_str()), DbxFileKind::FolderList);
    EXPECT_EQ(dbx_classify_file((samples + "Inbox.dbx").c_str()), DbxFileKind::MailFolder);
    EXPECT_EQ(dbx_classify_file((samples + "Outbox.dbx").c_str()), DbxFileKind::MailFolder);
    EXPECT_EQ(dbx_classify_file((samples + "Offline.dbx").c_str()), DbxFileKind::OfflineActions);
}

}  // namespace
