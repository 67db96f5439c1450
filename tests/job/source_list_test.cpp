#include "job/source_list.h"

#include <sys/stat.h>

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
    EXPECT_FALSE(list.AddSourceRow(dir / "a.dbx", dir.path()));
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

TEST(SourceList, UnreadableFilesAreLeftOut) {
    fixtures::TempFolder dir;
    SourceList list;
    EXPECT_FALSE(list.AddSourceRow(dir / "missing.dbx", dir.path()));
    EXPECT_FALSE(list.AddSourceRow(dir.path(), dir.path()));  // a folder is not a file
    if (::geteuid() != 0) {
        fixtures::WriteFile(dir / "locked.dbx", "x");
        ::chmod((dir / "locked.dbx").c_str(), 0);
        EXPECT_FALSE(list.AddSourceRow(dir / "locked.dbx", dir.path()));
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
