#include "platform/paths.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace platform;

TEST(Paths, JoinsByPlainConcatenation) {
    EXPECT_EQ(JoinPath("/out", "Inbox"), "/out/Inbox");
    EXPECT_EQ(JoinPath("/", "Inbox"), "//Inbox");
    EXPECT_EQ(LastPathComponent("/a/b/Inbox.dbx"), "Inbox.dbx");
    EXPECT_EQ(LastPathComponent("/a/b/"), "");
    EXPECT_EQ(LastPathComponent("Inbox.dbx"), "");
}

TEST(PrivateTempDir, IsPrivateAndRemovedWithItsContent) {
    std::string path;
    {
        PrivateTempDir dir;
        path = dir.path();
        struct stat info;
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        ASSERT_TRUE(CreateDirectory(JoinPath(path, "sub")));
        EXPECT_TRUE(CreateDirectory(JoinPath(path, "sub")));  // an existing folder is fine
        PrivateTempDir other;
        EXPECT_NE(other.path(), path);
    }
    EXPECT_FALSE(FileExists(path));
}
