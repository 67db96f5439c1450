// A disk that fills up during a PST export, on a small RAM disk: the summary says first what
// became of the store, counts as written only what is in a store that was closed, and leaves no
// half-made store that looks healthy.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include <gtest/gtest.h>

#include "export/export_test_support.h"

namespace fs = std::filesystem;

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

struct CliRun {
    int status = -1;
    std::string out;
};

CliRun RunCli(const std::string& arguments) {
    CliRun run;
    const std::string command = "timeout 120 " + std::string(OMBRIK_CLI) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

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

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(FullDisk, APstExportThatFillsTheDiskCountsNothingAndLeavesNoHalfMadeStore) {
    SmallDisk disk;
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small RAM disk here (needs root and tmpfs)";
    fixtures::TempFolder work;
    WriteBigFolder(work / "Inbox.dbx");

    // A new store in a chosen folder.
    const CliRun fresh = RunCli("--dest " + Quote(work.path()) + " --format pst --pst-mode new --pst-folder " +
                                Quote(disk.path()) + " " + Quote(work / "Inbox.dbx"));
    EXPECT_EQ(fresh.status, 1) << fresh.out;
    EXPECT_TRUE(Contains(fresh.out, "messages written: 0,")) << fresh.out;
    const std::string fresh_line = FirstFailureLine(fresh.out);
    EXPECT_EQ(fresh_line.rfind(disk / "NewPST.pst: the store could not be closed: no space left on the disk; "
                                      "the unfinished store was removed, and the ", 0), 0u) << fresh.out;
    EXPECT_TRUE(Contains(fresh_line, " messages converted in this run are not in it")) << fresh_line;
    EXPECT_FALSE(fs::exists(disk / "NewPST.pst"));

    // A store per folder file, in the destination.
    const CliRun separate = RunCli("--dest " + Quote(disk.path()) + " --format pst --pst-mode separate " +
                                   Quote(work / "Inbox.dbx"));
    EXPECT_EQ(separate.status, 1) << separate.out;
    EXPECT_TRUE(Contains(separate.out, "messages written: 0,")) << separate.out;
    EXPECT_TRUE(Contains(FirstFailureLine(separate.out), "Inbox.dbx.pst: the store could not be closed: no space left"))
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
    EXPECT_TRUE(Contains(old.out, "messages written: 0,")) << old.out;
    EXPECT_EQ(FirstFailureLine(old.out).rfind(disk / "Mine.pst: the store could not be closed: no space left on the "
                                                     "disk; it is left as it was before this run", 0), 0u) << old.out;
    EXPECT_EQ(fixtures::ReadFile(disk / "Mine.pst"), before);
    const CliRun check = RunCli("--check-pst " + Quote(disk / "Mine.pst"));
    EXPECT_EQ(check.status, 0) << check.out;
}
