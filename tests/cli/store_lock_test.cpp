// Two conversions into one existing store at the same time: the second waits for the first and
// says so, neither run's messages are lost, and a wait that is interrupted writes nothing.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "fixtures/dbx_builder.h"
#include "fixtures/temp_folder.h"
#include "store/pst/messaging/checker.h"
#include "store/pst/messaging/store.h"
#include "platform/file_lock.h"
#include "store/pst_session.h"

namespace fs = std::filesystem;

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// ombrik-cli started in the background, its standard output and error read through one pipe.
class CliProcess {
public:
    explicit CliProcess(const std::string& arguments) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::dup2(fds[1], STDERR_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            const std::string command = "exec " + std::string(OMBRIK_CLI) + " " + arguments;
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        out_fd_ = fds[0];
    }
    ~CliProcess() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
        if (out_fd_ >= 0) ::close(out_fd_);
    }
    pid_t pid() const { return pid_; }
    const std::string& out() const { return out_; }

    // Reads until text has appeared or the output ends; true when it appeared.
    bool ReadUntil(const std::string& text, std::chrono::seconds timeout = std::chrono::seconds(60)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (out_.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || !ReadSome(100)) return false;
        }
        return true;
    }
    int Wait() {
        while (ReadSome(100)) {
        }
        int status = 0;
        if (::waitpid(pid_, &status, 0) != pid_) return -1;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
    }

private:
    // False once the output has ended.
    bool ReadSome(int milliseconds) {
        if (out_fd_ < 0) return false;
        pollfd p{out_fd_, POLLIN, 0};
        if (::poll(&p, 1, milliseconds) <= 0) return true;
        char buffer[4096];
        const ssize_t n = ::read(out_fd_, buffer, sizeof buffer);
        if (n <= 0) {
            ::close(out_fd_);
            out_fd_ = -1;
            return false;
        }
        out_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_fd_ = -1;
    int status_ = -1;
    std::string out_;
};

std::string Rfc822(const std::string& subject) {
    return "From: Alice <alice@example.com>\r\nTo: Bob <bob@example.com>\r\nSubject: " + subject +
           "\r\nDate: Wed, 01 Jan 2020 10:00:00 +0000\r\nMIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=us-ascii\r\n\r\nBody of " + subject + "\r\n";
}

void WriteDbx(const std::string& path, const std::string& prefix, int count) {
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < count; ++i) {
        fixtures::DbxEmailSpec spec;
        spec.subject = prefix + std::to_string(i);
        spec.text = Rfc822(*spec.subject);
        builder.AddEmail(spec);
    }
    builder.WriteTo(path);
}

std::size_t MessagesIn(const std::string& pst, const std::string& folder) {
    auto store = pst::messaging::Store::Open(pst, false);
    const auto nid = store->FindFolderByPath(folder);
    return nid ? store->Messages(*nid).size() : 0;
}

// True when some process holds the lock on the store (we try it for an instant).
bool StoreLocked(const std::string& store) {
    const int fd = ::open(store::PstStoreLockPath(store).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

class TwoRunsOnOneStore : public testing::TestWithParam<bool> {};

TEST_P(TwoRunsOnOneStore, TheSecondWaitsAndBothRunsMessagesAreKept) {
    fixtures::TempFolder dir;
    constexpr int kFirstCount = 300, kSecondCount = 7;
    const bool inbox_first = GetParam();
    const std::string first_name = inbox_first ? "Inbox.dbx" : "Sent.dbx";
    const std::string second_name = inbox_first ? "Sent.dbx" : "Inbox.dbx";
    WriteDbx(dir / "Seed.dbx", "seed", 2);
    WriteDbx(dir / first_name, "first", kFirstCount);
    WriteDbx(dir / second_name, "second", kSecondCount);
    WriteDbx(dir / "Third.dbx", "third", 3);
    fs::create_directories(dir / "out");

    CliProcess seed("--dest " + Quote(dir / "out") + " --format pst --pst-mode new --pst-folder " + Quote(dir.path()) +
                    " " + Quote(dir / "Seed.dbx"));
    ASSERT_EQ(seed.Wait(), 0) << seed.out();
    const std::string store = dir / "NewPST.pst";
    ASSERT_TRUE(fs::is_regular_file(store));
    EXPECT_FALSE(fs::exists(store::PstStoreLockPath(store)));  // a finished run leaves no lock file
    const std::string into_store = " --format pst --pst-mode old --pst-file " + Quote(store) + " ";

    // The first run is held still while it has the store: whatever the second does then would
    // be lost if the first went on to put its copy in place after it.
    CliProcess first("--dest " + Quote(dir / "out") + into_store + Quote(dir / first_name));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!StoreLocked(store) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    ASSERT_EQ(::kill(first.pid(), SIGSTOP), 0);
    ASSERT_TRUE(StoreLocked(store)) << "the first run ended before it could be held";

    CliProcess second("--dest " + Quote(dir / "out") + into_store + Quote(dir / second_name));
    ASSERT_TRUE(second.ReadUntil("Waiting for another conversion to finish with " + store)) << second.out();

    // A third run that is interrupted while it waits is refused and writes nothing.
    CliProcess third("--dest " + Quote(dir / "out") + into_store + Quote(dir / "Third.dbx"));
    ASSERT_TRUE(third.ReadUntil("Waiting for another conversion")) << third.out();
    ::kill(third.pid(), SIGINT);
    EXPECT_EQ(third.Wait(), 1) << third.out();
    EXPECT_NE(third.out().find("another conversion is still adding to the PST store " + store), std::string::npos)
        << third.out();
    EXPECT_NE(third.out().find("nothing was written"), std::string::npos) << third.out();

    ::kill(first.pid(), SIGCONT);
    EXPECT_EQ(first.Wait(), 0) << first.out();
    EXPECT_EQ(second.Wait(), 0) << second.out();
    EXPECT_NE(first.out().find("messages written: " + std::to_string(kFirstCount) + ", failures: 0"), std::string::npos)
        << first.out();
    EXPECT_NE(second.out().find("messages written: " + std::to_string(kSecondCount) + ", failures: 0"),
              std::string::npos)
        << second.out();

    EXPECT_EQ(MessagesIn(store, "Seed.dbx"), 2u);
    EXPECT_EQ(MessagesIn(store, first_name), static_cast<std::size_t>(kFirstCount));
    EXPECT_EQ(MessagesIn(store, second_name), static_cast<std::size_t>(kSecondCount));
    EXPECT_EQ(MessagesIn(store, "Third.dbx"), 0u);
    EXPECT_FALSE(fs::exists(store::PstStoreLockPath(store)));
    const pst::CheckReport report = pst::CheckPstFile(store);
    EXPECT_TRUE(report.ok()) << report.ToText();
    const std::string checker = std::string(OMBRIK_TOOLS_DIR) + "/pstcheck.py";
    if (fs::exists(checker)) {
        const std::string command = "/usr/bin/python3 " + Quote(checker) + " --strict --quiet " + Quote(store);
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(EitherFolderFirst, TwoRunsOnOneStore, testing::Bool());

}  // namespace

namespace {

// On a terminal the wait shows on the live status line, from its start, however long the path.
TEST(StoreWaitOnATerminal, TheLiveLineSaysWhatItWaitsFor) {
    if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "script (bsdutils) is absent";
    fixtures::TempFolder dir;
    const std::string deep = dir / std::string(80, 'd');
    fs::create_directories(deep);
    WriteDbx(dir / "Inbox.dbx", "m", 2);
    // Other messages for the waiting run: the store has Inbox's already and would not take them again.
    WriteDbx(dir / "Sent.dbx", "s", 2);
    const std::string store = deep + "/Store.pst";
    CliProcess make("--dest " + Quote(dir.path()) + " --format pst --pst-mode separate " + Quote(dir / "Inbox.dbx"));
    ASSERT_EQ(make.Wait(), 0) << make.out();
    fs::rename(dir / "ExportDBX/Inbox.dbx.pst", store);

    auto held = platform::FileLock::Acquire(store::PstStoreLockPath(store), {}, {});
    ASSERT_TRUE(held);
    std::thread let_go([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        held.reset();
    });
    const std::string command = "script -qec " +
                                Quote(std::string(OMBRIK_CLI) + " --dest " + dir.path() +
                                      " --format pst --pst-mode old --pst-file " + store + " " + (dir / "Sent.dbx")) +
                                " /dev/null";
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = pclose(pipe);
    let_go.join();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    EXPECT_NE(out.find("] Waiting for another conversion to finish with /"), std::string::npos) << out;
    EXPECT_NE(out.find("messages written: 2, failures: 0"), std::string::npos) << out;
}

}  // namespace

namespace {

// Ctrl-C ends the run after the message being written: every file left is whole, the run says
// it was interrupted and does not claim success.
TEST(Interruption, CtrlCStopsAtAMessageBoundary) {
    fixtures::TempFolder dir;
    constexpr int kCount = 3000;
    WriteDbx(dir / "Big.dbx", "m", kCount);
    CliProcess run("--verbose --dest " + Quote(dir.path()) + " " + Quote(dir / "Big.dbx"));
    ASSERT_TRUE(run.ReadUntil(".eml")) << run.out();
    ::kill(run.pid(), SIGINT);
    EXPECT_EQ(run.Wait(), 1) << run.out();
    EXPECT_NE(run.out().find("ombrik-cli: interrupted"), std::string::npos) << run.out();
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(dir / "ExportDBX/Big")) {
        ++files;
        const std::string text = fixtures::ReadFile(entry.path().string());
        const std::size_t at = text.find("Subject: ");
        ASSERT_NE(at, std::string::npos) << entry.path();
        const std::string subject = text.substr(at + 9, text.find('\r', at) - at - 9);
        EXPECT_EQ(text, Rfc822(subject)) << entry.path();  // whole, not cut off
    }
    EXPECT_GT(files, 0u);
    EXPECT_LT(files, static_cast<std::size_t>(kCount));
}

}  // namespace
