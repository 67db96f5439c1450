#include "job/conversion_job.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "export/export_test_support.h"

using fixtures::ReadFile;
using testsupport::Email;
using testsupport::ExportHarness;

TEST(FolderName, RemovesEveryExactCaseDbx) {
    EXPECT_EQ(FolderNameFromFileName("Inbox.dbx"), "Inbox");
    EXPECT_EQ(FolderNameFromFileName("a.dbx.dbx"), "a");
    EXPECT_EQ(FolderNameFromFileName("Inbox.DBX"), "Inbox.DBX");
    EXPECT_EQ(FolderNameFromFileName("my.dbxfile.dbx"), "myfile");
}

TEST(ConversionJob, ConvertsRowsInListOrderAndEndsWithTheCompletionStep) {
    ExportHarness h;
    fixtures::DbxFileBuilder a, b;
    a.AddEmail(Email("from a", "A"));
    b.AddEmail(Email("from b", "B"));
    h.window.AddRow(h.WriteDbx("B.dbx", b), "B.dbx");
    h.window.AddRow(h.WriteDbx("A.dbx", a), "A.dbx");
    h.settings.saving_option = "eml";
    h.settings.destination_path = h.Destination();

    const JobTally tally = RunConversionJob(h.window, h.settings);

    EXPECT_EQ(h.window.status.front(), h.settings.destination_path + "/B/from b0.eml");
    EXPECT_EQ(h.window.status.back(), "conversion process completed");
    ASSERT_EQ(h.window.messages.size(), 1u);
    EXPECT_EQ(h.window.messages[0].text, "conversion process completed");
    EXPECT_EQ(h.window.messages[0].title, "Corvanti Ombrik   ");
    EXPECT_EQ(h.window.messages[0].style, 0x1020u);
    EXPECT_EQ(h.window.progress.back(), 0);
    EXPECT_EQ(tally.messages(), 2u);
    EXPECT_EQ(tally.folders(), 2u);
}

// A window with a summary of its own gets the job's counts in place of the message box.
TEST(ConversionJob, CompletionStepHandsTheTallyToTheWindowOnce) {
    struct SummaryWindow : fixtures::RecordingWindow {
        std::vector<JobTally> summaries;
        void ShowJobSummary(const JobTally& tally) override { summaries.push_back(tally); }
    };
    ExportHarness h;
    SummaryWindow window;
    fixtures::DbxFileBuilder a;
    a.AddEmail(Email("one", "1"));
    a.AddEmail(Email("two", "2"));
    window.AddRow(h.WriteDbx("A.dbx", a), "A.dbx");
    window.AddRow(h.dir / "missing.dbx", "missing.dbx");
    h.settings.saving_option = "eml";
    h.settings.destination_path = h.Destination();

    RunConversionJob(window, h.settings);
    // The missing file has its own message; the completion comes only as the summary.
    for (const auto& message : window.messages)
        EXPECT_EQ(message.text.find("conversion process completed"), std::string::npos) << message.text;
    ASSERT_EQ(window.summaries.size(), 1u);
    EXPECT_EQ(window.summaries[0].messages(), 2u);
    EXPECT_EQ(window.summaries[0].failures(), 1u);
    EXPECT_EQ(window.status.back(), "conversion process completed");

    // A job the user stopped still hands its tally over: the window decides what it shows.
    SummaryWindow stopped;
    stopped.AddRow(h.WriteDbx("B.dbx", a), "B.dbx");
    stopped.stop = true;
    RunConversionJob(stopped, h.settings);
    ASSERT_EQ(stopped.summaries.size(), 1u);
    EXPECT_EQ(stopped.summaries[0].messages(), 0u);
}

TEST(ConversionJob, SameFolderNameTwiceNeverReplacesEarlierOutput) {
    for (const std::string option : {"eml", "mbox"}) {
        ExportHarness h;
        std::filesystem::create_directories(h.dir / "one");
        std::filesystem::create_directories(h.dir / "two");
        fixtures::DbxFileBuilder first, second;
        first.AddEmail(Email("same", "first"));
        second.AddEmail(Email("same", "second"));
        h.window.AddRow(h.WriteDbx("one/Inbox.dbx", first), "Inbox.dbx");
        h.window.AddRow(h.WriteDbx("two/Inbox.dbx", second), "Inbox.dbx");
        h.settings.saving_option = option;
        h.settings.destination_path = h.Destination();
        RunConversionJob(h.window, h.settings);
        const std::string d = h.settings.destination_path;
        if (option == "eml") {
            EXPECT_EQ(ReadFile(d + "/Inbox/same0.eml"), "first");
            EXPECT_EQ(ReadFile(d + "/Inbox (2)/same0.eml"), "second");
        } else {
            EXPECT_NE(ReadFile(d + "/Inbox.mbox").find("first"), std::string::npos);
            EXPECT_NE(ReadFile(d + "/Inbox (2).mbox").find("second"), std::string::npos);
        }
    }
}

TEST(ConversionJob, FailuresAreSummarisedInTheCompletionMessage) {
    ExportHarness h;
    h.window.AddRow(h.dir / "Missing.dbx", "Missing.dbx");
    h.settings.saving_option = "eml";
    h.settings.destination_path = h.Destination();
    const JobTally tally = RunConversionJob(h.window, h.settings);
    ASSERT_EQ(h.window.messages.size(), 2u);
    EXPECT_EQ(h.window.messages[0].text.substr(0, h.window.messages[0].text.find('\n')), "Unable to open DBX File");
    EXPECT_EQ(h.window.messages[1].text.rfind("conversion process completed\n\n1 failure", 0), 0u)
        << h.window.messages[1].text;
    EXPECT_NE(h.window.messages[1].text.find("Missing.dbx"), std::string::npos);
    EXPECT_EQ(tally.failures(), 1u);
}

TEST(ConversionJob, NoRowsStillCompletes) {
    ExportHarness h;
    h.settings.saving_option = "eml";
    RunConversionJob(h.window, h.settings);
    ASSERT_EQ(h.window.messages.size(), 1u);
    EXPECT_EQ(h.window.messages[0].text, "conversion process completed");
}

TEST(ConversionJob, AStopRequestEndsTheJobWithoutAQuestion) {
    ExportHarness h;
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 5; ++i) builder.AddEmail(Email("m", "x"));
    h.window.AddRow(h.WriteDbx("A.dbx", builder), "A.dbx");
    h.window.AddRow(h.WriteDbx("B.dbx", builder), "B.dbx");
    h.settings.saving_option = "eml";
    h.settings.destination_path = h.Destination();
    h.window.stop_after_status = 2;
    RunConversionJob(h.window, h.settings);
    EXPECT_TRUE(h.window.messages.empty());
    EXPECT_FALSE(std::filesystem::exists(h.settings.destination_path + "/B"));
}

namespace {
// A window whose first progress call blocks until released, to hold a job running.
class GateWindow : public fixtures::RecordingWindow {
public:
    std::atomic<bool> open{false};
    std::atomic<bool> finished{false};
    void SetProgress(int position) override {
        while (!open) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        RecordingWindow::SetProgress(position);
    }
    void JobFinished() override { finished = true; }
};
}  // namespace

TEST(ConversionThread, OnlyOneJobRunsAtATime) {
    ExportHarness h;
    GateWindow window;
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("m", "x"));
    window.AddRow(h.WriteDbx("A.dbx", builder), "A.dbx");
    JobSettings& settings = CurrentJobSettings();
    settings.saving_option = "eml";
    settings.destination_path = h.Destination();

    ASSERT_TRUE(StartConversionThread(window));
    EXPECT_TRUE(IsConversionRunning());
    EXPECT_FALSE(StartConversionThread(window));
    window.open = true;
    JoinConversionThread();
    EXPECT_TRUE(window.finished);
    EXPECT_FALSE(IsConversionRunning());
    EXPECT_TRUE(std::filesystem::exists(settings.destination_path + "/A/m0.eml"));
    ASSERT_TRUE(StartConversionThread(window));  // the next job may start once the first has ended
    JoinConversionThread();
}

TEST(ConversionJob, OptionsWithoutAnExporterAreNotAvailable) {
    EXPECT_TRUE(IsSavingOptionAvailable("eml"));
    EXPECT_TRUE(IsSavingOptionAvailable("mbox"));
    for (const char* option : {"msg", "rtf", "html", "pst"}) EXPECT_TRUE(IsSavingOptionAvailable(option)) << option;
    EXPECT_FALSE(IsSavingOptionAvailable("bogus"));
}

// A folder file that turned into a FIFO (or was one all along) after it was listed: every form
// passes it over as a failure instead of waiting for a writer that never comes.
TEST(ConversionJob, AFifoInTheListNeverBlocksAnyForm) {
    for (const std::string option : {"eml", "mbox", "msg", "pst"}) {
        ExportHarness h;
        ASSERT_EQ(::mkfifo((h.dir / "Pipe.dbx").c_str(), 0600), 0);
        fixtures::DbxFileBuilder inbox;
        inbox.AddEmail(Email("kept", "Subject: kept\r\n\r\nbody\r\n"));
        h.window.AddRow(h.dir / "Pipe.dbx", "Pipe.dbx");
        h.window.AddRow(h.WriteDbx("Inbox.dbx", inbox), "Inbox.dbx");
        h.settings.saving_option = option;
        h.settings.destination_path = h.Destination();
        h.window.pst_answer.pst_mode = "seprate";
        h.window.pst_answer.pst_options_answer = "yes";
        ::alarm(30);
        const JobTally tally = RunConversionJob(h.window, h.settings);
        ::alarm(0);
        EXPECT_EQ(tally.messages(), 1u) << option;
        EXPECT_EQ(tally.failures(), 1u) << option;
        ASSERT_FALSE(tally.failure_lines().empty()) << option;
        EXPECT_EQ(tally.failure_lines()[0].rfind(h.dir / "Pipe.dbx", 0), 0u) << tally.failure_lines()[0];
    }
}
