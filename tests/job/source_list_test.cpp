#include "job/source_list.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "fixtures/temp_folder.h"

TEST(SourceList, NewRowsGoOnTopAndDuplicatesAreSkipped) {
    fixtures::TempFolder dir;
    fixtures::WriteFile(dir / "a.dbx", "a");
    fixtures::WriteFile(dir / "b.dbx", "b");
    SourceList list;
    EXPECT_TRUE(list.AddSourceRow(dir / "a.dbx", dir.path()));
    EXPECT_TRUE(list.AddSourceRow(dir / "b.dbx", dir.path()));
    const SourceAddResult again = list.AddSourceRow(dir / "a.dbx", dir.path());
    EXPECT_FALSE(again);
    EXPECT_EQ(again.outcome, SourceAddResult::kAlreadyListed);
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list.rows()[0].file_name, "b.dbx");
    EXPECT_EQ(list.rows()[1].path, dir / "a.dbx");
    EXPECT_EQ(list.rows()[0].folder_name, std::filesystem::path(dir.path()).filename().string());
    EXPECT_EQ(list.rows()[0].type, "FILES");
    EXPECT_EQ(list.CountText(), "2  files");
    list.RemoveRow(0);
    EXPECT_EQ(list.rows()[0].file_name, "a.dbx");
    list.Clear();
    EXPECT_EQ(list.CountText(), "0  files");
}

TEST(SourceList, UnreadableFilesAreLeftOutWithTheSystemsReason) {
    fixtures::TempFolder dir;
    SourceList list;
    const SourceAddResult missing = list.AddSourceRow(dir / "missing.dbx", dir.path());
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.outcome, SourceAddResult::kRefused);
    EXPECT_EQ(missing.reason, "does not exist");
    EXPECT_EQ(list.AddSourceRow(dir.path(), dir.path()).reason, "is a folder");
    if (::geteuid() != 0) {
        fixtures::WriteFile(dir / "locked.dbx", "x");
        ::chmod((dir / "locked.dbx").c_str(), 0);
        EXPECT_EQ(list.AddSourceRow(dir / "locked.dbx", dir.path()).reason, "permission denied");
    }
    EXPECT_EQ(list.size(), 0);
    fixtures::WriteFile(dir / "x.dbx", "x");
    EXPECT_TRUE(list.AddSourceRow(dir / "x.dbx", dir.path() + "/"));
    EXPECT_EQ(list.rows()[0].folder_name, "");
}

TEST(FindDbxFiles, EntersOnlySubFoldersNamedLikeFolderFiles) {
    fixtures::TempFolder dir;
    fixtures::WriteFile(dir / "Inbox.dbx", "x");
    fixtures::WriteFile(dir / "Notes.txt", "x");
    fixtures::WriteFile(dir / "Upper.DBX", "x");
    std::filesystem::create_directories(dir / "Archive");
    fixtures::WriteFile(dir / "Archive/Old.dbx", "x");
    std::filesystem::create_directories(dir / "Backup.dbx");
    fixtures::WriteFile(dir / "Backup.dbx/Kept.dbx", "x");
    std::filesystem::create_directory_symlink(dir.path(), dir / "Loop.dbx");  // must not search forever

    std::vector<std::string> found;
    FindDbxFiles(dir.path(), found, true);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{dir / "Backup.dbx/Kept.dbx", dir / "Inbox.dbx", dir / "Upper.DBX"}));

    SourceList list;
    EXPECT_EQ(list.AddFolder(dir.path()), 3);
    const std::string chosen = std::filesystem::path(dir.path()).filename();
    for (const auto& row : list.rows()) EXPECT_EQ(row.folder_name, chosen);
}

#include "fixtures/store_builder.h"

TEST(SourceListStore, OneRowPerMailFolderInTreeOrderWithItsDisplayPath) {
    fixtures::TempFolder dir;
    fixtures::WriteFile(dir / "Earlier.dbx", "x");
    std::filesystem::create_directories(dir / "store");
    fixtures::WriteExampleStore(dir / "store", "Gel\xF6schte Objekte");
    SourceList list;
    ASSERT_TRUE(list.AddSourceRow(dir / "Earlier.dbx", dir.path()));
    std::vector<std::string> notes;
    EXPECT_EQ(list.AddStore(dir / "store", "windows-1252", &notes), static_cast<int>(fixtures::kExampleStoreFolders));
    ASSERT_EQ(list.size(), static_cast<int>(fixtures::kExampleStoreFolders) + 1);
    std::vector<std::string> paths;
    for (int i = 0; i < static_cast<int>(fixtures::kExampleStoreFolders); ++i) paths.push_back(list.rows()[std::size_t(i)].folder_name);
    EXPECT_EQ(paths, (std::vector<std::string>{
                         "Inbox", "Mailinglists > hal",
                         "Mailinglists > hal > hal-commit", "Projekte 2003",
                         "Gel\u00f6schte Objekte", "ring a",
                         "ring a > ring b", "Old stuff"}));
    const SourceRow& inbox = list.rows()[0];
    EXPECT_EQ(inbox.path, dir / "store/INBOX.DBX");
    EXPECT_EQ(inbox.file_name, "INBOX.DBX");
    EXPECT_EQ(inbox.type, "FILES");
    EXPECT_EQ(inbox.store_directory, dir / "store");
    EXPECT_EQ(inbox.store_path, std::vector<std::string>{"Inbox"});
    // The row added before stays below the store's rows, and stays a plain row.
    EXPECT_EQ(list.rows().back().file_name, "Earlier.dbx");
    EXPECT_TRUE(list.rows().back().store_directory.empty());
    for (const auto& row : list.rows())
        for (const char* not_mail : {"Folders.dbx", "Offline.dbx", "Pop3uidl.dbx", "notes.dbx"}) EXPECT_NE(row.file_name, not_mail);
    auto noted = [&](const std::string& words) {
        return std::any_of(notes.begin(), notes.end(), [&](const std::string& n) { return n.find(words) != std::string::npos; });
    };
    EXPECT_TRUE(noted("passed over Offline.dbx: the list of actions"));
    EXPECT_TRUE(noted("passed over notes.dbx: a text file"));
    EXPECT_FALSE(noted("passed over Folders.dbx"));

    // Adding the store again adds nothing; a file of it added alone before is not listed twice.
    EXPECT_EQ(list.AddStore(dir / "store", "windows-1252"), 0);
    SourceList other;
    ASSERT_TRUE(other.AddSourceRow(dir / "store/hal.dbx", dir / "store"));
    EXPECT_EQ(other.AddStore(dir / "store", "windows-1252"), static_cast<int>(fixtures::kExampleStoreFolders) - 1);
}

TEST(SourceListStore, AddFolderKeepsItsOwnRuleInsideAStore) {
    fixtures::TempFolder dir;
    fixtures::WriteExampleStore(dir.path(), "x");
    SourceList list;
    // Every *.dbx file is a row, the folder list included, named after the chosen folder.
    EXPECT_EQ(list.AddFolder(dir.path()), 12);
    for (const auto& row : list.rows()) {
        EXPECT_EQ(row.folder_name, std::filesystem::path(dir.path()).filename().string());
        EXPECT_TRUE(row.store_path.empty());
    }
}

// A FIFO opened for reading waits for a writer that never comes; the alarm turns such a hang
// into a failure instead of a stuck test run.
TEST(SourceList, FifosAndOtherSpecialFilesAreRefusedWithoutBlocking) {
    fixtures::TempFolder dir;
    ASSERT_EQ(::mkfifo((dir / "Pipe.dbx").c_str(), 0600), 0);
    fixtures::WriteFile(dir / "Inbox.dbx", "x");
    ::alarm(20);
    SourceList list;
    const SourceAddResult fifo = list.AddSourceRow(dir / "Pipe.dbx", dir.path());
    EXPECT_EQ(fifo.outcome, SourceAddResult::kRefused);
    EXPECT_EQ(fifo.reason, "is not a regular file");
    EXPECT_EQ(list.AddSourceRow("/dev/zero", "/dev").reason, "is not a regular file");

    std::vector<std::pair<std::string, std::string>> skipped;
    EXPECT_EQ(list.AddFolder(dir.path(), [&](const std::string& path, const SourceAddResult& result) {
        skipped.emplace_back(path, result.reason);
    }), 1);
    ::alarm(0);
    EXPECT_EQ(skipped, (std::vector<std::pair<std::string, std::string>>{{dir / "Pipe.dbx", "is not a regular file"}}));
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list.rows()[0].file_name, "Inbox.dbx");

    // Named again through the folder: one row, told as listed already.
    skipped.clear();
    EXPECT_EQ(list.AddFolder(dir.path(), [&](const std::string& path, const SourceAddResult& result) {
        if (result.outcome == SourceAddResult::kAlreadyListed) skipped.emplace_back(path, "listed");
    }), 0);
    EXPECT_EQ(skipped, (std::vector<std::pair<std::string, std::string>>{{dir / "Inbox.dbx", "listed"}}));
    EXPECT_EQ(list.size(), 1);
}
