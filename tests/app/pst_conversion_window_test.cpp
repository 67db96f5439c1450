// Conversion to PST started from the main window: the real job runs on its worker thread, the PST
// options dialog comes up modally on the UI thread and is answered as a user would, and the stores
// that come out are opened by our checker and by independent readers.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "app/progress_bar.h"
#include <wx/radiobut.h>
#include <wx/toplevel.h>

#include "app/save_pst_option.h"
#include "fixtures/dbx_builder.h"
#include "fixtures/temp_folder.h"
#include "gui_test_support.h"
#include "job/conversion_job.h"
#include "store/pst/messaging/checker.h"

namespace guitest {
namespace {

namespace fs = std::filesystem;

// Runs a shell command; its exit status, with its standard output and error in *output.
int RunCommand(const std::string& command, std::string* output = nullptr) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    std::string text;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
    const int status = ::pclose(pipe);
    if (output != nullptr) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& name) { return RunCommand("command -v " + name + " >/dev/null") == 0; }

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

std::string Base64(const std::string& bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
        if (out.size() % 78 == 76) out += "\r\n";
    }
    return out;
}

// Bytes of every value, so a lost or altered byte shows in the exported copy.
std::string AttachmentBytes() {
    std::string bytes;
    for (int i = 0; i < 700; ++i) bytes += static_cast<char>((i * 37 + 11) & 0xFF);
    return bytes;
}

std::string PlainMessage(const std::string& subject, const std::string& body) {
    return "From: Alice Sender <alice@example.org>\r\nTo: Bob Receiver <bob@example.org>\r\nSubject: " + subject +
           "\r\nDate: Tue, 01 Jun 2021 10:00:00 +0000\r\nMIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=us-ascii\r\n\r\n" +
           body + "\r\n";
}

std::string MessageWithAttachment() {
    return "From: Alice Sender <alice@example.org>\r\nTo: Bob Receiver <bob@example.org>\r\n"
           "Subject: Notes attached\r\nDate: Wed, 02 Jun 2021 11:30:00 +0000\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"part-boundary\"\r\n\r\n"
           "--part-boundary\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
           "The notes are attached.\r\n"
           "--part-boundary\r\nContent-Type: application/octet-stream; name=\"notes.bin\"\r\n"
           "Content-Disposition: attachment; filename=\"notes.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
           Base64(AttachmentBytes()) + "\r\n--part-boundary--\r\n";
}

void WriteFolderFile(const std::string& path, const std::vector<std::pair<std::string, std::string>>& messages) {
    fixtures::DbxFileBuilder builder;
    for (const auto& [subject, text] : messages) {
        fixtures::DbxEmailSpec email;
        email.subject = subject;
        email.sender_address = "alice@example.org";
        email.text = text;
        builder.AddEmail(email);
    }
    builder.WriteTo(path);
}

// What pffexport finds in a store: message count per folder under the top folder, and the
// exported attachment files by name.
struct ExportedStore {
    std::map<std::string, int> messages_by_folder;
    std::map<std::string, std::string> attachments;
};

class PstConversionWindow : public testing::Test {
protected:
    void SetUp() override {
        CurrentJobSettings() = JobSettings{};
        window_ = new COmbrikDlg(CurrentJobSettings(), prompter_, DefaultOutlookProbe(), jobs_);
        window_->Show();
        Pump();
    }
    void TearDown() override {
        PumpUntil([this] { return !jobs_.IsRunning(); });
        jobs_.Join();
        window_->Destroy();
        Pump();
    }

    // Two folder files, the second with an attachment in one message, added through Add File;
    // the destination chosen through Browse; "Save as PST" chosen.
    void PrepareWindow() {
        WriteFolderFile(folder_ / "Inbox.dbx", {{"Hello one", PlainMessage("Hello one", "First body")},
                                                {"Hello two", PlainMessage("Hello two", "Second body")},
                                                {"Hello three", PlainMessage("Hello three", "Third body")}});
        WriteFolderFile(folder_ / "Sent Items.dbx", {{"Notes attached", MessageWithAttachment()},
                                                     {"Reply", PlainMessage("Re: Hello one", "A reply")}});
        prompter_.file_answers.push_back(FileSelection{folder_.path(), {folder_ / "Inbox.dbx", folder_ / "Sent Items.dbx"}});
        Click(ids::kAddFile);
        ASSERT_EQ(List().GetItemCount(), 2);
        fs::create_directories(folder_ / "out");
        prompter_.folder_answers.push_back(folder_ / "out");
        Click(ids::kBrowseDestination);
        ASSERT_EQ(CurrentJobSettings().destination_path, folder_ / "out/ExportDBX");
        Choose(*window_, ids::kSaveAsPst);
        ASSERT_EQ(CurrentJobSettings().saving_option, "pst");
    }

    // Answers the PST options dialog once it is up: play runs on the UI thread inside the
    // dialog's modal loop, as the user's clicks would.
    void AnswerPstOptionsWith(std::function<void(CSavePSTOption&)> play) {
        play_ = std::move(play);
        dialog_seen_ = false;
        window_->CallAfter([this] { LookForPstOptions(); });
    }
    void LookForPstOptions() {
        for (wxWindow* top : wxTopLevelWindows) {
            auto* dialog = dynamic_cast<CSavePSTOption*>(top);
            if (dialog == nullptr || !dialog->IsModal()) continue;
            dialog_seen_ = true;
            EXPECT_TRUE(wxIsMainThread());
            EXPECT_TRUE(jobs_.IsRunning());
            EXPECT_EQ(Utf8(dialog->GetTitle()), "Save PST Option");
            // The window's inputs stay still while the job waits for the answer.
            for (int id : {ids::kAddFile, ids::kBrowseDestination, ids::kSaveAsPst}) {
                EXPECT_FALSE(Enabled(id)) << id;
            }
            EXPECT_EQ(Utf8(static_cast<wxControl*>(window_->FindWindow(ids::kConvertMessages))->GetLabelText()), "Stop");
            play_(*dialog);
            return;
        }
        if (!jobs_.IsRunning() && looks_ > 1000) return;  // the job ended without asking
        ++looks_;
        window_->CallAfter([this] { LookForPstOptions(); });
    }

    void ConvertAndWaitForTheJob() {
        Click(ids::kConvertMessages);
        ASSERT_TRUE(PumpUntil([&] { return !jobs_.IsRunning() && Enabled(ids::kAddFile); }, std::chrono::seconds(15)));
        ASSERT_TRUE(dialog_seen_) << "the PST options dialog did not come up";
    }

    // The completion summary, alone: no message box, no failure.
    void ExpectCompletionMessage() {
        EXPECT_TRUE(prompter_.messages.empty()) << prompter_.MessageTexts().front();
        ASSERT_EQ(prompter_.summaries.size(), 1u);
        EXPECT_NE(prompter_.summaries[0].counts.find("Failed: 0"), std::string::npos) << prompter_.summaries[0].counts;
        EXPECT_TRUE(prompter_.summaries[0].lines.empty());
        EXPECT_EQ(StatusLine(), "conversion process completed");
        EXPECT_EQ(Progress(), 0);
        ExpectInputsEnabled();
    }
    void ExpectInputsEnabled() {
        for (int id : {ids::kConvertMessages, ids::kAddFile, ids::kAddFolder, ids::kClearList, ids::kRemoveFile,
                       ids::kBrowseDestination, ids::kSaveAsPst, ids::kSaveAsEml}) {
            EXPECT_TRUE(Enabled(id)) << id;
        }
    }

    // Our checker, the strict outside one when present, and pffinfo must all accept the store.
    void ExpectSoundStore(const std::string& path, std::uint64_t messages) {
        ASSERT_TRUE(fs::is_regular_file(path)) << path;
        const pst::CheckReport report = pst::CheckPstFile(path);
        EXPECT_TRUE(report.ok()) << report.ToText();
        EXPECT_EQ(report.messages, messages) << report.ToText();
        const std::string checker = std::string(OMBRIK_TOOLS_DIR) + "/pstcheck.py";
        if (fs::exists(checker)) {
            std::string out;
            EXPECT_EQ(RunCommand("/usr/bin/python3 " + Quoted(checker) + " --strict " + Quoted(path), &out), 0) << out;
        }
        if (HaveTool("pffinfo")) {
            std::string out;
            EXPECT_EQ(RunCommand("pffinfo " + Quoted(path), &out), 0) << out;
            EXPECT_NE(out.find("Personal Storage Tables (PST)"), std::string::npos) << out;
        }
    }

    // Exports the store with libpff's pffexport; nullopt (the caller skips) when it is absent.
    std::optional<ExportedStore> ExportWithPff(const std::string& path, const std::string& name) {
        if (!HaveTool("pffexport")) return std::nullopt;
        const std::string target = folder_ / ("pff-" + name);
        std::string out;
        EXPECT_EQ(RunCommand("pffexport -q -f all -t " + Quoted(target) + " " + Quoted(path), &out), 0) << out;
        ExportedStore exported;
        const fs::path top = fs::path(target + ".export") / "Top of Personal Folders";
        std::error_code error;
        for (const auto& folder : fs::directory_iterator(top, error)) {
            if (!folder.is_directory()) continue;
            int count = 0;
            for (const auto& item : fs::directory_iterator(folder.path())) {
                if (item.path().filename().string().rfind("Message", 0) != 0) continue;
                ++count;
                const fs::path attachments = item.path() / "Attachments";
                if (!fs::is_directory(attachments)) continue;
                for (const auto& file : fs::directory_iterator(attachments))
                    exported.attachments[file.path().filename().string()] = fixtures::ReadFile(file.path());
            }
            exported.messages_by_folder[folder.path().filename().string()] = count;
        }
        EXPECT_FALSE(error) << "pffexport left no top folder: " << out;
        return exported;
    }

    // The files left in a folder, by name.
    std::set<std::string> FilesIn(const std::string& folder) {
        std::set<std::string> names;
        std::error_code error;
        // The memory of which folder file went where is no output.
        for (const auto& entry : fs::directory_iterator(folder, error))
            if (!entry.path().filename().string().ends_with(".ombrik-folders"))
                names.insert(entry.path().filename().string());
        return names;
    }

    wxListCtrl& List() { return *static_cast<wxListCtrl*>(window_->FindWindow(ids::kSourceList)); }
    bool Enabled(int id) { return window_->FindWindow(id)->IsEnabled(); }
    int Progress() { return static_cast<CProgressBar*>(window_->FindWindow(ids::kProgressBar))->GetValue(); }
    std::string StatusLine() {
        return Utf8(static_cast<wxStaticText*>(window_->FindWindow(ids::kStatusLine))->GetLabel());
    }
    static void Press(wxWindow& owner, int id) {
        wxCommandEvent event(wxEVT_BUTTON, id);
        event.SetEventObject(owner.FindWindow(id));
        owner.GetEventHandler()->ProcessEvent(event);
    }
    void Click(int id) { Press(*window_, id); }
    // Checks a radio button and sends its command, as a click on it does.
    static void Choose(wxWindow& owner, int id) {
        auto* radio = static_cast<wxRadioButton*>(owner.FindWindow(id));
        radio->SetValue(true);
        wxCommandEvent event(wxEVT_RADIOBUTTON, id);
        event.SetEventObject(radio);
        owner.GetEventHandler()->ProcessEvent(event);
    }

    ScriptedPrompter prompter_;
    WorkerJobControl jobs_;
    fixtures::TempFolder folder_;
    COmbrikDlg* window_ = nullptr;
    std::function<void(CSavePSTOption&)> play_;
    bool dialog_seen_ = false;
    int looks_ = 0;
};

TEST_F(PstConversionWindow, SingleStoreHoldsOneFolderPerFolderFile) {
    ASSERT_NO_FATAL_FAILURE(PrepareWindow());
    fs::create_directories(folder_ / "stores");
    AnswerPstOptionsWith([this](CSavePSTOption& dialog) {
        Choose(dialog, ids::kPstSingleNewStore);
        prompter_.save_answers.push_back(folder_ / "stores/NewPST.pst");
        Press(dialog, ids::kPstNewStoreBrowse);
        Press(dialog, ids::kPstConvert);
    });
    ASSERT_NO_FATAL_FAILURE(ConvertAndWaitForTheJob());
    ExpectCompletionMessage();
    EXPECT_TRUE(prompter_.app_messages.empty());
    EXPECT_EQ(CurrentJobSettings().pst_mode, "new");
    EXPECT_EQ(CurrentJobSettings().pst_options_answer, "yes");

    const std::string store = folder_ / "stores/NewPST.pst";
    EXPECT_EQ(CurrentJobSettings().pst_path, store);
    EXPECT_EQ(FilesIn(folder_ / "stores"), (std::set<std::string>{"NewPST.pst"}));
    // The temporary message files are gone once imported.
    EXPECT_EQ(FilesIn(folder_ / "out/ExportDBX"), std::set<std::string>{});
    ASSERT_NO_FATAL_FAILURE(ExpectSoundStore(store, 5));

    const auto exported = ExportWithPff(store, "single");
    if (!exported) GTEST_SKIP() << "pffexport absent";
    EXPECT_EQ(exported->messages_by_folder,
              (std::map<std::string, int>{{"Inbox.dbx", 3}, {"Sent Items.dbx", 2}, {"Deleted Items", 0}}));
    ASSERT_EQ(exported->attachments.size(), 1u);
    EXPECT_EQ(exported->attachments.begin()->first, "1_notes.bin");
    EXPECT_EQ(exported->attachments.begin()->second, AttachmentBytes());
}

TEST_F(PstConversionWindow, SeparateStoresGoBesideTheDestination) {
    ASSERT_NO_FATAL_FAILURE(PrepareWindow());
    AnswerPstOptionsWith([](CSavePSTOption& dialog) {
        Choose(dialog, ids::kPstSeparateStores);
        Press(dialog, ids::kPstConvert);
    });
    ASSERT_NO_FATAL_FAILURE(ConvertAndWaitForTheJob());
    ExpectCompletionMessage();
    EXPECT_EQ(CurrentJobSettings().pst_mode, "seprate");

    const std::string destination = folder_ / "out/ExportDBX";
    EXPECT_EQ(FilesIn(destination), (std::set<std::string>{"Inbox.dbx.pst", "Sent Items.dbx.pst"}));
    ASSERT_NO_FATAL_FAILURE(ExpectSoundStore(destination + "/Inbox.dbx.pst", 3));
    ASSERT_NO_FATAL_FAILURE(ExpectSoundStore(destination + "/Sent Items.dbx.pst", 2));
    // The stores of the run stay out of the settings: no later choice inherits one.
    EXPECT_EQ(CurrentJobSettings().pst_path, "");

    if (HaveTool("readpst")) {
        // libpst's reader writes each folder as one MBOX file named like the folder.
        const std::string target = folder_ / "readpst";
        fs::create_directories(target);
        std::string out;
        ASSERT_EQ(RunCommand("readpst -q -j 0 -D -o " + Quoted(target) + " " + Quoted(destination + "/Inbox.dbx.pst"), &out), 0)
            << out;
        // When another folder of the store (its top, named like the store) maps to the same file
        // name, readpst numbers the later one ("Inbox.dbx.mbox00000001"): read them all.
        std::string mbox;
        for (const auto& entry : fs::directory_iterator(target))
            if (entry.path().filename().string().rfind("Inbox.dbx.mbox", 0) == 0) mbox += fixtures::ReadFile(entry.path());
        int messages = 0;
        for (std::size_t at = 0; (at = mbox.find("From ", at)) != std::string::npos; at += 5)
            if (at == 0 || mbox[at - 1] == '\n') ++messages;
        std::string listing;
        for (const auto& entry : fs::recursive_directory_iterator(target)) listing += entry.path().string() + "\n";
        EXPECT_EQ(messages, 3) << out << listing;
        for (const char* body : {"First body", "Second body", "Third body"})
            EXPECT_NE(mbox.find(body), std::string::npos) << body;
    }
    const auto exported = ExportWithPff(destination + "/Sent Items.dbx.pst", "sent");
    if (!exported) GTEST_SKIP() << "pffexport absent";
    EXPECT_EQ(exported->messages_by_folder, (std::map<std::string, int>{{"Sent Items.dbx", 2}, {"Deleted Items", 0}}));
    ASSERT_EQ(exported->attachments.size(), 1u);
    EXPECT_EQ(exported->attachments.begin()->second, AttachmentBytes());
}

// The stores a separate run made are its own: a later run that picks one store for all and names
// none is asked for one, and does not fill the last separate store.
TEST_F(PstConversionWindow, ASeparateRunLeavesNoStoreForTheNextChoice) {
    ASSERT_NO_FATAL_FAILURE(PrepareWindow());
    AnswerPstOptionsWith([](CSavePSTOption& dialog) {
        Choose(dialog, ids::kPstSeparateStores);
        Press(dialog, ids::kPstConvert);
    });
    ASSERT_NO_FATAL_FAILURE(ConvertAndWaitForTheJob());
    ASSERT_NO_FATAL_FAILURE(ExpectCompletionMessage());
    prompter_.summaries.clear();

    bool shown_after_convert = false;
    AnswerPstOptionsWith([&](CSavePSTOption& dialog) {
        Choose(dialog, ids::kPstSingleNewStore);
        EXPECT_EQ(Utf8(static_cast<wxTextCtrl*>(dialog.FindWindow(ids::kPstNewStorePath))->GetValue()), "");
        Press(dialog, ids::kPstConvert);
        shown_after_convert = dialog.IsShown();
        Press(dialog, ids::kPstCancel);
    });
    ASSERT_NO_FATAL_FAILURE(ConvertAndWaitForTheJob());
    EXPECT_TRUE(shown_after_convert);
    EXPECT_EQ(prompter_.app_messages, (std::vector<std::string>{"Please select destination pst file path"}));
    EXPECT_TRUE(prompter_.summaries.empty());
    const std::string destination = folder_ / "out/ExportDBX";
    EXPECT_EQ(FilesIn(destination), (std::set<std::string>{"Inbox.dbx.pst", "Sent Items.dbx.pst"}));
    ASSERT_NO_FATAL_FAILURE(ExpectSoundStore(destination + "/Inbox.dbx.pst", 3));
}

// A second run into the store the first one made: the folders named like the folder files are
// found again, and the messages they hold already are not added a second time.
TEST_F(PstConversionWindow, ExistingStoreGainsTheMessagesInItsFolders) {
    ASSERT_NO_FATAL_FAILURE(PrepareWindow());
    fs::create_directories(folder_ / "stores");
    const std::string store = folder_ / "stores/NewPST.pst";
    AnswerPstOptionsWith([this](CSavePSTOption& dialog) {
        Choose(dialog, ids::kPstSingleNewStore);
        prompter_.save_answers.push_back(folder_ / "stores/NewPST.pst");
        Press(dialog, ids::kPstNewStoreBrowse);
        Press(dialog, ids::kPstConvert);
    });
    ASSERT_NO_FATAL_FAILURE(ConvertAndWaitForTheJob());
    ASSERT_NO_FATAL_FAILURE(ExpectCompletionMessage());
    prompter_.messages.clear();
    prompter_.summaries.clear();

    AnswerPstOptionsWith([this, store](CSavePSTOption& dialog) {
        Choose(dialog, ids::kPstExistingStore);
        prompter_.file_answers.push_back(FileSelection{folder_ / "stores", {store}});
        Press(dialog, ids::kPstExistingStoreBrowse);
        Press(dialog, ids::kPstConvert);
    });
    ASSERT_NO_FATAL_FAILURE(ConvertAndWaitForTheJob());
    EXPECT_TRUE(prompter_.messages.empty()) << prompter_.MessageTexts().front();
    ASSERT_EQ(prompter_.summaries.size(), 1u);
    EXPECT_NE(prompter_.summaries[0].counts.find("Messages written: 0   Already there: 5"), std::string::npos)
        << prompter_.summaries[0].counts;
    EXPECT_TRUE(prompter_.summaries[0].lines.empty());
    EXPECT_EQ(CurrentJobSettings().pst_mode, "old");
    EXPECT_EQ(CurrentJobSettings().existing_pst_path, store);
    EXPECT_EQ(FilesIn(folder_ / "stores"), (std::set<std::string>{"NewPST.pst"}));
    ASSERT_NO_FATAL_FAILURE(ExpectSoundStore(store, 5));

    const auto exported = ExportWithPff(store, "existing");
    if (!exported) GTEST_SKIP() << "pffexport absent";
    EXPECT_EQ(exported->messages_by_folder,
              (std::map<std::string, int>{{"Inbox.dbx", 3}, {"Sent Items.dbx", 2}, {"Deleted Items", 0}}));
}

// Stop during a PST run: from the press until the summary the status line says the job is
// stopping (closing a store takes a while), the summary counts what reached the store, and the
// store is sound.
TEST_F(PstConversionWindow, StopShowsTheStoppingStateAndLeavesASoundStore) {
    constexpr std::size_t kMessages = 2500;
    fixtures::WriteDbxFile(folder_ / "Inbox.dbx", kMessages, [](std::size_t i) {
        fixtures::DbxEmailSpec email;
        const std::string subject = "Hello " + std::to_string(i);
        email.subject = subject;
        email.text = PlainMessage(subject, std::string(3000, static_cast<char>('a' + i % 26)));
        return email;
    });
    prompter_.file_answers.push_back(FileSelection{folder_.path(), {folder_ / "Inbox.dbx"}});
    Click(ids::kAddFile);
    fs::create_directories(folder_ / "out");
    prompter_.folder_answers.push_back(folder_ / "out");
    Click(ids::kBrowseDestination);
    Choose(*window_, ids::kSaveAsPst);
    fs::create_directories(folder_ / "stores");
    const std::string store = folder_ / "stores/NewPST.pst";
    AnswerPstOptionsWith([this, store](CSavePSTOption& dialog) {
        Choose(dialog, ids::kPstSingleNewStore);
        prompter_.save_answers.push_back(store);
        Press(dialog, ids::kPstNewStoreBrowse);
        Press(dialog, ids::kPstConvert);
    });
    std::vector<std::string> while_stopping;
    prompter_.on_summary = [&](wxWindow*, const JobTally&, const std::string&) { while_stopping.push_back("summary"); };
    Click(ids::kConvertMessages);
    // Some fifty messages in (the bar shows the fraction of the folder file done).
    ASSERT_TRUE(PumpUntil([&] { return StatusLine().find(" of 2500") != std::string::npos && Progress() >= 2; },
                          std::chrono::seconds(30)));
    Click(ids::kConvertMessages);  // Stop
    const auto pressed = std::chrono::steady_clock::now();
    ASSERT_TRUE(PumpUntil([&] {
        if (while_stopping.empty() || while_stopping.back() != StatusLine()) while_stopping.push_back(StatusLine());
        return !prompter_.summaries.empty();
    }));
    const auto took = std::chrono::steady_clock::now() - pressed;
    std::printf("Stop pressed to summary: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    ASSERT_GE(while_stopping.size(), 2u);
    for (const std::string& line : while_stopping) {
        if (line == "summary") break;
        EXPECT_EQ(line.rfind(kStoppingText, 0), 0u) << line;
    }
    ASSERT_TRUE(PumpUntil([&] { return !jobs_.IsRunning() && Enabled(ids::kAddFile); }));
    ASSERT_EQ(prompter_.summaries.size(), 1u);
    EXPECT_TRUE(prompter_.summaries[0].stopped);
    const std::string& counts = prompter_.summaries[0].counts;
    const std::size_t at = counts.find("Messages written: ");
    ASSERT_NE(at, std::string::npos) << counts;
    std::string digits;
    for (std::size_t i = at + 18; i < counts.size() && counts[i] != ' '; ++i)
        if (counts[i] != ',') digits += counts[i];
    const std::uint64_t written = std::stoull(digits);
    EXPECT_GT(written, 0u) << counts;
    EXPECT_LT(written, kMessages) << counts;
    ASSERT_NO_FATAL_FAILURE(ExpectSoundStore(store, written));
}

TEST_F(PstConversionWindow, CancelledOptionsEndTheJobWithoutStoreOrMessage) {
    ASSERT_NO_FATAL_FAILURE(PrepareWindow());
    fs::create_directories(folder_ / "stores");
    const std::string status_before = StatusLine();
    AnswerPstOptionsWith([this](CSavePSTOption& dialog) {
        // Convert with nothing chosen asks for a path and keeps the dialog up.
        Press(dialog, ids::kPstConvert);
        EXPECT_EQ(prompter_.app_messages, (std::vector<std::string>{"Please select destination pst file path"}));
        EXPECT_TRUE(dialog.IsModal() && dialog.IsShown());
        // A store chosen, then the dialog cancelled: nothing may be written there.
        Choose(dialog, ids::kPstSingleNewStore);
        prompter_.save_answers.push_back(folder_ / "stores/NewPST.pst");
        Press(dialog, ids::kPstNewStoreBrowse);
        Press(dialog, ids::kPstCancel);
    });
    ASSERT_NO_FATAL_FAILURE(ConvertAndWaitForTheJob());
    EXPECT_EQ(CurrentJobSettings().pst_options_answer, "no");
    EXPECT_TRUE(prompter_.messages.empty()) << prompter_.MessageTexts().front();
    EXPECT_EQ(StatusLine(), status_before);
    EXPECT_EQ(FilesIn(folder_ / "stores"), std::set<std::string>{});
    EXPECT_EQ(FilesIn(folder_ / "out/ExportDBX"), std::set<std::string>{});
    ExpectInputsEnabled();

    // The window is ready for the next run: this time the job goes through.
    AnswerPstOptionsWith([](CSavePSTOption& dialog) {
        Choose(dialog, ids::kPstSingleNewStore);  // the store path chosen above is still there
        Press(dialog, ids::kPstConvert);
    });
    ASSERT_NO_FATAL_FAILURE(ConvertAndWaitForTheJob());
    ExpectCompletionMessage();
    ExpectSoundStore(folder_ / "stores/NewPST.pst", 5);
}

}  // namespace
}  // namespace guitest
