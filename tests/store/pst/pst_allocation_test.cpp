// Where new blocks and pages go: into the free runs of the file before its end, with the
// allocation bitmap partly kept outside memory.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "pst_test_util.h"
#include "store/pst/ndb/allocation_bits.h"
#include "store/pst/ndb/database.h"
#include "store/pst/ndb/free_space.h"

using namespace pst;
using namespace pst::ndb;
using namespace pst_test;
using Bytes = std::vector<std::uint8_t>;

TEST(PstFreeSpace, JoinsNeighboursTakesTheSmallestFitAndKeepsAlignment) {
    FreeSpace free;
    free.Add(1000 * 64, 64);
    free.Add(1001 * 64, 128);  // touches the run before: one run of 192 bytes
    free.Add(1003 * 64, 64);   // and now 256
    EXPECT_EQ(free.run_count(), 1u);
    free.Add(5000 * 64, 1024);
    free.Add(9000 * 64, 640);
    EXPECT_EQ(free.total(), 256u + 1024 + 640);
    // The smallest run that holds 576 bytes is the 640-byte one.
    EXPECT_EQ(free.Take(576, 64), std::optional<std::uint64_t>(9000 * 64));
    // 512 bytes on a 512-byte boundary: 5000 * 64 is one, the 256-byte run is too small.
    EXPECT_EQ(free.Take(512, 512), std::optional<std::uint64_t>(5000 * 64));
    EXPECT_EQ(free.total(), 256u + 512 + 64);
    EXPECT_FALSE(free.Take(1024, 64));
    // The 512 bytes left after the page taken at 5000 * 64 join a run freed just before them.
    free.Add(5000 * 64, 512);
    EXPECT_EQ(free.Take(1024, 64), std::optional<std::uint64_t>(5000 * 64));
    // A run that is large enough but cannot hold an aligned page is passed over.
    FreeSpace odd;
    odd.Add(513 * 64, 900);
    EXPECT_FALSE(odd.Take(512, 512));
    EXPECT_EQ(odd.Take(448, 64), std::optional<std::uint64_t>(513 * 64));
}

TEST(PstAllocationBits, AgreesWithPlainBitsWhenMostSectionsAreOutOfMemory) {
    constexpr std::uint64_t kSections = 40;
    AllocationBits bits(3);  // three sections in memory, the rest in the temporary file
    std::vector<bool> expected(kSections * AllocationBits::kSectionSlots, false);
    std::vector<std::uint8_t> first(AllocationBits::kSectionBytes, 0);
    first[0] = 0xF0;  // a section that comes with bits already set, as read from a file
    bits.AddSection(first.data());
    for (int i = 0; i < 4; ++i) expected[i] = true;
    for (std::uint64_t n = 1; n < kSections; ++n) bits.AddSection();
    std::mt19937 rng(7);
    for (int op = 0; op < 5000; ++op) {
        const std::uint64_t start = rng() % (expected.size() - 200);
        const std::uint64_t count = 1 + rng() % 150;
        const bool used = rng() % 3 != 0;
        bits.Mark(start, count, used);
        for (std::uint64_t s = start; s < start + count; ++s) expected[s] = used;
        const std::uint64_t probe = rng() % expected.size();
        ASSERT_EQ(bits.IsUsed(probe), expected[probe]) << "slot " << probe << " after op " << op;
    }
    std::vector<std::uint8_t> section(AllocationBits::kSectionBytes);
    for (std::uint64_t n = 0; n < kSections; ++n) {
        bits.CopySection(n, section.data());
        for (std::uint64_t s = 0; s < AllocationBits::kSectionSlots; ++s)
            ASSERT_EQ((section[s / 8] & (0x80 >> (s % 8))) != 0, expected[n * AllocationBits::kSectionSlots + s])
                << "section " << n << " slot " << s;
    }
    EXPECT_THROW(bits.Mark(kSections * AllocationBits::kSectionSlots - 1, 2, true), PstError);
    EXPECT_FALSE(bits.IsUsed(kSections * AllocationBits::kSectionSlots + 5));
}

// Blocks freed in one session are where the next session's blocks go; the file keeps its size.
TEST(PstNdb, FreedSpaceIsReusedBeforeTheFileGrows) {
    auto dir = ScratchDir("ndb-reuse");
    auto path = dir / "reuse.pst";
    const std::uint32_t count = 300;  // about 300 KB of blocks: two allocation map sections
    auto nid = [](std::uint32_t i) { return MakeNid(kNidTypeNormalMessage, 0x10000 + i); };
    {
        auto db = Database::Create(path.string(), CryptMethod::Permute);
        for (std::uint32_t i = 0; i < count; ++i)
            db->SetNode({nid(i), db->WriteDataTree(Bytes(1000, static_cast<std::uint8_t>(i))), 0, 0x8022});
        db->Flush();
    }
    {
        auto db = Database::Open(path.string(), true);
        for (std::uint32_t i = 0; i < count; i += 2) {
            db->FreeDataTree(db->FindNode(nid(i))->bid_data);
            db->RemoveNode(nid(i));
        }
        db->Flush();
    }
    const auto size = std::filesystem::file_size(path);
    {
        auto db = Database::Open(path.string(), true);
        EXPECT_GE(db->reusable_space(), (count / 2) * BlockSize(1000));
        for (std::uint32_t i = 0; i < count; i += 2)
            db->SetNode({nid(i), db->WriteDataTree(Bytes(900, static_cast<std::uint8_t>(i + 1))), 0, 0x8022});
        EXPECT_EQ(db->file_size(), size);
        db->Flush();
    }
    EXPECT_EQ(std::filesystem::file_size(path), size);
    auto db = Database::Open(path.string(), false);
    for (std::uint32_t i = 0; i < count; ++i) {
        auto node = db->FindNode(nid(i));
        ASSERT_TRUE(node) << i;
        const bool rewritten = i % 2 == 0;
        EXPECT_EQ(db->ReadDataTree(node->bid_data),
                  Bytes(rewritten ? 900 : 1000, static_cast<std::uint8_t>(rewritten ? i + 1 : i)))
            << i;
        EXPECT_TRUE(db->IsAllocated(db->FindBlock(node->bid_data)->ib));
    }
    std::filesystem::remove_all(dir);
}
