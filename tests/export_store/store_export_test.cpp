#include "export/store_export.h"

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "export/export_test_support.h"
#include "store/msg/msg_test_support.h"
#include "fixtures/environment.h"
#include "platform/paths.h"

using fixtures::ReadFile;
using testsupport::Email;
using testsupport::ExportHarness;

namespace {

std::vector<std::string> FilesIn(const std::string& directory) {
    std::vector<std::string> names;
    if (!std::filesystem::is_directory(directory)) return names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Mail(const std::string& subject, const std::string& body) {
    return "From: Ann <ann@example.com>\r\nTo: bob@example.com\r\nSubject: " + subject +
           "\r\nDate: Sat, 01 Jan 2000 00:00:00 +0000\r\n\r\n" + body + "\r\n";
}

// Points TMPDIR at a folder of the test for as long as it lives, so leftovers can be seen.
class ScopedTmpDir {
public:
    explicit ScopedTmpDir(const std::string& path) {
        const char* old = std::getenv(fixtures::kTemporaryFolderVariable);
        if (old != nullptr) old_ = old;
        had_ = old != nullptr;
        std::filesystem::create_directory(path);
        fixtures::SetEnvironment(fixtures::kTemporaryFolderVariable, path);
    }
    ~ScopedTmpDir() {
        if (had_) fixtures::SetEnvironment(fixtures::kTemporaryFolderVariable, old_);
        else fixtures::UnsetEnvironment(fixtures::kTemporaryFolderVariable);
    }

private:
    std::string old_;
    bool had_ = false;
};

struct StoreHarness : ExportHarness {
    explicit StoreHarness(const std::string& option) { settings.saving_option = option; }
    std::string Run(const fixtures::DbxFileBuilder& builder, const std::string& folder = "Inbox") {
        const std::string dbx = WriteDbx(folder + ".dbx", builder);
        ScopedTmpDir tmp(dir / "tmp");
        ExportFolderThroughStore(context, dbx, Destination(), folder);
        EXPECT_TRUE(FilesIn(dir / "tmp").empty()) << "temporary files left behind";
        return platform::JoinPath(Destination(), folder);
    }
};

}  // namespace

TEST(StoreExport, MsgFilesNamedBySubjectAndSlotReadBackWhole) {
    StoreHarness h("msg");
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("Hello", Mail("Hello", "first"))).AddEmail(Email("Re: Meeting <today>?", Mail("Re: Meeting", "second")));
    const std::string folder = h.Run(builder);
    EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{"Hello1.msg", "Re Meeting today0.msg"}));
    EXPECT_EQ(h.window.status, (std::vector<std::string>{platform::JoinPath(folder, "Hello1.msg"),
                                                          platform::JoinPath(folder, "Re Meeting today0.msg")}));
    EXPECT_EQ(h.window.progress, (std::vector<int>{1, 2, 0}));
    EXPECT_TRUE(h.window.messages.empty());
    EXPECT_EQ(h.tally.messages(), 2u);
    EXPECT_EQ(h.tally.failures(), 0u);
    if (msgtest::HaveMsgCheck()) {
        for (const std::string& name : FilesIn(folder)) EXPECT_EQ(msgtest::MsgCheckStrict(folder + "/" + name), "") << name;
    }
    if (msgtest::HaveOlefile()) {
        auto dump = msgtest::DumpMsg(folder + "/Hello1.msg");
        EXPECT_EQ(dump["msg"]["0037001F"], "Hello");
        EXPECT_EQ(dump["msg"]["1000001F"], "first\\r\\n");
    }
}

TEST(StoreExport, RtfAndHtmlOutputsLeaveNoTemporaryFiles) {
    for (const std::string option : {"rtf", "html"}) {
        StoreHarness h(option);
        fixtures::DbxFileBuilder builder;
        builder.AddEmail(Email("see.eml", Mail("see.eml", "body text")));
        const std::string folder = h.Run(builder);
        const std::string name = "see.eml0." + option;
        ASSERT_EQ(FilesIn(folder), std::vector<std::string>{name});
        EXPECT_NE(ReadFile(folder + "/" + name).find("body text"), std::string::npos);
        EXPECT_EQ(h.tally.messages(), 1u);
    }
}

TEST(StoreExport, AFailedMessageIsCountedCleanedUpAndTheRestStillConverted) {
    StoreHarness h("msg");
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("A", Mail("A", "a"))).AddEmail(Email("B", Mail("B", "b"))).AddEmail(Email("C", Mail("C", "c")));
    // A directory where the middle message's file should go makes that message fail.
    std::filesystem::create_directories(h.Destination() + "/Inbox/B1.msg/x");
    const std::string folder = h.Run(builder);
    EXPECT_TRUE(std::filesystem::is_regular_file(folder + "/A2.msg"));
    EXPECT_TRUE(std::filesystem::is_regular_file(folder + "/C0.msg"));
    EXPECT_EQ(h.tally.messages(), 2u);
    EXPECT_EQ(h.tally.failures(), 1u);
    ASSERT_FALSE(h.tally.failure_lines().empty());
    EXPECT_NE(h.tally.failure_lines()[0].find("B1.msg"), std::string::npos);
    EXPECT_TRUE(h.window.messages.empty());
}

TEST(StoreExport, ListFoldersMakeNothingAndAreNoted) {
    StoreHarness h("html");
    fixtures::DbxFileBuilder builder(DbxKind::List);
    builder.AddListEntry({}).AddListEntry({});
    const std::string folder = h.Run(builder, "Folders");
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_TRUE(h.window.progress.empty());
    EXPECT_EQ(h.tally.messages(), 0u);
    EXPECT_EQ(h.tally.failures(), 0u);
    EXPECT_EQ(h.tally.note_lines().size(), 1u);
}

TEST(StoreExport, AnUnreadableFolderFileShowsItsMessage) {
    StoreHarness h("msg");
    fixtures::WriteFile(h.dir / "Bad.dbx", "not a folder file");
    ExportFolderThroughStore(h.context, h.dir / "Bad.dbx", h.Destination(), "Bad");
    ASSERT_EQ(h.window.messages.size(), 1u);
    EXPECT_EQ(h.window.messages[0].text.substr(0, h.window.messages[0].text.find('\n')), "Unable to open DBX File");
    EXPECT_EQ(h.window.messages[0].title, "Corvanti Ombrik   ");
    EXPECT_EQ(h.window.messages[0].style, 0x1020u);
    EXPECT_EQ(h.tally.failures(), 1u);
}

TEST(StoreExport, StopsBetweenMessagesWhenAsked) {
    StoreHarness h("msg");
    h.window.stop_after_status = 1;
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 5; ++i) builder.AddEmail(Email("m", Mail("m", "x")));
    const std::string folder = h.Run(builder);
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"m4.msg"});
}

TEST(StoreExport, SessionErrorTextIsTheSixLines) {
    EXPECT_EQ(std::string(kSessionErrorText),
              "Unable to create redemption session \n Please Register Redemption DLL by following below steps- \n"
              " 1) Go to software installation location. \n 2) Click on Start button \xC2\xBB Run \n"
              " 3) Type the below command- \n regsvr32 C:\\Program Files\\Corvanti Ombrik\\Redemption.dll");
}

TEST(StoreExport, TheRealSampleFolderConvertsToAllThreeForms) {
    const std::string sample = std::string(OMBRIK_SAMPLES_DIR) + "/dbx/Inbox.dbx";
    if (!std::filesystem::exists(sample)) GTEST_SKIP() << "no sample folder files";
    for (const std::string option : {"msg", "rtf", "html"}) {
        StoreHarness h(option);
        ScopedTmpDir tmp(h.dir / "tmp");
        ExportFolderThroughStore(h.context, sample, h.Destination(), "Inbox");
        EXPECT_TRUE(FilesIn(h.dir / "tmp").empty());
        const std::string folder = h.Destination() + "/Inbox";
        const std::string name = "Welcome to Outlook Express 60." + option;
        ASSERT_EQ(FilesIn(folder), std::vector<std::string>{name});
        EXPECT_EQ(h.tally.messages(), 1u);
        const std::string path = folder + "/" + name;
        if (option == "msg") {
            if (msgtest::HaveMsgCheck()) {
                EXPECT_EQ(msgtest::MsgCheckStrict(path), "");
            }
            if (msgtest::HaveOlefile()) {
                auto dump = msgtest::DumpMsg(path);
                EXPECT_EQ(dump["msg"]["0037001F"], "Welcome to Outlook Express 6");
                EXPECT_EQ(dump["msg"]["0C1F001F"], "msoe@microsoft.com");
                EXPECT_FALSE(dump["msg"]["10130102"].empty());  // the HTML body
                EXPECT_FALSE(dump["msg"]["10090102"].empty());  // and its RTF wrapping
            }
        } else {
            const std::string text = ReadFile(path);
            EXPECT_NE(text.find("Welcome to Outlook Express 6"), std::string::npos);
            EXPECT_NE(text.find("msoe@microsoft.com"), std::string::npos);
        }
    }
}
