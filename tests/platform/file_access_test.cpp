#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures/temp_folder.h"
#include "platform/file_checks.h"
#include "platform/file_copy.h"
#include "platform/file_owner.h"
#include "platform/process.h"
#include "platform/random_access_file.h"

namespace fs = std::filesystem;
using platform::RandomAccessFile;

namespace {

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
    return bytes;
}

}  // namespace

TEST(RandomAccessFile, ReadsShortOnlyAtTheEndAndReportsErrnoValues) {
    fixtures::TempFolder dir;
    RandomAccessFile missing;
    EXPECT_EQ(missing.Open(dir / "none", RandomAccessFile::Access::kRead), ENOENT);
    EXPECT_FALSE(missing.is_open());

    RandomAccessFile file;
    ASSERT_EQ(file.OpenTemporary(), 0);
    EXPECT_TRUE(fs::is_empty(dir.path()));  // the temporary file has no name anywhere
    const std::string bytes = Pattern(5000);
    ASSERT_EQ(file.WriteAt(bytes.data(), bytes.size(), 100), 0);
    std::uint64_t size = 0;
    ASSERT_EQ(file.Size(size), 0);
    EXPECT_EQ(size, 5100u);
    std::string back(6000, 'x');
    EXPECT_EQ(file.ReadAt(back.data(), back.size(), 100), 5000);  // fewer: the file ends
    EXPECT_EQ(back.substr(0, 5000), bytes);
    ASSERT_EQ(file.SetSize(50), 0);
    ASSERT_EQ(file.Size(size), 0);
    EXPECT_EQ(size, 50u);
    EXPECT_EQ(file.ReadAt(back.data(), 10, 60), 0);
    EXPECT_EQ(file.Sync(), 0);
    EXPECT_EQ(file.Close(), 0);
    EXPECT_EQ(file.WriteAt("x", 1, 0), EBADF);

    fixtures::WriteFile(dir / "plain", "abc");
    RandomAccessFile read_only;
    ASSERT_EQ(read_only.Open(dir / "plain", RandomAccessFile::Access::kRead), 0);
    EXPECT_EQ(read_only.WriteAt("x", 1, 0), EBADF);
    RandomAccessFile moved = std::move(read_only);
    EXPECT_FALSE(read_only.is_open());
    char c = 0;
    EXPECT_EQ(moved.ReadAt(&c, 1, 2), 1);
    EXPECT_EQ(c, 'c');
}

// A file read while another program changes it: its version tells.
TEST(FileVersion, ChangesWithTheFileSizeAndTime) {
    fixtures::TempFolder dir;
    fixtures::WriteFile(dir / "file", Pattern(10000));
    RandomAccessFile file;
    ASSERT_EQ(file.Open(dir / "file", RandomAccessFile::Access::kRead), 0);
    platform::FileVersion opened, now;
    ASSERT_EQ(platform::VersionOf(file.descriptor(), opened), 0);
    EXPECT_EQ(opened.size, 10000u);
    ASSERT_EQ(platform::VersionOf(file.descriptor(), now), 0);
    EXPECT_EQ(now, opened);
    fs::resize_file(dir / "file", 5000);
    ASSERT_EQ(platform::VersionOf(file.descriptor(), now), 0);
    EXPECT_EQ(now.size, 5000u);
    EXPECT_NE(now, opened);
    EXPECT_EQ(platform::VersionOf(-1, now), EBADF);
}

// Sizes on both sides of the copy buffer, and a copy to another file system where there is one:
// each way of copying must give the same bytes.
TEST(FileCopy, CopiesEveryByteWhateverWayTheSystemOffers) {
    fixtures::TempFolder dir;
    std::vector<std::string> targets = {dir.path()};
    if (fs::is_directory("/dev/shm") && ::access("/dev/shm", W_OK) == 0) {
        fs::create_directory("/dev/shm/" + fs::path(dir.path()).filename().string());
        targets.push_back("/dev/shm/" + fs::path(dir.path()).filename().string());
    }
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, (std::size_t{5} << 19) + 3}) {
        const std::string bytes = Pattern(size);
        fixtures::WriteFile(dir / "source", bytes);
        for (const auto& target : targets) {
            const std::string copy = target + "/copy" + std::to_string(size);
            RandomAccessFile in, out;
            ASSERT_EQ(in.Open(dir / "source", RandomAccessFile::Access::kRead), 0);
            fixtures::WriteFile(copy, "");
            ASSERT_EQ(out.Open(copy, RandomAccessFile::Access::kReadWrite), 0);
            EXPECT_EQ(platform::CopyFileBytes(in, out), 0) << copy;
            ASSERT_EQ(out.Close(), 0);
            EXPECT_TRUE(fixtures::ReadFile(copy) == bytes) << copy;
            // Into a file that cannot be written the failure is told, not a short copy.
            RandomAccessFile read_only;
            ASSERT_EQ(read_only.Open(copy, RandomAccessFile::Access::kRead), 0);
            if (size > 0) {
                EXPECT_NE(platform::CopyFileBytes(in, read_only), 0) << copy;
            }
        }
    }
    if (targets.size() > 1) fs::remove_all(targets[1]);
}

TEST(FileCopy, SyncTellsAnUnopenablePathFromAFailedFlush) {
    fixtures::TempFolder dir;
    fixtures::WriteFile(dir / "file", "x");
    bool opened = false;
    EXPECT_EQ(platform::SyncPath(dir / "file", platform::SyncTarget::kFile, opened), 0);
    EXPECT_TRUE(opened);
    EXPECT_EQ(platform::SyncPath(dir.path(), platform::SyncTarget::kFolder, opened), 0);
    EXPECT_EQ(platform::SyncPath(dir / "none", platform::SyncTarget::kFile, opened), ENOENT);
    EXPECT_FALSE(opened);
    EXPECT_EQ(platform::SyncPath(dir / "file", platform::SyncTarget::kFolder, opened), ENOTDIR);
    EXPECT_FALSE(opened);
}

#ifndef _WIN32  // owners, mode bits and fork are POSIX; the Windows side is in win32_platform_test
TEST(FileOwner, KeepsModeAndOwnerAndHonoursTheOwnersReadOnlyMark) {
    fixtures::TempFolder dir;
    fixtures::WriteFile(dir / "file", "x");
    ASSERT_EQ(platform::SetMode(dir / "file", 02640), 0);
    const auto now = platform::OwnerAndModeOf(dir / "file");
    ASSERT_TRUE(now.has_value());
    EXPECT_EQ(now->mode, 02640u);
    EXPECT_EQ(now->uid, static_cast<long>(::getuid()));
    EXPECT_EQ(platform::SetOwner(dir / "file", now->uid, now->gid), 0);
    EXPECT_TRUE(platform::WritableFile(dir / "file"));
    // Read-only for its owner: refused even to a user (root) whom the system would let write.
    ASSERT_EQ(platform::SetMode(dir / "file", 0444), 0);
    EXPECT_FALSE(platform::WritableFile(dir / "file"));
    EXPECT_FALSE(platform::WritableFile(dir / "none"));
    EXPECT_FALSE(platform::OwnerAndModeOf(dir / "none").has_value());
    EXPECT_EQ(platform::SetMode(dir / "none", 0600), ENOENT);
}

TEST(Process, TellsARunningProcessFromOneThatHasEnded) {
    EXPECT_TRUE(platform::ProcessRunning(platform::CurrentProcessId()));
    EXPECT_TRUE(platform::ProcessRunning(1));  // runs, though we may not signal it
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    EXPECT_FALSE(platform::ProcessRunning(child));
}
#endif
