// The main window as a user at a keyboard and on a large-font desktop meets it: Esc on a menu,
// the focus after a job, "message n of N" while a job runs, choices kept between runs, help
// that says where it is, and a window that fits the screen at every font scale.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include <wx/dialog.h>
#include <wx/checkbox.h>
#include <wx/display.h>
#include <wx/frame.h>
#include "app/progress_bar.h"
#include <wx/radiobut.h>
#include <wx/scrolwin.h>
#include <wx/statusbr.h>

#include "app/desktop_opener.h"
#include "app/theme_marks.h"
#include "app/toolkit_setup.h"
#include "fixtures/temp_folder.h"
#include "gui_test_support.h"

namespace guitest {
namespace {

namespace fs = std::filesystem;

// Runs a command on a thread while the UI keeps serving events; its exit status.
int RunWhilePumping(const std::string& command) {
    std::atomic<bool> done{false};
    int status = -1;
    std::thread runner([&] {
        status = std::system(command.c_str());
        done = true;
    });
    PumpUntil([&] { return done.load(); }, std::chrono::seconds(30));
    runner.join();
    Pump();
    return status;
}

bool HaveCommand(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

class WindowKeys : public MainWindowTest {
protected:
    void SetUp() override {
        if (!HaveCommand("xdotool")) GTEST_SKIP() << "xdotool is not installed: real key presses cannot be sent";
        if (std::getenv("OMBRIK_WINDOW_MANAGER") == nullptr)
            GTEST_SKIP() << "no window manager runs on this display (tests/app/with-window-manager.sh starts one)";
        MainWindowTest::SetUp();
    }
    // Real key presses, through the X server, to our main window made active by the window manager.
    int Keys(const std::string& keys) {
        const std::string find = "xdotool search --sync --onlyvisible --pid " + std::to_string(::getpid()) +
                                 " --name '^Ombrik: Full'";
        // Two calls: keys sent to a window of xdotool's window stack are synthetic events,
        // which GTK ignores; without one they go through the X server as typed keys do.
        return RunWhilePumping(find + " windowactivate --sync %1 >/dev/null 2>&1 && xdotool sleep 0.3 key --delay 150 " +
                               keys + " sleep 0.4");
    }
    // One folder file listed and a destination chosen: Convert starts the job.
    void PrepareJob() {
        fixtures::WriteFile(folder_ / "Inbox.dbx", "x");
        AddFiles(folder_.path(), {folder_ / "Inbox.dbx"});
        prompter_.folder_answers.push_back(folder_.path());
        Click(ids::kBrowseDestination);
        prompter_.folder_titles.clear();
        prompter_.file_requests.clear();
    }
    fixtures::TempFolder folder_;
    std::size_t ExitQuestions() {
        return static_cast<std::size_t>(std::count_if(prompter_.messages.begin(), prompter_.messages.end(),
                                                      [](const ShownMessage& m) { return m.text == kExitQuestion; }));
    }
};

TEST_F(WindowKeys, EscOnAnOpenMenuClosesTheMenuAndAsksNothing) {
    // Esc reaches the window: with no menu open it asks about leaving (answered No).
    ASSERT_EQ(Keys("Escape"), 0);
    ASSERT_EQ(ExitQuestions(), 1u) << "the key presses do not reach the window";
    // F10 opens the File menu; Esc closes it and nothing else happens.
    ASSERT_EQ(Keys("F10 Escape"), 0);
    EXPECT_EQ(ExitQuestions(), 1u);
    // The mnemonic opens it too.
    ASSERT_EQ(Keys("alt+f Escape"), 0);
    EXPECT_EQ(ExitQuestions(), 1u);
    // Once the menu is closed, Esc asks again.
    ASSERT_EQ(Keys("Escape"), 0);
    EXPECT_EQ(ExitQuestions(), 2u);
}

TEST_F(WindowKeys, FocusReturnsToTheWindowWhenAJobEnds) {
    fixtures::TempFolder folder;
    fixtures::WriteFile(folder / "Inbox.dbx", "x");
    AddFiles(folder.path(), {folder / "Inbox.dbx"});
    prompter_.folder_answers.push_back(folder.path());
    Click(ids::kBrowseDestination);
    job_.body = [](ConversionWindow& window) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        JobTally tally;
        window.ShowJobSummary(tally);
    };
    // The summary is a real window of its own that takes the focus while it is open.
    prompter_.on_summary = [](wxWindow* parent, const JobTally&, const std::string&) {
        wxDialog summary(parent, wxID_ANY, "summary");
        summary.CallAfter([&summary] {
            wxMilliSleep(300);
            wxTheApp->Yield(true);
            summary.EndModal(wxID_OK);
        });
        summary.ShowModal();
    };
    // The user presses Convert with the keyboard: the focused button is disabled while the job
    // runs, which leaves the window without a focus unless it is given back.
    window_->FindWindow(ids::kConvertMessages)->SetFocus();
    Pump();
    ASSERT_EQ(Keys("space"), 0);
    ASSERT_TRUE(PumpUntil([&] { return !prompter_.summaries.empty() && !job_.IsRunning() && Enabled(ids::kConvertMessages); }));
    Pump();
    wxWindow* focus = wxWindow::FindFocus();
    ASSERT_NE(focus, nullptr) << "no control has the focus after the job";
    EXPECT_EQ(wxGetTopLevelParent(focus), window_);
    EXPECT_NE(focus, window_->FindWindow(ids::kExit)) << "Enter would now ask to leave";
    // And Esc works straight away.
    ASSERT_EQ(Keys("Escape"), 0);
    EXPECT_EQ(ExitQuestions(), 1u);
}

TEST_F(WindowKeys, EnterDuringAJobNeitherStopsItNorLeavesAndCancelledPstOptionsLeaveTheFocusOffExit) {
    PrepareJob();
    std::atomic<bool> stop_seen{false};
    JobSettings asked;
    job_.body = [&](ConversionWindow& window) {
        window.RunPstOptionsDialog(asked);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!window.StopRequested() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        stop_seen = window.StopRequested();
    };
    // Enter on the list starts the job; its PST options come up and Esc cancels them, as a user
    // at the keyboard would. One command for both: the dialog's modal loop runs inside this one's.
    List().SetFocus();
    Pump();
    ASSERT_EQ(Keys("Return sleep 0.5 && xdotool search --sync --onlyvisible --name '^Save PST Option$' "
                   "windowactivate --sync >/dev/null 2>&1 && xdotool sleep 0.3 key Escape"),
              0);
    ASSERT_TRUE(PumpUntil([&] { return asked.pst_options_answer == "no"; }));
    Pump();
    EXPECT_NE(wxWindow::FindFocus(), window_->FindWindow(ids::kExit));
    // Enter, Enter while the job runs: nothing is stopped, nothing asked.
    ASSERT_EQ(Keys("Return Return"), 0);
    EXPECT_TRUE(job_.IsRunning());
    EXPECT_FALSE(window_->IsStopping());
    EXPECT_EQ(ExitQuestions(), 0u);
    EXPECT_NE(wxWindow::FindFocus(), window_->FindWindow(ids::kExit));
    // Stop is pressed on purpose: Alt and its letter.
    ASSERT_EQ(Keys("alt+s"), 0);
    ASSERT_TRUE(PumpUntil([&] { return !job_.IsRunning(); }));
    EXPECT_TRUE(stop_seen);
    EXPECT_EQ(process_ends_, 0);
}

TEST_F(WindowKeys, UnderlinedLettersAndShortcutsReachTheirCommands) {
    ASSERT_EQ(Keys("alt+a"), 0);  // Add File
    EXPECT_EQ(prompter_.file_requests.size(), 1u);
    ASSERT_EQ(Keys("ctrl+o"), 0);  // File > Open Outlook Express File, which is Add File
    EXPECT_EQ(prompter_.file_requests.size(), 2u);
    ASSERT_EQ(Keys("alt+d"), 0);  // Add Folder
    ASSERT_EQ(prompter_.folder_titles.size(), 1u);
    EXPECT_EQ(prompter_.folder_titles[0], kAddFolderTitle);
    ASSERT_EQ(Keys("alt+m"), 0);  // Save as MBOX
    EXPECT_EQ(settings_.saving_option, "mbox");
    // The labels' letters take the focus to what they name.
    ASSERT_EQ(Keys("alt+l"), 0);
    EXPECT_EQ(wxWindow::FindFocus(), &List());
    ASSERT_EQ(Keys("alt+o"), 0);
    EXPECT_EQ(wxWindow::FindFocus(), window_->FindWindow(ids::kSaveAsMbox));
    ASSERT_EQ(Keys("alt+n"), 0);
    EXPECT_EQ(wxWindow::FindFocus(), window_->FindWindow(ids::kBrowseDestination));
    // F1 is Software Help (the help pages are not there in this test: it says so).
    ASSERT_EQ(Keys("F1"), 0);
    ASSERT_EQ(prompter_.messages.size(), 1u);
    EXPECT_NE(prompter_.messages[0].text.find("help pages were not found"), std::string::npos);
    // Ctrl+Q asks before leaving, as Exit does.
    ASSERT_EQ(Keys("ctrl+q"), 0);
    EXPECT_EQ(ExitQuestions(), 1u);
    EXPECT_EQ(process_ends_, 0);
}

TEST_F(WindowKeys, TabFollowsTheLayoutAndStopsOnlyOnControlsInView) {
    List().SetFocus();
    Pump();
    // Where the focus went after each Tab, and whether it could be seen there.
    std::vector<int> order;
    std::vector<std::string> hidden;
    window_->Bind(wxEVT_CHILD_FOCUS, [&](wxChildFocusEvent& event) {
        event.Skip();
        wxWindow* focus = wxWindow::FindFocus();
        if (focus == nullptr) return;
        const wxRect shown(focus->GetScreenPosition(), focus->GetSize());
        if (!focus->IsShownOnScreen() || !window_->GetScreenRect().Contains(shown))
            hidden.push_back(std::to_string(focus->GetId()));
        const bool in_link = focus->GetParent() != nullptr && focus->GetParent()->GetId() == ids::kWebsiteLink;
        order.push_back(in_link ? ids::kWebsiteLink : focus->GetId());
    });
    ASSERT_EQ(Keys("Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab"), 0);
    EXPECT_EQ(order, (std::vector<int>{ids::kAddFolder, ids::kAddFile, ids::kClearList, ids::kRemoveFile,
                                       ids::kBrowseDestination, ids::kSaveAsEml, ids::kConvertMessages, ids::kExit,
                                       ids::kWebsiteLink}));
    EXPECT_TRUE(hidden.empty()) << testing::PrintToString(hidden);
    // The tenth Tab comes round to the list again, which draws no focus of its own when empty:
    // the window rings it.
    wxWindow* last = wxWindow::FindFocus();
    ASSERT_NE(last, nullptr);
    EXPECT_TRUE(last == &List() || last->GetParent() == &List()) << last->GetId();
    EXPECT_TRUE(PumpUntil([&] { return window_->FocusRingAround() == &List(); }, std::chrono::seconds(2)));
    ASSERT_EQ(Keys("shift+Tab"), 0);
    EXPECT_TRUE(PumpUntil([&] { return window_->FocusRingAround() == window_->FindWindow(ids::kWebsiteLink); },
                          std::chrono::seconds(2)));
}

class JobProgressWindow : public MainWindowTest {
protected:
    void Start(std::function<void(ConversionWindow&)> body) {
        fixtures::WriteFile(folder_ / "Inbox.dbx", "x");
        AddFiles(folder_.path(), {folder_ / "Inbox.dbx"});
        prompter_.folder_answers.push_back(folder_.path());
        Click(ids::kBrowseDestination);
        job_.body = std::move(body);
        Click(ids::kConvertMessages);
    }
    // Lets the job go on to its next step and waits until it got there.
    void Step() {
        const int next = ++step_;
        ASSERT_TRUE(PumpUntil([&] { return reached_ >= next; }));
        ASSERT_TRUE(PumpUntil([&] { return !window_->conversion_window().HoldsUnshownProgress(); }));
        Pump();
    }
    void WaitFor(ConversionWindow&, int step) {
        reached_ = step;
        while (step_ < step + 1 && !abandon_) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    void TearDown() override {
        abandon_ = true;
        MainWindowTest::TearDown();
    }
    CProgressBar& Bar() { return *static_cast<CProgressBar*>(window_->FindWindow(ids::kProgressBar)); }

    fixtures::TempFolder folder_;
    std::atomic<int> step_{0};
    std::atomic<int> reached_{0};
    std::atomic<bool> abandon_{false};
};

TEST_F(JobProgressWindow, StatusLineSaysMessageNOfNAndTheBarShowsTheFraction) {
    Start([this](ConversionWindow& window) {
        window.SetProgress(1);
        window.SetStatusText("/tmp/ombrik-x1y2/temp.eml");
        WaitFor(window, 1);
        window.ShowJobProgress("/home/ann/Mail/Inbox.dbx", 30, 120);
        window.SetProgress(31);
        window.SetStatusText("/tmp/ombrik-x1y2/temp.eml");
        WaitFor(window, 2);
        window.ShowJobProgress("/home/ann/Mail/Inbox.dbx", 120, 120);
        WaitFor(window, 3);
        window.SetProgress(0);
        WaitFor(window, 4);
    });
    // Before the count is known, the job's cycling step shows as it always has.
    Step();
    EXPECT_EQ(Bar().GetValue(), 1);
    EXPECT_EQ(StatusLine(), "/tmp/ombrik-x1y2/temp.eml");
    Step();
    EXPECT_EQ(StatusLine(), "Inbox.dbx: message 30 of 120\n/tmp/ombrik-x1y2/temp.eml");
    EXPECT_EQ(Bar().GetValue(), 25);
    EXPECT_EQ(window_->last_job_position(), 31);
    Step();
    EXPECT_EQ(Bar().GetValue(), 100);
    EXPECT_EQ(StatusLine(), "Inbox.dbx: message 120 of 120\n/tmp/ombrik-x1y2/temp.eml");
    // The end of the folder file clears the bar and the count.
    Step();
    EXPECT_EQ(Bar().GetValue(), 0);
    EXPECT_EQ(StatusLine(), "/tmp/ombrik-x1y2/temp.eml");
    ++step_;  // the job may end
}

// The job never waits for the window: with the UI thread busy elsewhere (here: not running at
// all), a folder's worth of progress goes through, and once the window runs again it shows
// where the calls one by one would have left it.
TEST_F(JobProgressWindow, TheJobNeverWaitsForTheWindow) {
    std::atomic<bool> done{false};
    Start([&](ConversionWindow& window) {
        for (std::size_t m = 1; m <= 100000; ++m) {
            window.ShowJobProgress("/home/ann/Mail/Inbox.dbx", m, 100000);
            window.SetStatusText("/out/Inbox/" + std::to_string(m) + ".eml");
            window.SetProgress(static_cast<int>(m % 99 + 1));
        }
        window.SetProgress(0);
        window.ShowJobProgress("/home/ann/Mail/Sent.dbx", 3, 4);
        window.SetProgress(7);
        done = true;
        WaitFor(window, 1);
    });
    for (int waited = 0; !done && waited < 20000; waited += 5) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(done.load()) << "the job waited for the UI thread";
    ASSERT_TRUE(PumpUntil([&] { return !window_->conversion_window().HoldsUnshownProgress(); }));
    EXPECT_EQ(StatusLine(), "Sent.dbx: message 3 of 4\n/out/Inbox/100000.eml");
    EXPECT_EQ(Bar().GetValue(), 75);
    EXPECT_EQ(window_->last_job_position(), 7);
    ++step_;
}

TEST_F(JobProgressWindow, TheBarIsAsTallAsItsStatusBarField) {
    wxStatusBar* bar = window_->GetStatusBar();
    wxRect field;
    ASSERT_TRUE(bar->GetFieldRect(0, field));
    EXPECT_GE(Bar().GetSize().y, field.height - 4);
    EXPECT_GE(Bar().GetSize().y, window_->GetCharHeight());
    EXPECT_GE(Bar().GetSize().x, field.width - 4);
}

class RememberedChoices : public MainWindowTest {
protected:
    fixtures::TempFolder folder_;
};

TEST_F(RememberedChoices, DestinationAndSavingOptionComeBackInTheNextRun) {
    EXPECT_EQ(settings_.saving_option, "eml");
    EXPECT_TRUE(settings_.destination_path.empty());
    prompter_.folder_answers.push_back(folder_.path());
    Click(ids::kBrowseDestination);
    auto* mbox = static_cast<wxRadioButton*>(window_->FindWindow(ids::kSaveAsMbox));
    mbox->SetValue(true);
    window_->OnSavingOption(ids::kSaveAsMbox);

    settings_ = JobSettings{};
    ReplaceWindow(DefaultOutlookProbe());
    EXPECT_EQ(settings_.saving_option, "mbox");
    EXPECT_TRUE(static_cast<wxRadioButton*>(window_->FindWindow(ids::kSaveAsMbox))->GetValue());
    EXPECT_FALSE(static_cast<wxRadioButton*>(window_->FindWindow(ids::kSaveAsEml))->GetValue());
    EXPECT_EQ(settings_.destination_path, folder_ / "ExportDBX");
    EXPECT_EQ(DestinationBox(), folder_ / "ExportDBX");

    // A destination that has gone since is not offered again; the option still is.
    fs::remove_all(folder_ / "ExportDBX");
    settings_ = JobSettings{};
    ReplaceWindow(DefaultOutlookProbe());
    EXPECT_TRUE(settings_.destination_path.empty());
    EXPECT_EQ(DestinationBox(), "");
    EXPECT_EQ(settings_.saving_option, "mbox");
}

TEST_F(RememberedChoices, HelpThatCannotOpenSaysWhereItIs) {
    prompter_.desktop_opens = false;
    Menu(ids::kMenuOnlineHelp);
    ASSERT_EQ(prompter_.messages.size(), 1u);
    EXPECT_NE(prompter_.messages[0].text.find(kOnlineHelpAddress), std::string::npos);

    fixtures::WriteFile(folder_ / "index.html", "<html></html>");
    window_->SetHelpDirectory(folder_.path());
    Menu(ids::kMenuSoftwareHelp);
    ASSERT_EQ(prompter_.messages.size(), 2u);
    EXPECT_NE(prompter_.messages[1].text.find(folder_ / "index.html"), std::string::npos);

    window_->SetHelpDirectory(folder_ / "gone");
    prompter_.desktop_opens = true;
    Menu(ids::kMenuSoftwareHelp);
    ASSERT_EQ(prompter_.messages.size(), 3u);
    EXPECT_NE(prompter_.messages[2].text.find("share/ombrik/help"), std::string::npos);
    EXPECT_EQ(prompter_.opened.size(), 2u);
}

// Checked marks drawn under GTK's own theme leave the SVG renderer unloaded (it would add about
// 8 MiB to the window). Run alone: another window drawn earlier in the process may have loaded it.
TEST(ThemeMarks, CheckedMarksDrawWithoutTheSvgRenderer) {
    DrawThemeMarksFromBitmaps();
    auto* frame = new wxFrame(nullptr, wxID_ANY, "marks");
    auto* check = new wxCheckBox(frame, wxID_ANY, "check", wxPoint(10, 10));
    check->SetValue(true);
    auto* third = new wxCheckBox(frame, wxID_ANY, "third", wxPoint(10, 40), wxDefaultSize, wxCHK_3STATE);
    third->Set3StateValue(wxCHK_UNDETERMINED);
    new wxRadioButton(frame, wxID_ANY, "radio", wxPoint(10, 70), wxDefaultSize, wxRB_GROUP);
    frame->Show();
    frame->Update();
    Pump();
    std::ifstream maps("/proc/self/maps");
    std::string line;
    bool svg_renderer = false;
    while (std::getline(maps, line)) svg_renderer = svg_renderer || line.find("librsvg") != std::string::npos;
    frame->Destroy();
    Pump();
    EXPECT_FALSE(svg_renderer);
}

// Help and Open Destination Folder hand their target to xdg-open where there is one; that it
// started says nothing, its exit status does. The program started gets the user's environment:
// not the toolkit settings we made for ourselves, but the user's own (CTest sets
// GTK_OVERLAY_SCROLLING as a user would).
TEST(DesktopOpener, TheOpenersExitStatusTellsWhetherTheTargetWasShown) {
    ::unsetenv("GDK_GL");
    SetUpToolkitEnvironment();
    wxString ours;
    EXPECT_TRUE(wxGetEnv("GDK_GL", &ours));
    EXPECT_EQ(ours, "disable");
    fixtures::TempFolder bin;
    fixtures::WriteFile(bin / "xdg-open", "#!/bin/sh\necho \"${GDK_GL-unset} ${GTK_OVERLAY_SCROLLING-unset}\" > "
                                          "\"$(dirname \"$0\")/environment\"\n"
                                          "echo \"$1\" >> \"$(dirname \"$0\")/asked\"\n"
                                          "exit $(cat \"$(dirname \"$0\")/status\")\n");
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    ASSERT_EQ(::setenv("PATH", (bin.path() + ":" + path).c_str(), 1), 0);
    std::vector<std::pair<std::string, std::string>> failures;  // target, reason
    auto open = [&](const std::string& target, int status) {
        fixtures::WriteFile(bin / "status", std::to_string(status));
        OpenWithDesktopProgram(target, [&failures, target](const std::string& reason) {
            failures.emplace_back(target, reason);
        });
        // One opener at a time: wait until it has been asked and has had time to end.
        PumpUntil([&] { return fixtures::ReadFile(bin / "asked").find(target + "\n") != std::string::npos; });
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        PumpUntil([&] { return std::chrono::steady_clock::now() > until; });
    };
    open("/home/ann/mail/ExportDBX", 0);
    open("/usr/share/ombrik/help/index.html", 3);
    open("https://www.corvanti.example/ombrik/help/", 4);
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(fixtures::ReadFile(bin / "environment"), "unset 0\n");
    EXPECT_EQ(failures, (std::vector<std::pair<std::string, std::string>>{
                            {"/usr/share/ombrik/help/index.html", "no program to show it is installed"},
                            {"https://www.corvanti.example/ombrik/help/", "the program for it could not show it"}}));
    EXPECT_EQ(DesktopFailureText({"/x/index.html", "The help pages", "Open /x/index.html in a web browser."},
                                 "no program to show it is installed"),
              "The help pages could not be shown: no program to show it is installed.\n"
              "Open /x/index.html in a web browser.");
}

// As a user sees it: once the window manager has framed the window.
void Settle(int milliseconds) {
    const auto settled = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    PumpUntil([&] { return std::chrono::steady_clock::now() > settled; });
}

wxRect ScreenRect(wxWindow& window) { return wxRect(window.GetScreenPosition(), window.GetSize()); }

// Run at GDK_DPI_SCALE 1, 1.5 and 2 on laptop screens of 1366x768 and 1024x768 (see CMakeLists.txt).
class Scaling : public MainWindowTest {};

TEST_F(Scaling, TheWindowFitsTheScreenWithConvertAndExitInViewAndNoHeadingCut) {
    const char* scale = std::getenv("GDK_DPI_SCALE");
    Settle(800);
    const wxRect area = wxDisplay(0u).GetClientArea();
    std::printf("screen %dx%d, GDK_DPI_SCALE=%s, window %dx%d\n", area.width, area.height, scale != nullptr ? scale : "1",
                window_->GetSize().x, window_->GetSize().y);
    EXPECT_TRUE(area.Contains(window_->GetScreenRect())) << "the window is larger than the screen";
    wxStatusBar* bar = window_->GetStatusBar();
    const wxRect bar_rect = ScreenRect(*bar);
    EXPECT_TRUE(area.Contains(bar_rect)) << "the status bar is cut off";
    // Convert and Exit are always in view, whatever the upper part has to scroll.
    const wxRect client(window_->GetClientAreaOrigin() + window_->GetScreenPosition(), window_->GetClientSize());
    for (int id : {ids::kConvertMessages, ids::kExit}) {
        const wxRect button = ScreenRect(*window_->FindWindow(id));
        EXPECT_TRUE(area.Contains(button)) << id << " is off the screen";
        EXPECT_TRUE(client.Contains(button)) << id << " is outside the window";
        EXPECT_LE(button.GetBottom(), bar_rect.GetTop()) << id << " is under the status bar";
    }
    // The product line is never squeezed by the code page beside it.
    wxRect field;
    ASSERT_TRUE(bar->GetFieldRect(1, field));
    EXPECT_GE(field.width, bar->GetTextExtent("Corvanti: Ombrik").x);

    for (int column = 0; column < List().GetColumnCount(); ++column) {
        wxListItem item;
        item.SetMask(wxLIST_MASK_TEXT);
        List().GetColumn(column, item);
        EXPECT_GT(List().GetColumnWidth(column), List().GetTextExtent(item.GetText()).x) << Utf8(item.GetText());
    }
    // The status line is wide enough for two lines of text.
    EXPECT_GE(window_->FindWindow(ids::kStatusLine)->GetSize().y, 2 * window_->FindWindow(ids::kStatusLine)->GetCharHeight());

    // Every control of the upper part can be reached: it scrolls when it does not fit.
    auto* panel = static_cast<wxScrolledWindow*>(List().GetParent());
    const wxSize shown = panel->GetClientSize();
    const wxSize all = panel->GetVirtualSize();
    if (all.y > shown.y) {
        int x_unit = 0, y_unit = 0;
        panel->GetScrollPixelsPerUnit(&x_unit, &y_unit);
        EXPECT_GT(y_unit, 0) << "controls below the window cannot be scrolled to";
    }
    if (scale == nullptr || std::string(scale) == "1") {
        EXPECT_EQ(shown, all) << "no scrolling at the normal scale";
    }
}

// The window as the user resizes it, under a window manager.
class Resizing : public MainWindowTest {
protected:
    void SetUp() override {
        if (std::getenv("OMBRIK_WINDOW_MANAGER") == nullptr)
            GTEST_SKIP() << "no window manager runs on this display (tests/app/with-window-manager.sh starts one)";
        MainWindowTest::SetUp();
        Settle(500);
    }
    void ResizeClient(const wxSize& size) {
        window_->SetClientSize(size);
        PumpUntil([&] { return window_->GetClientSize() == size; }, std::chrono::seconds(3));
        Settle(300);
    }
    wxRect Rect(int id) { return window_->FindWindow(id)->GetRect(); }
};

TEST_F(Resizing, TheListTakesTheExtraRoomAndTheButtonsKeepToTheirEdges) {
    const wxSize start = window_->GetClientSize();
    const wxRect list = List().GetRect();
    const int path_width = List().GetColumnWidth(0);
    const wxRect remove = Rect(ids::kRemoveFile);
    const wxRect status = Rect(ids::kStatusLine);
    const wxRect convert = Rect(ids::kConvertMessages);
    ResizeClient(start + wxSize(300, 200));
    ASSERT_EQ(window_->GetClientSize(), start + wxSize(300, 200)) << "the window did not take the size";
    EXPECT_EQ(List().GetRect().GetSize(), list.GetSize() + wxSize(300, 200));
    EXPECT_EQ(List().GetColumnWidth(0), path_width + 300);  // the paths take the room
    EXPECT_EQ(Rect(ids::kRemoveFile).GetPosition(), remove.GetPosition() + wxPoint(300, 200));
    EXPECT_EQ(Rect(ids::kStatusLine).width, status.width + 300);
    // Convert and Exit stay in the middle, at the bottom.
    EXPECT_EQ(Rect(ids::kConvertMessages).GetPosition(), convert.GetPosition() + wxPoint(150, 0));
    EXPECT_EQ(window_->FindWindow(ids::kConvertMessages)->GetParent()->GetRect().GetBottom(),
              window_->GetClientSize().y - 1);

    // Smaller than the smallest layout: the window keeps its minimum, Convert and Exit in view.
    ResizeClient(wxSize(200, 200));
    const wxSize least = window_->GetClientSize();
    EXPECT_GT(least.x, 200);
    EXPECT_GT(least.y, 200);
    EXPECT_LT(least.x, start.x);
    EXPECT_LT(least.y, start.y);
    const wxRect client(wxPoint(0, 0), window_->GetClientSize());
    for (int id : {ids::kConvertMessages, ids::kExit}) {
        wxWindow* button = window_->FindWindow(id);
        const wxRect in_client(window_->ScreenToClient(button->GetScreenPosition()), button->GetSize());
        EXPECT_TRUE(client.Contains(in_client)) << id;
    }
}

TEST_F(Resizing, TheSizeIsKeptForTheNextRun) {
    const wxSize chosen = window_->GetClientSize() + wxSize(120, 90);
    ResizeClient(chosen);
    ASSERT_EQ(window_->GetClientSize(), chosen);
    prompter_.message_answers.push_back(wxID_YES);
    Click(ids::kExit);
    ASSERT_EQ(process_ends_, 1);
    Pump();
    window_ = MakeWindow(DefaultOutlookProbe(), job_);
    window_destroyed_ = false;
    Settle(500);
    // Kept in dialog units: within a unit of what it was.
    EXPECT_NEAR(window_->GetClientSize().x, chosen.x, 4);
    EXPECT_NEAR(window_->GetClientSize().y, chosen.y, 4);
}

}  // namespace
}  // namespace guitest
