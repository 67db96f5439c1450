#include <gtest/gtest.h>

#include "pst_test_util.h"
#include "store/pst/ltp/context.h"
#include "store/pst/ltp/value_codec.h"

using namespace pst;
using namespace pst::ltp;
using namespace pst_test;

namespace {

Bytes B(std::size_t n, std::uint8_t seed) {
    auto p = Pattern(n, seed);
    return Bytes(p.begin(), p.end());
}

NidSource Counter(std::uint32_t& c) {
    return [&c] { return ndb::MakeNid(ndb::kNidTypeLtp, c++); };
}

// Writes a built node into a fresh database and reads it back through a NodeReader.
struct Roundtrip {
    std::unique_ptr<ndb::Database> db;
    std::unique_ptr<NodeReader> reader;
    Roundtrip(const std::string& name, const BuiltNode& built) {
        auto path = ScratchDir(name) / "t.pst";
        db = ndb::Database::Create(path.string(), ndb::CryptMethod::Permute);
        std::vector<ndb::SubnodeInfo> subs;
        for (const auto& [nid, blocks] : built.subnodes) subs.push_back({nid, db->WriteDataTreeBlocks(blocks), 0});
        const auto data = db->WriteDataTreeBlocks(built.blocks);
        const auto sub = db->WriteSubnodeTree(subs);
        reader = std::make_unique<NodeReader>(*db, data, sub);
    }
};

}  // namespace

TEST(PstLtp, TextBecomesUtf16AtEveryPlaceOfItsNonAsciiCharacters) {
    // ASCII goes four bytes per step: a character of two to four bytes at any offset, or an
    // ASCII tail of any length, must still give the right units.
    for (const std::string& wide : {std::string("\xC3\xA9"), std::string("\xE2\x82\xAC"), std::string("\xF0\x9F\x98\x80")}) {
        for (std::size_t before = 0; before < 9; ++before) {
            const std::string text = std::string(before, 'a') + wide + std::string(9 - before, 'b');
            const Bytes units = Utf8ToUtf16(text);
            const std::size_t wide_units = wide.size() == 4 ? 2 : 1;  // a surrogate pair or one unit
            EXPECT_EQ(units.size(), 2 * (9 + wide_units)) << before;
            EXPECT_EQ(Utf16ToUtf8(units), text) << before;
        }
    }
    for (std::size_t n = 0; n < 10; ++n) {
        const std::string ascii(n, 'q');
        const Bytes units = Utf8ToUtf16(ascii);
        ASSERT_EQ(units.size(), 2 * n);
        for (std::size_t i = 0; i < n; ++i) EXPECT_TRUE(units[2 * i] == 'q' && units[2 * i + 1] == 0);
    }
}

TEST(PstLtp, HeapSpansManyBlocksWithBitmapHeaders) {
    HeapWriter heap(kClientSigPc);
    std::vector<std::pair<std::uint32_t, Bytes>> allocs;
    for (std::size_t i = 0; i < 700; ++i) allocs.push_back({heap.Allocate(B(1 + (i * 37) % 3000, static_cast<std::uint8_t>(i))), B(1 + (i * 37) % 3000, static_cast<std::uint8_t>(i))});
    heap.SetUserRoot(allocs[5].first);
    auto blocks = heap.Finish();
    ASSERT_GT(blocks.size(), 130u);  // past block 128 + 8: two bitmap headers
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i) EXPECT_EQ(blocks[i].size(), ndb::kMaxBlockData) << i;
    HeapReader reader(blocks);
    EXPECT_EQ(reader.client_sig(), kClientSigPc);
    EXPECT_EQ(reader.user_root(), allocs[5].first);
    for (const auto& [hid, bytes] : allocs) {
        auto got = reader.Get(hid);
        EXPECT_EQ(Bytes(got.begin(), got.end()), bytes);
    }
    EXPECT_THROW(reader.Get(0x7FFFFFE0), PstError);
    EXPECT_THROW(HeapWriter(kClientSigPc).Allocate(B(kMaxHeapAlloc + 1, 0)), PstError);
}

// A heap written block by block as it grows (first block and bitmap blocks last, with the fill
// levels of the blocks after them) holds the same bytes as one built whole, past two bitmap blocks.
TEST(PstLtp, HeapWrittenAsItGrowsEqualsHeapBuiltWhole) {
    auto path = ScratchDir("heapsink") / "t.pst";
    auto db = ndb::Database::Create(path.string(), ndb::CryptMethod::Permute);
    HeapWriter whole(kClientSigTc);
    HeapWriter spilled(kClientSigTc, db.get());
    std::uint32_t last = 0;
    for (std::size_t i = 0; i < 6000; ++i) {
        const Bytes value = B(100 + (i * 37) % 900, static_cast<std::uint8_t>(i));
        last = whole.Allocate(value);
        ASSERT_EQ(spilled.Allocate(value), last);
    }
    ASSERT_GT(last >> 16, 136u + 128u);  // the second bitmap block is complete too
    whole.SetUserRoot(last);
    spilled.SetUserRoot(last);
    const auto want = whole.Finish();
    const auto got = db->ReadDataTreeBlocks(spilled.FinishInto());
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) EXPECT_TRUE(got[i] == want[i]) << "block " << i;
}

TEST(PstLtp, BthWithIndexLevelsKeepsEveryRecord) {
    HeapWriter heap(kClientSigBth);
    std::vector<BthRecord> records;
    for (std::uint32_t i = 0; i < 2000; ++i) {  // 447 records per leaf: an index level
        BthRecord r;
        AppendLe(r.key, (i * 7) % 2000 + 10, 4);
        AppendLe(r.data, i, 4);
        records.push_back(r);
    }
    auto root = WriteBth(heap, 4, 4, records);
    heap.SetUserRoot(root);
    HeapReader reader(heap.Finish());
    auto back = ReadBth(reader, root);
    ASSERT_EQ(back.size(), records.size());
    for (std::size_t i = 1; i < back.size(); ++i) EXPECT_LT(LoadLe(back[i - 1].key), LoadLe(back[i].key));
}

TEST(PstLtp, PropertyContextKeepsSmallFixedAndLargeValues) {
    PropMap props;
    props[0x0E070003] = {1, 0, 0, 0};
    props[0x0002000B] = {1};
    props[0x00360002] = {2, 0};
    props[0x0E060040] = B(8, 1);
    props[0x0037001F] = Utf8ToUtf16("Subject");
    props[0x1000001F] = Utf8ToUtf16(std::string(20000, 'x'));  // a subnode
    props[0x37010102] = B(3580, 2);                              // the largest heap value
    props[0x37020102] = {};                                      // an empty value
    std::uint32_t c = 0x400;
    auto built = BuildPropertyContext(props, Counter(c));
    EXPECT_EQ(built.subnodes.size(), 1u);
    Roundtrip rt("ltp-pc", built);
    EXPECT_EQ(ReadPropertyContext(*rt.reader), props);
}

TEST(PstLtp, TableContextWithRowsInASubnode) {
    std::vector<PropTag> cols = {0x0037001F, 0x0E080003, 0x0E060040, 0x0057000B, 0x10130102};
    std::vector<TableRow> rows;
    for (std::uint32_t i = 0; i < 1500; ++i) {
        TableRow r;
        r.row_id = 0x200004 + i * 32;
        r.values[0x0037001F] = Utf8ToUtf16("Row " + std::to_string(i));
        r.values[0x0E080003] = Bytes{static_cast<std::uint8_t>(i), 1, 0, 0};
        if (i % 3 == 0) r.values[0x0057000B] = {1};
        if (i == 7) r.values[0x10130102] = B(5000, 7);  // larger than the heap takes
        r.values[kTagLtpRowVer] = {5, 0, 0, 0};
        rows.push_back(r);
    }
    std::uint32_t c = 0x400;
    auto built = BuildTableContext(cols, rows, Counter(c));
    Roundtrip rt("ltp-tc", built);
    auto table = ReadTableContext(*rt.reader);
    ASSERT_EQ(table.rows.size(), rows.size());
    EXPECT_EQ(table.columns.size(), cols.size() + 2);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(table.rows[i].row_id, rows[i].row_id);
        auto want = rows[i].values;
        Bytes id;
        AppendLe(id, rows[i].row_id, 4);
        want[kTagLtpRowId] = id;
        EXPECT_EQ(table.rows[i].values, want) << i;
    }
}

TEST(PstLtp, ValuesConvertBothWays) {
    const std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // 1, 2, 3 and 4 byte characters
    auto w = Utf8ToUtf16(text);
    EXPECT_EQ(w.size(), 10u);  // the emoji takes a surrogate pair
    EXPECT_EQ(Utf16ToUtf8(w), text);
    mapi::PropTag stored = 0;
    EXPECT_EQ(EncodeValue(0x0037001E, std::string("x"), &stored), Utf8ToUtf16("x"));
    EXPECT_EQ(stored, 0x0037001Fu);
    const std::vector<std::pair<mapi::PropTag, mapi::PropValue>> values = {
        {0x00170003, std::int32_t{-5}},
        {0x0E1B000B, true},
        {0x0E060040, mapi::Filetime{kTicks2020}},
        {0x00140014, std::int64_t{-1234567890123}},
        {0x10130102, mapi::Binary{1, 2, 3}},
        {0x8001101F, std::vector<std::string>{"one", "", "three"}},
        {0x80021003, std::vector<std::int32_t>{1, -2}},
        {0x80031102, std::vector<mapi::Binary>{{1}, {}, {2, 3}}},
    };
    for (const auto& [tag, value] : values) {
        auto bytes = EncodeValue(tag, value, &stored);
        auto back = DecodeValue(stored, bytes);
        ASSERT_TRUE(back) << std::hex << tag;
        EXPECT_TRUE(*back == value) << std::hex << tag;
    }
    EXPECT_THROW(EncodeValue(0x00170003, std::string("wrong"), &stored), PstError);
    EXPECT_THROW(DecodeValue(0x00170003, Bytes{1, 2}), PstError);
    EXPECT_THROW(DecodeValue(0x8001101F, Bytes{9, 0, 0, 0}), PstError);  // count past the data
}

TEST(PstLtp, LateFilledAllocationKeepsItsPlaceAndSize) {
    for (bool spilled : {false, true}) {
        auto path = ScratchDir(spilled ? "late-fill-spilled" : "late-fill") / "t.pst";
        auto db = ndb::Database::Create(path.string(), ndb::CryptMethod::Permute);
        HeapWriter heap(kClientSigTc, spilled ? db.get() : nullptr);
        const std::uint32_t first = heap.Reserve(12);
        EXPECT_EQ(first, 0x20u);
        std::vector<std::pair<std::uint32_t, Bytes>> later;
        for (std::uint8_t i = 0; i < 20; ++i) later.push_back({heap.Allocate(B(3000, i)), B(3000, i)});
        // By now the first block is sealed (and, with a sink, held back from the file).
        EXPECT_THROW(heap.Fill(first, B(11, 9)), PstError);
        EXPECT_THROW(heap.Fill(later.back().first, B(3000, 1)), PstError);  // not in the first block
        heap.Fill(first, B(12, 7));
        heap.SetUserRoot(first);
        std::unique_ptr<HeapReader> reader;
        if (spilled) {
            reader = std::make_unique<HeapReader>(*db, heap.FinishInto());
        } else {
            reader = std::make_unique<HeapReader>(heap.Finish());
        }
        const auto root = reader->Get(first);
        EXPECT_EQ(Bytes(root.begin(), root.end()), B(12, 7)) << spilled;
        for (const auto& [hid, bytes] : later) {
            const auto got = reader->Get(hid);
            EXPECT_EQ(Bytes(got.begin(), got.end()), bytes) << spilled;
        }
    }
}

// Readers such as pst-extractor take the first allocation of a heap for its BTH header: that of
// a property context, and that of a table's row index, with the table header right after. So
// does Outlook.
TEST(PstLtp, RootStructuresComeFirstInTheHeap) {
    std::uint32_t c = 0x400;
    PropMap props;
    props[0x0037001F] = B(300, 1);    // in the heap
    props[0x1000001F] = B(9000, 2);   // in a subnode
    props[0x0E070003] = Bytes{1, 0, 0, 0};
    for (std::uint32_t id = 0x6000; id < 0x6000 + 600; ++id) props[(id << 16) | 0x001F] = B(20, 3);  // an index level
    BuiltNode pc = BuildPropertyContext(props, Counter(c));
    Roundtrip pc_trip("layout-pc", pc);
    EXPECT_EQ(pc_trip.reader->heap().user_root(), 0x20u);
    EXPECT_EQ(ReadPropertyContext(*pc_trip.reader), props);

    std::vector<TableRow> rows;
    for (std::uint32_t r = 0; r < 40; ++r) {
        TableRow row;
        row.row_id = 0x200000 + r * 32;
        row.values[0x0037001F] = B(40 + r, static_cast<std::uint8_t>(r));
        row.values[0x0E080003] = Bytes{static_cast<std::uint8_t>(r), 0, 0, 0};
        rows.push_back(row);
    }
    c = 0x400;
    BuiltNode tc = BuildTableContext({0x0037001F, 0x0E080003}, rows, Counter(c));
    Roundtrip tc_trip("layout-tc", tc);
    const auto& heap = tc_trip.reader->heap();
    EXPECT_EQ(heap.user_root(), 0x40u);
    const auto info = heap.Get(0x40);
    ASSERT_GE(info.size(), 22u);
    EXPECT_EQ(LoadLe(info.subspan(10, 4)), 0x20u);  // hidRowIndex
    const Table table = ReadTableContext(*tc_trip.reader);
    ASSERT_EQ(table.rows.size(), rows.size());
    EXPECT_EQ(table.rows[7].values.at(0x0037001F), rows[7].values.at(0x0037001F));
}
