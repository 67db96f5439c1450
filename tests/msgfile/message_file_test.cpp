#include "msgfile/message_file.h"

#include <gtest/gtest.h>

#include "fixtures/temp_folder.h"

using fixtures::ReadFile;

TEST(WriteMessageFile, StoresTheTextByteForByte) {
    fixtures::TempFolder dir;
    const std::string crlf = "Subject: x\r\n\r\nline\r\nlone lf\nend";
    ASSERT_TRUE(WriteMessageFile(dir / "a.eml", std::optional<std::string>(crlf)));
    EXPECT_EQ(ReadFile(dir / "a.eml"), crlf);

    const std::string bom = "\xFF\xFEtext";
    ASSERT_TRUE(WriteMessageFile(dir / "b.eml", std::optional<std::string>(bom)));
    EXPECT_EQ(ReadFile(dir / "b.eml"), bom);

    // A zero byte inside a message is data like any other: nothing after it is lost.
    ASSERT_TRUE(WriteMessageFile(dir / "c.eml", std::optional<std::string>(std::string("abc\0def", 7))));
    EXPECT_EQ(ReadFile(dir / "c.eml"), std::string("abc\0def", 7));
}

TEST(WriteMessageFile, AbsentTextEmptiesAnExistingFile) {
    fixtures::TempFolder dir;
    fixtures::WriteFile(dir / "a.eml", "old content");
    ASSERT_TRUE(WriteMessageFile(dir / "a.eml", std::optional<std::string>()));
    EXPECT_EQ(ReadFile(dir / "a.eml"), "");
}

TEST(WriteMessageFile, ReportsFilesThatCannotBeWritten) {
    fixtures::TempFolder dir;
    const WriteResult missing = WriteMessageFile(dir / "no/such/folder.eml", std::optional<std::string>("x"));
    EXPECT_FALSE(missing);
    EXPECT_FALSE(missing.error.empty());
#ifndef _WIN32
    // A full disk: every write to /dev/full fails with ENOSPC.
    const WriteResult full = WriteMessageFile("/dev/full", std::optional<std::string>(std::string(100000, 'x')));
    EXPECT_FALSE(full);
    EXPECT_NE(full.error.find("space"), std::string::npos) << full.error;
#endif
}

TEST(CUTF16File, OpensInBinaryWhateverTheFlags) {
    fixtures::TempFolder dir;
    CUTF16File file;
    ASSERT_TRUE(file.Open(dir / "x", file_flags::kCreate | file_flags::kWrite));
    EXPECT_TRUE(file.Write("a\nb", 3));
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(ReadFile(dir / "x"), "a\nb");
    CUTF16File reader;
    EXPECT_TRUE(reader.Open(dir / "x", 0));
    EXPECT_FALSE(reader.Write("z", 1));
}
