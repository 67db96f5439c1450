// The folder-file builder against the reader and against an independent extractor.
#include <gtest/gtest.h>


#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "dbx_test_support.h"
#include "fixtures/linux_tools.h"

namespace {

namespace fs = std::filesystem;
using dbx_test::EmailPtr;
using dbx_test::NumberedEmail;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

fs::path FreshDir(const std::string& name) {
    const fs::path dir = fs::path(testing::TempDir()) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

TEST(DbxBuilder, StreamedFileEqualsTheOneBuiltInMemory) {
    const fs::path dir = FreshDir("dbx_builder_stream");
    for (int per_node : {2, 0x7F}) {
        const std::string path = (dir / "streamed.dbx").string();
        fixtures::WriteDbxFile(path, 500, [](std::size_t i) { return NumberedEmail(static_cast<int>(i)); }, per_node);
        EXPECT_EQ(ReadFile(path), dbx_test::NumberedFolder(500, per_node).Build()) << per_node;
    }
}

// Offsets beyond 24 bits do not fit the direct text-offset entry; the builder switches to
// the 4-byte form there, and the reader must follow both.
TEST(DbxBuilder, LargeFileReadsBackCompletely) {
    const fs::path path = FreshDir("dbx_builder_large") / "large.dbx";
    constexpr std::size_t kCount = 40;
    auto make = [](std::size_t i) {
        fixtures::DbxEmailSpec email = NumberedEmail(static_cast<int>(i));
        email.text = std::string(512 * 1024, static_cast<char>('a' + i % 26)) + std::to_string(i);
        return email;
    };
    fixtures::WriteDbxFile(path.string(), kCount, make, 3);
    ASSERT_GT(fs::file_size(path), std::uintmax_t{1} << 24);

    DbxReader* reader = dbx_open(path.string().c_str());
    ASSERT_NE(reader, nullptr) << dbx_errno;
    ASSERT_EQ(reader->item_count, static_cast<std::int32_t>(kCount));
    bool saw_wide_offset = false;
    for (std::size_t i = 0; i < kCount; ++i) {
        EmailPtr email(static_cast<DbxEmail*>(dbx_get(reader, static_cast<std::int32_t>(kCount - 1 - i))));
        ASSERT_TRUE(email->message_text.has_value()) << i;
        EXPECT_TRUE(*email->message_text == *make(i).text) << i;
        EXPECT_EQ(email->subject, make(i).subject);
        saw_wide_offset = saw_wide_offset || email->text_offset >= (1 << 24);
    }
    EXPECT_TRUE(saw_wide_offset);
    dbx_close(reader);
    fs::remove(path);
}

// undbx (a separate extractor of the same format) must find the same messages in a built
// folder with a multi-level index.
TEST(DbxBuilder, IndependentExtractorAgrees) {
    if (!fixtures::CanRunLinuxTool("/usr/bin/undbx")) GTEST_SKIP() << "undbx is not installed";
    const fs::path dir = FreshDir("dbx_builder_undbx");
    const fs::path file = dir / "Folder.dbx";
    constexpr int kCount = 300;
    dbx_test::NumberedFolder(kCount, 4).WriteTo(file.string());

    const std::string command = "/usr/bin/undbx -v 0 '" + file.string() + "' '" + (dir / "out").string() + "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_EQ(status, 0) << command;

    std::map<std::string, int> extracted;  // message text -> times seen
    for (const auto& entry : fs::recursive_directory_iterator(dir / "out")) {
        if (entry.is_regular_file() && entry.path().extension() == ".eml") ++extracted[ReadFile(entry.path())];
    }
    std::map<std::string, int> built;
    for (int i = 0; i < kCount; ++i) ++built[*NumberedEmail(i).text];
    EXPECT_EQ(extracted, built);
}

}  // namespace
