// The scan for message texts over deleted messages and damaged files: which texts it gives,
// byte for byte, and that none comes twice or comes again when the index reaches it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "dbx/dbx_scan.h"
#include "dbx_test_support.h"
#include "fixtures/temp_folder.h"

namespace {

using dbx_test::MemoryDbx;
using fixtures::DbxEmailSpec;
using fixtures::DbxFileBuilder;
using fixtures::DbxLayout;

// A message of several blocks, with a zero byte in its body: the scan never cuts at one.
std::string MessageText(int n, std::size_t body_size = 1300) {
    std::string text = "From: sender" + std::to_string(n) + "@example.org\r\nSubject: Message " + std::to_string(n) +
                       "\r\nDate: Mon, 7 Dec 2026 13:33:53 +0000\r\n\r\n";
    for (std::size_t i = 0; text.size() < body_size; ++i) text += static_cast<char>(i % 97 == 5 ? '\0' : 'a' + (i + n) % 26);
    return text;
}

DbxEmailSpec Email(int n, std::size_t body_size = 1300) {
    DbxEmailSpec email;
    email.subject = "Message " + std::to_string(n);
    email.text = MessageText(n, body_size);
    return email;
}

struct Found {
    std::vector<DbxFoundMessage> messages;
    DbxScanStats stats;
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& m : messages) texts.push_back(m.text);
        return texts;
    }
};

// What a scan gave, read to its end; scan may be a scan apart.
Found Collect(DbxScan* scan) {
    Found found;
    if (scan == nullptr) return found;
    found.stats = dbx_scan_stats(scan);
    DbxFoundMessage message;
    while (dbx_scan_next(scan, message)) found.messages.push_back(message);
    EXPECT_EQ(found.messages.size(), dbx_scan_count(scan));
    dbx_scan_free(scan);
    return found;
}

Found Scan(DbxReader* reader, bool with_fragments = false) { return Collect(dbx_scan(reader, with_fragments)); }

// The texts the index gives, in tree order.
std::vector<std::string> IndexTexts(const MemoryDbx& dbx) {
    std::vector<std::string> texts;
    for (int slot = dbx.reader()->item_count - 1; slot >= 0; --slot) {
        texts.push_back(dbx.Email(slot)->message_text.value_or("<none>"));
    }
    return texts;
}

std::vector<std::string> Texts(std::initializer_list<int> numbers) {
    std::vector<std::string> texts;
    for (int n : numbers) texts.push_back(MessageText(n));
    return texts;
}

// Index and scan together give every message once.
void ExpectEachOnce(const MemoryDbx& dbx, const Found& found, int count) {
    std::map<std::string, int> seen;
    for (const std::string& text : IndexTexts(dbx)) ++seen[text];
    for (const std::string& text : found.Texts()) ++seen[text];
    for (int n = 0; n < count; ++n) EXPECT_EQ(seen[MessageText(n)], 1) << "message " << n;
    EXPECT_EQ(seen.size(), std::size_t(count));
}

TEST(DbxScan, IntactFolderHasNothingMoreToGive) {
    DbxFileBuilder builder;
    for (int n = 0; n < 30; ++n) builder.AddEmail(Email(n));
    MemoryDbx dbx(builder.SetEntriesPerNode(3).Build());
    ASSERT_NE(dbx.reader(), nullptr);
    const Found found = Scan(dbx.reader());
    EXPECT_TRUE(found.messages.empty());
    EXPECT_EQ(found.stats.index_messages, 30u);
    EXPECT_EQ(found.stats.blocks, 30u * 3);  // 1300 bytes in 512-byte blocks
}

TEST(DbxScan, DeletedMessagesComeBackOnceInFileOrder) {
    DbxFileBuilder builder;
    builder.AddEmail(Email(0)).AddDeletedEmail(Email(1)).AddEmail(Email(2)).AddDeletedEmail(Email(3, 100));
    builder.AddDeletedEmail(Email(4, 512)).AddEmail(Email(5));
    MemoryDbx dbx(builder.Build());
    ASSERT_NE(dbx.reader(), nullptr);
    EXPECT_EQ(IndexTexts(dbx), Texts({0, 2, 5}));

    const Found found = Scan(dbx.reader());
    ASSERT_EQ(found.messages.size(), 3u);
    EXPECT_EQ(found.Texts(), std::vector<std::string>({MessageText(1), MessageText(3, 100), MessageText(4, 512)}));
    for (const auto& m : found.messages) {
        EXPECT_FALSE(m.partial);
        EXPECT_EQ(m.date, 134411240330000000ull);
    }
    EXPECT_EQ(found.messages[0].subject, "Message 1");
    EXPECT_LT(found.messages[0].head_offset, found.messages[1].head_offset);
    EXPECT_EQ(found.stats.partial, 0u);
}

std::size_t NodeSize(const fixtures::DbxNodeLayout& node) {
    return fixtures::kDbxNodeHeaderSize + fixtures::kDbxEntrySize * std::size_t(node.entry_count);
}

TEST(DbxScan, DamagedIndexLeavesTheRestToTheScan) {
    DbxLayout layout;
    DbxFileBuilder builder;
    for (int n = 0; n < 28; ++n) builder.AddEmail(Email(n));
    const std::string good = builder.SetEntriesPerNode(3).Build(layout);

    // The root overwritten: the tree reaches nothing, the scan gives all.
    std::string no_root = good;
    fixtures::OverwriteWithZeros(no_root, layout.root_offset, NodeSize(layout.nodes.back()));
    MemoryDbx rootless(no_root, DbxCountCheck::TreeIsTruth);
    ASSERT_NE(rootless.reader(), nullptr);
    EXPECT_EQ(rootless.reader()->item_count, 0);
    const Found all = Scan(rootless.reader());
    EXPECT_EQ(all.messages.size(), 28u);
    ExpectEachOnce(rootless, all, 28);

    // A node below the root overwritten: the scan gives just the messages it listed.
    std::string no_leaf = good;
    fixtures::OverwriteWithZeros(no_leaf, layout.nodes.front().offset, NodeSize(layout.nodes.front()));
    MemoryDbx leafless(no_leaf, DbxCountCheck::TreeIsTruth);
    ASSERT_NE(leafless.reader(), nullptr);
    const Found rest = Scan(leafless.reader());
    EXPECT_EQ(rest.messages.size(), std::size_t(layout.nodes.front().entry_count));
    ExpectEachOnce(leafless, rest, 28);

    // The file cut inside the index, which takes the root with it.
    std::string cut_index = good;
    fixtures::CutAt(cut_index, layout.nodes[layout.nodes.size() / 2].offset + 30);
    MemoryDbx cut(cut_index, DbxCountCheck::TreeIsTruth);
    ASSERT_NE(cut.reader(), nullptr);
    EXPECT_TRUE(cut.reader()->index_damaged);
    EXPECT_EQ(Scan(cut.reader()).Texts(), all.Texts());

    // A wrong header count with the tree intact: the index gives all, the scan nothing.
    std::string wrong_count = good;
    fixtures::PutLe32(wrong_count, fixtures::kDbxItemCountAt, 1000);
    MemoryDbx counted(wrong_count, DbxCountCheck::TreeIsTruth);
    ASSERT_NE(counted.reader(), nullptr);
    EXPECT_EQ(counted.reader()->header_item_count, 1000);
    EXPECT_TRUE(Scan(counted.reader()).messages.empty());
    ExpectEachOnce(counted, Found{}, 28);
}

TEST(DbxScan, ChainCutShortKeepsItsWholeBlocks) {
    DbxLayout layout;
    DbxFileBuilder builder;
    builder.AddEmail(Email(0)).AddEmail(Email(1));
    std::string bytes = builder.Build(layout);
    const std::vector<std::uint32_t>& blocks = layout.items[1].chain_blocks[0];
    ASSERT_EQ(blocks.size(), 3u);
    fixtures::CutAt(bytes, blocks[2] + 20);  // inside the last block's data

    MemoryDbx dbx(bytes, DbxCountCheck::TreeIsTruth);
    ASSERT_NE(dbx.reader(), nullptr);
    EXPECT_EQ(dbx.reader()->item_count, 0);
    const Found found = Scan(dbx.reader());
    ASSERT_EQ(found.messages.size(), 2u);
    EXPECT_EQ(found.messages[0].text, MessageText(0));
    EXPECT_FALSE(found.messages[0].partial);
    EXPECT_EQ(found.messages[1].text, MessageText(1).substr(0, 1024));
    EXPECT_TRUE(found.messages[1].partial);
    EXPECT_EQ(found.messages[1].subject, "Message 1");
    EXPECT_EQ(found.stats.partial, 1u);
}

// Deleted messages 0..3, three blocks each; the blocks' next offsets are bent afterwards.
struct BentChains {
    DbxLayout layout;
    std::string bytes;
    BentChains() {
        DbxFileBuilder builder;
        for (int n = 0; n < 4; ++n) builder.AddDeletedEmail(Email(n));
        bytes = builder.Build(layout);
    }
    std::uint32_t Block(int message, int b) const { return layout.items[std::size_t(message)].chain_blocks[0][std::size_t(b)]; }
    std::string Data(int message, int b) const { return MessageText(message).substr(std::size_t(b) * 512, 512); }
};

TEST(DbxScan, LoopsCrossingsAndSharedBlocksGiveEachBlockOnce) {
    BentChains chains;
    // 0 loops back to its own second block; 1 and 2 cross after their first blocks; 3's first
    // block leads into 0's second block, which 0 keeps, being right before it.
    fixtures::SetBlockNext(chains.bytes, chains.Block(0, 2), chains.Block(0, 1));
    fixtures::SetBlockNext(chains.bytes, chains.Block(1, 0), chains.Block(2, 1));
    fixtures::SetBlockNext(chains.bytes, chains.Block(2, 0), chains.Block(1, 1));
    fixtures::SetBlockNext(chains.bytes, chains.Block(3, 0), chains.Block(0, 1));

    MemoryDbx dbx(chains.bytes, DbxCountCheck::TreeIsTruth);
    ASSERT_NE(dbx.reader(), nullptr);
    const Found found = Scan(dbx.reader());
    ASSERT_EQ(found.messages.size(), 4u);
    EXPECT_EQ(found.messages[0].text, MessageText(0));
    EXPECT_TRUE(found.messages[0].partial);  // the loop is a break, though every block was read
    EXPECT_EQ(found.messages[1].text, chains.Data(1, 0) + chains.Data(2, 1) + chains.Data(2, 2));
    EXPECT_EQ(found.messages[2].text, chains.Data(2, 0) + chains.Data(1, 1) + chains.Data(1, 2));
    EXPECT_FALSE(found.messages[1].partial);
    EXPECT_FALSE(found.messages[2].partial);
    EXPECT_EQ(found.messages[3].text, chains.Data(3, 0));
    EXPECT_TRUE(found.messages[3].partial);
    // Message 3's other blocks have no chain leading to them and do not begin a message.
    EXPECT_EQ(found.stats.partial, 2u);
}

TEST(DbxScan, FragmentsAreTheTextsOfChainsWithoutAMessageStart) {
    BentChains chains;
    // Message 1's head leads elsewhere: its tail has no head; message 2's tail loops on itself.
    fixtures::SetBlockNext(chains.bytes, chains.Block(1, 0), 0);
    fixtures::SetBlockNext(chains.bytes, chains.Block(2, 2), chains.Block(2, 1));
    fixtures::SetBlockNext(chains.bytes, chains.Block(2, 0), 0);
    MemoryDbx dbx(chains.bytes, DbxCountCheck::TreeIsTruth);
    const Found messages = Scan(dbx.reader());
    EXPECT_EQ(messages.Texts(), std::vector<std::string>({MessageText(0), chains.Data(1, 0), chains.Data(2, 0), MessageText(3)}));
    EXPECT_EQ(messages.stats.fragments, 0u);

    const Found all = Scan(dbx.reader(), true);
    ASSERT_EQ(all.messages.size(), 6u);
    EXPECT_EQ(all.messages[2].text, chains.Data(1, 1) + chains.Data(1, 2));
    EXPECT_TRUE(all.messages[2].fragment);
    EXPECT_FALSE(all.messages[2].partial);
    EXPECT_FALSE(all.messages[2].subject.has_value());
    EXPECT_EQ(all.messages[4].text, chains.Data(2, 1) + chains.Data(2, 2));
    EXPECT_TRUE(all.messages[4].fragment);
    EXPECT_TRUE(all.messages[4].partial);
    EXPECT_EQ(all.stats.found, 4u);
    EXPECT_EQ(all.stats.fragments, 2u);
    for (int i : {0, 1, 3, 5}) EXPECT_FALSE(all.messages[std::size_t(i)].fragment) << i;
}

// Every block of a deleted message ends up in exactly one text, however the chains' next
// offsets are bent: to other blocks, back on themselves, to nothing, or out of the file.
TEST(DbxScan, ArbitrarilyBentChainsGiveEveryBlockExactlyOnce) {
    constexpr int kMessages = 12;
    // Each block carries a marker of its own, so where its data went can be counted.
    auto marker = [](int m, int b) { return "<m" + std::to_string(m) + "b" + std::to_string(b) + ">"; };
    DbxFileBuilder builder;
    int total_blocks = 0;
    std::vector<int> blocks_of(kMessages);
    for (int m = 0; m < kMessages; ++m) {
        blocks_of[std::size_t(m)] = 1 + m % 4;
        std::string text = "Subject: bent " + std::to_string(m) + "\r\n\r\n";
        for (int b = 0; b < blocks_of[std::size_t(m)]; ++b) {
            text += marker(m, b);
            text.resize(std::size_t(b + 1) * 512, static_cast<char>('a' + b));
        }
        total_blocks += blocks_of[std::size_t(m)];
        DbxEmailSpec email;
        email.text = text;
        builder.AddDeletedEmail(email);
    }
    DbxLayout layout;
    const std::string good = builder.Build(layout);
    std::vector<std::uint32_t> all_blocks;
    for (const auto& item : layout.items) all_blocks.insert(all_blocks.end(), item.chain_blocks[0].begin(), item.chain_blocks[0].end());

    std::uint32_t seed = 12345;
    auto random = [&seed](std::uint32_t bound) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % bound;
    };
    for (int round = 0; round < 200; ++round) {
        std::string bytes = good;
        for (int bend = 0; bend < 1 + round % 8; ++bend) {
            const std::uint32_t from = all_blocks[random(std::uint32_t(all_blocks.size()))];
            const std::uint32_t kind = random(10);
            const std::uint32_t to = kind == 0 ? 0 : kind == 1 ? 0x7FFFFFF0u : all_blocks[random(std::uint32_t(all_blocks.size()))];
            fixtures::SetBlockNext(bytes, from, to);
        }
        MemoryDbx dbx(bytes, DbxCountCheck::TreeIsTruth);
        ASSERT_NE(dbx.reader(), nullptr);
        const Found found = Scan(dbx.reader(), true);
        std::size_t length = 0;
        std::string all;
        for (const auto& m : found.messages) {
            length += m.text.size();
            all += m.text;
            EXPECT_EQ(m.text.size() % 512, 0u);
            EXPECT_EQ(m.fragment, m.text.rfind("Subject: ", 0) != 0) << round;
        }
        EXPECT_EQ(length, std::size_t(total_blocks) * 512) << "round " << round;
        for (int m = 0; m < kMessages; ++m) {
            for (int b = 0; b < blocks_of[std::size_t(m)]; ++b) {
                const std::size_t at = all.find(marker(m, b));
                ASSERT_NE(at, std::string::npos) << "round " << round << ": " << marker(m, b) << " lost";
                EXPECT_EQ(all.find(marker(m, b), at + 1), std::string::npos) << "round " << round << ": " << marker(m, b) << " twice";
            }
        }
    }
}

TEST(DbxScan, ChainThatLoopsToItsHeadStillComesBackOnce) {
    BentChains chains;
    fixtures::SetBlockNext(chains.bytes, chains.Block(2, 2), chains.Block(2, 0));
    MemoryDbx dbx(chains.bytes, DbxCountCheck::TreeIsTruth);
    const Found found = Scan(dbx.reader());
    ASSERT_EQ(found.messages.size(), 4u);
    EXPECT_EQ(found.Texts(), Texts({0, 1, 2, 3}));
    EXPECT_TRUE(found.messages[2].partial);
    EXPECT_EQ(found.stats.partial, 1u);
}

TEST(DbxScan, IndexWinsABlockAChainOfTheScanAlsoLeadsInto) {
    DbxLayout layout;
    DbxFileBuilder builder;
    builder.AddDeletedEmail(Email(0)).AddEmail(Email(1));
    std::string bytes = builder.Build(layout);
    // The deleted message's first block leads into the live one's second block, which stays
    // the live one's.
    fixtures::SetBlockNext(bytes, layout.items[0].chain_blocks[0][0], layout.items[1].chain_blocks[0][1]);
    MemoryDbx dbx(bytes);
    ASSERT_NE(dbx.reader(), nullptr);
    EXPECT_EQ(IndexTexts(dbx), Texts({1}));
    const Found found = Scan(dbx.reader());
    ASSERT_EQ(found.messages.size(), 1u);
    EXPECT_EQ(found.messages[0].text, MessageText(0).substr(0, 512));
    EXPECT_TRUE(found.messages[0].partial);

    // A live message whose own chain loops is the index's, partial or not: never found again.
    DbxLayout loop_layout;
    std::string looped = DbxFileBuilder().AddEmail(Email(2)).Build(loop_layout);
    fixtures::SetBlockNext(looped, loop_layout.items[0].chain_blocks[0][2], loop_layout.items[0].chain_blocks[0][0]);
    MemoryDbx live(looped);
    ASSERT_NE(live.reader(), nullptr);
    EXPECT_TRUE(Scan(live.reader()).messages.empty());
}

TEST(DbxScan, OnlyChainsThatBeginLikeAMessageCount) {
    DbxFileBuilder builder;
    DbxEmailSpec prose = Email(0);
    prose.text = std::string("no header here: just words\r\n") + std::string(900, 'x');
    DbxEmailSpec other_block_size = Email(1);
    other_block_size.block_size = 256;
    DbxEmailSpec empty = Email(2);
    empty.text = "";
    builder.AddDeletedEmail(prose).AddDeletedEmail(other_block_size).AddDeletedEmail(empty).AddDeletedEmail(Email(3));
    MemoryDbx dbx(builder.Build());
    ASSERT_NE(dbx.reader(), nullptr);
    EXPECT_EQ(Scan(dbx.reader()).Texts(), Texts({3}));
    // As fragments the prose comes too; the empty text has nothing to give, and blocks of
    // another size are not looked for.
    EXPECT_EQ(Scan(dbx.reader(), true).Texts(), std::vector<std::string>({*prose.text, MessageText(3)}));

    MemoryDbx list(DbxFileBuilder(DbxKind::List).AddListEntry({"Inbox", "Inbox.dbx", 1, 2}).Build());
    ASSERT_NE(list.reader(), nullptr);
    EXPECT_TRUE(Scan(list.reader()).messages.empty());
    MemoryDbx empty_folder(DbxFileBuilder().Build());
    EXPECT_TRUE(Scan(empty_folder.reader()).messages.empty());
    EXPECT_EQ(dbx_scan(nullptr), nullptr);
    EXPECT_EQ(dbx_errno, 1);
}

TEST(DbxScan, BlocksOnTheScansReadingSeamsAreSeenOnce) {
    // The scan reads the file in 64 KiB pieces: put a head exactly on a seam and others around it.
    for (std::size_t header : {std::size_t(0x10000), std::size_t(0x10000 - 4), std::size_t(0x10000 - 12),
                               std::size_t(0x20000 - 528)}) {
        DbxFileBuilder builder;
        builder.SetHeaderSize(header).AddDeletedEmail(Email(0)).AddDeletedEmail(Email(1));
        const std::string bytes = builder.Build();
        fixtures::TempFolder dir;
        fixtures::WriteFile(dir / "Inbox.dbx", bytes);
        DbxReader* on_disk = dbx_open_with((dir / "Inbox.dbx").c_str(), DbxCountCheck::TreeIsTruth);
        ASSERT_NE(on_disk, nullptr);
        const Found found = Scan(on_disk, true);
        dbx_close(on_disk);
        EXPECT_EQ(found.Texts(), Texts({0, 1})) << header;
        EXPECT_EQ(found.stats.blocks, 6u) << header;
        MemoryDbx in_memory(bytes, DbxCountCheck::TreeIsTruth);
        EXPECT_EQ(Scan(in_memory.reader(), true).Texts(), Texts({0, 1})) << header;
    }
}

TEST(DbxScan, FileOnDiskMemoryStreamAndScanApartAgree) {
    DbxFileBuilder builder;
    // Enough messages for the scan to cross many of its reading pieces.
    for (int n = 0; n < 400; ++n) {
        if (n % 3 == 0) {
            builder.AddDeletedEmail(Email(n, 200 + std::size_t(n) * 7));
        } else {
            builder.AddEmail(Email(n, 200 + std::size_t(n) * 7));
        }
    }
    // A few bytes past the last block: too few to start one, but part of the file all the same.
    const std::string bytes = builder.Build() + "tail";
    fixtures::TempFolder dir;
    fixtures::WriteFile(dir / "Inbox.dbx", bytes);
    DbxReader* on_disk = dbx_open_with((dir / "Inbox.dbx").c_str(), DbxCountCheck::TreeIsTruth);
    ASSERT_NE(on_disk, nullptr);
    const Found from_disk = Scan(on_disk);
    // A scan apart runs on a thread of its own while the reader fetches every slot, and finds the
    // same; a memory stream, one position for every reader, allows none.
    ASSERT_TRUE(dbx_scan_can_read_apart(on_disk));
    DbxScan* apart = nullptr;
    std::string seen;  // every byte the scan read, in the order it saw them
    std::thread scanning([&] { apart = dbx_scan_apart(on_disk, false, [&](const char* data, std::size_t size) { seen.append(data, size); }); });
    std::vector<std::string> fetched;
    for (int slot = on_disk->item_count - 1; slot >= 0; --slot) {
        DbxItem* item = dbx_get(on_disk, slot);
        if (auto* email = dynamic_cast<DbxEmail*>(item)) fetched.push_back(email->message_text.value_or(""));
        dbx_free(item);
    }
    scanning.join();
    EXPECT_FALSE(dbx_scan_cut_short(apart));
    EXPECT_TRUE(seen == bytes);
    EXPECT_EQ(Collect(apart).Texts(), from_disk.Texts());
    EXPECT_EQ(fetched.size(), 266u);
    dbx_close(on_disk);
    MemoryDbx in_memory(bytes, DbxCountCheck::TreeIsTruth);
#ifndef _WIN32  // Windows has no memory streams: the tests' bytes sit in a temporary file there
    EXPECT_FALSE(dbx_scan_can_read_apart(in_memory.reader()));
    EXPECT_EQ(dbx_scan_apart(in_memory.reader()), nullptr);
#endif
    const Found from_memory = Scan(in_memory.reader());
    EXPECT_EQ(from_disk.Texts(), from_memory.Texts());
    ASSERT_EQ(from_disk.messages.size(), 134u);
    for (std::size_t i = 0; i < from_disk.messages.size(); ++i) {
        EXPECT_EQ(from_disk.messages[i].text, MessageText(int(i) * 3, 200 + i * 21));
    }
}

TEST(DbxMessageHeaders, ValuesAreUnfoldedAndTheHeaderEndsAtTheBlankLine) {
    const std::string text =
        "Received: from x\r\n\tby y\r\nsubject:  Quarterly\r\n  report \r\nDATE: 2 Jan 1999 03:04:05 GMT\r\n"
        "\r\nSubject: not a header\r\n";
    EXPECT_EQ(dbx_header_value(text, "Subject"), "Quarterly  report");
    EXPECT_EQ(dbx_header_value(text, "Date"), "2 Jan 1999 03:04:05 GMT");
    EXPECT_EQ(dbx_header_value(text, "From"), std::nullopt);
    EXPECT_EQ(dbx_header_value("Subject: bare LF\nFrom: a\n", "From"), "a");
    EXPECT_EQ(dbx_header_value(std::string("Subject: a\0b\r\n", 14), "Subject"), std::string("a\0b", 3));
    EXPECT_EQ(dbx_header_value("\r\nSubject: after the blank line\r\n", "Subject"), std::nullopt);
}

TEST(DbxMessageHeaders, DatesInTheFormsMailUses) {
    const std::uint64_t jan2 = 125597198450000000ull;  // 1999-01-02 03:04:05 UTC
    constexpr std::uint64_t kHour = 36000000000ull;
    EXPECT_EQ(dbx_parse_date("Sat, 2 Jan 1999 03:04:05 +0000"), jan2);
    EXPECT_EQ(dbx_parse_date("2 Jan 1999 03:04:05 GMT"), jan2);
    EXPECT_EQ(dbx_parse_date("Sat, 02 jan 99 03:04:05 +0000 (UTC)"), jan2);
    EXPECT_EQ(dbx_parse_date("Sat, 2 Jan 1999 04:04:05 +0100"), jan2);
    EXPECT_EQ(dbx_parse_date("Fri, 1 Jan 1999 22:04:05 EST"), jan2);
    EXPECT_EQ(dbx_parse_date("Sat, 2 Jan 1999 03:04 -0130"), jan2 - 5 * 10000000ull + 3 * kHour / 2);
    EXPECT_EQ(dbx_parse_date("Mon, 7 Dec 2026 13:33:53 +0000"), 134411240330000000ull);
    for (const char* bad : {"", "yesterday", "Sat, 2 Foo 1999 03:04:05 +0000", "32 Jan 1999 03:04:05",
                            "2 Jan 1999 25:04:05", "2 Jan 1999 03:04:05 +01", "2 Jan 1999"}) {
        EXPECT_EQ(dbx_parse_date(bad), 0u) << bad;
    }
}

}  // namespace
