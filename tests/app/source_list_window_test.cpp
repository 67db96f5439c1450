// The source list as the user drives it: Add File, Add Folder, Remove File, Clear List, drops.
#include <filesystem>

#include "fixtures/temp_folder.h"
#include "gui_test_support.h"

namespace guitest {
namespace {

class SourceListWindow : public MainWindowTest {
protected:
    std::string MakeFile(const std::string& relative) {
        const std::string path = folder_ / relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        fixtures::WriteFile(path, "not read when listed");
        return path;
    }
    std::vector<std::string> Column(int column) {
        std::vector<std::string> texts;
        for (long row = 0; row < List().GetItemCount(); ++row) texts.push_back(Cell(row, column));
        return texts;
    }
    void Select(long row, bool focus) {
        List().SetItemState(row, wxLIST_STATE_SELECTED | (focus ? wxLIST_STATE_FOCUSED : 0),
                            wxLIST_STATE_SELECTED | (focus ? wxLIST_STATE_FOCUSED : 0));
    }

    fixtures::TempFolder folder_;
};

TEST_F(SourceListWindow, AddFileListsNewestOnTopWithItsFourColumnsAndCount) {
    EXPECT_EQ(CountText(), "");
    const std::string a = MakeFile("Mail/a.dbx");
    const std::string b = MakeFile("Mail/b.dbx");
    AddFiles(folder_ / "Mail", {a});
    AddFiles(folder_ / "Mail", {b});

    ASSERT_EQ(List().GetItemCount(), 2);
    EXPECT_EQ(Column(0), (std::vector<std::string>{b, a}));
    EXPECT_EQ(Column(1), (std::vector<std::string>{"b.dbx", "a.dbx"}));
    EXPECT_EQ(Column(2), (std::vector<std::string>{"Mail", "Mail"}));
    EXPECT_EQ(Column(3), (std::vector<std::string>{"FILES", "FILES"}));
    EXPECT_EQ(CountText(), "2  files");
    // What the job reads is what the list shows.
    EXPECT_EQ(window_->RowCountNow(), 2);
    EXPECT_EQ(window_->RowTextNow(0, 0), b);
    EXPECT_EQ(window_->RowTextNow(0, 1), "b.dbx");

    ASSERT_EQ(prompter_.file_requests.size(), 2u);
    EXPECT_EQ(prompter_.file_requests[0].wildcard, "Outlook Express (*.dbx)|*.dbx|All Files (*.*)|*.*");
    EXPECT_EQ(prompter_.file_requests[0].default_extension, "dbx");
    EXPECT_TRUE(prompter_.file_requests[0].multiple);
}

TEST_F(SourceListWindow, DuplicatesAndUnreadableFilesAreSkippedSilently) {
    const std::string a = MakeFile("a.dbx");
    const std::string b = MakeFile("b.DBX");
    std::filesystem::create_directories(folder_ / "dir.dbx");
    AddFiles(folder_.path(), {a, folder_ / "missing.dbx", folder_ / "dir.dbx", b, a});
    AddFiles(folder_.path(), {a});

    EXPECT_EQ(Column(0), (std::vector<std::string>{b, a}));
    EXPECT_EQ(CountText(), "2  files");
    EXPECT_TRUE(prompter_.messages.empty());
}

TEST_F(SourceListWindow, CancelledFileDialogStillWritesTheCount) {
    window_->OnAddFile();
    EXPECT_EQ(List().GetItemCount(), 0);
    EXPECT_EQ(CountText(), "0  files");
}

TEST_F(SourceListWindow, CancelledFolderBrowserChangesNothing) {
    window_->OnAddFolder();
    EXPECT_EQ(CountText(), "");
    ASSERT_EQ(prompter_.folder_titles.size(), 1u);
    EXPECT_EQ(prompter_.folder_titles[0], "Select the Destination Path");
}

TEST_F(SourceListWindow, AddFolderEntersOnlySubFoldersNamedLikeFolderFiles) {
    const std::string inbox = MakeFile("Store/Inbox.dbx");
    MakeFile("Store/Archive/Old.dbx");
    const std::string saved = MakeFile("Store/Backup.dbx/Saved.dbx");
    MakeFile("Store/notes.txt");
    prompter_.folder_answers.push_back(folder_ / "Store");
    Click(ids::kAddFolder);

    std::vector<std::string> paths = Column(0);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{saved, inbox}));
    EXPECT_EQ(Column(2), (std::vector<std::string>{"Store", "Store"}));
    EXPECT_EQ(CountText(), "2  files");

    // The same folder again adds nothing new.
    prompter_.folder_answers.push_back(folder_ / "Store");
    Click(ids::kAddFolder);
    EXPECT_EQ(List().GetItemCount(), 2);

    // A place without a path only refreshes the count.
    Click(ids::kClearList);
    prompter_.folder_answers.push_back(std::string());
    Click(ids::kAddFolder);
    EXPECT_EQ(List().GetItemCount(), 0);
    EXPECT_EQ(CountText(), "0  files");
}

TEST_F(SourceListWindow, FolderNameIsEmptyForARootFolder) {
    const std::string a = MakeFile("a.dbx");
    window_->AddSourceRow(a, "/");
    window_->UpdateFileCountLabel();
    ASSERT_EQ(List().GetItemCount(), 1);
    EXPECT_EQ(Cell(0, 2), "");
    EXPECT_EQ(CountText(), "1  files");
}

TEST_F(SourceListWindow, RemoveFileRemovesOnlyTheRowWithTheSelectionMark) {
    const std::string a = MakeFile("a.dbx"), b = MakeFile("b.dbx"), c = MakeFile("c.dbx");
    AddFiles(folder_.path(), {a, b, c});  // rows: c, b, a
    Click(ids::kRemoveFile);  // no selection mark: nothing goes
    EXPECT_EQ(List().GetItemCount(), 3);
    EXPECT_EQ(CountText(), "3  files");

    Select(0, false);
    Select(2, true);  // two rows selected, the mark on the last one
    Click(ids::kRemoveFile);
    EXPECT_EQ(Column(0), (std::vector<std::string>{c, b}));
    EXPECT_EQ(window_->RowTextNow(1, 0), b);
    EXPECT_EQ(CountText(), "2  files");

    Click(ids::kClearList);
    EXPECT_EQ(List().GetItemCount(), 0);
    EXPECT_EQ(window_->RowCountNow(), 0);
    EXPECT_EQ(CountText(), "0  files");
}

TEST_F(SourceListWindow, OpenMenuItemActsLikeAddFile) {
    const std::string a = MakeFile("a.dbx");
    prompter_.file_answers.push_back(FileSelection{folder_.path(), {a}});
    Menu(ids::kMenuOpenFile);
    EXPECT_EQ(Column(0), (std::vector<std::string>{a}));
    EXPECT_EQ(CountText(), "1  files");
}

TEST_F(SourceListWindow, DroppedFolderFilesAreAddedLikeAddFile) {
    const std::string a = MakeFile("Mail/a.dbx");
    const std::string text = MakeFile("Mail/readme.txt");
    window_->AddDroppedFiles({a, text, a});
    EXPECT_EQ(Column(0), (std::vector<std::string>{a}));
    EXPECT_EQ(Column(2), (std::vector<std::string>{"Mail"}));
    EXPECT_EQ(CountText(), "1  files");
}

}  // namespace
}  // namespace guitest
