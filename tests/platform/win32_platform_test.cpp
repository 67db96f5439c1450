// The Windows side of the platform layer, where it differs from POSIX systems: UTF-8 names
// through wide calls, both separators, paths past the old 260-character limit, links refused,
// locks between handles and on folders, 64-bit positioned reads, and the small services of an
// upload (a command's output, the state folder, the Credential Manager, a refused connection).
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures/temp_folder.h"
#include "platform/command_output.h"
#include "platform/directory.h"
#include "platform/existing_file.h"
#include "platform/file_checks.h"
#include "platform/file_lock.h"
#include "platform/file_owner.h"
#include "platform/file_stream.h"
#include "platform/output_file.h"
#include "platform/output_folder.h"
#include "platform/pending_file.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/random_access_file.h"
#include "platform/secret_store.h"
#include "platform/state_folder.h"
#include "platform/tcp_connection.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

// A folder path below base longer than any Windows call takes without the \\?\ prefix.
std::string LongFolderBelow(const std::string& base) {
    std::string path = base;
    while (path.size() < 300) {
        path = JoinPath(path, std::string(40, 'd') + std::to_string(path.size()));
        if (!CreateDirectory(path)) return {};
    }
    return path;
}

ExistingFile CompareIn(const std::string& folder_path, const std::string& name, std::string_view bytes) {
    OutputFolder folder;
    if (folder.Open(folder_path) != WriteFailure::kNone) return ExistingFile::kOther;
    return folder.Compare(name, bytes);
}

}  // namespace

TEST(Win32Paths, NamesInAnyScriptComeThroughWhole) {
    fixtures::TempFolder dir;
    const std::vector<std::string> names = {"Café crème €.eml", "Привет мир.mbox", "日本語の件名.msg",
                                            "Ελληνικά 😀.html"};
    for (const auto& name : names) {
        ASSERT_EQ(WriteWholeFile(JoinPath(dir.path(), name), name, OutputMode::kCreateNew), 0) << name;
        EXPECT_EQ(CompareIn(dir.path(), name, name), ExistingFile::kSame) << name;
        std::FILE* stream = OpenFileStream(JoinPath(dir.path(), name), "rb");
        ASSERT_NE(stream, nullptr) << name;
        std::fclose(stream);
    }
    auto listed = ListDirectory(dir.path());
    ASSERT_TRUE(listed.has_value());
    std::sort(listed->begin(), listed->end());
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(*listed, sorted);
    // std::filesystem sees the same names, through the platform's conversion.
    EXPECT_TRUE(fs::exists(FileSystemPath(JoinPath(dir.path(), names[1]))));
    EXPECT_EQ(Utf8PathText(FileSystemPath(JoinPath(dir.path(), names[2])).filename()), names[2]);
}

TEST(Win32Paths, BothSeparatorsAndDriveLettersLeadToTheSameFile) {
    fixtures::TempFolder dir;
    ASSERT_TRUE(dir.path().size() > 2 && dir.path()[1] == ':');  // the temporary folder is on a drive
    ASSERT_TRUE(CreateDirectory(dir.path() + "\\sub"));
    ASSERT_EQ(WriteWholeFile(dir.path() + "/sub/file.eml", "bytes", OutputMode::kCreateNew), 0);
    std::string forward = dir.path() + "\\sub\\file.eml";
    std::replace(forward.begin(), forward.end(), '\\', '/');
    for (const std::string& path : {dir.path() + "\\sub\\file.eml", forward, dir.path() + "\\sub/file.eml"}) {
        EXPECT_TRUE(FileExists(path)) << path;
        EXPECT_EQ(ReadableFileRefusal(path), "") << path;
        EXPECT_EQ(CompareIn(path.substr(0, path.size() - 9), "file.eml", "bytes"), ExistingFile::kSame) << path;
        EXPECT_EQ(LastPathComponent(path), "file.eml") << path;
    }
    EXPECT_EQ(ReadableFileRefusal(dir.path() + "/sub"), "is a folder");
    EXPECT_EQ(ReadableFileRefusal(dir.path() + "/none.dbx"), "does not exist");
    EXPECT_EQ(WritableFolderRefusal(dir.path() + "/sub/file.eml"), "is not a folder");
    EXPECT_EQ(WritableFolderRefusal(dir.path() + "/sub"), "");
    // A name made beside the file goes beside it whichever separator came last.
    std::string long_name = forward.substr(0, forward.size() - 8) + std::string(250, 'n') + ".pst";
    const std::string beside = NameBeside(long_name, ".ombrik-lock");
    EXPECT_EQ(beside.substr(0, forward.size() - 8), forward.substr(0, forward.size() - 8));
    EXPECT_LE(LastPathComponent(beside).size(), kNameLimit);
}

TEST(Win32Paths, PathsPastTheOldLimitWorkForEveryFileOperation) {
    fixtures::TempFolder dir;
    const std::string folder = LongFolderBelow(dir.path());
    ASSERT_FALSE(folder.empty());
    ASSERT_GT(folder.size(), 260u);
    EXPECT_TRUE(IsDirectory(folder));
    const std::string file = JoinPath(folder, "Inbox.mbox");
    ASSERT_EQ(WriteWholeFile(file, "From x\n", OutputMode::kCreateNew), 0);
    EXPECT_EQ(CompareIn(folder, "Inbox.mbox", "From x\n"), ExistingFile::kSame);
    EXPECT_EQ(ReadableFileRefusal(file), "");
    OutputFolder out;
    ASSERT_EQ(out.Open(folder), WriteFailure::kNone);
    OutputFolder child;
    ASSERT_EQ(out.OpenChild("Sent Items", child), WriteFailure::kNone);
    PendingFile pending;
    ASSERT_EQ(pending.Begin(child, "m.eml"), WriteFailure::kNone);
    ASSERT_EQ(pending.device().Write("message"), WriteFailure::kNone);
    EXPECT_TRUE(pending.SetTime(130000000000000000ULL));
    bool taken = true;
    ASSERT_EQ(pending.Place("m.eml", taken), WriteFailure::kNone);
    EXPECT_FALSE(taken);
    ASSERT_EQ(pending.Finish(), WriteFailure::kNone);
    EXPECT_EQ(ListDirectory(JoinPath(folder, "Sent Items")), std::vector<std::string>{"m.eml"});
    RandomAccessFile in;
    ASSERT_EQ(in.Open(file, RandomAccessFile::Access::kRead), 0);
    char head[4] = {};
    EXPECT_EQ(in.ReadAt(head, 4, 0), 4);
    in.Close();
    const std::string moved = JoinPath(folder, "Inbox (2).mbox");
    EXPECT_EQ(MoveToFreeName(file, moved), 0);
    EXPECT_EQ(ListDirectory(folder), (std::vector<std::string>{"Inbox (2).mbox", "Sent Items"}));
    std::error_code error;
    EXPECT_EQ(fs::file_size(FileSystemPath(moved), error), 7u);
    EXPECT_EQ(Utf8PathText(FileSystemPath(moved)), moved);  // no \\?\ in what the program shows
    EXPECT_TRUE(DeleteFile(moved));
    EXPECT_FALSE(FileExists(moved));
}

TEST(Win32Files, OutputModesAndPlacingNeverReplaceWhatTheyMustNot) {
    fixtures::TempFolder dir;
    const std::string taken = dir / "taken.eml";
    ASSERT_EQ(WriteWholeFile(taken, "earlier", OutputMode::kCreateNew), 0);
    EXPECT_EQ(WriteWholeFile(taken, "new", OutputMode::kCreateNew), EEXIST);
    EXPECT_EQ(fixtures::ReadFile(taken), "earlier");
    ASSERT_EQ(WriteWholeFile(dir / "new.eml", "new", OutputMode::kCreateNew), 0);
    EXPECT_EQ(MoveToFreeName(dir / "new.eml", taken), EEXIST);
    EXPECT_EQ(fixtures::ReadFile(taken), "earlier");
    ASSERT_TRUE(CreateDirectory(dir / "folder"));
    EXPECT_EQ(WriteWholeFile(dir / "folder", "x", OutputMode::kTruncate), EISDIR);
    // A pending file takes a name only where nothing is, or where an empty file is.
    OutputFolder folder;
    ASSERT_EQ(folder.Open(dir.path()), WriteFailure::kNone);
    ASSERT_EQ(WriteWholeFile(dir / "empty", "", OutputMode::kCreateNew), 0);
    PendingFile pending;
    ASSERT_EQ(pending.Begin(folder, "taken.eml", nullptr, true), WriteFailure::kNone);
    ASSERT_EQ(pending.device().Write("....body"), WriteFailure::kNone);
    // A positioned write leaves the append position where it was, as pwrite does.
    ASSERT_EQ(pending.device().WriteAt("HEAD", 0), WriteFailure::kNone);
    ASSERT_EQ(pending.device().Write("+tail"), WriteFailure::kNone);
    EXPECT_EQ(pending.CompareWith("taken.eml"), ExistingFile::kDifferent);
    ASSERT_EQ(pending.device().Write("!"), WriteFailure::kNone);  // comparing moved nothing either
    bool placed_taken = false;
    EXPECT_EQ(pending.Place("taken.eml", placed_taken), WriteFailure::kNone);
    EXPECT_TRUE(placed_taken);
    EXPECT_EQ(pending.PlaceOverEmptyFile("taken.eml", placed_taken), WriteFailure::kNone);
    EXPECT_TRUE(placed_taken);
    EXPECT_EQ(pending.Place("a:stream", placed_taken), WriteFailure::kNameRefused);
    EXPECT_EQ(pending.PlaceOverEmptyFile("empty", placed_taken), WriteFailure::kNone);
    EXPECT_FALSE(placed_taken);
    ASSERT_EQ(pending.Finish(), WriteFailure::kNone);
    EXPECT_EQ(fixtures::ReadFile(dir / "empty"), "HEADbody+tail!");
    EXPECT_EQ(fixtures::ReadFile(taken), "earlier");
    EXPECT_EQ(ListDirectory(dir.path())->size(), 4u);  // empty, folder, new.eml, taken.eml

    // A positioned write leaves the append position where it was, as pwrite does.
    OutputFile out;
    ASSERT_TRUE(out.Open(dir / "header.bin", OutputMode::kCreateNew));
    ASSERT_TRUE(out.Write("....body"));
    ASSERT_EQ(out.WriteAt("HEAD", 4, 0), 0);
    ASSERT_TRUE(out.Write("+tail"));
    ASSERT_TRUE(out.Close());
    EXPECT_EQ(fixtures::ReadFile(dir / "header.bin"), "HEADbody+tail");
}

TEST(Win32Files, LinksAreRefusedWhereTheyAreOnPosixSystems) {
    fixtures::TempFolder dir;
    ASSERT_EQ(WriteWholeFile(dir / "target", "theirs", OutputMode::kCreateNew), 0);
    std::error_code error;
    fs::create_symlink(FileSystemPath(dir / "target"), FileSystemPath(dir / "link"), error);
    if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
    EXPECT_EQ(CompareIn(dir.path(), "link", "theirs"), ExistingFile::kLink);
    EXPECT_NE(WriteWholeFile(dir / "link", "ours", OutputMode::kTruncate), 0);
    EXPECT_EQ(fixtures::ReadFile(dir / "target"), "theirs");
    EXPECT_EQ(WriteWholeFile(dir / "link", "ours", OutputMode::kReplace), 0);
    EXPECT_EQ(fixtures::ReadFile(dir / "target"), "theirs");
    // A folder link is neither opened nor entered.
    ASSERT_TRUE(CreateDirectory(dir / "real"));
    fs::create_directory_symlink(FileSystemPath(dir / "real"), FileSystemPath(dir / "linked"), error);
    if (error) return;
    OutputFolder folder, child;
    EXPECT_EQ(folder.Open(dir / "linked"), WriteFailure::kLinkInTheWay);
    ASSERT_EQ(folder.Open(dir.path()), WriteFailure::kNone);
    EXPECT_EQ(folder.OpenChild("linked", child), WriteFailure::kLinkInTheWay);
}

TEST(Win32Files, PositionedReadsStopAtTheEndAndAChangeIsSeen) {
    fixtures::TempFolder dir;
    std::string bytes(3 << 20, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 65536);
    ASSERT_EQ(WriteWholeFile(dir / "big", bytes, OutputMode::kCreateNew), 0);
    std::FILE* stream = OpenFileStream(dir / "big", "rb");
    ASSERT_NE(stream, nullptr);
    const int fd = DescriptorOf(stream);
    std::string back(100, 'x');
    EXPECT_EQ(ReadAllAt(fd, back.data(), back.size(), bytes.size() - 40), 40);
    EXPECT_EQ(back.substr(0, 40), bytes.substr(bytes.size() - 40));
    FileVersion before, after;
    ASSERT_EQ(VersionOf(fd, before), 0);
    EXPECT_EQ(before.size, bytes.size());
    RandomAccessFile writer;
    ASSERT_EQ(writer.Open(dir / "big", RandomAccessFile::Access::kReadWrite), 0);
    EXPECT_EQ(writer.SetSize(1 << 20), 0);
    ASSERT_EQ(VersionOf(fd, after), 0);
    EXPECT_NE(before, after);
    EXPECT_EQ(after.size, 1u << 20);
    std::fclose(stream);
}

TEST(Win32Locks, ASecondHolderWaitsUntilTheFirstLetsGo) {
    fixtures::TempFolder dir;
    const std::string lock_path = dir / "store.pst.ombrik-lock";
    auto first = FileLock::Acquire(lock_path, nullptr, nullptr);
    ASSERT_NE(first, nullptr);
    int waited = 0, asked = 0;
    auto second = FileLock::Acquire(lock_path, [&] { ++waited; }, [&] { return ++asked > 2; });
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(waited, 1);
    first.reset();
    EXPECT_FALSE(FileExists(lock_path));  // the holder removes the file as it leaves
    auto third = FileLock::Acquire(lock_path, nullptr, [] { return true; });
    EXPECT_NE(third, nullptr);

    // A folder is one lock however its path is written, and nothing is left in it.
    auto folder = FileLock::AcquireFolder(dir.path(), nullptr, nullptr);
    ASSERT_NE(folder, nullptr);
    std::string forward = dir.path();
    std::replace(forward.begin(), forward.end(), '\\', '/');
    waited = 0;
    EXPECT_EQ(FileLock::AcquireFolder(forward + "/", [&] { ++waited; }, [] { return true; }), nullptr);
    EXPECT_EQ(waited, 1);
    folder.reset();
    EXPECT_NE(FileLock::AcquireFolder(forward, nullptr, [] { return true; }), nullptr);
    EXPECT_EQ(ListDirectory(dir.path())->size(), 1u);  // the file lock's, held by third
}

TEST(Win32Files, TheReadOnlyAttributeStandsForTheOwnersWriteBit) {
    fixtures::TempFolder dir;
    ASSERT_EQ(WriteWholeFile(dir / "store.pst", "x", OutputMode::kCreateNew), 0);
    EXPECT_TRUE(WritableFile(dir / "store.pst"));
    ASSERT_EQ(SetMode(dir / "store.pst", 0444), 0);
    EXPECT_FALSE(WritableFile(dir / "store.pst"));
    EXPECT_EQ(OwnerAndModeOf(dir / "store.pst")->mode, 0444u);
    ASSERT_EQ(SetMode(dir / "store.pst", 0644), 0);
    EXPECT_TRUE(WritableFile(dir / "store.pst"));
    EXPECT_EQ(SetOwner(dir / "store.pst", -1, -1), 0);
    EXPECT_FALSE(OwnerAndModeOf(dir / "none").has_value());
}

TEST(Win32Processes, TellsARunningProcessFromOneThatIsGone) {
    EXPECT_TRUE(ProcessRunning(CurrentProcessId()));
    EXPECT_FALSE(ProcessRunning(0x7FFFFFF0));
    RandomAccessFile temporary;
    ASSERT_EQ(temporary.OpenTemporary(), 0);
    ASSERT_EQ(temporary.WriteAt("abc", 3, 1 << 20), 0);
    std::uint64_t size = 0;
    ASSERT_EQ(temporary.Size(size), 0);
    EXPECT_EQ(size, (1u << 20) + 3);
    std::FILE* spool = OpenTemporaryStream();
    ASSERT_NE(spool, nullptr);
    EXPECT_EQ(std::fwrite("row", 1, 3, spool), 3u);
    std::fclose(spool);
}

TEST(Win32Services, TheSmallPiecesOfAnUploadWork) {
    std::string output, error;
    ASSERT_TRUE(FirstLineOfCommand("echo first token&& echo second", output, error)) << error;
    EXPECT_EQ(output, "first token");
    EXPECT_FALSE(FirstLineOfCommand("exit 3", output, error));
    EXPECT_EQ(error, "ended with status 3");

    const std::string state = UserStateFolder("journals", error);
    ASSERT_FALSE(state.empty()) << error;
    EXPECT_NE(state.find("\\Ombrik\\journals"), std::string::npos) << state;
    EXPECT_TRUE(IsDirectory(state));
    EXPECT_FALSE(HostName().empty());

    const std::string account = "test-" + std::to_string(CurrentProcessId()) + "@mail.example.com:993";
    if (KeepSecret(account, "p\xC3\xA4ssword", error)) {
        EXPECT_EQ(KeptSecret(account), std::optional<std::string>("p\xC3\xA4ssword"));
        ForgetSecret(account);
    }
    EXPECT_EQ(KeptSecret(account), std::nullopt);

    // Port 1 on the loopback: nothing listens there.
    TcpConnection connection;
    EXPECT_FALSE(connection.Connect("127.0.0.1", 1, std::chrono::seconds(5)));
    EXPECT_FALSE(connection.error().empty());
    EXPECT_FALSE(connection.is_open());
}
