// The Windows side of the platform layer, where it differs from POSIX systems: UTF-8 names
// through wide calls, both separators, paths past the old 260-character limit, links refused,
// locks between handles, and the 64-bit file positions of mapped and positioned reads.
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures/temp_folder.h"
#include "platform/directory.h"
#include "platform/existing_file.h"
#include "platform/file_checks.h"
#include "platform/file_lock.h"
#include "platform/file_owner.h"
#include "platform/file_stream.h"
#include "platform/mapped_region.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/random_access_file.h"

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

}  // namespace

TEST(Win32Paths, NamesInAnyScriptComeThroughWhole) {
    fixtures::TempFolder dir;
    const std::vector<std::string> names = {"Café crème €.eml", "Привет мир.mbox", "日本語の件名.msg",
                                            "Ελληνικά 😀.html"};
    for (const auto& name : names) {
        ASSERT_EQ(WriteWholeFile(JoinPath(dir.path(), name), name, OutputMode::kCreateNew), 0) << name;
        EXPECT_EQ(CompareWithExisting(JoinPath(dir.path(), name), name), ExistingFile::kSame) << name;
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
        EXPECT_EQ(CompareWithExisting(path, "bytes"), ExistingFile::kSame) << path;
        EXPECT_EQ(LastPathComponent(path), "file.eml") << path;
    }
    EXPECT_EQ(ReadableFileRefusal(dir.path() + "/sub"), "is a folder");
    EXPECT_EQ(ReadableFileRefusal(dir.path() + "/none.dbx"), "does not exist");
    EXPECT_EQ(WritableFolderRefusal(dir.path() + "/sub/file.eml"), "is not a folder");
    EXPECT_EQ(WritableFolderRefusal(dir.path() + "/sub"), "");
    // The temporary name goes beside the file whichever separator came last.
    EXPECT_EQ(TemporaryNameBeside(forward),
              forward.substr(0, forward.size() - 8) + ".file.eml." + std::to_string(CurrentProcessId()) + ".part");
}

TEST(Win32Paths, PathsPastTheOldLimitWorkForEveryFileOperation) {
    fixtures::TempFolder dir;
    const std::string folder = LongFolderBelow(dir.path());
    ASSERT_FALSE(folder.empty());
    ASSERT_GT(folder.size(), 260u);
    EXPECT_TRUE(IsDirectory(folder));
    const std::string file = JoinPath(folder, "Inbox.mbox");
    ASSERT_EQ(WriteWholeFile(file, "From x\n", OutputMode::kCreateNew), 0);
    EXPECT_EQ(CompareWithExisting(file, "From x\n"), ExistingFile::kSame);
    EXPECT_EQ(ReadableFileRefusal(file), "");
    EXPECT_TRUE(SetModificationTime(file, 130000000000000000ULL));
    RandomAccessFile in;
    ASSERT_EQ(in.Open(file, RandomAccessFile::Access::kRead), 0);
    char head[4] = {};
    EXPECT_EQ(in.ReadAt(head, 4, 0), 4);
    in.Close();
    const std::string moved = JoinPath(folder, "Inbox (2).mbox");
    EXPECT_EQ(MoveToFreeName(file, moved), 0);
    EXPECT_EQ(ListDirectory(folder), std::vector<std::string>{"Inbox (2).mbox"});
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
    EXPECT_EQ(MoveOverEmptyFile(dir / "new.eml", taken), EEXIST);
    ASSERT_EQ(WriteWholeFile(dir / "empty", "", OutputMode::kCreateNew), 0);
    EXPECT_EQ(MoveOverEmptyFile(dir / "new.eml", dir / "empty"), 0);
    EXPECT_EQ(fixtures::ReadFile(dir / "empty"), "new");

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
    EXPECT_EQ(CompareWithExisting(dir / "link", "theirs"), ExistingFile::kOther);
    EXPECT_NE(WriteWholeFile(dir / "link", "ours", OutputMode::kTruncate), 0);
    EXPECT_EQ(fixtures::ReadFile(dir / "target"), "theirs");
    EXPECT_EQ(WriteWholeFile(dir / "link", "ours", OutputMode::kReplace), 0);
    EXPECT_EQ(fixtures::ReadFile(dir / "target"), "theirs");
}

TEST(Win32Files, MappedAndPositionedReadsAgreeAndStopAtTheEnd) {
    fixtures::TempFolder dir;
    std::string bytes(3 << 20, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 65536);
    ASSERT_EQ(WriteWholeFile(dir / "big", bytes, OutputMode::kCreateNew), 0);
    std::FILE* stream = OpenFileStream(dir / "big", "rb");
    ASSERT_NE(stream, nullptr);
    const int fd = DescriptorOf(stream);
    MappedRegion region;
    ASSERT_TRUE(region.Map(fd, 1 << 20, 1 << 20));
    EXPECT_EQ(std::string(region.data(), 1 << 20), bytes.substr(1 << 20, 1 << 20));
    EXPECT_FALSE(MappedRegion().Map(fd, 2 << 20, 2 << 20));  // past the end: refused, not mapped
    std::string back(100, 'x');
    EXPECT_EQ(ReadAllAt(fd, back.data(), back.size(), bytes.size() - 40), 40);
    EXPECT_EQ(back.substr(0, 40), bytes.substr(bytes.size() - 40));
    // While a part is mapped the file cannot be cut shorter under the reader.
    RandomAccessFile writer;
    ASSERT_EQ(writer.Open(dir / "big", RandomAccessFile::Access::kReadWrite), 0);
    EXPECT_NE(writer.SetSize(1 << 20), 0);
    region.Unmap();
    EXPECT_EQ(writer.SetSize(1 << 20), 0);
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
