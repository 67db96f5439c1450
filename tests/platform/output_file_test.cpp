#include "platform/output_file.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>

#include <gtest/gtest.h>

#include "fixtures/temp_folder.h"
#include "platform/random_access_file.h"

namespace fs = std::filesystem;
using fixtures::ReadFile;
using platform::OutputFile;
using platform::OutputMode;

TEST(OutputFile, EachModeTreatsAnExistingFileAsItSays) {
    fixtures::TempFolder dir;
    const std::string path = dir / "out";
    fixtures::WriteFile(path, "old and longer content");
    OutputFile truncate;
    ASSERT_TRUE(truncate.Open(path, OutputMode::kTruncate));
    ASSERT_TRUE(truncate.Write("new"));
    ASSERT_TRUE(truncate.Close());
    EXPECT_EQ(ReadFile(path), "new");

    // Replace makes a new file: a second name for the old one keeps the old bytes.
    fs::create_hard_link(path, dir / "other-name");
    ASSERT_EQ(platform::WriteWholeFile(path, "replaced", OutputMode::kReplace), 0);
    EXPECT_EQ(ReadFile(path), "replaced");
    EXPECT_EQ(ReadFile(dir / "other-name"), "new");

    OutputFile create_new;
    EXPECT_FALSE(create_new.Open(path, OutputMode::kCreateNew));
    EXPECT_EQ(create_new.error(), EEXIST);
    EXPECT_EQ(ReadFile(path), "replaced");
}

TEST(OutputFile, ALinkAtThePathIsNeverFollowed) {
    if (!fixtures::kCanMakeSymlinks) GTEST_SKIP() << "no symbolic links can be made here";
    fixtures::TempFolder dir;
    const std::string victim = dir / "victim";
    const std::string absent = dir / "absent";
    fixtures::WriteFile(victim, "mine");
    for (const std::string& target : {victim, absent}) {
        const std::string link = dir / "link";
        fs::remove(link);
        fs::create_symlink(target, link);
        OutputFile truncate;
        EXPECT_FALSE(truncate.Open(link, OutputMode::kTruncate));
        EXPECT_EQ(truncate.error(), ELOOP);
        OutputFile create_new;
        EXPECT_FALSE(create_new.Open(link, OutputMode::kCreateNew));
        EXPECT_TRUE(fs::is_symlink(link));
        // Replace removes the link itself and writes a file in its place.
        ASSERT_EQ(platform::WriteWholeFile(link, "output", OutputMode::kReplace), 0);
        EXPECT_FALSE(fs::is_symlink(link));
        EXPECT_EQ(ReadFile(link), "output");
        EXPECT_EQ(ReadFile(victim), "mine");
        EXPECT_FALSE(fs::exists(absent));
    }
}

#ifndef _WIN32  // FIFOs and /dev/full are POSIX devices
TEST(OutputFile, APipeAtThePathIsRefusedWithoutWaitingForAReader) {
    fixtures::TempFolder dir;
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    OutputFile file;
    EXPECT_FALSE(file.Open(fifo, OutputMode::kTruncate));
    EXPECT_NE(file.error(), 0);
}

TEST(OutputFile, AFullDiskIsReported) {
    OutputFile full;
    ASSERT_TRUE(full.Open("/dev/full", OutputMode::kTruncate));
    EXPECT_FALSE(full.Write(std::string(100000, 'x')));
    EXPECT_EQ(full.error(), ENOSPC);
    EXPECT_FALSE(full.Write("more"));  // the first error stays
    EXPECT_FALSE(full.Close());
    EXPECT_NE(full.error_text().find("space"), std::string::npos);
}
#endif

TEST(OutputFile, AFailedWholeWriteLeavesNoFile) {
    fixtures::TempFolder dir;
    EXPECT_EQ(platform::WriteWholeFile(dir / "no/such/dir/file", "x", OutputMode::kReplace), ENOENT);
    EXPECT_FALSE(fs::exists(dir / "no"));
}

TEST(OutputFile, WritesAtOffsetsAndSyncs) {
    fixtures::TempFolder dir;
    const std::string path = dir / "store";
    const int fd = platform::OpenOutputDescriptor(path, OutputMode::kCreateNew, true, true);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(platform::WriteAllAt(fd, "world", 5, 6), 0);
    EXPECT_EQ(platform::WriteAllAt(fd, "hello ", 6, 0), 0);
    platform::RandomAccessFile(fd).Close();
    EXPECT_EQ(ReadFile(path), "hello world");
#ifndef _WIN32  // Windows files take their folder's access list, not mode bits
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0077, 0u) << "a private file is readable by others";
#endif

    OutputFile file;
    ASSERT_TRUE(file.Open(dir / "synced", OutputMode::kReplace));
    EXPECT_TRUE(file.Write("a") && file.Sync() && file.Close());
    EXPECT_EQ(platform::OpenOutputDescriptor(dir / "missing/x", OutputMode::kTruncate), -ENOENT);
}
