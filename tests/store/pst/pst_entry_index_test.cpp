#include <gtest/gtest.h>

#include <map>
#include <random>

#include "store/pst/ndb/database.h"

using namespace pst::ndb;

namespace {

// Runs a random mix of additions, replacements and removals against the index and a plain map
// side by side, checking lookups all along and the whole order now and then.
void CompareWithMap(std::size_t memory_limit, std::uint32_t seed, int operations) {
    EntryIndex<BlockInfo> index(memory_limit);
    std::map<std::uint64_t, BlockInfo> expected;
    std::mt19937 rng(seed);
    auto check_all = [&] {
        std::vector<BlockInfo> seen;
        index.ForEach([&](const BlockInfo& b) { seen.push_back(b); });
        ASSERT_EQ(seen.size(), expected.size());
        ASSERT_EQ(index.size(), expected.size());
        auto it = expected.begin();
        for (const auto& b : seen) {
            ASSERT_EQ(b.bid, it->first);
            ASSERT_EQ(b.ib, it->second.ib);
            ++it;
        }
    };
    std::uint64_t next_key = 4;
    for (int op = 0; op < operations; ++op) {
        const int kind = static_cast<int>(rng() % 10);
        std::uint64_t key;
        if (kind < 5) {
            key = next_key += 4;  // mostly appended, as new blocks are
        } else {
            key = 4 + 4 * (rng() % (next_key / 4));  // anywhere, present or not
        }
        if (kind < 8) {
            BlockInfo b{key, static_cast<std::uint64_t>(op), 64, 2};
            index.Put(b);
            expected[key] = b;
        } else {
            EXPECT_EQ(index.Remove(key), expected.erase(key) == 1) << "remove " << key;
        }
        const std::uint64_t probe = 4 + 4 * (rng() % (next_key / 4 + 2));
        auto found = index.Find(probe);
        auto want = expected.find(probe);
        ASSERT_EQ(found.has_value(), want != expected.end()) << "probe " << probe << " after op " << op;
        if (found) {
            ASSERT_EQ(found->ib, want->second.ib);
        }
        if (op % 997 == 0) check_all();
    }
    check_all();
}

}  // namespace

TEST(PstEntryIndex, AgreesWithAMapWhetherInMemoryOrSpilled) {
    CompareWithMap(1 << 20, 1, 20000);  // never spills
    CompareWithMap(64, 2, 20000);       // many runs, merged again and again
    CompareWithMap(3, 3, 3000);         // a run for every few changes
}

TEST(PstEntryIndex, KeepsFewRunsAndLittleInMemoryForALongAppend) {
    EntryIndex<NodeInfo> index(1000);
    for (std::uint64_t i = 1; i <= 200000; ++i) index.Put({i * 32 + 4, i, 0, 0});
    EXPECT_EQ(index.size(), 200000u);
    EXPECT_LE(index.run_count(), 10u);  // runs of falling sizes: about log2(200)
    ASSERT_TRUE(index.Find(32 * 123456 + 4));
    EXPECT_EQ(index.Find(32 * 123456 + 4)->bid_data, 123456u);
    EXPECT_FALSE(index.Find(32 * 123456 + 5));
    std::uint64_t previous = 0, count = 0;
    index.ForEach([&](const NodeInfo& n) {
        EXPECT_GT(n.nid, previous);
        previous = n.nid;
        ++count;
    });
    EXPECT_EQ(count, 200000u);
}
