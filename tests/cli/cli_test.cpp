// ombrik-cli as a script would use it: arguments in, files, output and exit status out.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "export/export_test_support.h"
#include "store/pst/messaging/store.h"

using testsupport::Email;

namespace {

struct CliRun {
    int status = -1;
    std::string out;
};

CliRun RunCli(const std::string& arguments) {
    CliRun run;
    // A run that blocks is ended by timeout (status 124) instead of holding up the suite.
    const std::string command = "timeout 60 " + std::string(OMBRIK_CLI) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

}  // namespace

TEST(Cli, ConvertsFilesNewestArgumentFirst) {
    fixtures::TempFolder dir;
    fixtures::DbxFileBuilder a, b;
    a.AddEmail(Email("alpha", "A"));
    b.AddEmail(Email("beta", "B")).AddEmail(Email("gamma", "C"));
    a.WriteTo(dir / "A.dbx");
    b.WriteTo(dir / "B.dbx");
    const CliRun run = RunCli("--dest " + Quote(dir.path()) + " " + Quote(dir / "A.dbx") + " " + Quote(dir / "B.dbx"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_LT(run.out.find("B.dbx"), run.out.find("A.dbx"));
    EXPECT_NE(run.out.find("folders: 2, messages written: 3, failures: 0"), std::string::npos) << run.out;
    EXPECT_EQ(fixtures::ReadFile(dir / "ExportDBX/B/gamma0.eml"), "C");
    EXPECT_EQ(fixtures::ReadFile(dir / "ExportDBX/A/alpha0.eml"), "A");
}

TEST(Cli, MboxAndFolderSearch) {
    fixtures::TempFolder dir;
    std::filesystem::create_directories(dir / "mail");
    fixtures::DbxFileBuilder inbox;
    inbox.AddEmail(Email("one", "Subject: one\r\n\r\nbody\r\n"));
    inbox.WriteTo(dir / "mail/Inbox.dbx");
    const CliRun run = RunCli("--dest " + Quote(dir.path()) + " --format mbox --add-folder " + Quote(dir / "mail"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(fixtures::ReadFile(dir / "ExportDBX/Inbox.mbox").find("Subject: one\n\nbody\n"), std::string::npos);
}

TEST(Cli, ExitStatusTellsFailuresFromUsageErrors) {
    fixtures::TempFolder dir;
    fixtures::WriteFile(dir / "Bad.dbx", "not a folder file");
    const CliRun failed = RunCli("--dest " + Quote(dir.path()) + " " + Quote(dir / "Bad.dbx"));
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.out.find("Unable to open DBX File"), std::string::npos);
    EXPECT_NE(failed.out.find("failures: 1"), std::string::npos);

    const CliRun skipped = RunCli("--dest " + Quote(dir.path()) + " " + Quote(dir / "Bad.dbx") + " " + Quote(dir / "Gone.dbx"));
    EXPECT_EQ(skipped.status, 1);
    EXPECT_NE(skipped.out.find("Gone.dbx"), std::string::npos);

    EXPECT_EQ(RunCli("").status, 2);
    EXPECT_EQ(RunCli("--dest " + Quote(dir.path())).status, 2);  // nothing to convert
    EXPECT_EQ(RunCli("--dest " + Quote(dir / "Bad.dbx") + " " + Quote(dir / "Bad.dbx")).status, 2);  // a file
    // A usage error makes no destination folder.
    EXPECT_EQ(RunCli("--dest " + Quote(dir / "nowhere") + " --format doc " + Quote(dir / "Bad.dbx")).status, 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
    EXPECT_EQ(RunCli("--dest " + Quote(dir.path()) + " --format doc x.dbx").status, 2);
    EXPECT_EQ(RunCli("--dest " + Quote(dir.path()) + " --codepage no-such-cp " + Quote(dir / "Bad.dbx")).status, 2);
    EXPECT_EQ(RunCli("--bogus").status, 2);
    for (const char* threads : {"0", "-1", "many", "1000", ""})
        EXPECT_EQ(RunCli("--dest " + Quote(dir.path()) + " --threads '" + threads + "' " + Quote(dir / "Bad.dbx")).status, 2)
            << threads;
    const CliRun help = RunCli("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);
}

TEST(Cli, CodePageOptionNamesLegacySubjects) {
    fixtures::TempFolder dir;
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("\xCF\xF0\xE8\xE2\xE5\xF2", "x"));
    builder.WriteTo(dir / "Ru.dbx");
    const CliRun run = RunCli("--dest " + Quote(dir.path()) + " --codepage windows-1251 " + Quote(dir / "Ru.dbx"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(std::filesystem::exists(dir / "ExportDBX/Ru/Привет0.eml"));
}

#include "fixtures/store_builder.h"

TEST(Cli, AddStoreConvertsEveryMailFolderAndPassesOverTheRest) {
    fixtures::TempFolder dir;
    std::filesystem::create_directories(dir / "store");
    fixtures::WriteExampleStore(dir / "store", "Gel\xF6schte Objekte");
    std::filesystem::create_directories(dir / "out");
    const CliRun run = RunCli("--dest " + Quote(dir / "out") + " --codepage windows-1252 --add-store " + Quote(dir / "store"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("folders: 8, messages written: 12, failures: 0"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("note: passed over Pop3uidl.dbx: the record of messages fetched from a POP3 server"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("note: the folder \"ring a\" has parent folders that lead back to itself"), std::string::npos);
    // The rows keep their place in the store's tree, under the folders' own names.
    const std::string commit = dir / "out/ExportDBX/Mailinglists/hal/hal-commit";
    EXPECT_TRUE(std::filesystem::is_directory(dir / "out/ExportDBX/Gel\u00f6schte Objekte")) << run.out;
    EXPECT_FALSE(std::filesystem::exists(dir / "out/ExportDBX/hal-commit")) << run.out;
    ASSERT_TRUE(std::filesystem::is_directory(commit)) << run.out;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(commit), std::filesystem::directory_iterator()), 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "out/ExportDBX/Folders")) << run.out;

    const CliRun empty = RunCli("--dest " + Quote(dir / "out") + " --add-store " + Quote(dir / "out"));
    EXPECT_EQ(empty.status, 2) << empty.out;
    EXPECT_NE(empty.out.find("no mail folder found in the store"), std::string::npos) << empty.out;
}

TEST(Cli, FindStoresListsUserIdentityFoldersAndMessages) {
    fixtures::TempFolder disk;
    const std::string store = disk.path() +
                              "/Documents and Settings/alice/Local Settings/Application Data/Identities/"
                              "{1A2B3C4D-0000-1111-2222-333344445555}/Microsoft/Outlook Express";
    std::filesystem::create_directories(store);
    fixtures::WriteExampleStore(store, "x");
    const CliRun run = RunCli("--find-stores " + Quote(disk.path()));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find(store + "\n  user: alice, identity: {1A2B3C4D-0000-1111-2222-333344445555}, folders: 8, "
                                   "messages: 12\n1 Outlook Express store found\n"),
              std::string::npos)
        << run.out;

    const CliRun none = RunCli("--find-stores " + Quote(disk / "Documents and Settings/alice/Local Settings"
                                                                "/Application Data/Identities/nothing"));
    EXPECT_EQ(none.status, 1) << none.out;
    EXPECT_NE(none.out.find("0 Outlook Express stores found"), std::string::npos) << none.out;
    EXPECT_EQ(RunCli("--find-stores").status, 2);
    EXPECT_NE(RunCli("--help").out.find("--find-stores ROOT"), std::string::npos);
}

TEST(Cli, PstOptionsMissingForTheModeAreUsageErrorsBeforeAnythingIsWritten) {
    fixtures::TempFolder dir;
    fixtures::DbxFileBuilder inbox;
    inbox.AddEmail(Email("one", "Subject: one\r\n\r\nbody\r\n"));
    inbox.WriteTo(dir / "Inbox.dbx");
    const std::string common = "--dest " + Quote(dir.path()) + " --format pst " + Quote(dir / "Inbox.dbx");
    struct Case {
        std::string options, says;
    };
    const Case cases[] = {
        {"", "--pst-mode"},
        {"--pst-mode new", "--pst-folder"},
        {"--pst-mode new --pst-file " + Quote(dir / "x.pst"), "--pst-folder"},
        {"--pst-mode new --pst-folder " + Quote(dir / "nowhere"), "does not exist"},
        {"--pst-mode old", "--pst-file"},
        {"--pst-mode old --pst-folder " + Quote(dir.path()), "--pst-file"},
        {"--pst-mode old --pst-file " + Quote(dir / "absent.pst"), "does not exist"},
        {"--pst-mode separated", "unknown PST mode"},
    };
    for (const Case& c : cases) {
        const CliRun run = RunCli(common + " " + c.options);
        EXPECT_EQ(run.status, 2) << c.options << "\n" << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << c.options << "\n" << run.out;
        EXPECT_EQ(run.out.find("failures:"), std::string::npos) << c.options;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "ExportDBX"));
    EXPECT_FALSE(std::filesystem::exists(dir / "NewPST.pst"));

    // "separate" is the same mode as the options dialog's "seprate".
    for (const char* spelling : {"separate", "seprate"}) {
        std::filesystem::remove_all(dir / "ExportDBX");
        const CliRun run = RunCli(common + " --pst-mode " + spelling);
        EXPECT_EQ(run.status, 0) << spelling << "\n" << run.out;
        EXPECT_NE(run.out.find("messages written: 1, failures: 0"), std::string::npos) << run.out;
        EXPECT_TRUE(std::filesystem::is_regular_file(dir / "ExportDBX/Inbox.dbx.pst")) << spelling;
    }
}

TEST(Cli, AFileNamedTwiceIsConvertedOnceWithANote) {
    fixtures::TempFolder dir;
    std::filesystem::create_directories(dir / "mail");
    fixtures::DbxFileBuilder inbox;
    inbox.AddEmail(Email("one", "A")).AddEmail(Email("two", "B"));
    inbox.WriteTo(dir / "mail/Inbox.dbx");
    const CliRun run = RunCli("--dest " + Quote(dir.path()) + " " + Quote(dir / "mail/Inbox.dbx") + " --add-folder " +
                              Quote(dir / "mail") + " " + Quote(dir / "mail/Inbox.dbx"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("note: " + dir / "mail/Inbox.dbx" + " is named more than once"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("skipped"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("folders: 1, messages written: 2, failures: 0"), std::string::npos) << run.out;
    EXPECT_FALSE(std::filesystem::exists(dir / "ExportDBX/Inbox (2)"));
}

TEST(Cli, SkippedFilesAreNamedWithTheSystemsReason) {
    fixtures::TempFolder dir;
    fixtures::DbxFileBuilder inbox;
    inbox.AddEmail(Email("one", "A"));
    inbox.WriteTo(dir / "Inbox.dbx");
    std::filesystem::create_directories(dir / "Folder.dbx");
    ASSERT_EQ(::mkfifo((dir / "Pipe.dbx").c_str(), 0600), 0);
    std::string arguments = "--dest " + Quote(dir.path()) + " " + Quote(dir / "Inbox.dbx") + " " +
                            Quote(dir / "Gone.dbx") + " " + Quote(dir / "Folder.dbx") + " " + Quote(dir / "Pipe.dbx") +
                            " --add-folder " + Quote(dir / "no-such-folder");
    const bool as_user = ::geteuid() != 0;
    if (as_user) {
        fixtures::WriteFile(dir / "Locked.dbx", "x");
        ::chmod((dir / "Locked.dbx").c_str(), 0);
        arguments += " " + Quote(dir / "Locked.dbx");
    }
    const CliRun run = RunCli(arguments);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("skipped " + dir / "Gone.dbx" + ": does not exist"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("skipped " + dir / "Folder.dbx" + ": is a folder"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("skipped " + dir / "Pipe.dbx" + ": is not a regular file"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("skipped " + dir / "no-such-folder" + ": does not exist"), std::string::npos) << run.out;
    if (as_user) {
        EXPECT_NE(run.out.find("skipped " + dir / "Locked.dbx" + ": permission denied"), std::string::npos) << run.out;
    }
    EXPECT_NE(run.out.find("folders: 1, messages written: 1, failures: 0"), std::string::npos) << run.out;
}

TEST(Cli, FifosNeverBlockAnyPlaceAFileIsRead) {
    fixtures::TempFolder dir;
    std::filesystem::create_directories(dir / "mail");
    fixtures::DbxFileBuilder inbox;
    inbox.AddEmail(Email("one", "A"));
    inbox.WriteTo(dir / "mail/Inbox.dbx");
    ASSERT_EQ(::mkfifo((dir / "mail/Pipe.dbx").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "store.pst").c_str(), 0600), 0);

    // Inside a searched folder: passed over with its reason, the rest converted.
    const CliRun folder = RunCli("--dest " + Quote(dir.path()) + " --add-folder " + Quote(dir / "mail"));
    EXPECT_EQ(folder.status, 1) << folder.out;
    EXPECT_NE(folder.out.find("skipped " + dir / "mail/Pipe.dbx" + ": is not a regular file"), std::string::npos)
        << folder.out;
    EXPECT_EQ(fixtures::ReadFile(dir / "ExportDBX/Inbox/one0.eml"), "A");

    // As the existing store: a usage error, nothing written.
    const CliRun old_store = RunCli("--dest " + Quote(dir / "mail") + " --format pst --pst-mode old --pst-file " +
                                    Quote(dir / "store.pst") + " " + Quote(dir / "mail/Inbox.dbx"));
    EXPECT_EQ(old_store.status, 2) << old_store.out;
    EXPECT_NE(old_store.out.find("is not a regular file"), std::string::npos) << old_store.out;
    EXPECT_FALSE(std::filesystem::exists(dir / "mail/ExportDBX"));

    // As the store to check: refused, a failure.
    const CliRun check = RunCli("--check-pst " + Quote(dir / "store.pst"));
    EXPECT_EQ(check.status, 1) << check.out;
    EXPECT_NE(check.out.find("cannot check " + dir / "store.pst" + ": is not a regular file"), std::string::npos)
        << check.out;
}

namespace {

void PatchFile(const std::string& file, std::uint64_t at, const std::string& bytes) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(at));
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

// --check-pst says one thing about a store, first, and its exit status agrees with it.
TEST(Cli, CheckPstGivesOneVerdictThatMatchesItsExitStatus) {
    fixtures::TempFolder dir;
    const std::string sound = dir / "sound.pst";
    {
        auto store = pst::messaging::Store::Create(sound, "Sound");
        auto folder = store->AddFolder(store->ipm_subtree(), "Inbox.dbx");
        mapi::Message m;
        m.props.Set(0x0037001F, std::string("Hello"));
        store->AddMessage(folder, m);
        store->Close();
    }
    auto copy = [&](const std::string& name) {
        const std::string path = dir / name;
        std::filesystem::copy_file(sound, path);
        return path;
    };
    const std::string no_dlist = copy("no-dlist.pst");
    PatchFile(no_dlist, 0x4200, std::string(512, '\0'));  // as Outlook 2003 leaves it
    const std::string damaged = copy("damaged.pst");
    PatchFile(damaged, 0x4400 + 3, "\x5A");  // an allocation map page torn
    const std::string ost = copy("offline.ost");
    PatchFile(ost, 8, "SO");
    const std::string junk = dir / "junk.pst";
    std::ofstream(junk) << "not a store";
    const std::string ansi = copy("ansi.pst");
    PatchFile(ansi, 10, std::string("\x0E\x00", 2));  // the format version of Outlook 97-2002

    struct Case {
        std::string file;
        int status;
        std::string verdict;  // how the first line goes on after "FILE: "
        std::string also;
    };
    const std::vector<Case> cases = {
        {sound, 0, "sound, no damage (", "1 messages"},
        {no_dlist, 0, "no damage; 1 inconsistencies that Outlook itself leaves and mends", "  note DLIST_ABSENT: "},
        {damaged, 1, "DAMAGED: ", "  damage MAP_CRC: "},
        {ost, 1, "is an offline store (OST)", "export it to a .pst in Outlook"},
        {junk, 1, "is not an Outlook data file (.pst)", ""},
        {ansi, 1, "is in the old ANSI format of Outlook 97-2002", "(not damage)"},
    };
    for (const auto& c : cases) {
        const CliRun run = RunCli("--check-pst " + Quote(c.file));
        EXPECT_EQ(run.status, c.status) << run.out;
        EXPECT_EQ(run.out.rfind(c.file + ": " + c.verdict, 0), 0u) << run.out;
        EXPECT_NE(run.out.find(c.also), std::string::npos) << run.out;
        // Never two verdicts at once.
        const bool says_sound = run.out.find("no damage") != std::string::npos;
        EXPECT_EQ(says_sound, c.status == 0) << run.out;
        EXPECT_EQ(run.out.find("DAMAGED") != std::string::npos, c.file == damaged) << run.out;
    }
    EXPECT_NE(RunCli("--help").out.find("not added again"), std::string::npos);
}

TEST(Cli, AMissingDestinationIsCreatedWithTheFoldersAboveIt) {
    fixtures::TempFolder dir;
    fixtures::DbxFileBuilder inbox;
    inbox.AddEmail(Email("one", "Subject: one\r\n\r\nbody\r\n"));
    inbox.WriteTo(dir / "Inbox.dbx");
    const CliRun run = RunCli("--dest " + Quote(dir / "new/mail") + " " + Quote(dir / "Inbox.dbx"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(fixtures::ReadFile(dir / "new/mail/ExportDBX/Inbox/one0.eml"), "Subject: one\r\n\r\nbody\r\n");

    // Where it cannot be made, the reason is told and nothing is converted.
    const CliRun refused = RunCli("--dest " + Quote(dir / "Inbox.dbx/mail") + " " + Quote(dir / "Inbox.dbx"));
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find("cannot create the destination folder " + (dir / "Inbox.dbx/mail") + ": " +
                               (dir / "Inbox.dbx") + " is not a folder"),
              std::string::npos)
        << refused.out;
}

TEST(Cli, ThreadsOptionGivesTheSameFilesAsOneThread) {
    fixtures::TempFolder dir;
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 9; ++i) {
        const std::string subject = "m" + std::to_string(i);
        builder.AddEmail(Email(subject, "Subject: " + subject + "\r\nFrom: a@b.c\r\n\r\nbody " + subject + "\r\n"));
    }
    builder.WriteTo(dir / "In.dbx");
    std::filesystem::create_directories(dir / "one");
    std::filesystem::create_directories(dir / "three");
    const CliRun one = RunCli("--dest " + Quote(dir / "one") + " --format html --threads 1 " + Quote(dir / "In.dbx"));
    const CliRun three = RunCli("--dest " + Quote(dir / "three") + " --format html --threads 3 " + Quote(dir / "In.dbx"));
    EXPECT_EQ(one.status, 0) << one.out;
    EXPECT_EQ(three.status, 0) << three.out;
    for (int i = 0; i < 9; ++i) {
        const std::string name = "/ExportDBX/In/m" + std::to_string(i) + std::to_string(8 - i) + ".html";
        EXPECT_EQ(fixtures::ReadFile(dir / ("one" + name)), fixtures::ReadFile(dir / ("three" + name))) << name;
        EXPECT_NE(fixtures::ReadFile(dir / ("three" + name)).find("body m" + std::to_string(i)), std::string::npos) << name;
    }
}

TEST(Cli, OnATerminalTheBarCountsTheMessagesOfTheFolderFile) {
    if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "script(1) not installed: no terminal to run on";
    fixtures::TempFolder dir;
    fixtures::DbxFileBuilder inbox;
    for (int i = 0; i < 5; ++i) inbox.AddEmail(Email("m" + std::to_string(i), "text"));
    inbox.WriteTo(dir / "Inbox.dbx");
    // script gives the program a terminal of its own, where the live line is drawn.
    const std::string inner = std::string(OMBRIK_CLI) + " --dest " + Quote(dir.path()) + " " + Quote(dir / "Inbox.dbx");
    const std::string command = "timeout 60 script -qec " + Quote(inner) + " /dev/null 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ASSERT_EQ(pclose(pipe), 0) << out;
    // The first message is drawn at once: "1/5" beside a bar one fifth full.
    EXPECT_NE(out.find("[######                        ] 1/5 "), std::string::npos) << out;
}

namespace {

std::set<std::string> NamesIn(const std::string& directory) {
    std::set<std::string> names;
    // The destination's memory of its folders is no output.
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        if (entry.path().filename() != ".ombrik-folders") names.insert(entry.path().filename().string());
    return names;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

}  // namespace

// A store folder as Outlook Express left it, taken with --add-folder: every mail folder comes
// out, the files of the store that hold no mail are noted, and nothing is made for them.
TEST(Cli, AStoreFolderAddedAsAFolderConvertsItsMailAndPassesOverTheRest) {
    fixtures::TempFolder dir;
    std::filesystem::create_directories(dir / "store");
    fixtures::WriteExampleStore(dir / "store", "Deleted Items");
    std::filesystem::remove(dir / "store/notes.dbx");  // a stray text file is a failure: tried below
    std::filesystem::create_directories(dir / "out");
    const CliRun mbox = RunCli("--dest " + Quote(dir / "out") + " --format mbox --add-folder " + Quote(dir / "store"));
    EXPECT_EQ(mbox.status, 0) << mbox.out;
    EXPECT_NE(mbox.out.find("folders: 8, messages written: 12, failures: 0"), std::string::npos) << mbox.out;
    for (const char* name : {"Folders.dbx: the folder list", "Offline.dbx: the list of actions", "Pop3uidl.dbx: the record"})
        EXPECT_NE(mbox.out.find("\n" + dir / "store/" + name), std::string::npos) << name << "\n" << mbox.out;
    // Told once, in the summary's notes, not a second time after it.
    EXPECT_EQ(Occurrences(mbox.out, "Offline.dbx: the list of actions"), 1u) << mbox.out;
    EXPECT_EQ(mbox.out.find("Unable to open"), std::string::npos) << mbox.out;
    EXPECT_EQ(NamesIn(dir / "out/ExportDBX"),
              (std::set<std::string>{"INBOX.DBX.mbox", "hal.mbox", "hal-commit.mbox", "Neuer Ordner.mbox",
                                     "Deleted Items.mbox", "ring a.mbox", "ring b.mbox", "Old stuff.mbox"}));

    // Into a new store: a folder for each mail folder, none for the others.
    std::filesystem::create_directories(dir / "pst");
    const CliRun pst = RunCli("--dest " + Quote(dir / "out") + " --format pst --pst-mode new --pst-folder " +
                              Quote(dir / "pst") + " --add-folder " + Quote(dir / "store"));
    EXPECT_EQ(pst.status, 0) << pst.out;
    EXPECT_NE(pst.out.find("messages written: 12, failures: 0"), std::string::npos) << pst.out;
    auto store = pst::messaging::Store::Open(dir / "pst/NewPST.pst", false);
    EXPECT_TRUE(store->FindFolderByPath("hal.dbx").has_value());
    for (const char* other : {"Folders.dbx", "Offline.dbx", "Pop3uidl.dbx"})
        EXPECT_FALSE(store->FindFolderByPath(other).has_value()) << other;

    // Each in a store of its own: no store for the others.
    std::filesystem::create_directories(dir / "sep");
    const CliRun separate = RunCli("--dest " + Quote(dir / "sep") + " --format pst --pst-mode separate --add-folder " +
                                   Quote(dir / "store"));
    EXPECT_EQ(separate.status, 0) << separate.out;
    EXPECT_EQ(NamesIn(dir / "sep/ExportDBX").size(), 8u) << separate.out;
    EXPECT_FALSE(std::filesystem::exists(dir / "sep/ExportDBX/Offline.dbx.pst"));
}

// Files that are no folder files, or that cannot be read whole, fail with their path and the
// reason in words, the same in the message and in the summary; none of them leaves output.
TEST(Cli, FilesThatCannotBeReadAsFolderFilesFailWithTheirPathAndReason) {
    fixtures::TempFolder dir;
    std::filesystem::create_directories(dir / "in");
    fixtures::WriteFile(dir / "in/Empty.dbx", "");
    fixtures::WriteFile(dir / "in/notes.dbx", "Remember to back up the mail.\r\n");
    fixtures::WriteFile(dir / "in/Cut.dbx", fixtures::BuildMailFolder("cut", 40).substr(0, 0x300));
    fixtures::DbxFileBuilder good;
    good.AddEmail(Email("fine", "A"));
    good.WriteTo(dir / "in/Good.dbx");
    const CliRun run = RunCli("--dest " + Quote(dir.path()) + " --add-folder " + Quote(dir / "in"));
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("folders: 1, messages written: 1, failures: 3"), std::string::npos) << run.out;
    const std::string lines[] = {
        dir / "in/Empty.dbx" + ": Empty.dbx is not an Outlook Express folder file (it is empty)",
        dir / "in/notes.dbx" + ": notes.dbx is not an Outlook Express folder file (it is text)",
        dir / "in/Cut.dbx" + ": is cut short or damaged",
    };
    for (const std::string& line : lines) {
        EXPECT_NE(run.out.find("Unable to open DBX File\n" + line + "\n"), std::string::npos) << line << "\n" << run.out;
        EXPECT_EQ(Occurrences(run.out, line), 2u) << "the message and the summary: " << line << "\n" << run.out;
    }
    EXPECT_EQ(run.out.find("Open or close"), std::string::npos) << run.out;
    EXPECT_EQ(NamesIn(dir / "ExportDBX"), std::set<std::string>{"Good"});

    // Nor is a store or a store folder made for them.
    std::filesystem::create_directories(dir / "sep");
    const CliRun separate = RunCli("--dest " + Quote(dir / "sep") + " --format pst --pst-mode separate --add-folder " +
                                   Quote(dir / "in"));
    EXPECT_EQ(separate.status, 1) << separate.out;
    EXPECT_NE(separate.out.find(lines[2]), std::string::npos) << separate.out;
    EXPECT_EQ(NamesIn(dir / "sep/ExportDBX"), std::set<std::string>{"Good.dbx.pst"});
    const CliRun one_store = RunCli("--dest " + Quote(dir / "sep") + " --format pst --pst-mode new --pst-folder " +
                                    Quote(dir / "sep") + " --add-folder " + Quote(dir / "in"));
    EXPECT_NE(one_store.out.find("failures: 3"), std::string::npos) << one_store.out;
    auto store = pst::messaging::Store::Open(dir / "sep/NewPST.pst", false);
    EXPECT_TRUE(store->FindFolderByPath("Good.dbx").has_value());
    for (const char* other : {"Empty.dbx", "notes.dbx", "Cut.dbx"}) EXPECT_FALSE(store->FindFolderByPath(other)) << other;
}

namespace {

namespace fs = std::filesystem;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A 2 MB RAM disk, unmounted at the end; mounted() is false where this process may not mount.
class SmallDisk {
public:
    SmallDisk() : mount_point_(dir_ / "disk") {
        fs::create_directories(mount_point_);
        mounted_ = ::geteuid() == 0 &&
                   std::system(("mount -t tmpfs -o size=2m tmpfs " + Quote(mount_point_) + " 2>/dev/null").c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) (void)std::system(("umount " + Quote(mount_point_)).c_str());
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }
    const std::string& path() const { return mount_point_; }
    std::string operator/(const std::string& name) const { return mount_point_ + "/" + name; }

private:
    fixtures::TempFolder dir_;
    std::string mount_point_;
    bool mounted_ = false;
};

// Letters that no store compresses: 40 messages of 80 KB are more than the disk holds.
void WriteBigFolder(const std::string& path) {
    std::mt19937 random(7);
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 40; ++i) {
        std::string body(80 * 1024, ' ');
        for (std::size_t j = 0; j < body.size(); ++j) body[j] = (j % 77 == 76) ? '\n' : static_cast<char>('a' + random() % 26);
        const std::string subject = "Big " + std::to_string(i);
        builder.AddEmail(testsupport::Email(subject, "Subject: " + subject + "\r\n\r\n" + body));
    }
    builder.WriteTo(path);
}

// The first line after "N failures (M messages written):" in the summary.
std::string FirstFailureLine(const std::string& out) {
    const std::size_t heading = out.find("messages written):\n");
    if (heading == std::string::npos) return {};
    const std::size_t start = heading + std::string("messages written):\n").size();
    return out.substr(start, out.find('\n', start) - start);
}

}  // namespace

// A disk that fills up during a PST export, on a small RAM disk: the summary says first what
// became of the store, counts as written only what is in a store that was closed, and leaves no
// half-made store that looks healthy.
TEST(FullDisk, APstExportThatFillsTheDiskCountsNothingAndLeavesNoHalfMadeStore) {
    SmallDisk disk;
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small RAM disk here (needs root and tmpfs)";
    fixtures::TempFolder work;
    WriteBigFolder(work / "Inbox.dbx");

    // A new store in a chosen folder.
    const CliRun fresh = RunCli("--dest " + Quote(work.path()) + " --format pst --pst-mode new --pst-folder " +
                                Quote(disk.path()) + " " + Quote(work / "Inbox.dbx"));
    EXPECT_EQ(fresh.status, 1) << fresh.out;
    EXPECT_TRUE(Has(fresh.out, "messages written: 0,")) << fresh.out;
    const std::string fresh_line = FirstFailureLine(fresh.out);
    EXPECT_EQ(fresh_line.rfind(disk / "NewPST.pst: the store could not be closed: the disk is full; "
                                      "the unfinished store was removed, and the ", 0), 0u) << fresh.out;
    EXPECT_TRUE(Has(fresh_line, " messages converted in this run are not in it")) << fresh_line;
    EXPECT_FALSE(fs::exists(disk / "NewPST.pst"));

    // A store per folder file, in the destination.
    const CliRun separate = RunCli("--dest " + Quote(disk.path()) + " --format pst --pst-mode separate " +
                                   Quote(work / "Inbox.dbx"));
    EXPECT_EQ(separate.status, 1) << separate.out;
    EXPECT_TRUE(Has(separate.out, "messages written: 0,")) << separate.out;
    EXPECT_TRUE(Has(FirstFailureLine(separate.out), "Inbox.dbx.pst: the store could not be closed: the disk is full"))
        << separate.out;
    EXPECT_FALSE(fs::exists(disk / "ExportDBX/Inbox.dbx.pst"));
    fs::remove_all(disk / "ExportDBX");

    // An existing store: kept byte for byte, and the summary says so.
    fixtures::DbxFileBuilder small;
    small.AddEmail(testsupport::Email("Small", "Subject: Small\r\n\r\nfits\r\n"));
    small.WriteTo(work / "Small.dbx");
    fs::create_directories(work / "made");
    const CliRun made = RunCli("--dest " + Quote(work.path()) + " --format pst --pst-mode new --pst-folder " +
                               Quote(work / "made") + " " + Quote(work / "Small.dbx"));
    ASSERT_EQ(made.status, 0) << made.out;
    fs::copy_file(work / "made/NewPST.pst", disk / "Mine.pst");
    const std::string before = fixtures::ReadFile(disk / "Mine.pst");
    const CliRun old = RunCli("--dest " + Quote(work.path()) + " --format pst --pst-mode old --pst-file " +
                              Quote(disk / "Mine.pst") + " " + Quote(work / "Inbox.dbx"));
    EXPECT_EQ(old.status, 1) << old.out;
    EXPECT_TRUE(Has(old.out, "messages written: 0,")) << old.out;
    EXPECT_EQ(FirstFailureLine(old.out).rfind(disk / "Mine.pst: the store could not be closed: the disk is full; "
                                                     "it is left as it was before this run", 0), 0u) << old.out;
    EXPECT_EQ(fixtures::ReadFile(disk / "Mine.pst"), before);
    const CliRun check = RunCli("--check-pst " + Quote(disk / "Mine.pst"));
    EXPECT_EQ(check.status, 0) << check.out;
}

// --recover writes what only the scan finds and says so; without it a damaged index is refused
// with the way to get the messages back.
TEST(Cli, RecoverWritesFoundMessagesAndTheRefusedFileSaysHowToGetThem) {
    fixtures::TempFolder dir;
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("live", "Subject: live\r\n\r\nkept\r\n"))
        .AddDeletedEmail(Email("gone", "Subject: Gone =?iso-8859-1?q?f=FCr?= you\r\n\r\nback again\r\n"));
    builder.WriteTo(dir / "Inbox.dbx");
    const CliRun run = RunCli("--dest " + Quote(dir.path()) + " --recover " + Quote(dir / "Inbox.dbx"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(fixtures::ReadFile(dir / "ExportDBX/Inbox/live0.eml"), "Subject: live\r\n\r\nkept\r\n");
    // The file is named from the Subject header, numbered after the one slot of the index.
    bool found = false;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "ExportDBX/Inbox/Recovered")) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name, "Gone f\xC3\xBCr you1.eml");
        EXPECT_EQ(fixtures::ReadFile(entry.path().string()),
                  "Subject: Gone =?iso-8859-1?q?f=FCr?= you\r\n\r\nback again\r\n");
        found = true;
    }
    EXPECT_TRUE(found);
    EXPECT_NE(run.out.find("folders: 1, messages written: 2, failures: 0"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("recovered (found only by a scan of the folder file): 1"), std::string::npos) << run.out;

    fixtures::DbxLayout layout;
    std::string bytes = builder.Build(layout);
    fixtures::OverwriteWithZeros(bytes, layout.root_offset, fixtures::kDbxNodeHeaderSize);
    fixtures::WriteFile(dir / "Damaged.dbx", bytes);
    const CliRun refused = RunCli("--dest " + Quote(dir.path()) + " " + Quote(dir / "Damaged.dbx"));
    EXPECT_EQ(refused.status, 1) << refused.out;
    EXPECT_NE(refused.out.find("2 more messages can be recovered from Damaged.dbx: convert again with Recover"),
              std::string::npos)
        << refused.out;
    EXPECT_NE(RunCli("--help").out.find("--recover"), std::string::npos);
}

// --mbox-status puts the state in the MBOX file; without it the stored bytes go out unchanged.
TEST(Cli, MboxStatusIsAskedForAndOffByDefault) {
    fixtures::TempFolder dir;
    fixtures::DbxFileBuilder builder;
    builder.AddRawRecord(fixtures::MakeEmailRecordWithState(Email("read", "Subject: read\r\n\r\nbody\r\n"), 1, 0x81));
    builder.WriteTo(dir / "Inbox.dbx");
    for (const bool asked : {true, false}) {
        std::filesystem::create_directories(dir / (asked ? "a" : "b"));
        const CliRun run = RunCli("--dest " + Quote(dir / (asked ? "a" : "b")) + " --format mbox" +
                                  (asked ? " --mbox-status " : " ") + Quote(dir / "Inbox.dbx"));
        EXPECT_EQ(run.status, 0) << run.out;
        const std::string mbox = fixtures::ReadFile(dir / (asked ? "a/ExportDBX/Inbox.mbox" : "b/ExportDBX/Inbox.mbox"));
        EXPECT_EQ(Has(mbox, "Subject: read\nStatus: RO\nX-Mozilla-Status: 0001\nX-Mozilla-Status2: 00000000\n\nbody"), asked)
            << mbox;
    }
    EXPECT_TRUE(Has(RunCli("--help").out, "--mbox-status"));
}

namespace {

// Every regular file below folder (hidden ones included), by path relative to it.
std::map<std::string, std::string> FilesBelow(const std::string& folder) {
    std::map<std::string, std::string> files;
    if (!fs::exists(folder)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().filename() != ".ombrik-folders")
            files[fs::relative(entry.path(), folder).string()] = fixtures::ReadFile(entry.path().string());
    return files;
}

std::size_t TotalSize(const std::map<std::string, std::string>& files) {
    std::size_t total = 0;
    for (const auto& [name, bytes] : files) total += bytes.size();
    return total;
}

}  // namespace

// A disk that fills up part way through a folder, in every form that writes files: what is
// there is whole (as a run with room writes it), nothing is empty, cut short or left hidden, the
// failures say the disk is full, and a run after freeing space completes the same names.
TEST(FullDisk, EveryFileIsWholeOrAbsentAndARunWithRoomCompletesTheSameNames) {
    SmallDisk disk;
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small RAM disk here (needs root and tmpfs)";
    fixtures::TempFolder work;
    std::mt19937 random(11);
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 20; ++i) {
        std::string body(30 * 1024, ' ');
        for (std::size_t j = 0; j < body.size(); ++j) body[j] = (j % 77 == 76) ? '\n' : static_cast<char>('a' + random() % 26);
        const std::string subject = "Part " + std::to_string(i);
        builder.AddEmail(Email(subject, "Subject: " + subject + "\r\n\r\n" + body));
    }
    builder.WriteTo(work / "Inbox.dbx");
    for (const std::string form : {"eml", "msg", "html", "mbox"}) {
        SCOPED_TRACE(form);
        const std::string args = " --format " + form + " " + Quote(work / "Inbox.dbx");
        fs::remove_all(work / "ExportDBX");
        ASSERT_EQ(RunCli("--dest " + Quote(work.path()) + args).status, 0);
        const auto reference = FilesBelow(work / "ExportDBX");
        const std::size_t total = TotalSize(reference);
        ASSERT_LT(total, 1500u * 1024u);
        // Room for about half of it.
        fixtures::WriteFile(disk / "filler", std::string(2 * 1024 * 1024 - total / 2 - 64 * 1024, 'f'));

        const CliRun full = RunCli("--dest " + Quote(disk.path()) + args);
        EXPECT_EQ(full.status, 1) << full.out;
        EXPECT_TRUE(Has(FirstFailureLine(full.out), ": the disk is full")) << full.out;
        EXPECT_FALSE(Has(full.out, "(0x")) << full.out;
        const auto partial = FilesBelow(disk / "ExportDBX");
        for (const auto& [name, bytes] : partial) {
            ASSERT_EQ(reference.count(name), 1u) << "left after the failure: " << name;
            EXPECT_TRUE(bytes == reference.at(name)) << name << " is not whole: " << bytes.size() << " bytes";
        }
        if (form != "mbox") {
            EXPECT_FALSE(partial.empty()) << "the disk filled up before the first message";
        }

        fs::remove(disk / "filler");
        const CliRun again = RunCli("--dest " + Quote(disk.path()) + args);
        EXPECT_EQ(again.status, 0) << again.out;
        EXPECT_TRUE(FilesBelow(disk / "ExportDBX") == reference) << again.out;
        fs::remove_all(disk / "ExportDBX");
    }
}

// Subjects that would steer a terminal are shown escaped, on the status lines --verbose prints
// as on the live line, and name files that are neither hidden nor hold control characters.
TEST(Cli, ControlCharactersNeverReachTheTerminalOrAFileName) {
    fixtures::TempFolder dir;
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("\x1B[2Jwiped", "Subject: x\r\n\r\none\r\n"))
        .AddEmail(Email("back\rover", "Subject: y\r\n\r\ntwo\r\n"))
        .AddEmail(Email(".NET news", "Subject: z\r\n\r\nthree\r\n"));
    builder.WriteTo(dir / "Inbox.dbx");
    for (const std::string form : {"eml", "mbox"}) {
        const CliRun run = RunCli("--dest " + Quote(dir.path()) + " --verbose --format " + form + " " + Quote(dir / "Inbox.dbx"));
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.out.find_first_of("\x1B\r"), std::string::npos) << form;
        if (form == "mbox") {  // the status line shows the subject; for EML the file's path
            EXPECT_TRUE(Has(run.out, "\\x1B[2Jwiped")) << run.out;
            EXPECT_TRUE(Has(run.out, "back\\x0Dover")) << run.out;
        }
    }
    EXPECT_EQ(NamesIn(dir / "ExportDBX/Inbox"), (std::set<std::string>{"NET news0.eml", "backover1.eml", "[2Jwiped2.eml"}));
}

// Two conversions into one destination at once: the second waits for the first and then finds
// every file in place, so no message is written twice under a second name.
TEST(Cli, TwoRunsIntoOneDestinationAtOnceWriteEveryMessageOnce) {
    fixtures::TempFolder dir;
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 3000; ++i) builder.AddEmail(Email("M", "Subject: M\r\n\r\nbody " + std::to_string(i) + "\r\n"));
    builder.WriteTo(dir / "Inbox.dbx");
    const std::string run = "timeout 120 " + std::string(OMBRIK_CLI) + " --quiet --dest " + Quote(dir.path()) + " " +
                            Quote(dir / "Inbox.dbx");
    const std::string both = "(" + run + " > " + Quote(dir / "a.out") + " 2>&1 & " + run + " > " + Quote(dir / "b.out") +
                             " 2>&1 & wait)";
    ASSERT_EQ(std::system(both.c_str()), 0);
    const auto names = NamesIn(dir / "ExportDBX/Inbox");
    EXPECT_EQ(names.size(), 3000u);
    for (const auto& name : names) ASSERT_FALSE(Has(name, " (")) << name;
    const std::string out = fixtures::ReadFile(dir / "a.out") + fixtures::ReadFile(dir / "b.out");
    EXPECT_TRUE(Has(out, "messages written: 3000, failures: 0")) << out;
    EXPECT_TRUE(Has(out, "messages already there, not written again: 3000")) << out;
}

// A run killed while it writes (kill -9, a crash, a power cut of the program) leaves no empty or
// cut-short file under a message's name, and the next run completes the same names.
TEST(Cli, AKilledRunLeavesEveryMessageFileWholeOrAbsent) {
    fixtures::TempFolder dir;
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 12; ++i)
        builder.AddEmail(Email("Big", "Subject: Big\r\n\r\n" + std::string(8 << 20, static_cast<char>('a' + i)) + "\r\n"));
    builder.WriteTo(dir / "Inbox.dbx");
    const std::string args = " --quiet --dest " + Quote(dir.path()) + " " + Quote(dir / "Inbox.dbx");
    ASSERT_EQ(RunCli(args).status, 0);
    const auto reference = FilesBelow(dir / "ExportDBX");
    fs::rename(dir / "ExportDBX", dir / "reference");
    for (const int delay_ms : {150, 300, 450}) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::execl(OMBRIK_CLI, OMBRIK_CLI, "--quiet", "--dest", dir.path().c_str(), (dir / "Inbox.dbx").c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::usleep(static_cast<useconds_t>(delay_ms) * 1000);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        for (const auto& [name, bytes] : FilesBelow(dir / "ExportDBX")) {
            ASSERT_EQ(reference.count(name), 1u) << "left by the killed run: " << name;
            EXPECT_TRUE(bytes == reference.at(name)) << name << " is cut short: " << bytes.size() << " bytes";
        }
    }
    EXPECT_EQ(RunCli(args).status, 0);
    EXPECT_TRUE(FilesBelow(dir / "ExportDBX") == reference);
}

// Folder files named by bare relative names: every reason and note names the file.
TEST(Cli, ABareFileNameIsNamedInEveryReasonAndNote) {
    fixtures::TempFolder dir;
    fixtures::WriteFile(dir / "Broken.dbx", "just some text\r\n");
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("one", "Subject: one\r\n\r\n1\r\n")).AddEmail(Email("two", "Subject: two\r\n\r\n2\r\n"));
    fixtures::DbxLayout layout;
    std::string bytes = builder.Build(layout);
    fixtures::OverwriteWithZeros(bytes, layout.root_offset, fixtures::kDbxNodeHeaderSize);
    fixtures::WriteFile(dir / "Damaged.dbx", bytes);
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const CliRun run = RunCli("--dest . Broken.dbx Damaged.dbx");
    std::filesystem::current_path(here);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Broken.dbx: Broken.dbx is not an Outlook Express folder file (it is text)"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("2 more messages can be recovered from Damaged.dbx: convert again with Recover"),
              std::string::npos)
        << run.out;
}
