// The main window as the conversion job's window: calls carried to the UI thread, the inputs
// held still while a job runs, whole conversions, and Exit in the middle of one.
#include <condition_variable>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "app/progress_bar.h"
#include <wx/menu.h>
#include <wx/radiobut.h>
#include <wx/toplevel.h>

#include "app/save_pst_option.h"
#include "fixtures/dbx_builder.h"
#include "fixtures/temp_folder.h"
#include "gui_test_support.h"
#include "job/conversion_job.h"

namespace guitest {
namespace {

namespace fs = std::filesystem;

class Latch {
public:
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

class ConversionWindowTest : public MainWindowTest {
protected:
    void PrepareJob() {
        fixtures::WriteFile(folder_ / "Inbox.dbx", "x");
        fixtures::WriteFile(folder_ / "Sent.dbx", "x");
        AddFiles(folder_.path(), {folder_ / "Inbox.dbx", folder_ / "Sent.dbx"});
        prompter_.folder_answers.push_back(folder_.path());
        Click(ids::kBrowseDestination);
    }
    int Progress() { return static_cast<CProgressBar*>(window_->FindWindow(ids::kProgressBar))->GetValue(); }

    fixtures::TempFolder folder_;
};

TEST_F(ConversionWindowTest, WorkerCallsRunOnTheUiThreadAndProgressIsShown) {
    PrepareJob();
    Latch checked;
    std::vector<std::string> rows;
    std::atomic<bool> reported{false};
    job_.body = [&](ConversionWindow& window) {
        for (int row = 0; row < window.RowCount(); ++row) rows.push_back(window.RowText(row, 1));
        window.SetProgress(42);
        window.SetStatusText("/out/Inbox/hello.eml");
        reported = true;
        checked.Wait();
        window.ShowMessage("conversion process completed", kMessageTitle, msgbox::kJobMessage);
    };
    Click(ids::kConvertMessages);
    ASSERT_TRUE(PumpUntil([&] { return reported.load() && !window_->conversion_window().HoldsUnshownProgress(); }));
    Pump();
    EXPECT_EQ(rows, (std::vector<std::string>{"Sent.dbx", "Inbox.dbx"}));
    EXPECT_EQ(Progress(), 42);
    EXPECT_EQ(StatusLine(), "/out/Inbox/hello.eml");

    // While the job runs, everything it relies on stays still; Convert is the Stop button.
    for (int id : {ids::kAddFile, ids::kAddFolder, ids::kClearList, ids::kRemoveFile, ids::kBrowseDestination,
                   ids::kSaveAsMbox}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    EXPECT_EQ(ButtonText(ids::kConvertMessages), "Stop");
    for (int item : {ids::kMenuExportFile, ids::kMenuOpenFile, ids::kMenuCodePage, ids::kMenuRecover})
        EXPECT_FALSE(window_->GetMenuBar()->IsEnabled(ids::WxMenuId(item))) << item;
    window_->OnConvertMessages();
    window_->OnClearList();
    window_->OnSavingOption(ids::kSaveAsMbox);
    prompter_.folder_answers.push_back(std::string("/elsewhere"));
    window_->OnBrowseDestination();
    EXPECT_EQ(job_.starts, 1);
    EXPECT_EQ(List().GetItemCount(), 2);
    EXPECT_EQ(settings_.saving_option, "eml");
    EXPECT_EQ(settings_.destination_path, folder_.path() + "/ExportDBX");

    checked.Open();
    ASSERT_TRUE(PumpUntil([&] { return !job_.IsRunning() && Enabled(ids::kAddFile); }));
    EXPECT_EQ(ButtonText(ids::kConvertMessages), "Convert Messages");
    ASSERT_EQ(prompter_.messages.size(), 1u);
    EXPECT_EQ(prompter_.messages[0].text, "conversion process completed");
    EXPECT_EQ(prompter_.messages[0].style, 0x1020u);
    EXPECT_FALSE(prompter_.messages[0].has_owner);
    EXPECT_TRUE(Enabled(ids::kAddFile));
    EXPECT_TRUE(window_->GetMenuBar()->IsEnabled(ids::WxMenuId(ids::kMenuExportFile)));

    // The same list converts again.
    Click(ids::kConvertMessages);
    ASSERT_TRUE(PumpUntil([&] { return job_.starts == 2 && !job_.IsRunning() && Enabled(ids::kAddFile); }));
}

TEST_F(ConversionWindowTest, PstOptionsDialogRunsModallyOnTheUiThreadForTheWorker) {
    JobSettings asked;
    std::atomic<bool> answered{false};
    job_.body = [&](ConversionWindow& window) {
        window.RunPstOptionsDialog(asked);
        answered = true;
    };
    // Plays the user: once the dialog is up, choose separate stores and press Convert.
    std::function<void()> play = [&] {
        for (wxWindow* top : wxTopLevelWindows) {
            if (auto* dialog = dynamic_cast<CSavePSTOption*>(top); dialog != nullptr && dialog->IsModal()) {
                dialog->OnSeparateStores();
                dialog->OnConvert();
                return;
            }
        }
        window_->CallAfter(play);
    };
    PrepareJob();
    settings_.saving_option = "eml";
    window_->CallAfter(play);
    Click(ids::kConvertMessages);
    ASSERT_TRUE(PumpUntil([&] { return answered.load(); }));
    EXPECT_EQ(asked.pst_mode, "seprate");
    EXPECT_EQ(asked.pst_options_answer, "yes");
}

// Exit during a job: the job is told to stop, ends at its next boundary, and only then does the
// program end; no completion message appears.
TEST_F(ConversionWindowTest, ConfirmedExitStopsTheJobBeforeEnding) {
    PrepareJob();
    std::atomic<int> written{0};
    std::atomic<bool> saw_stop{false};
    job_.body = [&](ConversionWindow& window) {
        // Progress no longer waits for the window, so the job paces itself to be still running
        // when Exit is pressed.
        for (int i = 0; i < 100000 && !window.StopRequested(); ++i) {
            window.SetProgress(i % 99 + 1);
            window.SetStatusText("message " + std::to_string(i));
            ++written;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        saw_stop = window.StopRequested();
        window.SetProgress(0);
        window.ShowMessage("conversion process completed", kMessageTitle, msgbox::kJobMessage);
    };
    Click(ids::kConvertMessages);
    ASSERT_TRUE(PumpUntil([&] { return written > 20; }));
    prompter_.message_answers.push_back(wxID_YES);
    Click(ids::kExit);
    // Mid-job the question's default answer is No, the one that loses nothing.
    ASSERT_EQ(prompter_.messages.size(), 1u);
    EXPECT_EQ(prompter_.messages[0].style, 0x1124u);
    EXPECT_NE(MessageDialogStyle(prompter_.messages[0].style) & wxNO_DEFAULT, 0);
    EXPECT_EQ(MessageDialogStyle(0x1024u) & wxNO_DEFAULT, 0);
    // Until the job has stopped, the window says so and is not greyed out.
    EXPECT_EQ(StatusLine().rfind(kStoppingText, 0), 0u) << StatusLine();
    EXPECT_TRUE(window_->IsEnabled());
    EXPECT_EQ(process_ends_, 0);  // not before the job has stopped
    ASSERT_TRUE(PumpUntil([&] { return process_ends_ == 1; }, std::chrono::seconds(5)));
    EXPECT_TRUE(saw_stop);
    EXPECT_FALSE(job_.IsRunning());
    EXPECT_EQ(prompter_.MessageTexts(), (std::vector<std::string>{"Do you want to Exit ?       "}));
}

// Stop: the job ends at its next boundary, the window stays, and the summary tells what was done.
TEST_F(ConversionWindowTest, StopEndsTheJobAndTheSummaryShowsWhatWasDone) {
    PrepareJob();
    std::atomic<int> written{0};
    std::atomic<bool> saw_stop{false};
    Latch looked;
    job_.body = [&](ConversionWindow& window) {
        JobTally tally;
        tally.CountFolder();
        while (!window.StopRequested()) {
            window.ShowJobProgress("/home/ann/Mail/Inbox.dbx", static_cast<std::size_t>(++written), 100000);
            window.SetStatusText("/out/Inbox/message.eml");
            tally.CountMessage();
        }
        // Closing the files after a stop takes its time; the window meanwhile says why it waits.
        window.SetStatusText("closing the store ...");
        saw_stop = true;
        looked.Wait();
        window.SetProgress(0);
        window.SetStatusText(kCompletionText);
        window.ShowJobSummary(tally);
    };
    Click(ids::kConvertMessages);
    ASSERT_TRUE(PumpUntil([&] { return written > 20; }));
    EXPECT_EQ(ButtonText(ids::kConvertMessages), "Stop");
    Click(ids::kConvertMessages);
    ASSERT_TRUE(PumpUntil([&] { return saw_stop.load(); }));
    Pump();
    EXPECT_EQ(StatusLine().rfind(std::string(kStoppingText) + "\nInbox.dbx: message ", 0), 0u) << StatusLine();
    EXPECT_FALSE(Enabled(ids::kConvertMessages));  // pressed once is enough
    EXPECT_TRUE(Enabled(ids::kExit));
    EXPECT_TRUE(window_->IsEnabled());
    looked.Open();

    ASSERT_TRUE(PumpUntil([&] { return !job_.IsRunning() && Enabled(ids::kAddFile); }));
    ASSERT_EQ(prompter_.summaries.size(), 1u);
    EXPECT_TRUE(prompter_.summaries[0].stopped);
    EXPECT_NE(prompter_.summaries[0].counts.find("Messages written: "), std::string::npos);
    EXPECT_EQ(process_ends_, 0);
    EXPECT_TRUE(window_->IsShown());
    EXPECT_EQ(ButtonText(ids::kConvertMessages), "Convert Messages");
    EXPECT_TRUE(Enabled(ids::kConvertMessages));
    EXPECT_EQ(StatusLine(), kCompletionText);
    EXPECT_NE(wxWindow::FindFocus(), window_->FindWindow(ids::kExit));
    EXPECT_EQ(prompter_.MessageTexts(), std::vector<std::string>{});  // nothing asked
}

// The real conversion job, started from the window.
class RealJobWindow : public testing::Test {
protected:
    void SetUp() override {
        OpenWindow();
        window_->Show();
        Pump();
    }
    // The window as a new run of the program opens it, its choices read from what was remembered.
    void OpenWindow() {
        CurrentJobSettings() = JobSettings{};
        window_ = new COmbrikDlg(CurrentJobSettings(), prompter_, DefaultOutlookProbe(), jobs_);
        window_->SetEndProcessHandler([this] {
            ++process_ends_;
            window_->Destroy();
            window_ = nullptr;
        });
    }
    void ReopenWindow() {
        window_->Destroy();
        Pump();
        OpenWindow();
    }
    void TearDown() override {
        PumpUntil([this] { return !jobs_.IsRunning(); });
        jobs_.Join();
        if (window_ != nullptr) window_->Destroy();
        Pump();
    }
    void AddAndBrowse(const std::vector<std::string>& paths) {
        prompter_.file_answers.push_back(FileSelection{folder_.path(), paths});
        window_->OnAddFile();
        fs::create_directories(folder_ / "out");
        prompter_.folder_answers.push_back(folder_ / "out");
        window_->OnBrowseDestination();
    }
    // Every .eml file below folder, by file name, with its bytes.
    std::map<std::string, std::string> EmlFiles(const std::string& folder) {
        std::map<std::string, std::string> files;
        std::error_code error;
        for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
            if (entry.path().extension() == ".eml") files[entry.path().string()] = fixtures::ReadFile(entry.path());
        }
        return files;
    }

    ScriptedPrompter prompter_;
    WorkerJobControl jobs_;
    fixtures::TempFolder folder_;
    COmbrikDlg* window_ = nullptr;
    int process_ends_ = 0;
};

std::string MessageText(std::size_t i, std::size_t body_bytes) {
    std::string text = "From: sender" + std::to_string(i) + "@example.org\r\nSubject: Message " +
                       std::to_string(i) + "\r\nX-Index: " + std::to_string(i) + "\r\n\r\n";
    while (text.size() < body_bytes) text += "line of message " + std::to_string(i) + " body text\r\n";
    return text + "END " + std::to_string(i) + "\r\n";
}

TEST_F(RealJobWindow, WholeEmlConversionShowsProgressAndCompletion) {
    fixtures::DbxFileBuilder builder;
    std::set<std::string> expected;
    for (std::size_t i = 0; i < 5; ++i) {
        fixtures::DbxEmailSpec email;
        email.subject = "Message " + std::to_string(i);
        email.sender_address = "sender@example.org";
        email.text = MessageText(i, 700);
        expected.insert(*email.text);
        builder.AddEmail(email);
    }
    builder.WriteTo(folder_ / "Inbox.dbx");
    AddAndBrowse({folder_ / "Inbox.dbx"});

    std::atomic<int> status_seen_during_job{0};
    prompter_.on_summary = [&](wxWindow* owner, const JobTally&, const std::string& destination) {
        // The summary shows once the bar is back at 0 and the status line says so.
        EXPECT_EQ(static_cast<CProgressBar*>(window_->FindWindow(ids::kProgressBar))->GetValue(), 0);
        EXPECT_EQ(Utf8(static_cast<wxStaticText*>(window_->FindWindow(ids::kStatusLine))->GetLabel()),
                  "conversion process completed");
        EXPECT_EQ(owner, window_);
        EXPECT_EQ(destination, folder_ / "out/ExportDBX");
        ++status_seen_during_job;
    };
    window_->OnConvertMessages();
    ASSERT_TRUE(PumpUntil([&] { return !prompter_.summaries.empty() && !jobs_.IsRunning(); }));
    EXPECT_TRUE(prompter_.messages.empty());
    ASSERT_EQ(prompter_.summaries.size(), 1u);
    EXPECT_EQ(prompter_.summaries[0].counts,
              "Folder files: 1   Messages written: 5   Already there: 0   Recovered: 0   Failed: 0");
    EXPECT_TRUE(prompter_.summaries[0].lines.empty());
    EXPECT_EQ(status_seen_during_job, 1);

    const auto files = EmlFiles(folder_ / "out/ExportDBX/Inbox");
    std::set<std::string> contents;
    for (const auto& [path, bytes] : files) contents.insert(bytes);
    EXPECT_EQ(contents, expected);
    ASSERT_TRUE(PumpUntil([&] { return window_->FindWindow(ids::kConvertMessages)->IsEnabled(); }));
}

TEST_F(RealJobWindow, ExitDuringAConversionLeavesOnlyCompleteFilesAndEndsQuickly) {
    constexpr std::size_t kMessages = 4000;
    constexpr std::size_t kBodyBytes = 16 * 1024;
    fixtures::WriteDbxFile(folder_ / "Big.dbx", kMessages, [&](std::size_t i) {
        fixtures::DbxEmailSpec email;
        email.subject = "Message " + std::to_string(i);
        email.text = MessageText(i, kBodyBytes);
        return email;
    });
    AddAndBrowse({folder_ / "Big.dbx"});
    const std::string output = folder_ / "out/ExportDBX/Big";
    window_->OnConvertMessages();
    ASSERT_TRUE(PumpUntil([&] {
        std::error_code error;
        return fs::exists(output, error) &&
               std::distance(fs::directory_iterator(output, error), fs::directory_iterator()) > 50;
    }));
    prompter_.message_answers.push_back(wxID_YES);
    const auto asked = std::chrono::steady_clock::now();
    window_->OnExit();
    ASSERT_TRUE(PumpUntil([&] { return process_ends_ == 1; }, std::chrono::seconds(10)));
    const auto took = std::chrono::steady_clock::now() - asked;
    EXPECT_LT(took, std::chrono::milliseconds(3000));
    std::printf("exit confirmed to program end: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    EXPECT_FALSE(jobs_.IsRunning());
    // Only the exit question was asked: no completion message after a confirmed Exit.
    EXPECT_EQ(prompter_.MessageTexts(), (std::vector<std::string>{"Do you want to Exit ?       "}));

    const auto files = EmlFiles(output);
    EXPECT_GT(files.size(), 50u);
    EXPECT_LT(files.size(), kMessages) << "the job was not stopped";
    for (const auto& [path, bytes] : files) {
        const std::size_t at = bytes.find("X-Index: ");
        ASSERT_NE(at, std::string::npos) << path;
        const std::size_t index = std::stoul(bytes.substr(at + 9));
        EXPECT_EQ(bytes, MessageText(index, kBodyBytes)) << path << " is not complete";
    }
}

// Stop in a real conversion: every file written is complete, the summary counts exactly those,
// and the list converts again afterwards into the same place, adding only what is missing.
TEST_F(RealJobWindow, StopMidConversionCountsOnlyCompleteFilesAndTheWindowStays) {
    constexpr std::size_t kMessages = 3000;
    constexpr std::size_t kBodyBytes = 16 * 1024;
    fixtures::WriteDbxFile(folder_ / "Big.dbx", kMessages, [&](std::size_t i) {
        fixtures::DbxEmailSpec email;
        email.subject = "Message " + std::to_string(i);
        email.text = MessageText(i, kBodyBytes);
        return email;
    });
    AddAndBrowse({folder_ / "Big.dbx"});
    const std::string output = folder_ / "out/ExportDBX/Big";
    window_->OnConvertMessages();
    ASSERT_TRUE(PumpUntil([&] {
        std::error_code error;
        return fs::exists(output, error) &&
               std::distance(fs::directory_iterator(output, error), fs::directory_iterator()) > 50;
    }));
    wxCommandEvent stop(wxEVT_BUTTON, ids::kConvertMessages);
    window_->GetEventHandler()->ProcessEvent(stop);
    ASSERT_TRUE(PumpUntil([&] { return !prompter_.summaries.empty() && !jobs_.IsRunning(); }));
    ASSERT_TRUE(PumpUntil([&] { return window_->FindWindow(ids::kAddFile)->IsEnabled(); }));
    EXPECT_EQ(process_ends_, 0);
    ASSERT_EQ(prompter_.summaries.size(), 1u);
    EXPECT_TRUE(prompter_.summaries[0].stopped);
    const auto files = EmlFiles(output);
    EXPECT_LT(files.size(), kMessages) << "the job was not stopped";
    EXPECT_EQ(prompter_.summaries[0].counts, "Folder files: 1   Messages written: " + GroupedCount(files.size()) +
                                                 "   Already there: 0   Recovered: 0   Failed: 0");
    for (const auto& [path, bytes] : files) {
        const std::size_t index = std::stoul(bytes.substr(bytes.find("X-Index: ") + 9));
        ASSERT_EQ(bytes, MessageText(index, kBodyBytes)) << path << " is not complete";
    }
    EXPECT_EQ(Utf8(static_cast<wxControl*>(window_->FindWindow(ids::kConvertMessages))->GetLabelText()),
              "Convert Messages");
}

// The File menu's recover item: ticked, the job writes the deleted messages into Recovered and
// the summary counts them; the tick is still there in the next run of the program.
TEST_F(RealJobWindow, RecoverMenuItemWritesDeletedMessagesAndIsRemembered) {
    wxMenuBar* bar = window_->GetMenuBar();
    ASSERT_NE(bar, nullptr);
    const int item = ids::WxMenuId(ids::kMenuRecover);
    wxMenuItem* recover = bar->FindItem(item);
    ASSERT_NE(recover, nullptr);
    EXPECT_TRUE(recover->IsCheckable());
    EXPECT_EQ(Utf8(recover->GetItemLabelText()), "Recover deleted and damaged messages");
    EXPECT_FALSE(recover->IsChecked());
    EXPECT_FALSE(CurrentJobSettings().recover);

    fixtures::DbxFileBuilder builder;
    builder.AddEmail([] {
        fixtures::DbxEmailSpec email;
        email.subject = "Message 0";
        email.text = MessageText(0, 700);
        return email;
    }());
    fixtures::DbxEmailSpec deleted;
    deleted.subject = "Message 1";
    deleted.text = MessageText(1, 1800);
    builder.AddDeletedEmail(deleted);
    builder.WriteTo(folder_ / "Inbox.dbx");
    AddAndBrowse({folder_ / "Inbox.dbx"});

    // What a click does: the toolkit ticks the item, then the command arrives.
    bar->Check(item, true);
    wxCommandEvent click(wxEVT_MENU, item);
    click.SetInt(1);
    window_->GetEventHandler()->ProcessEvent(click);
    EXPECT_TRUE(CurrentJobSettings().recover);

    window_->OnConvertMessages();
    ASSERT_TRUE(PumpUntil([&] { return !prompter_.summaries.empty() && !jobs_.IsRunning(); }));
    ASSERT_EQ(prompter_.summaries.size(), 1u);
    EXPECT_EQ(prompter_.summaries[0].counts,
              "Folder files: 1   Messages written: 2   Already there: 0   Recovered: 1   Failed: 0");
    EXPECT_EQ(EmlFiles(folder_ / "out/ExportDBX/Inbox/Recovered"),
              (std::map<std::string, std::string>{{folder_ / "out/ExportDBX/Inbox/Recovered/Message 11.eml",
                                                   MessageText(1, 1800)}}));
    ASSERT_TRUE(PumpUntil([&] { return window_->FindWindow(ids::kConvertMessages)->IsEnabled(); }));

    // The next run of the program starts with the item ticked and the setting on.
    ReopenWindow();
    EXPECT_TRUE(window_->GetMenuBar()->IsChecked(item));
    EXPECT_TRUE(CurrentJobSettings().recover);
    // Unticked, it stays off in the run after that.
    window_->GetMenuBar()->Check(item, false);
    window_->OnRecoverChoice();
    EXPECT_FALSE(CurrentJobSettings().recover);
    ReopenWindow();
    EXPECT_FALSE(window_->GetMenuBar()->IsChecked(item));
    EXPECT_FALSE(CurrentJobSettings().recover);
}

// The File menu's manifest item: ticked, the job leaves its manifest in the destination and the
// summary names it; the tick is remembered.
TEST_F(RealJobWindow, ManifestMenuItemWritesTheManifestAndIsRemembered) {
    const int item = ids::WxMenuId(ids::kMenuManifest);
    wxMenuItem* manifest = window_->GetMenuBar()->FindItem(item);
    ASSERT_NE(manifest, nullptr);
    EXPECT_TRUE(manifest->IsCheckable());
    EXPECT_EQ(Utf8(manifest->GetItemLabelText()), "Write a Manifest of every message");
    EXPECT_FALSE(CurrentJobSettings().manifest);
    fixtures::DbxFileBuilder builder;
    builder.AddEmail([] {
        fixtures::DbxEmailSpec email;
        email.subject = "Message 0";
        email.text = MessageText(0, 700);
        return email;
    }());
    builder.WriteTo(folder_ / "Inbox.dbx");
    AddAndBrowse({folder_ / "Inbox.dbx"});
    window_->GetMenuBar()->Check(item, true);
    window_->OnManifestChoice();
    EXPECT_TRUE(CurrentJobSettings().manifest);

    window_->OnConvertMessages();
    ASSERT_TRUE(PumpUntil([&] { return !prompter_.summaries.empty() && !jobs_.IsRunning(); }));
    std::vector<std::string> manifests;
    for (const auto& entry : std::filesystem::directory_iterator(folder_ / "out/ExportDBX"))
        if (entry.path().filename().string().rfind("ombrik-manifest-", 0) == 0) manifests.push_back(entry.path().string());
    EXPECT_EQ(manifests.size(), 2u);  // .csv and .jsonl
    ASSERT_TRUE(PumpUntil([&] { return window_->FindWindow(ids::kConvertMessages)->IsEnabled(); }));

    ReopenWindow();
    EXPECT_TRUE(window_->GetMenuBar()->IsChecked(item));
    EXPECT_TRUE(CurrentJobSettings().manifest);
    window_->GetMenuBar()->Check(item, false);
    window_->OnManifestChoice();
    ReopenWindow();
    EXPECT_FALSE(CurrentJobSettings().manifest);

    // Its neighbour, the choice to leave out what other folder files wrote, is kept the same way.
    const int skip = ids::WxMenuId(ids::kMenuSkipDuplicates);
    ASSERT_NE(window_->GetMenuBar()->FindItem(skip), nullptr);
    EXPECT_EQ(Utf8(window_->GetMenuBar()->FindItem(skip)->GetItemLabelText()), "Leave out Duplicates from other folder files");
    window_->GetMenuBar()->Check(skip, true);
    window_->OnSkipDuplicatesChoice();
    ReopenWindow();
    EXPECT_TRUE(CurrentJobSettings().skip_duplicates);
    window_->GetMenuBar()->Check(skip, false);
    window_->OnSkipDuplicatesChoice();
}

// The File menu's choice to save attachments as files: ticked, the job saves a message's
// attachment beside its file; the tick is remembered.
TEST_F(RealJobWindow, ExtractAttachmentsMenuItemSavesThemAndIsRemembered) {
    const int item = ids::WxMenuId(ids::kMenuExtractAttachments);
    wxMenuItem* extract = window_->GetMenuBar()->FindItem(item);
    ASSERT_NE(extract, nullptr);
    EXPECT_TRUE(extract->IsCheckable());
    EXPECT_EQ(Utf8(extract->GetItemLabelText()), "Extract Attachments as files");
    fixtures::DbxFileBuilder builder;
    fixtures::DbxEmailSpec email;
    email.subject = "with file";
    email.text = "Subject: with file\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nbody\r\n--b\r\n"
                 "Content-Disposition: attachment; filename=a.txt\r\n\r\nA\r\n--b--\r\n";
    builder.AddEmail(email);
    builder.WriteTo(folder_ / "Inbox.dbx");
    AddAndBrowse({folder_ / "Inbox.dbx"});
    window_->GetMenuBar()->Check(item, true);
    window_->OnExtractAttachmentsChoice();
    EXPECT_TRUE(CurrentJobSettings().extract_attachments);
    window_->OnConvertMessages();
    ASSERT_TRUE(PumpUntil([&] { return !prompter_.summaries.empty() && !jobs_.IsRunning(); }));
    EXPECT_EQ(fixtures::ReadFile(folder_ / "out/ExportDBX/Inbox.attachments/with file0/a.txt"), "A");
    ASSERT_TRUE(PumpUntil([&] { return window_->FindWindow(ids::kConvertMessages)->IsEnabled(); }));
    ReopenWindow();
    EXPECT_TRUE(window_->GetMenuBar()->IsChecked(item));
    window_->GetMenuBar()->Check(item, false);
    window_->OnExtractAttachmentsChoice();
    ReopenWindow();
    EXPECT_FALSE(CurrentJobSettings().extract_attachments);
}

// A folder file that cannot be opened: the user reads which file and why in plain words, in
// the message box and again in the completion dialog's list, never the reader's own jargon.
class UnopenableFolderWindow : public RealJobWindow {
protected:
    struct Seen {
        MessageParts box;
        std::vector<std::string> completion_list;
    };
    Seen Convert(const std::string& dbx_path) {
        AddAndBrowse({dbx_path});
        Seen seen;
        prompter_.on_summary = [&](wxWindow* owner, const JobTally& tally, const std::string& destination) {
            // The dialog the user would see, built from the same tally.
            auto* dialog = new CCompletionDlg(owner, tally, destination, prompter_);
            dialog->Show();
            Pump();
            auto* list = static_cast<wxListCtrl*>(dialog->FindWindow(ids::kCompletionList));
            EXPECT_NE(list, nullptr) << "no failure list";
            for (long row = 0; list != nullptr && row < list->GetItemCount(); ++row)
                seen.completion_list.push_back(Utf8(list->GetItemText(row)));
            dialog->Destroy();
        };
        window_->OnConvertMessages();
        EXPECT_TRUE(PumpUntil([&] { return !prompter_.summaries.empty() && !jobs_.IsRunning(); }));
        EXPECT_EQ(prompter_.messages.size(), 1u) << testing::PrintToString(prompter_.MessageTexts());
        if (!prompter_.messages.empty()) seen.box = SplitMessage(prompter_.messages[0].text);
        Pump();
        return seen;
    }
    // The details line: the full path, then the reason; the reason is returned.
    static std::string ReasonAfterPath(const std::string& details, const std::string& path) {
        EXPECT_EQ(details.find('\n'), std::string::npos) << details;
        EXPECT_EQ(details.rfind(path + ": ", 0), 0u) << details;
        return details.size() > path.size() + 2 ? details.substr(path.size() + 2) : std::string();
    }
    static void ExpectPlainWords(const std::string& reason) {
        EXPECT_FALSE(reason.empty());
        for (const char* jargon : {"operation failed", "Open or close", "DBX File", "errno", "code "})
            EXPECT_EQ(reason.find(jargon), std::string::npos) << reason;
    }
};

TEST_F(UnopenableFolderWindow, ATextFileNamedLikeAFolderFileIsNamedWithItsReason) {
    const std::string path = folder_ / "Broken.dbx";
    fixtures::WriteFile(path, "These are notes, not mail.\nSecond line of notes.\n");
    const Seen seen = Convert(path);
    EXPECT_EQ(seen.box.heading, "Unable to open DBX File");
    const std::string reason = ReasonAfterPath(seen.box.details, path);
    ExpectPlainWords(reason);
    EXPECT_NE(reason.find("not an Outlook Express folder file"), std::string::npos) << reason;
    EXPECT_EQ(seen.completion_list, (std::vector<std::string>{path + ": " + reason}));
    EXPECT_FALSE(fs::exists(folder_ / "out/ExportDBX/Broken"));
}

TEST_F(UnopenableFolderWindow, ACutShortFolderFileIsNamedWithItsReason) {
    fixtures::DbxFileBuilder builder;
    for (std::size_t i = 0; i < 3; ++i) {
        fixtures::DbxEmailSpec email;
        email.subject = "Message " + std::to_string(i);
        email.text = MessageText(i, 3000);
        builder.AddEmail(email);
    }
    const std::string path = folder_ / "Inbox.dbx";
    builder.WriteTo(path);
    // Cut where a copy from a failing disk might stop: past the file header, short of the rest.
    fs::resize_file(path, 0x24bc + 100);
    const Seen seen = Convert(path);
    EXPECT_EQ(seen.box.heading, "Unable to open DBX File");
    const std::string reason = ReasonAfterPath(seen.box.details, path);
    ExpectPlainWords(reason);
    EXPECT_EQ(reason, "is cut short or damaged");
    EXPECT_EQ(seen.completion_list, (std::vector<std::string>{path + ": " + reason}));
}

}  // namespace
}  // namespace guitest
