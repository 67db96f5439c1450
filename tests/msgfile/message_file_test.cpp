#include "msgfile/message_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures/failing_disk.h"
#include "fixtures/temp_folder.h"

namespace fs = std::filesystem;
using fixtures::ReadFile;
using platform::WriteFailure;

namespace {

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct Folder {
    fixtures::TempFolder dir;
    platform::OutputFolder out;
    Folder() { EXPECT_EQ(out.Open(dir.path()), WriteFailure::kNone); }
};

// The two ways of handing a file its bytes: whole, or in pieces (three bytes at a time here)
// as a writer that never holds the whole file does. Both obey the same rules.
using WriteFn = PlacedFile (*)(const platform::OutputFolder&, const std::string&, const std::string&,
                               const platform::DeviceFilter*);
PlacedFile WriteWhole(const platform::OutputFolder& folder, const std::string& name, const std::string& bytes,
                      const platform::DeviceFilter* devices) {
    return WriteMessageFile(folder, name, bytes, 0, devices);
}
PlacedFile WriteInPieces(const platform::OutputFolder& folder, const std::string& name, const std::string& bytes,
                         const platform::DeviceFilter* devices) {
    const auto write = [&bytes](platform::OutputDevice& device) {
        for (std::size_t at = 0; at < bytes.size(); at += 3)
            if (const WriteFailure failure = device.Write(std::string_view(bytes).substr(at, 3)); failure != WriteFailure::kNone)
                return failure;
        return WriteFailure::kNone;
    };
    return WriteMessageFile(folder, name, write, 0, devices);
}
const std::pair<const char*, WriteFn> kWays[] = {{"whole", WriteWhole}, {"in pieces", WriteInPieces}};

}  // namespace

// The bytes as they are: line ends of both kinds, a byte-order mark, zero bytes, nothing at all.
TEST(WriteMessageFile, StoresTheTextByteForByte) {
    Folder f;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"crlf.eml", "Subject: x\r\n\r\nline\r\nlone lf\nend"},
        {"bom.eml", "\xFF\xFEtext"},
        {"zero.eml", std::string("abc\0def", 7)},
        {"empty.eml", ""},
    };
    for (const auto& [name, bytes] : cases) {
        const PlacedFile placed = WriteMessageFile(f.out, name, bytes);
        ASSERT_TRUE(placed) << name;
        EXPECT_EQ(placed.name, name);
        EXPECT_FALSE(placed.already_there);
        EXPECT_EQ(ReadFile(f.dir / name), bytes) << name;
    }
    EXPECT_EQ(Names(f.dir.path()).size(), cases.size()) << "a temporary file was left";
}

// A name that is taken is never taken over: the same bytes are the output already, other bytes
// go to the next free name, and a link or a folder at the name is a failure of its own kind.
TEST(WriteMessageFile, NeverReplacesWhatHoldsTheName) {
    for (const auto& [way, write] : kWays) {
        SCOPED_TRACE(way);
        const auto WriteMessageFile = [write](const platform::OutputFolder& folder, const std::string& name,
                                              const std::string& bytes) { return write(folder, name, bytes, nullptr); };
        Folder f;
        fixtures::WriteFile(f.dir / "a0.eml", "earlier");
        const PlacedFile same = WriteMessageFile(f.out, "a0.eml", std::string("earlier"));
        EXPECT_TRUE(same && same.already_there && same.name == "a0.eml");
        const PlacedFile other = WriteMessageFile(f.out, "a0.eml", std::string("later"));
        EXPECT_TRUE(other && !other.already_there);
        EXPECT_EQ(other.name, "a0 (2).eml");
        EXPECT_EQ(ReadFile(f.dir / "a0.eml"), "earlier");
        EXPECT_EQ(ReadFile(f.dir / "a0 (2).eml"), "later");
        // An empty file (a run of an older version on a full disk left those) is filled in; one cut
        // short is somebody's file and keeps its name.
        fixtures::WriteFile(f.dir / "b0.eml", "");
        EXPECT_EQ(WriteMessageFile(f.out, "b0.eml", std::string("text")).name, "b0.eml");
        EXPECT_EQ(ReadFile(f.dir / "b0.eml"), "text");
        fixtures::WriteFile(f.dir / "c0.eml", "te");
        EXPECT_EQ(WriteMessageFile(f.out, "c0.eml", std::string("text")).name, "c0 (2).eml");

        fs::create_directory(f.dir / "dir0.eml");
        EXPECT_EQ(WriteMessageFile(f.out, "dir0.eml", std::string("x")).failure, WriteFailure::kInTheWay);
        EXPECT_EQ(Names(f.dir.path()), (std::vector<std::string>{"a0 (2).eml", "a0.eml", "b0.eml", "c0 (2).eml",
                                                                  "c0.eml", "dir0.eml"}));
        if (!fixtures::kCanMakeSymlinks) continue;  // Wine makes none
        fixtures::WriteFile(f.dir / "victim", "mine");
        fs::create_symlink(f.dir / "victim", f.dir / "link0.eml");
        EXPECT_EQ(WriteMessageFile(f.out, "link0.eml", std::string("x")).failure, WriteFailure::kLinkInTheWay);
        EXPECT_EQ(ReadFile(f.dir / "victim"), "mine");
        EXPECT_EQ(Names(f.dir.path()).size(), 8u);
    }
}

// A disk that fills up or fails part way through a message leaves nothing of it; once there is
// space again the same name is filled.
TEST(WriteMessageFile, AFailedWriteLeavesNothingAndALaterOneFillsTheName) {
    for (const auto& [way, write] : kWays) {
        for (const WriteFailure kind : {WriteFailure::kDiskFull, WriteFailure::kIo}) {
            SCOPED_TRACE(way);
            Folder f;
            const fixtures::FailingDisk disk(1000, kind);
            const std::string text(5000, 'm');
            const PlacedFile failed = write(f.out, "m0.eml", text, &disk);
            EXPECT_EQ(failed.failure, kind);
            EXPECT_TRUE(failed.name.empty());
            EXPECT_TRUE(Names(f.dir.path()).empty()) << Names(f.dir.path()).front();
            const PlacedFile later = write(f.out, "m0.eml", text, nullptr);
            EXPECT_TRUE(later && later.name == "m0.eml");
            EXPECT_EQ(ReadFile(f.dir / "m0.eml"), text);
        }
    }
    // No folder to write into is told as such.
    platform::OutputFolder none;
    EXPECT_EQ(WriteMessageFile(none, "x.eml", std::string("x")).failure, WriteFailure::kNotFound);
}

TEST(WriteMessageFile, TheFileTakesTheMessagesTime) {
    Folder f;
    constexpr std::uint64_t kJan2000 = 116444736000000000ULL + 946684800ULL * 10000000ULL;
    ASSERT_TRUE(WriteMessageFile(f.out, "t.eml", std::string("x"), kJan2000));
    struct stat info {};
    ASSERT_EQ(::stat((f.dir / "t.eml").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 946684800);
}

TEST(NumberedFileName, PutsTheNumberBeforeTheExtension) {
    EXPECT_EQ(NumberedFileName("Inbox.mbox", 1), "Inbox.mbox");
    EXPECT_EQ(NumberedFileName("Inbox.mbox", 2), "Inbox (2).mbox");
    EXPECT_EQ(NumberedFileName("see.eml3.eml", 3), "see.eml3 (3).eml");
    EXPECT_EQ(NumberedFileName("Inbox", 2), "Inbox (2)");
    EXPECT_EQ(NumberedFileName(".hidden", 2), ".hidden (2)");
}

// Files written ahead on other threads, then named in the order given: the names (and " (2)")
// come from that order alone, a file never named leaves nothing, and each keeps its time.
TEST(StagedMessageFile, WrittenOnOtherThreadsNamedInOrderAndLeftOutWholly) {
    Folder f;
    constexpr std::uint64_t kJan2000 = 116444736000000000ULL + 946684800ULL * 10000000ULL;
    const std::vector<std::string> texts = {"first", "second", "third", "dropped"};
    std::vector<StagedMessageFile> staged(texts.size());
    std::vector<std::thread> writers;
    for (std::size_t i = 0; i < texts.size(); ++i)
        writers.emplace_back([&, i] { StageMessageFile(staged[i], f.out, "s.eml", texts[i], kJan2000 + i * 10000000ULL); });
    for (auto& writer : writers) writer.join();
    // Nothing under a name of its own yet (Windows, with no nameless files, has hidden ".<name>.<pid>.part" ones).
    for (const std::string& name : Names(f.dir.path())) EXPECT_EQ(name.front(), '.') << name;
    for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(PlaceMessageFile(staged[i], f.out, "s.eml", texts[i]));
    staged.back().file.Abandon();
    EXPECT_EQ(Names(f.dir.path()), (std::vector<std::string>{"s (2).eml", "s (3).eml", "s.eml"}));
    EXPECT_EQ(ReadFile(f.dir / "s (2).eml"), "second");
    struct stat info {};
    ASSERT_EQ(::stat((f.dir / "s (3).eml").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 946684802);
    // Failed before it was named: the failure comes back, nothing is there.
    const fixtures::FailingDisk disk(2, WriteFailure::kDiskFull);
    StagedMessageFile full;
    StageMessageFile(full, f.out, "f.eml", "too long", 0, &disk);
    EXPECT_EQ(PlaceMessageFile(full, f.out, "f.eml", "too long").failure, WriteFailure::kDiskFull);
    EXPECT_EQ(Names(f.dir.path()).size(), 3u);
}
