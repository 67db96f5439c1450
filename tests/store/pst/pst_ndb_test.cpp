#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "pst_test_util.h"
#include "store/pst/ndb/crc.h"
#include "store/pst/ndb/database.h"

using namespace pst;
using namespace pst::ndb;
using namespace pst_test;

namespace {

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t seed) {
    auto b = Pattern(n, seed);
    return std::vector<std::uint8_t>(b.begin(), b.end());
}

void CorruptByte(const std::filesystem::path& path, std::uint64_t offset) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(static_cast<std::streamoff>(offset));
    char c = 0;
    f.read(&c, 1);
    c = static_cast<char>(c ^ 0x5A);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(&c, 1);
}

}  // namespace

TEST(PstNdb, CrcAndSignatureMatchKnownValues) {
    // The standard CRC-32 check value differs only by the missing pre and post inversion.
    const std::string text = "123456789";
    std::vector<std::uint8_t> data(text.begin(), text.end());
    EXPECT_EQ(ComputeCrc(data, 0xFFFFFFFF) ^ 0xFFFFFFFF, 0xCBF43926u);
    EXPECT_EQ(ComputeCrc({}), 0u);
    EXPECT_EQ(ComputeSig(0x4200, 0x1DC), 0x43DC);
    EXPECT_EQ(ComputeSig(0x10000, 0x10000), 0);
}

TEST(PstNdb, CrcAndEncodingAgreeWithOneByteAtATimeForEveryLengthAndStart) {
    // The fast paths take eight bytes per step: every tail and every unaligned start must give
    // what the plain byte-wise definitions give.
    std::vector<std::uint8_t> data(40);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
    for (std::size_t start = 0; start < 9; ++start) {
        for (std::size_t n = 0; start + n <= data.size(); ++n) {
            const std::span<const std::uint8_t> piece(data.data() + start, n);
            std::uint32_t crc = 0x12345678;
            for (std::uint8_t b : piece) {
                crc ^= b;
                for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
            }
            EXPECT_EQ(ComputeCrc(piece, 0x12345678), crc) << start << "+" << n;
            std::vector<std::uint8_t> in_place(piece.begin(), piece.end()), into(n + 3, 0xAA);
            EncodeBlockData(CryptMethod::Permute, in_place);
            EncodeBlockDataInto(CryptMethod::Permute, piece, into);
            EXPECT_TRUE(std::equal(in_place.begin(), in_place.end(), into.begin())) << start << "+" << n;
            EXPECT_EQ(into[n], 0xAA);  // nothing written past the data
        }
    }
    std::vector<std::uint8_t> small(2);
    EXPECT_THROW(EncodeBlockDataInto(CryptMethod::None, data, small), PstError);
}

TEST(PstNdb, PermuteEncodingIsABijectionThatChangesData) {
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    auto enc = all;
    EncodeBlockData(CryptMethod::Permute, enc);
    EXPECT_NE(enc, all);
    auto sorted = enc;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, all);
    EXPECT_EQ(enc[0], 65);  // first entries of the published table
    EXPECT_EQ(enc[1], 54);
    DecodeBlockData(CryptMethod::Permute, enc);
    EXPECT_EQ(enc, all);
    auto none = all;
    EncodeBlockData(CryptMethod::None, none);
    EXPECT_EQ(none, all);
}

TEST(PstNdb, DataTreesOfEverySizeRoundTrip) {
    auto dir = ScratchDir("ndb-trees");
    for (auto method : {CryptMethod::None, CryptMethod::Permute}) {
        auto path = dir / (method == CryptMethod::None ? "none.pst" : "permute.pst");
        std::vector<std::pair<std::uint64_t, std::size_t>> written;
        // Empty, one full block, one byte past it (XBLOCK), and past an XBLOCK's reach (XXBLOCK).
        const std::vector<std::size_t> sizes = {0, 1, kMaxBlockData, kMaxBlockData + 1, 100000,
                                                kXBlockMaxEntries * kMaxBlockData + 5};
        {
            auto db = Database::Create(path.string(), method);
            for (std::size_t i = 0; i < sizes.size(); ++i) {
                auto data = Bytes(sizes[i], static_cast<std::uint8_t>(i));
                written.push_back({db->WriteDataTree(data), sizes[i]});
                db->SetNode({MakeNid(kNidTypeLtp, 0x400 + static_cast<std::uint32_t>(i)), written.back().first, 0, 0});
            }
            db->Flush();
        }
        auto db = Database::Open(path.string(), false);
        EXPECT_EQ(db->crypt_method(), method);
        for (std::size_t i = 0; i < written.size(); ++i) {
            EXPECT_EQ(db->ReadDataTree(written[i].first), Bytes(written[i].second, static_cast<std::uint8_t>(i))) << i;
            EXPECT_EQ(IsInternalBid(written[i].first), written[i].second > kMaxBlockData) << i;
        }
        EXPECT_EQ(db->DataTreeBlocks(written.back().first).size(), kXBlockMaxEntries + 1);
        auto report_db = Database::Open(path.string(), false);
        EXPECT_EQ(report_db->node_count(), sizes.size());
    }
}

TEST(PstNdb, SubnodeTreesSplitIntoIndexBlocks) {
    auto dir = ScratchDir("ndb-subnodes");
    auto path = dir / "sub.pst";
    std::uint64_t small = 0, big = 0;
    {
        auto db = Database::Create(path.string(), CryptMethod::Permute);
        std::vector<SubnodeInfo> few, many;
        for (std::uint32_t i = 0; i < 3; ++i) few.push_back({MakeNid(kNidTypeLtp, 0x400 + i), db->WriteDataTree(Bytes(10, 1)), 0});
        for (std::uint32_t i = 0; i < 1000; ++i)
            many.push_back({MakeNid(kNidTypeLtp, 0x400 + 999 - i), db->WriteDataTree(Bytes(i % 50, 2)), 0});
        small = db->WriteSubnodeTree(few);
        big = db->WriteSubnodeTree(many);
        db->SetNode({0x21, db->WriteDataTree(Bytes(5, 3)), small, 0});
        db->SetNode({0x41, db->WriteDataTree(Bytes(5, 3)), big, 0});
        db->Flush();
    }
    auto db = Database::Open(path.string(), false);
    EXPECT_EQ(db->ReadSubnodeTree(small).size(), 3u);
    auto entries = db->ReadSubnodeTree(big);
    ASSERT_EQ(entries.size(), 1000u);
    EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.nid < b.nid; }));
    EXPECT_EQ(db->ReadDataTree(entries[999].bid_data).size(), 0u);  // index 999 was written with i = 0
    EXPECT_EQ(db->ReadBlock(big).at(1), 1);                          // an SIBLOCK at the top
}

// Run with the default index memory and with one so small that the indexes spill to temporary
// runs, merge and carry replacements and removals of entries already spilled.
class PstNdbIndexMemory : public ::testing::TestWithParam<std::size_t> {
protected:
    void SetUp() override { Database::SetIndexMemoryLimitForTesting(GetParam()); }
    void TearDown() override { Database::SetIndexMemoryLimitForTesting(0); }
};

TEST_P(PstNdbIndexMemory, BTreesGrowLevelsAndKeepTheirOrderAcrossReopening) {
    auto dir = ScratchDir("ndb-btree-" + std::to_string(GetParam()));
    auto path = dir / "bt.pst";
    const std::uint32_t count = 5000;  // NBT leaves hold 15 entries: three levels
    auto node_nids = [](const Database& db) {
        std::vector<std::uint64_t> nids;
        db.ForEachNode([&](const NodeInfo& n) { nids.push_back(n.nid); });
        return nids;
    };
    {
        auto db = Database::Create(path.string(), CryptMethod::Permute);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t index = (i * 7919) % count;  // out of order on purpose
            db->SetNode({MakeNid(kNidTypeNormalMessage, 0x10000 + index), db->WriteDataTree(Bytes(4, 1)), 0, 0x8022});
        }
        // Every tenth node goes again, and its block with it.
        for (std::uint32_t index = 0; index < count; index += 10) {
            auto node = db->FindNode(MakeNid(kNidTypeNormalMessage, 0x10000 + index));
            ASSERT_TRUE(node) << index;
            db->FreeDataTree(node->bid_data);
            db->RemoveNode(node->nid);
        }
        EXPECT_EQ(db->node_count(), count - count / 10);
        db->Flush();
    }
    {
        auto db = Database::Open(path.string(), true);
        auto nids = node_nids(*db);
        ASSERT_EQ(nids.size(), count - count / 10);
        ASSERT_EQ(db->node_count(), nids.size());
        EXPECT_TRUE(std::is_sorted(nids.begin(), nids.end()));
        EXPECT_TRUE(std::adjacent_find(nids.begin(), nids.end()) == nids.end());
        EXPECT_GT(db->btree_pages().size(), count / 15);
        std::size_t blocks = 0;
        db->ForEachBlock([&](const BlockInfo&) { ++blocks; });
        EXPECT_EQ(blocks, db->block_count());
        EXPECT_EQ(blocks, nids.size());
        auto node = db->FindNode(MakeNid(kNidTypeNormalMessage, 0x10000 + 1234));
        ASSERT_TRUE(node);
        EXPECT_EQ(node->nid_parent, 0x8022u);
        EXPECT_FALSE(db->FindNode(MakeNid(kNidTypeNormalMessage, 0x10000 + 1230)));
        EXPECT_FALSE(db->FindNode(MakeNid(kNidTypeNormalMessage, 0x10000 + count)));
        // Replacing a node's data frees the old block.
        const std::size_t blocks_before = db->block_count();
        db->FreeDataTree(node->bid_data);
        node->bid_data = db->WriteDataTree(Bytes(9, 2));
        db->SetNode(*node);
        EXPECT_EQ(db->block_count(), blocks_before);
        db->Flush();
    }
    auto db = Database::Open(path.string(), false);
    EXPECT_EQ(db->ReadDataTree(db->FindNode(MakeNid(kNidTypeNormalMessage, 0x10000 + 1234))->bid_data), Bytes(9, 2));
    EXPECT_EQ(node_nids(*db).size(), count - count / 10);
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Memory, PstNdbIndexMemory, ::testing::Values(std::size_t{0}, std::size_t{48}));

TEST(PstNdb, DamageIsReportedNotTrusted) {
    auto dir = ScratchDir("ndb-damage");
    auto path = dir / "d.pst";
    std::uint64_t bid = 0;
    {
        auto db = Database::Create(path.string(), CryptMethod::Permute);
        bid = db->WriteDataTree(Bytes(300, 4));
        db->SetNode({0x21, bid, 0, 0});
        db->Flush();
    }
    std::uint64_t ib = 0;
    {
        auto db = Database::Open(path.string(), false);
        ib = db->FindBlock(bid)->ib;
    }
    auto copy = dir / "block.pst";
    std::filesystem::copy_file(path, copy);
    CorruptByte(copy, ib + 10);
    auto db = Database::Open(copy.string(), false);
    EXPECT_THROW(db->ReadBlock(bid), PstError);

    auto header = dir / "header.pst";
    std::filesystem::copy_file(path, header);
    CorruptByte(header, 0x40);
    EXPECT_THROW(Database::Open(header.string(), false), PstError);

    auto truncated = dir / "short.pst";
    std::filesystem::copy_file(path, truncated);
    std::filesystem::resize_file(truncated, 0x4000);
    EXPECT_THROW(Database::Open(truncated.string(), false), PstError);

    auto btree = dir / "btree.pst";
    std::filesystem::copy_file(path, btree);
    {
        auto good = Database::Open(path.string(), false);
        CorruptByte(btree, good->header().root.BREFNBT.ib + 3);
    }
    EXPECT_THROW(Database::Open(btree.string(), false), PstError);
}

TEST(PstNdb, RejectsAnsiStores) {
    auto sample = std::filesystem::path(OMBRIK_SAMPLES_DIR) / "pst" / "32-bit.pst";
    if (!std::filesystem::exists(sample)) GTEST_SKIP() << "samples absent";
    EXPECT_THROW(Database::Open(sample.string(), false), PstError);
}
