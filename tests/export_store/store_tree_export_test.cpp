// Whole Outlook Express stores converted in one job: every form lays its output out as the
// store's folder pane showed it, and a folder file added alone still goes to the top.
#include <gtest/gtest.h>

#include "fixtures/strict_checkers.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "conversion/job_settings.h"
#include "export/folder_places.h"
#include "fixtures/dbx_builder.h"
#include "fixtures/recording_window.h"
#include "fixtures/store_builder.h"
#include "fixtures/temp_folder.h"
#include "job/conversion_job.h"
#include "job/source_list.h"

namespace fs = std::filesystem;

namespace {

// "Входящие" in windows-1251, the name of the store's "Deleted Items.dbx".
const std::string kRussianName1251 = "\xC2\xF5\xEE\xE4\xFF\xF9\xE8\xE5";
const std::string kRussianName = "\u0412\u0445\u043e\u0434\u044f\u0449\u0438\u0435";

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Two identities' stores (the same example store twice) and one folder file added alone, in
// that order, as a window would hand them to the job.
struct TwoStoresAndAFile {
    fixtures::TempFolder dir;
    fixtures::RecordingWindow window;
    JobSettings settings;

    TwoStoresAndAFile() {
        for (const char* identity : {"first", "second"}) {
            const std::string store = dir / identity;
            fs::create_directories(store);
            fixtures::WriteExampleStore(store, kRussianName1251);
            SourceList list;
            EXPECT_EQ(list.AddStore(store, "windows-1251"), static_cast<int>(fixtures::kExampleStoreFolders));
            for (const SourceRow& row : list.rows()) window.rows.push_back({row.path, row.file_name, row.store_path});
        }
        fixtures::WriteFile(dir / "Inbox.dbx", fixtures::BuildMailFolder("alone", 2));
        window.AddRow(dir / "Inbox.dbx", "Inbox.dbx");
        settings.destination_path = dir / "ExportDBX";
        fs::create_directories(settings.destination_path);
        settings.codepage = "windows-1251";
    }
};

// Every folder below root ("a/b/") and how many files it holds directly.
std::map<std::string, int> FoldersAndFileCounts(const std::string& root) {
    std::map<std::string, int> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename() == FolderPlaces::kFileName) continue;  // the memory of its folders
        const std::string relative = fs::relative(entry.path(), root).generic_string();
        if (entry.is_directory()) found.emplace(relative + "/", 0);
        else ++found[fs::relative(entry.path().parent_path(), root).generic_string() + "/"];
    }
    return found;
}

// Every file and folder below root as Python's mailbox module sees it: a folder as "a.sbd/",
// a file as its path and the number of messages the module reads from it.
std::map<std::string, int> MboxTreeReadByPython(const std::string& root, const std::string& scratch) {
    const std::string script =
        "import mailbox,os,sys\n"
        "root=sys.argv[1]\n"
        "for d,dirs,files in os.walk(root):\n"
        "  for n in dirs: print(os.path.relpath(os.path.join(d,n),root)+'/\\t0')\n"
        "  for n in files:\n"
        "    if n=='.ombrik-folders': continue\n"
        "    p=os.path.join(d,n)\n"
        "    print(os.path.relpath(p,root)+'\\t'+str(len(mailbox.mbox(p,create=False).keys())))\n";
    fixtures::WriteFile(scratch + "/walk.py", script);
    const std::string out = scratch + "/walk.txt";
    const std::string command = "python3 " + Quoted(scratch + "/walk.py") + " " + Quoted(root) + " > " + out;
    EXPECT_EQ(std::system(command.c_str()), 0);
    std::map<std::string, int> found;
    std::istringstream lines(fixtures::ReadFile(out));
    for (std::string line; std::getline(lines, line);) {
        const auto tab = line.rfind('\t');
        if (tab != std::string::npos) found[line.substr(0, tab)] = std::stoi(line.substr(tab + 1));
    }
    return found;
}

// The folders the example store gives, once for each store: the second store's folders meet
// the first's names and get " (2)"; "Mailinglists", which holds no mail of its own, is the
// same folder for both. The folder file added alone comes last and finds "Inbox" and
// "Inbox (2)" taken.
const std::map<std::string, int> kExpectedFolders = {
    {"Inbox/", 3},
    {"Mailinglists/", 0},
    {"Mailinglists/hal/", 1},
    {"Mailinglists/hal/hal-commit/", 2},
    {"Projekte 2003/", 1},
    {kRussianName + "/", 1},
    {"ring a/", 1},
    {"ring a/ring b/", 1},
    {"Old stuff/", 2},
    {"Inbox (2)/", 3},
    {"Mailinglists/hal (2)/", 1},
    {"Mailinglists/hal (2)/hal-commit/", 2},
    {"Projekte 2003 (2)/", 1},
    {kRussianName + " (2)/", 1},
    {"ring a (2)/", 1},
    {"ring a (2)/ring b/", 1},
    {"Old stuff (2)/", 2},
    {"Inbox (3)/", 2},
};

class StoreTreeForms : public ::testing::TestWithParam<const char*> {};

TEST_P(StoreTreeForms, NestedFoldersNamedByTheFolderPane) {
    TwoStoresAndAFile job;
    job.settings.saving_option = GetParam();
    const JobTally tally = RunConversionJob(job.window, job.settings);
    EXPECT_EQ(tally.failures(), 0u) << tally.Summary();
    const auto found = FoldersAndFileCounts(job.settings.destination_path);
    EXPECT_EQ(found, kExpectedFolders);
    // The message files carry the form's own suffix.
    for (const auto& entry : fs::recursive_directory_iterator(job.settings.destination_path)) {
        if (!entry.is_regular_file() || entry.path().filename() == FolderPlaces::kFileName) continue;
        EXPECT_EQ(entry.path().extension().string(), std::string(".") + GetParam());
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFileForm, StoreTreeForms, ::testing::Values("eml", "msg", "rtf", "html"));

TEST(StoreTreeMbox, ThunderbirdLayoutThatAnIndependentReaderReads) {
    if (std::system("python3 -c 'import mailbox' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    TwoStoresAndAFile job;
    job.settings.saving_option = "mbox";
    const JobTally tally = RunConversionJob(job.window, job.settings);
    EXPECT_EQ(tally.failures(), 0u) << tally.Summary();
    // A folder's messages in a file without an extension, its sub-folders in "<name>.sbd/"; a
    // folder without mail of its own but with sub-folders is an empty file. The file added alone
    // keeps its ".mbox".
    const std::map<std::string, int> expected = {
        {"Inbox", 3},
        {"Mailinglists", 0},
        {"Mailinglists.sbd/", 0},
        {"Mailinglists.sbd/hal", 1},
        {"Mailinglists.sbd/hal.sbd/", 0},
        {"Mailinglists.sbd/hal.sbd/hal-commit", 2},
        {"Projekte 2003", 1},
        {kRussianName, 1},
        {"ring a", 1},
        {"ring a.sbd/", 0},
        {"ring a.sbd/ring b", 1},
        {"Old stuff", 2},
        {"Inbox (2)", 3},
        {"Mailinglists.sbd/hal (2)", 1},
        {"Mailinglists.sbd/hal (2).sbd/", 0},
        {"Mailinglists.sbd/hal (2).sbd/hal-commit", 2},
        {"Projekte 2003 (2)", 1},
        {kRussianName + " (2)", 1},
        {"ring a (2)", 1},
        {"ring a (2).sbd/", 0},
        {"ring a (2).sbd/ring b", 1},
        {"Old stuff (2)", 2},
        {"Inbox (3).mbox", 2},
    };
    EXPECT_EQ(MboxTreeReadByPython(job.settings.destination_path, job.dir.path()), expected);
}

TEST(StoreTreeMbox, ConvertingAgainRewritesEachFolderOnceAndKeepsParentsWhole) {
    TwoStoresAndAFile job;
    job.settings.saving_option = "mbox";
    if (fixtures::kCanMakeSymlinks) {
        // A link planted where the empty parent file goes is not followed to make its target.
        const std::string outside = job.dir / "outside";
        fs::create_symlink(outside, job.settings.destination_path + "/Mailinglists");
        RunConversionJob(job.window, job.settings);
        EXPECT_FALSE(fs::exists(outside));
        fs::remove(job.settings.destination_path + "/Mailinglists");
    }
    RunConversionJob(job.window, job.settings);
    const std::string hal = job.settings.destination_path + "/Mailinglists.sbd/hal";
    const std::string first = fixtures::ReadFile(hal);
    ASSERT_FALSE(first.empty());
    // hal is both a folder with mail and the parent of hal-commit: making hal-commit's place
    // again must not cut hal's messages short.
    RunConversionJob(job.window, job.settings);
    EXPECT_EQ(fixtures::ReadFile(hal), first);
}

// --- PST ---

std::string PstCheckStrict(const std::string& path) { return fixtures::PstCheckStrictFailure(path, true); }

// The folders pffexport writes below the top of the personal folders, with the number of
// messages in each.
std::map<std::string, int> PffexportFolders(const std::string& pst, const std::string& scratch) {
    const std::string target = scratch + "/pff";
    const std::string command = "pffexport -q -f all -t " + Quoted(target) + " " + Quoted(pst) + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    const fs::path top = fs::path(target + ".export") / "Top of Personal Folders";
    std::map<std::string, int> found;
    if (!fs::is_directory(top)) return found;
    for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator(); ++it) {
        if (!it->is_directory()) continue;
        const std::string name = it->path().filename().string();
        if (name.rfind("Message", 0) == 0) {
            ++found[fs::relative(it->path().parent_path(), top).string() + "/"];
            it.disable_recursion_pending();
        } else {
            found.emplace(fs::relative(it->path(), top).string() + "/", 0);
        }
    }
    return found;
}

TEST(StoreTreePst, OneStoreHoldsTheTreeAndASecondRunAddsNothing) {
    const bool pffexport = std::system("command -v pffexport >/dev/null 2>&1") == 0;
    const bool readpst = std::system("command -v readpst >/dev/null 2>&1") == 0;
    TwoStoresAndAFile job;
    job.window.rows.resize(fixtures::kExampleStoreFolders);  // the first store only
    job.window.AddRow(job.dir / "Inbox.dbx", "Inbox.dbx");
    job.settings.saving_option = "pst";
    job.window.pst_answer.pst_mode = "new";
    job.window.pst_answer.pst_path = job.dir / "Mail.pst";
    job.window.pst_answer.pst_options_answer = "yes";
    const JobTally tally = RunConversionJob(job.window, job.settings);
    ASSERT_EQ(tally.failures(), 0u) << tally.Summary();
    const std::string pst = job.dir / "Mail.pst";
    EXPECT_EQ(PstCheckStrict(pst), "");

    // Into the same store again (old mode): every folder is found where it is, nothing is
    // added twice, and no folder is made a second time.
    job.window.pst_answer.pst_mode = "old";
    job.window.pst_answer.existing_pst_path = pst;
    const JobTally again = RunConversionJob(job.window, job.settings);
    EXPECT_EQ(again.failures(), 0u) << again.Summary();
    EXPECT_EQ(again.already_there(), fixtures::kExampleStoreMessages + 2);
    EXPECT_EQ(PstCheckStrict(pst), "");

    if (!pffexport && !readpst) GTEST_SKIP() << "neither pffexport nor readpst installed: the tree was not read back";
    if (pffexport) {
        // The folder file added alone keeps its folder named like the file, as before; "Deleted
        // Items" is the store's own.
        const std::map<std::string, int> expected = {
            {"Deleted Items/", 0},
            {"Inbox/", 3},
            {"Mailinglists/", 0},
            {"Mailinglists/hal/", 1},
            {"Mailinglists/hal/hal-commit/", 2},
            {"Projekte 2003/", 1},
            {kRussianName + "/", 1},
            {"ring a/", 1},
            {"ring a/ring b/", 1},
            {"Old stuff/", 2},
            {"Inbox.dbx/", 2},
        };
        EXPECT_EQ(PffexportFolders(pst, job.dir.path()), expected);
    }
    if (readpst) {
        // readpst -r writes one folder per store folder, with an mbox file of its messages.
        const std::string out = job.dir / "readpst";
        fs::create_directories(out);
        const std::string command = "readpst -q -j 0 -r -o " + Quoted(out) + " " + Quoted(pst) + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        std::string tree;
        for (const auto& entry : fs::recursive_directory_iterator(out))
            if (entry.is_directory()) tree += fs::relative(entry.path(), out).string() + "\n";
        EXPECT_NE(tree.find("/Mailinglists/hal/hal-commit\n"), std::string::npos) << tree;
        EXPECT_NE(tree.find("/ring a/ring b\n"), std::string::npos) << tree;
        EXPECT_NE(tree.find("/" + kRussianName + "\n"), std::string::npos) << tree;
    }
}

TEST(StoreTreePst, SeparateStoresStayOnePerFolderFile) {
    TwoStoresAndAFile job;
    job.window.rows.resize(fixtures::kExampleStoreFolders);
    job.settings.saving_option = "pst";
    job.window.pst_answer.pst_mode = "seprate";
    job.window.pst_answer.pst_options_answer = "yes";
    const JobTally tally = RunConversionJob(job.window, job.settings);
    ASSERT_EQ(tally.failures(), 0u) << tally.Summary();
    // Named by the folder files, side by side, as for folder files added alone.
    EXPECT_EQ(std::count_if(fs::directory_iterator(job.settings.destination_path), fs::directory_iterator(),
                            [](const fs::directory_entry& entry) { return entry.path().extension() == ".pst"; }),
              static_cast<long>(fixtures::kExampleStoreFolders));
    EXPECT_EQ(PstCheckStrict(job.settings.destination_path + "/hal-commit.dbx.pst"), "");
}

}  // namespace
