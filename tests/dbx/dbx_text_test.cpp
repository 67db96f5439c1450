// Message texts: chains of text blocks, and what happens when a chain is damaged.
#include <gtest/gtest.h>

#include <string>

#include "dbx_test_support.h"

namespace {

using dbx_test::MemoryDbx;
using fixtures::DbxFileBuilder;
using fixtures::DbxLayout;
using fixtures::PutLe16;
using fixtures::PutLe32;

fixtures::DbxEmailSpec EmailWithText(std::string text, std::size_t block_size) {
    fixtures::DbxEmailSpec spec;
    spec.subject = "with text";
    spec.text = std::move(text);
    spec.block_size = block_size;
    return spec;
}

// A text whose every block is different, so that a block out of order shows.
std::string CountingText(std::size_t size) {
    std::string text;
    for (std::size_t i = 0; text.size() < size; ++i) text += std::to_string(i) + ",";
    text.resize(size);
    return text;
}

// One email with the given text; damage() may change the bytes, using the chain's blocks.
struct ChainFile {
    std::string bytes;
    std::vector<std::uint32_t> blocks;
};

ChainFile BuildChain(const std::string& text, std::size_t block_size) {
    DbxLayout layout;
    ChainFile file;
    file.bytes = DbxFileBuilder().AddEmail(EmailWithText(text, block_size)).Build(layout);
    file.blocks = layout.items.at(0).chain_blocks.at(0);
    return file;
}

void SetNext(ChainFile& file, std::size_t block, std::uint32_t next) {
    PutLe32(file.bytes, file.blocks.at(block) + fixtures::kDbxBlockNextAt, next);
}
void SetLength(ChainFile& file, std::size_t block, std::uint16_t length) {
    PutLe16(file.bytes, file.blocks.at(block) + fixtures::kDbxBlockLengthAt, length);
}

struct ReadResult {
    std::int32_t length;
    int code;
    std::optional<std::string> text;
    std::optional<std::string> text_from_get;
    bool complete_from_get = false;
    bool complete = false;
};

ReadResult ReadTextOf(const std::string& bytes) {
    MemoryDbx dbx(bytes);
    EXPECT_NE(dbx.reader(), nullptr);
    if (dbx.reader() == nullptr) return {};
    auto email = dbx.Email(0);
    EXPECT_EQ(dbx_errno, 0);  // a damaged chain is not reported by the fetch
    ReadResult result;
    result.text_from_get = email->message_text;
    result.complete_from_get = email->text_complete;
    dbx_errno = 0;
    result.length = dbx_read_text(dbx.reader(), email.get());
    result.code = dbx_errno;
    result.text = email->message_text;
    result.complete = email->text_complete;
    return result;
}

TEST(DbxText, ChainsOfOneTwoAndManyBlocksJoinInOrder) {
    for (auto [size, block_size] : {std::pair<std::size_t, std::size_t>{5, 512}, {1024, 512}, {1000, 512},
                                    {10000, 16}, {300, 1}, {250000, 512}, {70000, 0x7FFF}}) {
        const std::string text = CountingText(size);
        const ChainFile file = BuildChain(text, block_size);
        ASSERT_EQ(file.blocks.size(), (size + block_size - 1) / block_size);
        const ReadResult result = ReadTextOf(file.bytes);
        EXPECT_EQ(result.length, static_cast<std::int32_t>(size)) << size << "/" << block_size;
        EXPECT_EQ(result.code, 0);
        EXPECT_EQ(result.text, text) << size << "/" << block_size;
        EXPECT_EQ(result.text_from_get, text);
        EXPECT_TRUE(result.complete_from_get);
        EXPECT_TRUE(result.complete);
    }
}

TEST(DbxText, EmptyBlockGivesAnEmptyText) {
    const ReadResult result = ReadTextOf(BuildChain("", 512).bytes);
    EXPECT_EQ(result.length, 0);
    EXPECT_EQ(result.text, "");
    EXPECT_TRUE(result.complete);
}

TEST(DbxText, OffsetZeroMeansNoText) {
    fixtures::DbxRawRecord record;
    record.properties = {{0x84, 0}};
    MemoryDbx dbx(DbxFileBuilder().AddRawRecord(record).Build());
    auto email = dbx.Email(0);
    EXPECT_EQ(email->text_offset, 0);
    EXPECT_FALSE(email->message_text.has_value());
    EXPECT_TRUE(email->text_complete);  // nothing stored, nothing lost
    email->message_text = "stale";
    dbx_errno = 0;
    EXPECT_EQ(dbx_read_text(dbx.reader(), email.get()), 0);
    EXPECT_EQ(dbx_errno, 0);
    EXPECT_FALSE(email->message_text.has_value());
}

TEST(DbxText, ReadingAgainReplacesTheText) {
    MemoryDbx dbx(BuildChain("the stored text", 4).bytes);
    auto email = dbx.Email(0);
    email->message_text = "something else entirely";
    EXPECT_EQ(dbx_read_text(dbx.reader(), email.get()), 15);
    EXPECT_EQ(email->message_text, "the stored text");
}

TEST(DbxText, MissingTextOffsetFailsWithCodeSeven) {
    MemoryDbx dbx(DbxFileBuilder().AddEmail({}).Build());
    auto email = dbx.Email(0);
    EXPECT_FALSE(email->text_complete);
    email->message_text = "stale";
    EXPECT_EQ(dbx_read_text(dbx.reader(), email.get()), -1);
    EXPECT_EQ(dbx_errno, 7);
    EXPECT_FALSE(email->message_text.has_value());
    EXPECT_FALSE(email->text_complete);
    EXPECT_EQ(dbx_read_text(dbx.reader(), nullptr), -1);
}

// A chain that breaks off keeps the blocks read completely before the break.
TEST(DbxText, BrokenChainKeepsTheBlocksBeforeTheBreak) {
    const std::string text = CountingText(40);  // blocks of 10: four of them
    struct Case {
        const char* name;
        void (*damage)(ChainFile&);
        std::optional<std::string> kept;
    };
    const std::vector<Case> cases = {
        {"next block beyond the file", [](ChainFile& f) { SetNext(f, 1, 0xFFFFFF00u); }, text.substr(0, 20)},
        {"next block in the last bytes of the file",
         [](ChainFile& f) { SetNext(f, 1, static_cast<std::uint32_t>(f.bytes.size() - 8)); }, text.substr(0, 20)},
        {"negative length", [](ChainFile& f) { SetLength(f, 2, 0x8000); }, text.substr(0, 20)},
        {"length -1", [](ChainFile& f) { SetLength(f, 0, 0xFFFF); }, std::nullopt},
        {"data beyond the end of the file", [](ChainFile& f) { SetLength(f, 3, 0x7FFF); }, text.substr(0, 30)},
        {"text offset beyond the file",
         [](ChainFile& f) {
             // The record's direct text offset entry is the second entry of its body.
             const std::uint32_t record = f.blocks.back() + fixtures::kDbxBlockHeaderSize + 10;
             PutLe32(f.bytes, record + fixtures::kDbxRecordHeaderSize + 4,
                     0x84 | (static_cast<std::uint32_t>(f.bytes.size() + 100) << 8));
         },
         std::nullopt},
    };
    for (const Case& c : cases) {
        ChainFile file = BuildChain(text, 10);
        ASSERT_EQ(file.blocks.size(), 4u);
        c.damage(file);
        const ReadResult result = ReadTextOf(file.bytes);
        EXPECT_EQ(result.length, -1) << c.name;
        EXPECT_EQ(result.code, 7) << c.name;
        EXPECT_EQ(result.text, c.kept) << c.name;
        EXPECT_EQ(result.text_from_get, c.kept) << c.name;
        EXPECT_FALSE(result.complete_from_get) << c.name;
        EXPECT_FALSE(result.complete) << c.name;
    }
}

TEST(DbxText, ChainThatLoopsFailsAndKeepsEachBlockOnce) {
    const std::string text = CountingText(1000);  // 100 blocks of 10
    for (auto [from, to] : {std::pair<std::size_t, std::size_t>{0, 0}, {99, 0}, {99, 50}, {99, 98}, {10, 3}}) {
        ChainFile file = BuildChain(text, 10);
        SetNext(file, from, file.blocks.at(to));
        const ReadResult result = ReadTextOf(file.bytes);
        EXPECT_EQ(result.length, -1) << from << "->" << to;
        EXPECT_EQ(result.code, 7);
        EXPECT_FALSE(result.complete);
        // The kept text is every block up to the one that leads back, each once.
        EXPECT_EQ(result.text, text.substr(0, (from + 1) * 10)) << from << "->" << to;
        EXPECT_EQ(result.text_from_get, result.text) << from << "->" << to;
    }
    // A loop of empty blocks adds no text at all, and still ends.
    ChainFile empty_loop = BuildChain(text, 10);
    for (std::size_t b = 0; b < 100; ++b) SetLength(empty_loop, b, 0);
    SetNext(empty_loop, 99, empty_loop.blocks[0]);
    const ReadResult result = ReadTextOf(empty_loop.bytes);
    EXPECT_EQ(result.length, -1);
    EXPECT_EQ(result.code, 7);
}

}  // namespace

// With claims, a block belongs to the first record whose chain reaches it: a second record that
// shares the chain, or joins it part way, gets only its own blocks and counts as broken off.
TEST(DbxText, ClaimedBlocksAreReadForTheirFirstRecordOnly) {
    DbxLayout layout;
    std::string bytes = DbxFileBuilder()
                            .AddEmail(EmailWithText(CountingText(100), 10))
                            .AddEmail(EmailWithText("own part", 10))
                            .AddEmail(EmailWithText("x", 10))
                            .Build(layout);
    const auto& shared = layout.items.at(0).chain_blocks.at(0);
    // The second record's last block leads into the shared chain part way; the third record's
    // record points at the first block of the shared chain itself.
    fixtures::SetBlockNext(bytes, layout.items.at(1).chain_blocks.at(0).back(), shared.at(5));
    // Entry 1 of a built record is the direct text offset (tag 0x84 and 24 bits).
    fixtures::PutLe32(bytes, layout.items.at(2).record_offset + fixtures::kDbxRecordHeaderSize + 4,
                      0x84u | (shared.at(0) << 8));
    DbxOpenOptions options;
    options.claim_text_blocks = true;
    MemoryDbx dbx(bytes, options);
    ASSERT_NE(dbx.reader(), nullptr);
    auto first = dbx.Email(2);
    EXPECT_EQ(first->message_text, CountingText(100));
    EXPECT_TRUE(first->text_complete);
    auto joins = dbx.Email(1);
    EXPECT_EQ(joins->message_text, "own part");
    EXPECT_FALSE(joins->text_complete);
    auto shares = dbx.Email(0);
    EXPECT_FALSE(shares->message_text.has_value());
    EXPECT_FALSE(shares->text_complete);
    // Read again, a record's own chain is its own.
    EXPECT_EQ(dbx_read_text(dbx.reader(), first.get()), 100);
}
