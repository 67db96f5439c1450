// The dialog that ends a conversion: it fits the screen however many failures there are, lists
// all of them, and its buttons open the destination and save the log.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <wx/button.h>
#include <wx/display.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>

#include "fixtures/temp_folder.h"
#include "gui_test_support.h"

namespace guitest {
namespace {

namespace fs = std::filesystem;

std::string LongFailure(std::size_t i) {
    return "/home/user/Old Mail/Outlook Express/Identities/Main Identity/Folder " + std::to_string(i) +
           ".dbx: the record of message slot " + std::to_string(i) +
           " points past the end of the file, so its text could not be read";
}

JobTally TallyWithFailures(std::size_t count) {
    JobTally tally;
    tally.CountFolder();
    tally.CountFolder();
    for (std::size_t i = 0; i < 40; ++i) tally.CountMessage();
    for (std::size_t i = 0; i < count; ++i) {
        const std::string line = LongFailure(i);
        const std::size_t colon = line.find(": ");
        tally.CountFailure(line.substr(0, colon), line.substr(colon + 2));
    }
    return tally;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class CompletionDialog : public testing::Test {
protected:
    // Shown without a modal loop, so the test can look at it.
    CCompletionDlg& Show(const JobTally& tally, const std::string& destination) {
        dialog_ = new CCompletionDlg(nullptr, tally, destination, prompter_);
        dialog_->Show();
        Pump();
        return *dialog_;
    }
    void TearDown() override {
        if (dialog_ != nullptr) dialog_->Destroy();
        Pump();
    }
    static wxRect ScreenRect(wxWindow& window) {
        return wxRect(window.GetScreenPosition(), window.GetSize());
    }
    wxListCtrl* List() { return static_cast<wxListCtrl*>(dialog_->FindWindow(ids::kCompletionList)); }
    std::string Counts() {
        return Utf8(static_cast<wxStaticText*>(dialog_->FindWindow(ids::kCompletionCounts))->GetLabel());
    }

    ScriptedPrompter prompter_;
    CCompletionDlg* dialog_ = nullptr;
    fixtures::TempFolder folder_;
};

TEST_F(CompletionDialog, ManyLongFailuresFitTheScreenInAListThatScrolls) {
    Show(TallyWithFailures(5000), folder_.path());
    const wxRect area = wxDisplay(0u).GetClientArea();
    std::printf("screen %dx%d, dialog %dx%d\n", area.width, area.height, dialog_->GetSize().x,
                dialog_->GetSize().y);
    EXPECT_TRUE(area.Contains(dialog_->GetScreenRect())) << "dialog off the screen";
    for (int id : {static_cast<int>(wxID_OK), ids::kCompletionOpenFolder, ids::kCompletionSaveLog}) {
        wxWindow* button = dialog_->FindWindow(id);
        ASSERT_NE(button, nullptr) << id;
        EXPECT_TRUE(area.Contains(ScreenRect(*button))) << "button " << id << " off the screen";
        EXPECT_TRUE(button->IsShownOnScreen()) << id;
    }
    // The three buttons sit on one row.
    EXPECT_EQ(ScreenRect(*dialog_->FindWindow(wxID_OK)).y, ScreenRect(*dialog_->FindWindow(ids::kCompletionSaveLog)).y);
    EXPECT_NE(dialog_->GetWindowStyle() & wxRESIZE_BORDER, 0);

    ASSERT_NE(List(), nullptr);
    EXPECT_EQ(List()->GetItemCount(), 5000);
    EXPECT_EQ(Utf8(List()->GetItemText(0)), LongFailure(0));
    EXPECT_EQ(Utf8(List()->GetItemText(4999)), LongFailure(4999));
    // The longest line fits its column; the list scrolls sideways rather than cutting it.
    EXPECT_GE(List()->GetColumnWidth(0), List()->GetTextExtent(Wx(LongFailure(4999))).x);
    EXPECT_EQ(Counts(), "Folder files: 2   Messages written: 40   Already there: 0   Recovered: 0   Failed: 5,000");

    // Made larger than the screen by hand, it can be made small again.
    EXPECT_LE(dialog_->GetMinSize().y, area.height);
    EXPECT_LE(dialog_->GetMinSize().x, area.width);
}

TEST_F(CompletionDialog, ACleanRunShowsItsCountsAndNoList) {
    JobTally tally;
    tally.CountFolder();
    for (int i = 0; i < 7; ++i) tally.CountMessage();
    Show(tally, folder_.path());
    EXPECT_EQ(List(), nullptr);
    EXPECT_EQ(Counts(), "Folder files: 1   Messages written: 7   Already there: 0   Recovered: 0   Failed: 0");
    // The window manager draws the title: without the blanks it would cut the words for.
    EXPECT_EQ(Utf8(dialog_->GetTitle()), "Corvanti Ombrik");
    // Small: a clean run needs no room for a list.
    EXPECT_LT(dialog_->GetSize().y, wxDisplay(0u).GetClientArea().height / 2);
}

TEST_F(CompletionDialog, ListsAreCappedWithTheRestCountedAndNotesFollowFailures) {
    JobTally tally = TallyWithFailures(JobTally::kKeptLines + 10);
    tally.AddNote("Inbox.dbx", "3 messages were already in the store");
    tally.CountAlreadyThere();
    tally.CountRecovered();
    tally.CountRecovered();
    const std::vector<std::string> lines = CompletionLines(tally);
    ASSERT_EQ(lines.size(), JobTally::kKeptLines + 2);
    EXPECT_EQ(lines[JobTally::kKeptLines], "Note - Inbox.dbx: 3 messages were already in the store");
    EXPECT_EQ(lines.back(), "... and 10 more failures, not listed");
    EXPECT_EQ(CompletionCounts(tally),
              "Folder files: 2   Messages written: 40   Already there: 1   Recovered: 2   Failed: 100,010");
    // The message-box summary the terminal and the default window use stays short.
    const std::string summary = tally.Summary();
    EXPECT_NE(summary.find(LongFailure(19)), std::string::npos);
    EXPECT_EQ(summary.find(LongFailure(20)), std::string::npos);
    EXPECT_NE(summary.find("... and 99990 more"), std::string::npos);

    Show(tally, folder_.path());
    EXPECT_EQ(List()->GetItemCount(), static_cast<int>(JobTally::kKeptLines + 2));
}

TEST_F(CompletionDialog, SaveLogWritesEveryLineWhereTheUserChose) {
    const JobTally tally = TallyWithFailures(300);
    Show(tally, folder_.path());
    fs::create_directories(folder_ / "kept");
    const std::string log = folder_ / "kept/run.log";
    prompter_.save_answers.push_back(log);
    dialog_->OnSaveLog();
    ASSERT_EQ(prompter_.save_requests.size(), 1u);
    EXPECT_EQ(prompter_.save_requests[0].start_folder, folder_.path());  // first time: the destination
    EXPECT_EQ(prompter_.save_requests[0].file_name, "ombrik-log.txt");
    const std::string text = ReadAll(log);
    EXPECT_EQ(text, CompletionLog(tally));
    EXPECT_EQ(text.rfind("conversion process completed\nFolder files: 2", 0), 0u);
    EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')), 302u);
    EXPECT_NE(text.find(LongFailure(299) + "\n"), std::string::npos);

    // The next time it opens where the log went; a place that cannot be written is reported
    // with the system's reason, and not remembered.
    fs::create_directories(folder_ / "logs");
    prompter_.save_answers.push_back(folder_ / "logs");  // a folder, not a file
    dialog_->OnSaveLog();
    EXPECT_EQ(prompter_.save_requests[1].start_folder, folder_ / "kept");
    EXPECT_EQ(prompter_.app_messages,
              (std::vector<std::string>{SaveLogFailureText(folder_ / "logs", "is a directory")}));
    prompter_.save_answers.push_back(std::string("/proc/ombrik-log.txt"));
    dialog_->OnSaveLog();
    ASSERT_EQ(prompter_.app_messages.size(), 2u);
    EXPECT_EQ(prompter_.app_messages[1].rfind("The log could not be written to /proc/ombrik-log.txt: ", 0), 0u)
        << prompter_.app_messages[1];
    EXPECT_GT(prompter_.app_messages[1].size(), SaveLogFailureText("/proc/ombrik-log.txt", "").size());
    // Cancelled: nothing written, nothing said; it opens where a log last went.
    dialog_->OnSaveLog();
    EXPECT_EQ(prompter_.app_messages.size(), 2u);
    EXPECT_EQ(prompter_.save_requests[3].start_folder, folder_ / "kept");
}

TEST_F(CompletionDialog, OpenDestinationFolderHandsItToTheDesktopOrSaysWhereItIs) {
    Show(TallyWithFailures(1), folder_.path());
    EXPECT_TRUE(dialog_->FindWindow(ids::kCompletionOpenFolder)->IsEnabled());
    dialog_->OnOpenDestination();
    EXPECT_EQ(prompter_.opened, (std::vector<std::string>{folder_.path()}));
    EXPECT_TRUE(prompter_.messages.empty());
    prompter_.desktop_opens = false;
    dialog_->OnOpenDestination();
    ASSERT_EQ(prompter_.messages.size(), 1u);
    EXPECT_NE(prompter_.messages[0].text.find("could not be shown"), std::string::npos);
    EXPECT_NE(prompter_.messages[0].text.find(folder_.path()), std::string::npos);
    dialog_->Destroy();
    Pump();

    // A destination that is not there cannot be opened.
    Show(TallyWithFailures(1), folder_ / "gone");
    EXPECT_FALSE(dialog_->FindWindow(ids::kCompletionOpenFolder)->IsEnabled());
}

TEST_F(CompletionDialog, HeadlinesSayWhenNothingWasConvertedOrTheJobWasStopped) {
    JobTally clean;
    clean.CountFolder();
    clean.CountMessage();
    JobTally all_failed;
    all_failed.CountFolder();
    all_failed.CountFailure("/m/Inbox.dbx", "is cut short or damaged");
    JobTally some_failed = all_failed;
    some_failed.CountMessage();
    JobTally found_again = all_failed;
    found_again.CountAlreadyThere();
    const std::string done = kCompletionText;
    const struct {
        const JobTally& tally;
        bool stopped;
        std::vector<std::string> headlines;
    } cases[] = {
        {clean, false, {done}},
        {all_failed, false, {done, kNothingConvertedHeadline}},
        {some_failed, false, {done}},
        {found_again, false, {done}},
        {clean, true, {done, kStoppedHeadline}},
        {all_failed, true, {done, kStoppedHeadline, kNothingConvertedHeadline}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompletionHeadlines(c.tally, c.stopped), c.headlines) << CompletionCounts(c.tally) << c.stopped;
        // The saved log starts with them too.
        std::string top;
        for (const std::string& headline : c.headlines) top += headline + "\n";
        EXPECT_EQ(CompletionLog(c.tally, c.stopped).rfind(top + "Folder files: ", 0), 0u);
    }
    // The dialog shows them above the counts.
    Show(all_failed, folder_.path());
    auto* line = dynamic_cast<wxStaticText*>(dialog_->FindWindow(ids::kCompletionHeadline));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(Utf8(line->GetLabel()), kNothingConvertedHeadline);
}

TEST_F(CompletionDialog, CountsGroupTheirThousandsAndTitlesLoseTheirPadding) {
    const std::pair<std::size_t, const char*> counts[] = {
        {0, "0"}, {999, "999"}, {1000, "1,000"}, {65536, "65,536"}, {1234567, "1,234,567"}};
    for (const auto& [count, text] : counts) EXPECT_EQ(GroupedCount(count), text);
    EXPECT_EQ(WindowTitle(" Corvanti Ombrik       "), "Corvanti Ombrik");
    EXPECT_EQ(WindowTitle("Corvanti Ombrik   "), "Corvanti Ombrik");
    EXPECT_EQ(WindowTitle("   "), "");
}

TEST_F(CompletionDialog, SeveralLineMessagesShowTheirFirstLineAsHeading) {
    const MessageParts parts = SplitMessage("Unable to open DBX File\n/home/ann/Mail/Inbox.dbx\nNo such file\n");
    EXPECT_EQ(parts.heading, "Unable to open DBX File");
    EXPECT_EQ(parts.details, "/home/ann/Mail/Inbox.dbx\nNo such file");
    const MessageParts blank = SplitMessage("conversion process completed\r\n\r\n2 failures:\r\nx: y");
    EXPECT_EQ(blank.heading, "conversion process completed");
    EXPECT_EQ(blank.details, "2 failures:\r\nx: y");
    EXPECT_EQ(SplitMessage("Please add dbx file").details, "");
}

}  // namespace
}  // namespace guitest
