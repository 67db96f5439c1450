// ombrik-cli as a script would use it: arguments in, files, output and exit status out.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "export/export_test_support.h"

using testsupport::Email;

namespace {

struct CliRun {
    int status = -1;
    std::string out;
};

CliRun RunCli(const std::string& arguments) {
    CliRun run;
    const std::string command = std::string(OMBRIK_CLI) + " " + arguments + " 2>&1";
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
    EXPECT_EQ(RunCli("--dest " + Quote(dir / "nowhere") + " " + Quote(dir / "Bad.dbx")).status, 2);
    EXPECT_EQ(RunCli("--dest " + Quote(dir.path()) + " --format doc x.dbx").status, 2);
    EXPECT_EQ(RunCli("--dest " + Quote(dir.path()) + " --codepage no-such-cp " + Quote(dir / "Bad.dbx")).status, 2);
    EXPECT_EQ(RunCli("--bogus").status, 2);
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
    // For now the rows convert as plain rows, under their file names.
    const std::string commit = dir / "out/ExportDBX/hal-commit";
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
