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
