#include "platform/existing_file.h"

#include <cerrno>
#include <filesystem>

#include <gtest/gtest.h>

#include "fixtures/temp_folder.h"
#include "platform/output_folder.h"
#include "platform/pending_file.h"

namespace fs = std::filesystem;
using platform::ExistingFile;

// Large enough that the comparison runs over several read chunks; the differences sit in the
// last chunk and right at a chunk boundary, where a comparison that stops early would miss them.
TEST(ExistingFile, ComparesSizeThenEveryByteWithoutFollowingLinks) {
    fixtures::TempFolder dir;
    platform::OutputFolder folder;
    ASSERT_EQ(folder.Open(dir.path()), platform::WriteFailure::kNone);
    std::string bytes(200000, 'x');
    for (std::size_t i = 0; i < bytes.size(); i += 7) bytes[i] = static_cast<char>('a' + i % 26);
    fixtures::WriteFile(dir / "file", bytes);
    EXPECT_EQ(folder.Compare("file", bytes), ExistingFile::kSame);
    EXPECT_EQ(folder.Compare("none", bytes), ExistingFile::kNone);
    EXPECT_EQ(folder.Compare("file", bytes.substr(1)), ExistingFile::kDifferent);
    for (const std::size_t at : {std::size_t{0}, std::size_t{65536}, bytes.size() - 1}) {
        std::string other = bytes;
        other[at] ^= 1;
        EXPECT_EQ(folder.Compare("file", other), ExistingFile::kDifferent) << at;
        platform::PendingFile pending;
        ASSERT_EQ(pending.Begin(folder, "other", nullptr, true), platform::WriteFailure::kNone);
        pending.device().Write(other);
        EXPECT_EQ(pending.CompareWith("file"), ExistingFile::kDifferent) << at;
    }
    platform::PendingFile same;
    ASSERT_EQ(same.Begin(folder, "same", nullptr, true), platform::WriteFailure::kNone);
    same.device().Write(bytes);
    EXPECT_EQ(same.CompareWith("file"), ExistingFile::kSame);
    if (fixtures::kCanMakeSymlinks) {
        fs::create_symlink(dir / "file", dir / "link");
        EXPECT_EQ(folder.Compare("link", bytes), ExistingFile::kLink);
        EXPECT_EQ(same.CompareWith("link"), ExistingFile::kLink);
    }
    fs::create_directory(dir / "folder");
    EXPECT_EQ(same.CompareWith("folder"), ExistingFile::kOther);
}

TEST(ExistingFile, MovingToAFreeNameNeverReplacesWhatIsThere) {
    fixtures::TempFolder dir;
    fixtures::WriteFile(dir / "new", "new");
    fixtures::WriteFile(dir / "taken", "earlier");
    EXPECT_EQ(platform::MoveToFreeName(dir / "new", dir / "taken"), EEXIST);
    EXPECT_EQ(fixtures::ReadFile(dir / "taken"), "earlier");
    if (fixtures::kCanMakeSymlinks) {
        fs::create_symlink(dir / "nowhere", dir / "dangling");
        EXPECT_EQ(platform::MoveToFreeName(dir / "new", dir / "dangling"), EEXIST);
        EXPECT_FALSE(fs::exists(dir / "nowhere"));
    }
    EXPECT_EQ(platform::MoveToFreeName(dir / "new", dir / "free"), 0);
    EXPECT_EQ(fixtures::ReadFile(dir / "free"), "new");
    EXPECT_FALSE(fs::exists(dir / "new"));
}
