#include "export/eml_export.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "export/export_test_support.h"

using fixtures::ReadFile;
using testsupport::Email;
using testsupport::ExportHarness;

namespace {
std::vector<std::string> FilesIn(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
}  // namespace

TEST(EmlExport, WritesOneFilePerEmailInSlotOrder) {
    ExportHarness h;
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("Hi", "first\r\n")).AddEmail(Email("Hi", "second\r\n")).AddEmail(Email("Hi", "third\r\n"));
    const std::string dbx = h.WriteDbx("Inbox.dbx", builder);
    const std::string destination = h.Destination();

    ExportFolderToEml(h.context, dbx, destination, "Inbox");

    const std::string folder = destination + "/Inbox";
    EXPECT_EQ(h.window.status, (std::vector<std::string>{fixtures::NativePath(folder + "/Hi2.eml"),
                                                          fixtures::NativePath(folder + "/Hi1.eml"),
                                                          fixtures::NativePath(folder + "/Hi0.eml")}));
    EXPECT_EQ(h.window.progress, (std::vector<int>{1, 2, 3, 0}));
    EXPECT_EQ(ReadFile(folder + "/Hi2.eml"), "first\r\n");
    EXPECT_EQ(ReadFile(folder + "/Hi0.eml"), "third\r\n");
    EXPECT_TRUE(h.window.messages.empty());
    EXPECT_EQ(h.tally.messages(), 3u);
    EXPECT_EQ(h.tally.failures(), 0u);
}

TEST(EmlExport, KeepsLargeMultiBlockMessagesByteForByte) {
    ExportHarness h;
    std::string text;
    for (int i = 0; text.size() < 3'000'000; ++i) text += "Line " + std::to_string(i) + "\r\n\tfolded \xE9\xFF\n";
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("big", text));
    ExportFolderToEml(h.context, h.WriteDbx("Big.dbx", builder), h.Destination(), "Big");
    EXPECT_EQ(ReadFile(h.Destination() + "/Big/big0.eml"), text);
}

TEST(EmlExport, ProgressWrapsAfter98) {
    ExportHarness h;
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 150; ++i) builder.AddEmail(Email("m", "x"));
    ExportFolderToEml(h.context, h.WriteDbx("Many.dbx", builder), h.Destination(), "Many");
    std::vector<int> expected;
    for (int p = 1; p <= 98; ++p) expected.push_back(p);
    for (int p = 1; p <= 52; ++p) expected.push_back(p);
    expected.push_back(0);
    EXPECT_EQ(h.window.progress, expected);
    EXPECT_EQ(FilesIn(h.Destination() + "/Many").size(), 150u);
}

TEST(EmlExport, FolderListsAndEmptyFoldersWriteNothing) {
    ExportHarness h;
    fixtures::DbxFileBuilder list(DbxKind::List);
    list.AddListEntry({std::string("Inbox"), std::string("a"), 1, 2}).AddListEntry({std::string("Sent"), {}, 3, 4});
    ExportFolderToEml(h.context, h.WriteDbx("Folders.dbx", list), h.Destination(), "Folders");
    // The folder list holds no mail: passed over with a note, without even an empty folder.
    EXPECT_FALSE(std::filesystem::exists(h.Destination() + "/Folders"));
    EXPECT_TRUE(h.window.progress.empty());
    EXPECT_EQ(h.tally.failures(), 0u);
    ASSERT_EQ(h.tally.note_lines().size(), 1u);
    EXPECT_NE(h.tally.note_lines()[0].find("folder list"), std::string::npos) << h.tally.note_lines()[0];

    ExportHarness empty;
    ExportFolderToEml(empty.context, empty.WriteDbx("Empty.dbx", fixtures::DbxFileBuilder()), empty.Destination(), "Empty");
    EXPECT_TRUE(std::filesystem::is_directory(empty.Destination() + "/Empty"));
    EXPECT_EQ(empty.window.progress, (std::vector<int>{0}));
    EXPECT_EQ(empty.tally.failures(), 0u);
}

TEST(EmlExport, UnreadableFolderFileShowsTheMessageAndIsCounted) {
    ExportHarness h;
    fixtures::WriteFile(h.dir / "Bad.dbx", "not a folder file at all");
    ExportFolderToEml(h.context, h.dir / "Bad.dbx", h.Destination(), "Bad");
    ExportFolderToEml(h.context, h.dir / "Missing.dbx", h.Destination(), "Missing");
    ASSERT_EQ(h.window.messages.size(), 2u);
    EXPECT_EQ(h.window.messages[0].text.substr(0, h.window.messages[0].text.find('\n')), "Unable to open DBX File");
    EXPECT_EQ(h.window.messages[0].title, "Corvanti Ombrik   ");
    EXPECT_EQ(h.window.messages[0].style, 0x1020u);
    EXPECT_FALSE(std::filesystem::exists(h.Destination() + "/Bad"));
    EXPECT_FALSE(std::filesystem::exists(h.Destination() + "/Missing"));
    EXPECT_EQ(h.tally.failures(), 2u);
}

TEST(EmlExport, DamagedItemsStillGiveTheirFileButCountAsFailures) {
    ExportHarness h;
    fixtures::DbxEmailSpec no_text = Email("empty", "");
    no_text.text.reset();
    fixtures::DbxEmailSpec no_subject = Email("", "body");
    no_subject.subject.reset();
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(no_text).AddEmail(no_subject);
    ExportFolderToEml(h.context, h.WriteDbx("D.dbx", builder), h.Destination(), "D");
    EXPECT_EQ(ReadFile(h.Destination() + "/D/empty1.eml"), "");
    EXPECT_EQ(ReadFile(h.Destination() + "/D/0.eml"), "body");
    EXPECT_EQ(h.tally.messages(), 1u);
    EXPECT_EQ(h.tally.failures(), 1u);
}

TEST(EmlExport, ABrokenTextChainKeepsWhatWasReadAndCountsAFailure) {
    ExportHarness h;
    fixtures::DbxEmailSpec spec = Email("broken", std::string(2000, 'a'));
    spec.block_size = 500;
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(spec).AddEmail(Email("fine", "ok"));
    fixtures::DbxLayout layout;
    std::string bytes = builder.Build(layout);
    // The second block of the first message points far past the end of the file.
    const std::uint32_t second_block = layout.items[0].chain_blocks.at(0).at(1);
    fixtures::PutLe32(bytes, second_block + fixtures::kDbxBlockNextAt, 0x7FFFFFF0);
    fixtures::WriteFile(h.dir / "B.dbx", bytes);
    ExportFolderToEml(h.context, h.dir / "B.dbx", h.Destination(), "B");
    EXPECT_EQ(ReadFile(h.Destination() + "/B/broken1.eml"), std::string(1000, 'a'));
    EXPECT_EQ(ReadFile(h.Destination() + "/B/fine0.eml"), "ok");
    EXPECT_EQ(h.tally.messages(), 1u);
    EXPECT_EQ(h.tally.failures(), 1u);
}

TEST(EmlExport, FilesThatCannotBeWrittenAreCounted) {
    ExportHarness h;
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("a", "x")).AddEmail(Email("b", "y"));
    // The destination does not exist: no folder, no file, but every failure is told.
    ExportFolderToEml(h.context, h.WriteDbx("In.dbx", builder), h.dir / "missing", "In");
    EXPECT_EQ(h.tally.messages(), 0u);
    EXPECT_EQ(h.tally.failures(), 3u);  // the folder and both messages
    EXPECT_NE(h.tally.Summary().find(fixtures::NativePath("missing/In")), std::string::npos);
}

TEST(EmlExport, SecondExportOfOtherContentKeepsTheFirst) {
    ExportHarness h;
    fixtures::DbxFileBuilder first;
    first.AddEmail(Email("same", "old text that is longer"));
    ExportFolderToEml(h.context, h.WriteDbx("In.dbx", first), h.Destination(), "In");
    fixtures::DbxFileBuilder second;
    second.AddEmail(Email("same", "new"));
    ExportFolderToEml(h.context, h.WriteDbx("In.dbx", second), h.Destination(), "In");
    EXPECT_EQ(ReadFile(h.Destination() + "/In/same0.eml"), "old text that is longer");
    EXPECT_EQ(ReadFile(h.Destination() + "/In/same0 (2).eml"), "new");
}

TEST(EmlExport, StopsAtAMessageBoundaryWhenAsked) {
    ExportHarness h;
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 10; ++i) builder.AddEmail(Email("m", std::string(5000, 'a' + i)));
    h.window.stop_after_status = 3;
    ExportFolderToEml(h.context, h.WriteDbx("S.dbx", builder), h.Destination(), "S");
    const auto files = FilesIn(h.Destination() + "/S");
    ASSERT_EQ(files.size(), 3u);
    for (const auto& name : files) EXPECT_EQ(ReadFile(h.Destination() + "/S/" + name).size(), 5000u);
}

TEST(EmlExport, ConvertsTheRealSampleInbox) {
    const std::string sample = std::string(OMBRIK_SAMPLES_DIR) + "/dbx/Inbox.dbx";
    if (!std::filesystem::exists(sample)) GTEST_SKIP() << "samples not available";
    ExportHarness h;
    ExportFolderToEml(h.context, sample, h.Destination(), "Inbox");
    const auto files = FilesIn(h.Destination() + "/Inbox");
    ASSERT_EQ(files, (std::vector<std::string>{"Welcome to Outlook Express 60.eml"}));
    const std::string text = ReadFile(h.Destination() + "/Inbox/" + files[0]);
    EXPECT_EQ(text.rfind("From: \"Microsoft Outlook Express Team\"", 0), 0u);
    EXPECT_NE(text.find("\r\nSubject: Welcome to Outlook Express 6\r\n"), std::string::npos);
}
