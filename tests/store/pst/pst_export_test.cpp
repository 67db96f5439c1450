// The PST export of the job: its modes, the target folder found or made, progress and counts,
// and what ends up in the stores.
#include <gtest/gtest.h>

#include "fixtures/failing_disk.h"

#include "fixtures/dbx_builder.h"
#include "fixtures/recording_window.h"
#include "fixtures/temp_folder.h"
#include "conversion/job_tally.h"
#include "job/pst_job.h"
#include "pst_test_util.h"
#include "store/pst/messaging/store.h"
#include "store/pst_session.h"

using namespace pst_test;
namespace fs = std::filesystem;

namespace {

std::string Rfc822(const std::string& subject, const std::string& body) {
    return "From: Alice <alice@example.com>\r\nTo: Bob <bob@example.com>\r\nSubject: " + subject +
           "\r\nDate: Wed, 01 Jan 2020 10:00:00 +0000\r\nMIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=us-ascii\r\n\r\n" + body + "\r\n";
}

// A folder file of n e-mails; slot i has subject prefix + i.
std::string MakeDbx(const std::string& dir, const std::string& name, int n, const std::string& prefix) {
    fixtures::DbxFileBuilder builder;
    for (int i = n - 1; i >= 0; --i) {  // the first added is the highest slot
        fixtures::DbxEmailSpec spec;
        spec.subject = prefix + std::to_string(i);
        spec.text = Rfc822(prefix + std::to_string(i), "Body " + std::to_string(i));
        builder.AddEmail(spec);
    }
    fs::create_directories(dir);
    const std::string path = dir + "/" + name;
    builder.WriteTo(path);
    return path;
}

std::vector<std::string> SubjectsIn(const std::string& pst, const std::string& folder) {
    auto store = pst::messaging::Store::Open(pst, false);
    std::vector<std::string> out;
    auto nid = store->FindFolderByPath(folder);
    if (!nid) return out;
    for (auto id : store->Messages(*nid)) out.push_back(store->ReadMessage(id).props.GetString(0x0037001F).value_or(""));
    return out;
}

struct ExportRun {
    fixtures::RecordingWindow window;
    JobSettings settings;
    JobTally tally;
    bool result = false;
    const platform::DeviceFilter* devices = nullptr;
    void Go() { result = RunPstExport(window, settings, tally, window.RowCount(), devices); }
};

}  // namespace

TEST(PstExport, NewModeKeepsFilesOfTheSameNameInFoldersOfTheirOwnNewestFirst) {
    fixtures::TempFolder tmp;
    const std::string a = MakeDbx(tmp / "a", "Inbox.dbx", 3, "A");
    const std::string b = MakeDbx(tmp / "b", "Inbox.dbx", 2, "B");
    ExportRun run;
    run.settings.destination_path = tmp / "dest";
    run.window.pst_answer.pst_mode = "new";
    run.window.pst_answer.pst_path = tmp / "NewPST.pst";
    run.window.pst_answer.pst_options_answer = "yes";
    run.window.AddRow(a, "Inbox.dbx");
    run.window.AddRow(b, "Inbox.dbx");
    run.Go();
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.window.pst_dialog_runs, 1);
    EXPECT_EQ(run.tally.messages(), 5u);
    EXPECT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
    EXPECT_EQ(SubjectsIn(tmp / "NewPST.pst", "Inbox.dbx"), (std::vector<std::string>{"A2", "A1", "A0"}));
    EXPECT_EQ(SubjectsIn(tmp / "NewPST.pst", "Inbox (2).dbx"), (std::vector<std::string>{"B1", "B0"}));
    EXPECT_EQ(run.window.progress, (std::vector<int>{1, 2, 3, 0, 1, 2, 0}));
    // The temporary message files never went to the destination folder.
    EXPECT_TRUE(fs::is_empty(tmp / "dest"));
    EXPECT_EQ(StoreProblems(tmp / "NewPST.pst"), "");

    // A second run of the same rows into the same store finds their folders, and in them the
    // messages it would add.
    ExportRun again;
    again.settings.destination_path = tmp / "dest";
    again.window.pst_answer = run.window.pst_answer;
    again.window.AddRow(a, "Inbox.dbx");
    again.window.AddRow(b, "Inbox.dbx");
    again.Go();
    EXPECT_EQ(SubjectsIn(tmp / "NewPST.pst", "Inbox.dbx").size(), 3u);
    EXPECT_EQ(SubjectsIn(tmp / "NewPST.pst", "Inbox (2).dbx").size(), 2u);
    EXPECT_EQ(again.tally.already_there(), 5u);
    EXPECT_EQ(again.tally.messages(), 0u);
    EXPECT_NE(again.tally.Summary().find("5 messages already in the store"), std::string::npos) << again.tally.Summary();
    EXPECT_EQ(StoreProblems(tmp / "NewPST.pst"), "");
}

// Converting the same folder files again into the store of any mode adds nothing: messages with
// a Message-ID are known by it, the others by their content. A new message is still added.
TEST(PstExport, SecondRunIntoEachModesStoreAddsNothing) {
    fixtures::TempFolder tmp;
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 4; ++i) {
        fixtures::DbxEmailSpec spec;
        spec.subject = "M" + std::to_string(i);
        spec.text = Rfc822("M" + std::to_string(i), "Body " + std::to_string(i));
        if (i % 2 == 0) spec.text = "Message-ID: <m" + std::to_string(i) + "@example.com>\r\n" + *spec.text;
        builder.AddEmail(spec);
    }
    fs::create_directories(tmp / "src");
    builder.WriteTo(tmp / "src/Inbox.dbx");
    fs::create_directories(tmp / "dest");
    auto run_mode = [&](const std::string& mode, const fs::path& store, const std::string& dbx) {
        ExportRun run;
        run.settings.destination_path = tmp / "dest";
        run.window.pst_answer.pst_mode = mode;
        run.window.pst_answer.pst_path = store;
        run.window.pst_answer.existing_pst_path = store;
        run.window.pst_answer.pst_options_answer = "yes";
        run.window.AddRow(dbx, "Inbox.dbx");
        run.Go();
        EXPECT_EQ(run.tally.failures(), 0u) << mode << run.tally.Summary();
        return std::pair{run.tally.messages(), run.tally.already_there()};
    };
    const std::string dbx = tmp / "src/Inbox.dbx";
    for (const std::string mode : {"seprate", "new", "old"}) {
        const fs::path store = mode == "seprate" ? tmp / "dest/Inbox.dbx.pst" : tmp / (mode + ".pst");
        if (mode == "old") fs::copy_file(tmp / "new.pst", store);  // an existing store that holds them
        if (mode != "old") {
            EXPECT_EQ(run_mode(mode, store, dbx), (std::pair<std::size_t, std::size_t>{4, 0})) << mode;
        }
        EXPECT_EQ(run_mode(mode, store, dbx), (std::pair<std::size_t, std::size_t>{0, 4})) << mode;
        EXPECT_EQ(SubjectsIn(store, "Inbox.dbx"), (std::vector<std::string>{"M0", "M1", "M2", "M3"})) << mode;
        EXPECT_EQ(StoreProblems(store), "") << mode;
    }
    // One more message in the folder file: only it is added.
    fixtures::DbxEmailSpec fifth;
    fifth.subject = "M4";
    fifth.text = Rfc822("M4", "Body 4");
    builder.AddEmail(fifth);
    builder.WriteTo(tmp / "src/Inbox2.dbx");
    EXPECT_EQ(run_mode("old", tmp / "old.pst", tmp / "src/Inbox2.dbx"), (std::pair<std::size_t, std::size_t>{1, 4}));
    EXPECT_EQ(SubjectsIn(tmp / "old.pst", "Inbox.dbx").size(), 5u);
}

TEST(PstExport, SeparateModeMakesOneStorePerFolderFile) {
    fixtures::TempFolder tmp;
    fs::create_directories(tmp / "dest");
    ExportRun run;
    run.settings.destination_path = tmp / "dest";
    run.window.pst_answer.pst_mode = "seprate";
    run.window.pst_answer.pst_options_answer = "yes";
    run.window.AddRow(MakeDbx(tmp / "src", "Inbox.dbx", 2, "I"), "Inbox.dbx");
    run.window.AddRow(MakeDbx(tmp / "src", "Sent Items.dbx", 1, "S"), "Sent Items.dbx");
    run.Go();
    EXPECT_TRUE(run.result);
    EXPECT_EQ(SubjectsIn(tmp / "dest/Inbox.dbx.pst", "Inbox.dbx"), (std::vector<std::string>{"I1", "I0"}));
    EXPECT_EQ(SubjectsIn(tmp / "dest/Sent Items.dbx.pst", "Sent Items.dbx"), std::vector<std::string>{"S0"});
    EXPECT_EQ(run.settings.pst_path, tmp / "dest/Sent Items.dbx.pst");
    EXPECT_EQ(StoreProblems(tmp / "dest/Inbox.dbx.pst"), "");
}

TEST(PstExport, CancelledDialogDoesNothing) {
    fixtures::TempFolder tmp;
    ExportRun run;
    run.settings.destination_path = tmp / "dest";
    run.window.pst_answer.pst_mode = "new";
    run.window.pst_answer.pst_path = tmp / "NewPST.pst";
    run.window.pst_answer.pst_options_answer = "no";
    run.window.AddRow(MakeDbx(tmp / "src", "Inbox.dbx", 1, "X"), "Inbox.dbx");
    run.Go();
    EXPECT_FALSE(run.result);
    EXPECT_FALSE(fs::exists(tmp / "NewPST.pst"));
    EXPECT_TRUE(run.window.messages.empty());
}

TEST(PstExport, OldModeRefusesAStoreItCannotExtendAndCountsIt) {
    fixtures::TempFolder tmp;
    const std::string junk = tmp / "old.pst";
    fixtures::WriteFile(junk, std::string(100000, 'j'));
    ExportRun run;
    run.settings.destination_path = tmp / "dest";
    run.window.pst_answer.pst_mode = "old";
    run.window.pst_answer.existing_pst_path = junk;
    run.window.pst_answer.pst_options_answer = "yes";
    run.window.AddRow(MakeDbx(tmp / "src", "Inbox.dbx", 1, "X"), "Inbox.dbx");
    run.Go();
    EXPECT_TRUE(run.result);  // the completion step still runs
    EXPECT_EQ(run.settings.pst_path, junk);
    EXPECT_EQ(run.tally.failures(), 1u);
    EXPECT_EQ(fixtures::ReadFile(junk), std::string(100000, 'j'));
}

TEST(PstExport, ManyItemsWrapTheProgressAndAFileOfTheUserIsLeftAlone) {
    fixtures::TempFolder tmp;
    fs::create_directories(tmp / "dest");
    // A file of the user's with the name a temporary file of slot 7 would have had.
    fixtures::WriteFile(tmp / "dest/M7.eml", "mine");
    ExportRun run;
    run.settings.destination_path = tmp / "dest";
    run.window.pst_answer.pst_mode = "new";
    run.window.pst_answer.pst_path = tmp / "NewPST.pst";
    run.window.pst_answer.pst_options_answer = "yes";
    run.window.AddRow(MakeDbx(tmp / "src", "Inbox.dbx", 200, "M"), "Inbox.dbx");
    run.Go();
    ASSERT_EQ(run.window.progress.size(), 201u);
    EXPECT_EQ(run.window.progress[97], 98);
    EXPECT_EQ(run.window.progress[98], 1);
    EXPECT_EQ(run.window.progress[199], 4);
    EXPECT_EQ(run.window.progress[200], 0);
    EXPECT_EQ(fixtures::ReadFile(tmp / "dest/M7.eml"), "mine");
    EXPECT_EQ(SubjectsIn(tmp / "NewPST.pst", "Inbox.dbx").size(), 200u);
    EXPECT_EQ(run.tally.messages(), 200u);
    EXPECT_EQ(StoreProblems(tmp / "NewPST.pst"), "");
}

namespace {

std::string WritableSampleCopy(const std::string& name, const std::string& dir) {
    const fs::path sample = fs::path(OMBRIK_SAMPLES_DIR) / "pst" / name;
    if (!fs::exists(sample)) return {};
    fs::create_directories(dir);
    const fs::path copy = fs::path(dir) / name;
    fs::copy_file(sample, copy, fs::copy_options::overwrite_existing);
    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
    return copy.string();
}

bool WorkingCopyLeft(const std::string& dir) {
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind(".ombrik-extend-", 0) == 0) return true;
    return false;
}

void SetUpOldMode(ExportRun& run, const std::string& store, const std::string& dbx, const std::string& dest) {
    run.settings.destination_path = dest;
    run.window.pst_answer.pst_mode = "old";
    run.window.pst_answer.existing_pst_path = store;
    run.window.pst_answer.pst_options_answer = "yes";
    run.window.AddRow(dbx, "Inbox.dbx");
}

}  // namespace

// "old" mode puts a folder file's messages into each real store Outlook made; a second run finds
// them in that folder and adds none again.
TEST(PstExport, OldModeExtendsStoresMadeByOutlook) {
    fixtures::TempFolder tmp;
    const std::string dbx = MakeDbx(tmp / "src", "Inbox.dbx", 12, "O");
    for (const char* name : {"support.pst", "attachAndInline.pst", "msgInMsg.pst", "dist-list.pst"}) {
        const std::string store = WritableSampleCopy(name, tmp / name);
        if (store.empty()) GTEST_SKIP() << "samples absent";
        ExportRun run;
        SetUpOldMode(run, store, dbx, tmp / "dest");
        run.Go();
        EXPECT_TRUE(run.result);
        EXPECT_EQ(run.tally.messages(), 12u) << name;
        EXPECT_EQ(run.tally.failures(), 0u) << name << ": " << run.tally.Summary();
        auto subjects = SubjectsIn(store, "Inbox.dbx");
        ASSERT_EQ(subjects.size(), 12u) << name;
        EXPECT_EQ(subjects.front(), "O11");
        EXPECT_FALSE(WorkingCopyLeft(tmp / name));

        ExportRun again;
        SetUpOldMode(again, store, dbx, tmp / "dest");
        again.Go();
        EXPECT_EQ(again.tally.already_there(), 12u) << name;
        EXPECT_EQ(SubjectsIn(store, "Inbox.dbx").size(), 12u) << name;
    }
}

// Stores we cannot extend are refused with the reason in the completion summary, byte for byte
// as they were.
TEST(PstExport, OldModeRefusalsReachTheSummaryAndLeaveTheStoreAlone) {
    fixtures::TempFolder tmp;
    const std::string dbx = MakeDbx(tmp / "src", "Inbox.dbx", 2, "R");
    for (auto [name, word] : {std::pair{"passworded.pst", "password"}, std::pair{"32-bit.pst", "ANSI"}}) {
        const std::string store = WritableSampleCopy(name, tmp / name);
        if (store.empty()) GTEST_SKIP() << "samples absent";
        const std::string before = fixtures::ReadFile(store);
        ExportRun run;
        SetUpOldMode(run, store, dbx, tmp / "dest");
        run.Go();
        EXPECT_TRUE(run.result);
        EXPECT_EQ(run.tally.failures(), 1u);
        EXPECT_EQ(run.tally.messages(), 0u);
        EXPECT_NE(run.tally.Summary().find(word), std::string::npos) << run.tally.Summary();
        EXPECT_EQ(fixtures::ReadFile(store), before) << name;
        EXPECT_FALSE(WorkingCopyLeft(tmp / name));
    }
}

// A write failing anywhere in an "old" mode job (a full disk, say) is counted, and the user's
// store keeps every byte it had.
TEST(PstExport, OldModeWriteFailuresAreCountedAndTheStoreKept) {
    fixtures::TempFolder tmp;
    const std::string dbx = MakeDbx(tmp / "src", "Inbox.dbx", 20, "F");
    const std::string store = WritableSampleCopy("msgInMsg.pst", tmp / "store");
    if (store.empty()) GTEST_SKIP() << "samples absent";
    const std::string before = fixtures::ReadFile(store);
    int exercised = 0;
    for (int fail_at = 1; fail_at <= 12; ++fail_at) {
        fixtures::FailAtWrite disk;
        disk.fail_at = fail_at;
        ExportRun run;
        SetUpOldMode(run, store, dbx, tmp / "dest");
        run.devices = &disk;
        run.Go();
        if (disk.count < fail_at) break;  // the job needs fewer writes than that
        ++exercised;
        EXPECT_GE(run.tally.failures(), 1u) << "write " << fail_at;
        EXPECT_NE(run.tally.Summary().find("the disk is full"), std::string::npos) << run.tally.Summary();
        EXPECT_EQ(run.tally.Summary().find("0x8"), std::string::npos) << run.tally.Summary();
        ASSERT_EQ(fixtures::ReadFile(store), before) << "store changed after a failure at write " << fail_at;
        // The store is as it was, so nothing of this run is in it: nothing counts as written.
        EXPECT_EQ(run.tally.messages(), 0u) << "write " << fail_at << run.tally.Summary();
        EXPECT_FALSE(WorkingCopyLeft(tmp / "store"));
    }
    EXPECT_GE(exercised, 4);
}

// "new" and "seprate" modes whose store file exists already (one Outlook made) extend it as well.
TEST(PstExport, NewAndSeparateModesExtendAnExistingOutlookStore) {
    fixtures::TempFolder tmp;
    const std::string dbx = MakeDbx(tmp / "src", "Inbox.dbx", 3, "N");
    const std::string existing = WritableSampleCopy("attachAndInline.pst", tmp / "chosen");
    if (existing.empty()) GTEST_SKIP() << "samples absent";
    fs::rename(existing, tmp / "chosen/NewPST.pst");
    ExportRun run;
    run.settings.destination_path = tmp / "dest";
    run.window.pst_answer.pst_mode = "new";
    run.window.pst_answer.pst_path = tmp / "chosen/NewPST.pst";
    run.window.pst_answer.pst_options_answer = "yes";
    run.window.AddRow(dbx, "Inbox.dbx");
    run.Go();
    EXPECT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
    EXPECT_EQ(SubjectsIn(tmp / "chosen/NewPST.pst", "Inbox.dbx"), (std::vector<std::string>{"N2", "N1", "N0"}));

    fs::create_directories(tmp / "dest");
    ASSERT_FALSE(WritableSampleCopy("msgInMsg.pst", tmp / "dest").empty());
    fs::rename(tmp / "dest/msgInMsg.pst", tmp / "dest/Inbox.dbx.pst");
    ExportRun separate;
    separate.settings.destination_path = tmp / "dest";
    separate.window.pst_answer.pst_mode = "seprate";
    separate.window.pst_answer.pst_options_answer = "yes";
    separate.window.AddRow(dbx, "Inbox.dbx");
    separate.Go();
    EXPECT_EQ(separate.tally.failures(), 0u) << separate.tally.Summary();
    EXPECT_EQ(SubjectsIn(tmp / "dest/Inbox.dbx.pst", "Inbox.dbx").size(), 3u);
    auto store = pst::messaging::Store::Open(tmp / "dest/Inbox.dbx.pst", false);
    EXPECT_GE(store->Subfolders(store->ipm_subtree()).size(), 2u);  // Outlook's folders are still there
}

// Another program holds the store: the status line says what the job waits for, and a stop
// asked for during the wait ends it with a failure that names the store and writes nothing.
TEST(PstExport, AStoreInUseIsWaitedForAndAStopEndsTheWaitWithoutWriting) {
    fixtures::TempFolder tmp;
    const std::string shared = tmp / "NewPST.pst";
    store::PstSession other;
    other.LogonPstStore(shared, store::kOlStoreUnicode);

    ExportRun run;
    run.settings.destination_path = tmp / "dest";
    run.window.pst_answer.pst_mode = "new";
    run.window.pst_answer.pst_path = shared;
    run.window.pst_answer.pst_options_answer = "yes";
    run.window.stop_after_status = 1;  // the user leaves while the job waits
    run.window.AddRow(MakeDbx(tmp / "src", "Inbox.dbx", 2, "X"), "Inbox.dbx");
    run.Go();
    ASSERT_FALSE(run.window.status.empty());
    EXPECT_EQ(run.window.status.front(), std::string(kStoreBusyText) + shared + " ...");
    EXPECT_EQ(run.tally.messages(), 0u);
    ASSERT_EQ(run.tally.failures(), 1u);
    EXPECT_NE(run.tally.failure_lines()[0].find("another conversion is still adding to the PST store " + shared),
              std::string::npos)
        << run.tally.failure_lines()[0];
    other.Logoff();
    EXPECT_EQ(SubjectsIn(shared, "Inbox.dbx"), std::vector<std::string>{});
    EXPECT_EQ(StoreProblems(shared), "");
}
