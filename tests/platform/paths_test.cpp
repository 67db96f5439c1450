#include "platform/paths.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

using namespace platform;

TEST(Paths, JoinsByPlainConcatenation) {
    const std::string s(1, kPathSeparator);
    EXPECT_EQ(JoinPath(s + "out", "Inbox"), s + "out" + s + "Inbox");
    EXPECT_EQ(JoinPath(s, "Inbox"), s + s + "Inbox");
    EXPECT_EQ(LastPathComponent(s + "a" + s + "b" + s + "Inbox.dbx"), "Inbox.dbx");
    EXPECT_EQ(LastPathComponent("/a/b/Inbox.dbx"), "Inbox.dbx");  // '/' is a separator everywhere
    EXPECT_EQ(LastPathComponent(s + "a" + s + "b" + s), "");
    EXPECT_EQ(LastPathComponent("Inbox.dbx"), "");
}

TEST(PrivateTempDir, IsPrivateAndRemovedWithItsContent) {
    std::string path;
    {
        PrivateTempDir dir;
        path = dir.path();
#ifndef _WIN32  // on Windows the user's temporary folder is theirs alone
        struct stat info;
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
#endif
        ASSERT_TRUE(CreateDirectory(JoinPath(path, "sub")));
        EXPECT_TRUE(CreateDirectory(JoinPath(path, "sub")));  // an existing folder is fine
        PrivateTempDir other;
        EXPECT_NE(other.path(), path);
    }
    EXPECT_FALSE(FileExists(path));
}
