#include "store/cfb/compound_file.h"

#include <cstdlib>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "fixtures/temp_folder.h"
#include "store/cfb/cfb_test_reader.h"

namespace {

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> out(size);
    std::mt19937 rng(seed);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

std::string Str(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }

cfbtest::CompoundFile WriteAndRead(const cfb::Storage& root, const fixtures::TempFolder& dir, const std::string& name = "t.cfb") {
    const std::string path = dir / name;
    cfb::WriteCompoundFile(root, path);
    return cfbtest::ReadCompoundFile(fixtures::ReadFile(path));
}

std::string Python() { return "/usr/bin/python3"; }
bool HaveOlefile() { return std::system("/usr/bin/python3 -c 'import olefile' >/dev/null 2>&1") == 0; }

}  // namespace

TEST(CompoundFile, EmptyRootIsAValidFile) {
    fixtures::TempFolder dir;
    cfb::Storage root = cfb::MakeRootStorage();
    auto f = WriteAndRead(root, dir);
    EXPECT_TRUE(f.faults.empty()) << f.faults.front();
    ASSERT_EQ(f.entries.size(), 4u);  // root + three zeroed free entries in the one directory sector
    EXPECT_EQ(f.entries[0].size, 0u);
    EXPECT_EQ(f.entries[0].start, cfbtest::kEnd);
}

TEST(CompoundFile, StreamsBelowTheCutoffGoToTheMiniStreamAndAboveDoNot) {
    fixtures::TempFolder dir;
    cfb::Storage root = cfb::MakeRootStorage();
    root.AddStream("small", Pattern(4095, 1));
    root.AddStream("exact", Pattern(4096, 2));
    root.AddStream("one", Pattern(1, 3));
    root.AddStream("empty", {});
    auto f = WriteAndRead(root, dir);
    ASSERT_TRUE(f.faults.empty()) << f.faults.front();
    EXPECT_EQ(f.streams["small"], Str(Pattern(4095, 1)));
    EXPECT_EQ(f.streams["exact"], Str(Pattern(4096, 2)));
    EXPECT_EQ(f.streams["one"], Str(Pattern(1, 3)));
    EXPECT_EQ(f.streams["empty"], "");
    EXPECT_EQ(f.entries[0].size % 64, 0u);
    EXPECT_EQ(f.entries[0].size, 4096u + 64u);  // 4095 -> 64 mini sectors, 1 -> one more
    EXPECT_EQ(f.mini_fat_sectors, 1u);
}

TEST(CompoundFile, SiblingTreesAreOrderedRedBlackTreesForEveryCount) {
    // Every count up to 40 children, in a nested storage too: order by length then upper case.
    for (int count = 1; count <= 40; ++count) {
        fixtures::TempFolder dir;
        cfb::Storage root = cfb::MakeRootStorage();
        cfb::Storage& sub = root.AddStorage("sub");
        for (int i = 0; i < count; ++i) {
            const std::string name = std::string(static_cast<std::size_t>(1 + (i * 7) % 5), static_cast<char>(i % 2 ? 'a' + i % 26 : 'A' + i % 26)) + std::to_string(i);
            sub.AddStream(name, Pattern(static_cast<std::size_t>(i), static_cast<std::uint32_t>(i)));
            root.AddStream("r" + std::to_string(i), {});
        }
        auto f = WriteAndRead(root, dir);
        ASSERT_TRUE(f.faults.empty()) << "count " << count << ": " << f.faults.front();
        EXPECT_EQ(f.streams.size(), static_cast<std::size_t>(2 * count));
    }
}

TEST(CompoundFile, NamesCompareByLengthThenUpperCase) {
    EXPECT_LT(cfb::CompareEntryNames(u"Z", u"aa"), 0);
    EXPECT_EQ(cfb::CompareEntryNames(u"abc", u"ABC"), 0);
    EXPECT_LT(cfb::CompareEntryNames(u"ABC", u"abd"), 0);
    EXPECT_GT(cfb::CompareEntryNames(u"__substg1.0_1000001F", u"__substg1.0_0037001F"), 0);
}

TEST(CompoundFile, RejectsNamesTheFormatCannotHold) {
    cfb::Storage root = cfb::MakeRootStorage();
    EXPECT_THROW(root.AddStream(std::string(32, 'x'), {}), std::invalid_argument);
    EXPECT_NO_THROW(root.AddStream(std::string(31, 'x'), {}));
    EXPECT_THROW(root.AddStream("", {}), std::invalid_argument);
    EXPECT_THROW(root.AddStream("a/b", {}), std::invalid_argument);
    EXPECT_THROW(root.AddStream("a!b", {}), std::invalid_argument);
    root.AddStream("Name", {});
    EXPECT_THROW(root.AddStream("NAME", {}), std::invalid_argument);  // same name by the format's rules
    EXPECT_THROW(root.AddStorage("name"), std::invalid_argument);
}

TEST(CompoundFile, NamesThatShareTheirEndAndLengthAreStillTwoNames) {
    // The duplicate check first compares a fingerprint of each name's last units and length;
    // names alike there but not in full are different names.
    cfb::Storage root = cfb::MakeRootStorage();
    EXPECT_NO_THROW(root.AddStream("a_substg1.0_0037001F", {}));
    EXPECT_NO_THROW(root.AddStream("b_substg1.0_0037001F", {}));
    EXPECT_NO_THROW(root.AddStream("\xC5\x81x", {}));  // U+0141 'x' against U+0040 'x': alike byte-folded
    EXPECT_NO_THROW(root.AddStream("@x", {}));
    EXPECT_THROW(root.AddStream("B_SUBSTG1.0_0037001f", {}), std::invalid_argument);
    const auto f = cfbtest::ReadCompoundFile(cfb::CompoundFileBytes(root));
    EXPECT_TRUE(f.faults.empty());
    EXPECT_EQ(f.streams.size(), 4u);
}

TEST(CompoundFile, LargeFilesNeedDifatSectorsAndReadBackWhole) {
    // 109 FAT sectors cover 109 * 128 * 512 bytes, about 6.8 MB; beyond that the DIFAT takes over.
    fixtures::TempFolder dir;
    cfb::Storage root = cfb::MakeRootStorage();
    const auto big = Pattern(7'500'000, 42);
    root.AddStream("big", big);
    root.AddStream("small", Pattern(100, 7));
    const std::string path = dir / "big.cfb";
    cfb::WriteCompoundFile(root, path);
    auto f = cfbtest::ReadCompoundFile(fixtures::ReadFile(path));
    ASSERT_TRUE(f.faults.empty()) << f.faults.front();
    EXPECT_GE(f.difat_sectors, 1u);
    EXPECT_GT(f.fat_sectors, 109u);
    EXPECT_TRUE(f.streams["big"] == Str(big));
    EXPECT_EQ(f.streams["small"], Str(Pattern(100, 7)));

    if (!HaveOlefile()) GTEST_SKIP() << "python3-olefile not installed";
    const std::string script = dir / "check.py";
    fixtures::WriteFile(dir / "expected.bin", Str(big));
    fixtures::WriteFile(script,
                        "import olefile, sys\n"
                        "o = olefile.OleFileIO(sys.argv[1])\n"
                        "print('same' if o.openstream('big').read() == open(sys.argv[2], 'rb').read() else 'differs')\n");
    const std::string out = dir / "out.txt";
    ASSERT_EQ(std::system((Python() + " " + script + " " + path + " " + (dir / "expected.bin") + " > " + out).c_str()), 0);
    EXPECT_EQ(fixtures::ReadFile(out), "same\n");
}

// Written in pieces, the file is the same bytes; a large borrowed stream is handed on from where
// it is kept (never copied into a buffer), everything else in pieces of at most 64 KiB; a
// refusal stops the writing at once.
TEST(CompoundFile, WrittenInPiecesWithoutCopyingLargeStreams) {
    const auto big = Pattern(7'500'000, 42);
    const auto mid = Pattern(5000, 3);
    cfb::Storage root = cfb::MakeRootStorage();
    root.AddBorrowedStream("big", big);
    root.AddStorage("sub").AddBorrowedStream("mid", mid);
    root.AddStream("small", Pattern(100, 7));
    root.AddBorrowedStream("none", {});
    std::string joined;
    bool big_handed_on_in_place = false;
    ASSERT_TRUE(cfb::WriteCompoundFile(root, [&](std::string_view piece) {
        if (piece.data() == reinterpret_cast<const char*>(big.data()) && piece.size() == big.size())
            big_handed_on_in_place = true;
        else
            EXPECT_LE(piece.size(), 64u * 1024);
        joined.append(piece);
        return true;
    }));
    EXPECT_TRUE(big_handed_on_in_place);
    EXPECT_EQ(joined, cfb::CompoundFileBytes(root));
    auto f = cfbtest::ReadCompoundFile(joined);
    ASSERT_TRUE(f.faults.empty()) << f.faults.front();
    EXPECT_TRUE(f.streams["big"] == Str(big));
    EXPECT_EQ(f.streams["sub/mid"], Str(mid));
    EXPECT_EQ(f.streams["none"], "");

    int calls = 0;
    EXPECT_FALSE(cfb::WriteCompoundFile(root, [&](std::string_view) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2);
}

TEST(CompoundFile, IndependentReaderSeesTheSameTree) {
    if (!HaveOlefile()) GTEST_SKIP() << "python3-olefile not installed";
    fixtures::TempFolder dir;
    cfb::Storage root = cfb::MakeRootStorage();
    cfb::Storage& a = root.AddStorage("A");
    a.AddStorage("Inner").AddStream("deep", Pattern(5000, 5));
    a.AddStream("x", Pattern(10, 6));
    root.AddStream("top", Pattern(300, 8));
    const std::string path = dir / "t.cfb";
    cfb::WriteCompoundFile(root, path);
    const std::string script = dir / "list.py";
    fixtures::WriteFile(script,
                        "import olefile, sys\n"
                        "o = olefile.OleFileIO(sys.argv[1])\n"
                        "for e in sorted(o.listdir(streams=True, storages=True)):\n"
                        "    p = '/'.join(e)\n"
                        "    print(p, o.get_size(p) if o.get_type(p) == olefile.STGTY_STREAM else 'storage')\n");
    const std::string out = dir / "out.txt";
    ASSERT_EQ(std::system((Python() + " " + script + " " + path + " > " + out).c_str()), 0);
    EXPECT_EQ(fixtures::ReadFile(out), "A storage\nA/Inner storage\nA/Inner/deep 5000\nA/x 10\ntop 300\n");
}

TEST(CompoundFile, FailedWriteReportsAndLeavesNoFile) {
    fixtures::TempFolder dir;
    cfb::Storage root = cfb::MakeRootStorage();
    root.AddStream("s", Pattern(10, 1));
    EXPECT_THROW(cfb::WriteCompoundFile(root, dir / "missing/dir/t.cfb"), cfb::WriteError);
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (full == nullptr) GTEST_SKIP() << "no /dev/full";
    EXPECT_THROW(cfb::WriteCompoundFile(root, full), cfb::WriteError);
    std::fclose(full);
}

TEST(CompoundFile, TheTestReaderCatchesBrokenRules) {
    // The structural checks above are only worth something if they can fail.
    fixtures::TempFolder dir;
    cfb::Storage root = cfb::MakeRootStorage();
    for (int i = 0; i < 3; ++i) root.AddStream("s" + std::to_string(i), Pattern(10, 1));
    const std::string path = dir / "t.cfb";
    cfb::WriteCompoundFile(root, path);
    const std::string good = fixtures::ReadFile(path);
    ASSERT_TRUE(cfbtest::ReadCompoundFile(good).faults.empty());
    const std::size_t directory = 512 + std::size_t(cfbtest::U32(good, 0x30)) * 512;

    std::string red_root = good;  // the middle sibling "s1" is the black root of the tree
    red_root[directory + 2 * 128 + 67] = 0;
    EXPECT_FALSE(cfbtest::ReadCompoundFile(red_root).faults.empty());

    std::string dirty_free = good;  // entries 0..3 are used, none free: add one by shrinking nothing
    dirty_free[directory + 3 * 128 + 66] = 0;  // turn the last stream into a "free" entry with a name
    EXPECT_FALSE(cfbtest::ReadCompoundFile(dirty_free).faults.empty());

    std::string looped = good;  // the directory chain pointing at itself
    const std::uint32_t dir_sector = cfbtest::U32(good, 0x30);
    const std::size_t fat = 512 + std::size_t(cfbtest::U32(good, 0x4C)) * 512;
    std::memcpy(&looped[fat + 4 * dir_sector], &dir_sector, 4);
    EXPECT_FALSE(cfbtest::ReadCompoundFile(looped).faults.empty());
}
