// The questions asked of a path before it is opened or written into, and the lock that keeps two
// programs from extending one store at once.
#include "platform/file_checks.h"
#include "platform/file_lock.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "fixtures/temp_folder.h"

namespace {

using platform::FileLock;
using platform::ReadableFileRefusal;
using platform::WritableFolderRefusal;

TEST(ReadableFileRefusal, NamesWhatIsInTheWayWithoutOpeningIt) {
    fixtures::TempFolder dir;
    fixtures::WriteFile(dir / "plain", "x");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir / "plain", dir / "link");
    ::alarm(20);  // a FIFO that got opened would hang here; fail instead
    EXPECT_EQ(ReadableFileRefusal(dir / "plain"), "");
    EXPECT_EQ(ReadableFileRefusal(dir / "link"), "");  // a link to a plain file is one
    EXPECT_EQ(ReadableFileRefusal(dir / "fifo"), "is not a regular file");
    EXPECT_EQ(ReadableFileRefusal("/dev/null"), "is not a regular file");
    ::alarm(0);
    EXPECT_EQ(ReadableFileRefusal(dir / "missing"), "does not exist");
    EXPECT_EQ(ReadableFileRefusal(""), "does not exist");
    EXPECT_EQ(ReadableFileRefusal(dir / "plain/below"), "does not exist (a part of its path is not a folder)");
    EXPECT_EQ(ReadableFileRefusal(dir.path()), "is a folder");
    if (::geteuid() != 0) {
        ::chmod((dir / "plain").c_str(), 0);
        EXPECT_EQ(ReadableFileRefusal(dir / "plain"), "permission denied");
    }
}

TEST(WritableFolderRefusal, AFolderThatIsGoneOrClosedIsNamedSo) {
    fixtures::TempFolder dir;
    fixtures::WriteFile(dir / "plain", "x");
    EXPECT_EQ(WritableFolderRefusal(dir.path()), "");
    EXPECT_EQ(WritableFolderRefusal(dir / "gone"), "does not exist");
    EXPECT_EQ(WritableFolderRefusal(dir / "plain"), "is not a folder");
    if (::geteuid() != 0) {
        std::filesystem::create_directory(dir / "closed");
        ::chmod((dir / "closed").c_str(), 0500);
        EXPECT_EQ(WritableFolderRefusal(dir / "closed"), "permission denied");
        ::chmod((dir / "closed").c_str(), 0700);
    }
}

TEST(FileLock, ASecondTakerWaitsSaysSoOnceAndMayGiveUp) {
    fixtures::TempFolder dir;
    const std::string path = dir / "store.pst.lock";
    auto first = FileLock::Acquire(path, {}, {});
    ASSERT_TRUE(first);
    EXPECT_TRUE(std::filesystem::is_regular_file(path));

    int waits = 0, asks = 0;
    auto second = FileLock::Acquire(path, [&] { ++waits; }, [&] { return ++asks == 3; });
    EXPECT_FALSE(second);
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(asks, 3);

    // Let go: the file goes with it, and the next taker gets the lock without waiting.
    first.reset();
    EXPECT_FALSE(std::filesystem::exists(path));
    waits = 0;
    auto third = FileLock::Acquire(path, [&] { ++waits; }, [] { return true; });
    EXPECT_TRUE(third);
    EXPECT_EQ(waits, 0);
}

TEST(FileLock, AnotherProcessIsWaitedForUntilItLetsGo) {
    fixtures::TempFolder dir;
    const std::string path = dir / "store.pst.lock";
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto held = FileLock::Acquire(path, {}, {});
        char c = held ? 'y' : 'n';
        if (::write(ready[1], &c, 1) != 1) ::_exit(2);
        if (::read(release[0], &c, 1) != 1) ::_exit(3);
        held.reset();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');

    bool waited = false;
    std::thread letter_go([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const char go = 'g';
        EXPECT_EQ(::write(release[1], &go, 1), 1);
    });
    const auto start = std::chrono::steady_clock::now();
    auto mine = FileLock::Acquire(path, [&] { waited = true; }, {});
    const auto waited_for = std::chrono::steady_clock::now() - start;
    letter_go.join();
    ASSERT_TRUE(mine);
    EXPECT_TRUE(waited);
    EXPECT_GE(waited_for, std::chrono::milliseconds(250));
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // The lock we hold is on the file the name now leads to, not on one the child removed.
    struct stat named{};
    EXPECT_EQ(::stat(path.c_str(), &named), 0);
    const int probe = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(probe, 0);
    EXPECT_NE(::flock(probe, LOCK_EX | LOCK_NB), 0);
    ::close(probe);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
}

TEST(FileLock, SomethingOtherThanAFileAtTheLockNameIsAnError) {
    fixtures::TempFolder dir;
    ASSERT_EQ(::mkfifo((dir / "fifo.lock").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir / "elsewhere", dir / "link.lock");
    ::alarm(20);
    EXPECT_THROW(FileLock::Acquire(dir / "fifo.lock", {}, {}), std::runtime_error);
    ::alarm(0);
    EXPECT_THROW(FileLock::Acquire(dir / "link.lock", {}, {}), std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));  // no link was followed
    EXPECT_THROW(FileLock::Acquire(dir / "no/such/folder.lock", {}, {}), std::runtime_error);
}

}  // namespace
