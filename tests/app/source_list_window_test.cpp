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
    EXPECT_EQ(prompter_.file_requests[0].title, "Select Outlook Express Folder Files (.dbx)");
}

TEST_F(SourceListWindow, FolderNameIsTheFilesOwnParentWhateverFolderTheChooserShowed) {
    // A path typed into the chooser: the chooser still reports the folder it started in.
    const std::string typed = MakeFile("Elsewhere/Old Mail/Inbox.dbx");
    const std::string picked = MakeFile("Start/Sent.dbx");
    AddFiles(folder_ / "Start", {picked, typed});
    EXPECT_EQ(Column(0), (std::vector<std::string>{typed, picked}));
    EXPECT_EQ(Column(2), (std::vector<std::string>{"Old Mail", "Start"}));
}

TEST_F(SourceListWindow, ChoosersOpenWhereTheUserLastWasForThatPurpose) {
    // The first time nothing is remembered: the prompter opens them at the home folder.
    const std::string a = MakeFile("Mail/a.dbx");
    AddFiles(folder_ / "Mail", {a});
    ASSERT_EQ(prompter_.file_requests.size(), 1u);
    EXPECT_EQ(prompter_.file_requests[0].start_folder, "");
    MakeFile("Store/b.dbx");
    prompter_.folder_answers.push_back(folder_ / "Store");
    Click(ids::kAddFolder);
    std::filesystem::create_directories(folder_ / "Out");
    prompter_.folder_answers.push_back(folder_ / "Out");
    Click(ids::kBrowseDestination);

    // Each chooser remembers its own folder, also in a window opened later.
    ReplaceWindow(DefaultOutlookProbe());
    AddFiles(folder_.path(), {});
    window_->OnAddFolder();
    Click(ids::kBrowseDestination);
    EXPECT_EQ(prompter_.file_requests.back().start_folder, folder_ / "Mail");
    ASSERT_EQ(prompter_.folder_starts.size(), 4u);
    EXPECT_EQ(prompter_.folder_starts[0], "");
    EXPECT_EQ(prompter_.folder_starts[2], folder_ / "Store");
    EXPECT_EQ(prompter_.folder_starts[3], folder_ / "Out");
    // Titles say what is chosen.
    EXPECT_EQ(prompter_.folder_titles[2], "Select a Folder Holding Outlook Express Folder Files (.dbx)");
    EXPECT_EQ(prompter_.folder_titles[3], "Select the Destination Path");
}

TEST_F(SourceListWindow, ChooserStartFolderFallsBackToHomeWhenTheRememberedOneIsGone) {
    EXPECT_EQ(ChooserStartFolder(folder_.path()), folder_.path());
    EXPECT_EQ(ChooserStartFolder(folder_ / "gone"), Utf8(wxGetHomeDir()));
    EXPECT_EQ(ChooserStartFolder(""), Utf8(wxGetHomeDir()));
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
    EXPECT_EQ(prompter_.folder_titles[0], "Select a Folder Holding Outlook Express Folder Files (.dbx)");
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
    // Each row names its file's own folder.
    for (long row = 0; row < List().GetItemCount(); ++row)
        EXPECT_EQ(Cell(row, 2), Cell(row, 0) == saved ? "Backup.dbx" : "Store");
    EXPECT_EQ(CountText(), "2  files");
    EXPECT_TRUE(prompter_.messages.empty());

    // The same folder again adds nothing new.
    prompter_.folder_answers.push_back(folder_ / "Store");
    Click(ids::kAddFolder);
    EXPECT_EQ(List().GetItemCount(), 2);

    // A folder without folder files says so and adds nothing.
    MakeFile("Store/Empty/notes.txt");
    prompter_.folder_answers.push_back(folder_ / "Store/Empty");
    Click(ids::kAddFolder);
    EXPECT_EQ(List().GetItemCount(), 2);
    ASSERT_EQ(prompter_.messages.size(), 1u);
    EXPECT_EQ(prompter_.messages[0].text,
              "No Outlook Express folder file (.dbx) was found in\n" + (folder_ / "Store/Empty"));

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

TEST_F(SourceListWindow, RemoveFileAndTheDeleteKeyRemoveEverySelectedRow) {
    const std::string a = MakeFile("a.dbx"), b = MakeFile("b.dbx"), c = MakeFile("c.dbx"), d = MakeFile("d.dbx");
    AddFiles(folder_.path(), {a, b, c, d});  // rows: d, c, b, a
    Click(ids::kRemoveFile);  // nothing selected: nothing goes, and the user hears why
    EXPECT_EQ(List().GetItemCount(), 4);
    EXPECT_EQ(CountText(), "4  files");
    EXPECT_EQ(prompter_.MessageTexts(), (std::vector<std::string>{kNothingSelectedText}));

    Select(0, false);
    Select(2, true);  // two rows apart selected, the focus on the second
    Click(ids::kRemoveFile);
    EXPECT_EQ(Column(0), (std::vector<std::string>{c, a}));
    // The job reads the same rows the list shows.
    EXPECT_EQ(window_->RowTextNow(0, 0), c);
    EXPECT_EQ(window_->RowTextNow(1, 0), a);
    EXPECT_EQ(CountText(), "2  files");

    // The Delete key in the list does the same.
    Select(1, true);
    wxKeyEvent key(wxEVT_KEY_DOWN);
    key.m_keyCode = WXK_DELETE;
    key.SetEventObject(&List());
    List().GetEventHandler()->ProcessEvent(key);
    EXPECT_EQ(Column(0), (std::vector<std::string>{c}));
    EXPECT_EQ(window_->RowCountNow(), 1);
    EXPECT_EQ(CountText(), "1  files");

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

TEST_F(SourceListWindow, DropsAddFolderFilesAndFoldersAndNameWhatWasRefused) {
    const std::string a = MakeFile("Mail/a.dbx");
    const std::string text = MakeFile("Mail/readme.txt");
    window_->AddDroppedFiles({a, text, a});
    EXPECT_EQ(Column(0), (std::vector<std::string>{a}));
    EXPECT_EQ(Column(2), (std::vector<std::string>{"Mail"}));
    EXPECT_EQ(CountText(), "1  files");
    ASSERT_EQ(prompter_.messages.size(), 1u);
    EXPECT_EQ(prompter_.messages[0].text,
              "This file is not an Outlook Express folder file (.dbx) and was not added:\n" + text);

    // A dropped folder adds its folder files as Add Folder does; an empty one says so.
    const std::string inbox = MakeFile("Store/Inbox.dbx");
    MakeFile("Store/Archive/Old.dbx");
    std::filesystem::create_directories(folder_ / "Empty");
    window_->AddDroppedFiles({folder_ / "Store", folder_ / "Empty"});
    EXPECT_EQ(Column(0), (std::vector<std::string>{inbox, a}));
    EXPECT_EQ(CountText(), "2  files");
    ASSERT_EQ(prompter_.messages.size(), 2u);
    EXPECT_NE(prompter_.messages[1].text.find(folder_ / "Empty"), std::string::npos);

    // Many refused files are named, up to a point.
    std::vector<std::string> many;
    for (int i = 0; i < 12; ++i) many.push_back(MakeFile("Other/f" + std::to_string(i) + ".txt"));
    window_->AddDroppedFiles(many);
    ASSERT_EQ(prompter_.messages.size(), 3u);
    EXPECT_NE(prompter_.messages[2].text.find(many[9]), std::string::npos);
    EXPECT_EQ(prompter_.messages[2].text.find(many[10]), std::string::npos);
    EXPECT_NE(prompter_.messages[2].text.find("... and 2 more"), std::string::npos);
}

}  // namespace
}  // namespace guitest
