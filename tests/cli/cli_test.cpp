// ombrik-cli as a script would use it: arguments in, files, output and exit status out.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

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
