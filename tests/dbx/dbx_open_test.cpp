// Opening folder files: header checks, item count, and the walk of the index tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dbx_test_support.h"
#include "platform/process.h"

namespace {

using dbx_test::MemoryDbx;
using dbx_test::NumberedFolder;
using dbx_test::OpenFailureCode;
using fixtures::DbxLayout;
using fixtures::PutByte;
using fixtures::PutLe32;

std::vector<std::string> SubjectsInTreeOrder(const MemoryDbx& dbx) {
    std::vector<std::string> subjects;
    for (int slot = dbx.reader()->item_count - 1; slot >= 0; --slot) {
        subjects.push_back(dbx.Email(slot)->subject.value_or("<none>"));
    }
    return subjects;
}

std::vector<std::string> NumberedSubjects(std::initializer_list<int> numbers) {
    std::vector<std::string> subjects;
    for (int n : numbers) subjects.push_back("Subject " + std::to_string(n));
    return subjects;
}

std::vector<std::string> NumberedSubjects(int count) {
    std::vector<std::string> subjects;
    for (int n = 0; n < count; ++n) subjects.push_back("Subject " + std::to_string(n));
    return subjects;
}

struct HandEntry {
    std::uint32_t record;
    std::uint32_t child = 0;
    std::int32_t child_count = 0;
};

// Appends an index node of our own making to built bytes and returns its offset.
std::uint32_t AppendNode(std::string& bytes, std::uint32_t first_child, std::int32_t first_child_count,
                         const std::vector<HandEntry>& entries) {
    const auto at = static_cast<std::uint32_t>(bytes.size());
    bytes.append(fixtures::kDbxNodeHeaderSize + fixtures::kDbxEntrySize * entries.size(), '\0');
    PutLe32(bytes, at, at);  // a node names its own offset
    PutLe32(bytes, at + fixtures::kDbxNodeFirstChildAt, first_child);
    PutByte(bytes, at + fixtures::kDbxNodeEntryCountAt, static_cast<std::uint8_t>(entries.size()));
    PutLe32(bytes, at + fixtures::kDbxNodeFirstChildCountAt, static_cast<std::uint32_t>(first_child_count));
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const std::size_t e = fixtures::DbxEntryOffset(at, static_cast<int>(k));
        PutLe32(bytes, e, entries[k].record);
        PutLe32(bytes, e + 4, entries[k].child);
        PutLe32(bytes, e + 8, static_cast<std::uint32_t>(entries[k].child_count));
    }
    return at;
}

void SetHeader(std::string& bytes, std::int32_t count, std::uint32_t root) {
    PutLe32(bytes, fixtures::kDbxItemCountAt, static_cast<std::uint32_t>(count));
    PutLe32(bytes, fixtures::kDbxRootNodeAt, root);
}

// Items 0..count-1 under a chain of nodes linked by first children, one entry each: node i
// holds item i as its entry and nodes i+1.. as its first child, so the tree order is
// count-1, ..., 0 and the depth is count.
std::string FirstChildChain(int count) {
    DbxLayout layout;
    std::string bytes = NumberedFolder(count).Build(layout);
    std::uint32_t below = 0;
    for (int i = count - 1; i >= 0; --i) {
        below = AppendNode(bytes, below, count - 1 - i, {{layout.items[std::size_t(i)].record_offset}});
    }
    SetHeader(bytes, count, below);
    return bytes;
}

TEST(DbxOpen, KindComesFromTheHeaderKindWord) {
    MemoryDbx email(NumberedFolder(1).Build());
    ASSERT_NE(email.reader(), nullptr);
    EXPECT_EQ(email.reader()->kind, DbxKind::Email);
    EXPECT_EQ(dbx_errno, 0);

    MemoryDbx list(fixtures::DbxFileBuilder(DbxKind::List).AddListEntry({}).Build());
    ASSERT_NE(list.reader(), nullptr);
    EXPECT_EQ(list.reader()->kind, DbxKind::List);

    std::string other_kind = NumberedFolder(1).Build();
    PutByte(other_kind, 4, 0xC7);
    EXPECT_EQ(OpenFailureCode(other_kind), 1);
}

TEST(DbxOpen, EveryMagicWordIsChecked) {
    for (std::size_t at : {0, 1, 3, 5, 6, 7, 8, 11, 12, 15}) {
        std::string bytes = NumberedFolder(1).Build();
        bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
        EXPECT_EQ(OpenFailureCode(bytes), 1) << "byte " << at;
    }
}

TEST(DbxOpen, ShortFilesFailAtTheFirstFieldThatIsMissing) {
    const std::string full = NumberedFolder(1).Build();
    EXPECT_EQ(OpenFailureCode(full.substr(0, 15)), 1);
    // The root offset at 0xE4 is read before the count at 0xC4.
    EXPECT_EQ(OpenFailureCode(full.substr(0, 16)), 3);
    EXPECT_EQ(OpenFailureCode(full.substr(0, 0xC8)), 3);
    EXPECT_EQ(OpenFailureCode(full.substr(0, 0xE7)), 3);
}

TEST(DbxOpen, MissingFileFailsWithCodeOne) {
    dbx_errno = 0;
    EXPECT_EQ(dbx_open("/nonexistent/folder/Inbox.dbx"), nullptr);
    EXPECT_EQ(dbx_errno, 1);
    EXPECT_EQ(dbx_open(nullptr), nullptr);
    EXPECT_EQ(dbx_open_stream(nullptr), nullptr);
    EXPECT_EQ(dbx_errno, 1);
}

TEST(DbxOpen, OpensAFileOnDiskByPath) {
    const std::string path = testing::TempDir() + "/dbx_open_by_path-" + std::to_string(platform::CurrentProcessId()) + ".dbx";
    NumberedFolder(3).WriteTo(path);
    DbxReader* reader = dbx_open(path.c_str());
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->item_count, 3);
    dbx_test::EmailPtr first(static_cast<DbxEmail*>(dbx_get(reader, 2)));
    dbx_close(reader);
    // Items do not refer back to the reader.
    EXPECT_EQ(first->subject, "Subject 0");
    std::remove(path.c_str());
}

TEST(DbxOpen, ItemCountsTheFileCannotHoldFailWithCodeTwo) {
    const std::string good = NumberedFolder(2).Build();
    const auto most_the_file_holds = static_cast<std::int32_t>(good.size() / fixtures::kDbxEntrySize);
    for (std::int32_t count : {-1, INT32_MIN, INT32_MAX, most_the_file_holds + 1}) {
        std::string bytes = good;
        PutLe32(bytes, fixtures::kDbxItemCountAt, static_cast<std::uint32_t>(count));
        EXPECT_EQ(OpenFailureCode(bytes), 2) << count;
    }
    // A count the file could hold passes this check and is caught by the walk.
    std::string bytes = good;
    PutLe32(bytes, fixtures::kDbxItemCountAt, static_cast<std::uint32_t>(most_the_file_holds));
    EXPECT_EQ(OpenFailureCode(bytes), 4);
}

TEST(DbxOpen, UnreadableRootFailsWithCodeThree) {
    DbxLayout layout;
    const std::string good = NumberedFolder(3).Build(layout);

    std::string beyond = good;
    PutLe32(beyond, fixtures::kDbxRootNodeAt, static_cast<std::uint32_t>(good.size()));
    EXPECT_EQ(OpenFailureCode(beyond), 3);

    std::string far_beyond = good;
    PutLe32(far_beyond, fixtures::kDbxRootNodeAt, 0xFFFFFFF0u);
    EXPECT_EQ(OpenFailureCode(far_beyond), 3);

    // The root is the last thing in the file: cut into its header, then into its entries.
    EXPECT_EQ(OpenFailureCode(good.substr(0, layout.root_offset + 20)), 3);
    EXPECT_EQ(OpenFailureCode(good.substr(0, good.size() - 1)), 3);
}

TEST(DbxOpen, TreeWithFewerOrMoreEntriesThanTheCount) {
    EXPECT_EQ(OpenFailureCode(NumberedFolder(5, 2).SetHeaderItemCount(6).Build()), 4);
    EXPECT_EQ(OpenFailureCode(NumberedFolder(5, 2).SetHeaderItemCount(4).Build()), 5);
    EXPECT_EQ(OpenFailureCode(NumberedFolder(5, 2).SetHeaderItemCount(0).Build()), 5);
    MemoryDbx empty(fixtures::DbxFileBuilder().Build());
    ASSERT_NE(empty.reader(), nullptr);
    EXPECT_EQ(empty.reader()->item_count, 0);
}

TEST(DbxOpen, SlotsHoldTheTreeOrderFromTheTopSlotDown) {
    // Four items, two entries per node: the root holds items 1 and 3, its first child
    // item 0 and the child of its first entry item 2, so the tree order is 0, 1, 2, 3.
    DbxLayout layout;
    MemoryDbx dbx(NumberedFolder(4, 2).Build(layout));
    ASSERT_NE(dbx.reader(), nullptr);
    ASSERT_EQ(layout.nodes.size(), 3u);
    EXPECT_EQ(layout.nodes.back().entry_count, 2);
    EXPECT_EQ(dbx.reader()->item_count, 4);
    for (int item = 0; item < 4; ++item) {
        EXPECT_EQ(dbx.reader()->item_offsets[std::size_t(3 - item)],
                  static_cast<std::int32_t>(layout.items[std::size_t(item)].record_offset));
    }
    EXPECT_EQ(SubjectsInTreeOrder(dbx), NumberedSubjects(4));
}

TEST(DbxOpen, MultiLevelTreesListEveryItemOnceInOrder) {
    for (auto [count, per_node] : {std::pair{1000, 1}, {1000, 3}, {20000, 0x7F}}) {
        DbxLayout layout;
        MemoryDbx dbx(NumberedFolder(count, per_node).Build(layout));
        ASSERT_NE(dbx.reader(), nullptr) << dbx_errors[dbx_errno];
        int depth = 0;
        for (const auto& node : layout.nodes) depth = std::max(depth, node.depth);
        EXPECT_GE(depth, 2) << per_node;
        ASSERT_EQ(dbx.reader()->item_count, count);
        for (int item = 0; item < count; ++item) {
            ASSERT_EQ(dbx.reader()->item_offsets[std::size_t(count - 1 - item)],
                      static_cast<std::int32_t>(layout.items[std::size_t(item)].record_offset))
                << "item " << item << " of " << count << " at " << per_node << " per node";
        }
    }
}

TEST(DbxOpen, NodeWithoutEntriesOfItsOwnStillWalksItsFirstChild) {
    for (std::uint8_t entry_count_byte : {0x00, 0x80, 0xFF}) {
        DbxLayout layout;
        std::string bytes = NumberedFolder(4, 2).SetHeaderItemCount(1).Build(layout);
        PutByte(bytes, layout.root_offset + fixtures::kDbxNodeEntryCountAt, entry_count_byte);
        MemoryDbx dbx(bytes);
        ASSERT_NE(dbx.reader(), nullptr) << int(entry_count_byte);
        EXPECT_EQ(SubjectsInTreeOrder(dbx), NumberedSubjects({0}));
    }
}

TEST(DbxOpen, ChildrenWithoutPositiveCountsAreNotFollowed) {
    for (std::int32_t child_count : {0, -1, INT32_MIN}) {
        DbxLayout layout;
        std::string bytes = NumberedFolder(4, 2).SetHeaderItemCount(3).Build(layout);
        PutLe32(bytes, fixtures::DbxEntryOffset(layout.root_offset, 0) + 8, static_cast<std::uint32_t>(child_count));
        MemoryDbx dbx(bytes);
        ASSERT_NE(dbx.reader(), nullptr) << child_count;
        EXPECT_EQ(SubjectsInTreeOrder(dbx), NumberedSubjects({0, 1, 3}));
    }
    DbxLayout layout;
    std::string bytes = NumberedFolder(4, 2).SetHeaderItemCount(3).Build(layout);
    PutLe32(bytes, layout.root_offset + fixtures::kDbxNodeFirstChildCountAt, 0);
    MemoryDbx dbx(bytes);
    ASSERT_NE(dbx.reader(), nullptr);
    EXPECT_EQ(SubjectsInTreeOrder(dbx), NumberedSubjects({1, 2, 3}));
}

TEST(DbxOpen, UnreadableSubTreeLeavesItsSlotsEmpty) {
    DbxLayout layout;
    std::string bytes = NumberedFolder(4, 2).Build(layout);
    PutLe32(bytes, fixtures::DbxEntryOffset(layout.root_offset, 0) + 4, static_cast<std::uint32_t>(bytes.size()));
    EXPECT_EQ(OpenFailureCode(bytes), 4);

    // Cut a sub-tree node short in the middle of its entries by giving it more than exist.
    DbxLayout big_layout;
    std::string big = NumberedFolder(50, 3).Build(big_layout);
    const auto& leaf = big_layout.nodes.front();
    ASSERT_GT(leaf.depth, 0);
    PutByte(big, leaf.offset + fixtures::kDbxNodeEntryCountAt, 0x7F);
    // Its extra "entries" are other bytes of the file; whatever they say, the walk must
    // neither crash nor write outside the table.
    const int code = OpenFailureCode(big);
    EXPECT_TRUE(code == 4 || code == 5) << code;
}

TEST(DbxOpen, MoreEntriesThanSlotsNeverWritesOutsideTheTable) {
    DbxLayout layout;
    std::string bytes = NumberedFolder(300, 0x7F).SetHeaderItemCount(1).Build(layout);
    EXPECT_EQ(OpenFailureCode(bytes), 5);
}

TEST(DbxOpen, CyclesInTheIndexEndTheWalk) {
    // A first child that is the root itself: the root's items stay, the loop adds nothing.
    {
        DbxLayout layout;
        std::string bytes = NumberedFolder(3).SetHeaderItemCount(3).Build(layout);
        PutLe32(bytes, layout.root_offset + fixtures::kDbxNodeFirstChildAt, layout.root_offset);
        PutLe32(bytes, layout.root_offset + fixtures::kDbxNodeFirstChildCountAt, 5);
        MemoryDbx dbx(bytes);
        ASSERT_NE(dbx.reader(), nullptr);
        EXPECT_EQ(SubjectsInTreeOrder(dbx), NumberedSubjects(3));
        PutLe32(bytes, fixtures::kDbxItemCountAt, 8);
        EXPECT_EQ(OpenFailureCode(bytes), 4);
    }
    // A leaf whose entry leads back to the root, in a deeper tree.
    {
        DbxLayout layout;
        std::string bytes = NumberedFolder(40, 2).Build(layout);
        const auto& leaf = layout.nodes.front();
        PutLe32(bytes, fixtures::DbxEntryOffset(leaf.offset, 0) + 4, layout.root_offset);
        PutLe32(bytes, fixtures::DbxEntryOffset(leaf.offset, 0) + 8, 40);
        MemoryDbx dbx(bytes);
        ASSERT_NE(dbx.reader(), nullptr);
        EXPECT_EQ(SubjectsInTreeOrder(dbx), NumberedSubjects(40));
    }
    // Two nodes that are each other's first child, holding no entries: nothing ends it
    // but the guard.
    {
        std::string bytes = NumberedFolder(1).Build();
        const auto a = static_cast<std::uint32_t>(bytes.size());
        AppendNode(bytes, a + fixtures::kDbxNodeHeaderSize, 1, {});
        AppendNode(bytes, a, 1, {});
        SetHeader(bytes, 1, a);
        EXPECT_EQ(OpenFailureCode(bytes), 4);
    }
}

TEST(DbxOpen, WalkDepthIsBounded) {
    MemoryDbx shallow(FirstChildChain(60));
    ASSERT_NE(shallow.reader(), nullptr) << dbx_errno;
    EXPECT_EQ(shallow.Email(0)->subject, "Subject 0");
    EXPECT_EQ(shallow.Email(59)->subject, "Subject 59");
    // Deeper than any real folder: the nodes below the bound are not read.
    EXPECT_EQ(OpenFailureCode(FirstChildChain(200)), 4);
}

TEST(DbxOpen, RootAtOffsetZeroReadsTheFileHeaderAsANode) {
    // The file header read as a node: its entry-count byte is 0x80 and up in real files, so it
    // holds no entries; an empty folder opens with no items.
    std::string bytes = fixtures::DbxFileBuilder().Build();
    PutLe32(bytes, fixtures::kDbxRootNodeAt, 0);
    PutByte(bytes, fixtures::kDbxNodeEntryCountAt, 0xA3);
    MemoryDbx dbx(bytes);
    ASSERT_NE(dbx.reader(), nullptr);
    EXPECT_EQ(dbx.reader()->item_count, 0);
}

}  // namespace

// With the tree as the truth, the header's count is only recorded: every item the tree
// reaches is listed, in the same slots an exact open gives.
TEST(DbxOpenTreeIsTruth, WrongHeaderCountsListWhatTheTreeHolds) {
    const std::int32_t most_the_file_holds =
        static_cast<std::int32_t>(NumberedFolder(5, 2).Build().size() / fixtures::kDbxEntrySize);
    for (std::int32_t header_count : {0, 1, 4, 6, 1000, -1, INT32_MIN, INT32_MAX, most_the_file_holds + 1}) {
        MemoryDbx dbx(NumberedFolder(5, 2).SetHeaderItemCount(header_count).Build(), DbxCountCheck::TreeIsTruth);
        ASSERT_NE(dbx.reader(), nullptr) << header_count;
        EXPECT_EQ(dbx_errno, 0);
        EXPECT_EQ(dbx.reader()->header_item_count, header_count);
        EXPECT_FALSE(dbx.reader()->index_damaged);
        EXPECT_EQ(SubjectsInTreeOrder(dbx), NumberedSubjects(5)) << header_count;
    }
    MemoryDbx exact(NumberedFolder(5, 2).Build());
    ASSERT_NE(exact.reader(), nullptr);
    MemoryDbx lenient(NumberedFolder(5, 2).Build(), DbxCountCheck::TreeIsTruth);
    EXPECT_EQ(lenient.reader()->item_offsets, exact.reader()->item_offsets);
    EXPECT_EQ(lenient.reader()->header_item_count, 5);
}

TEST(DbxOpenTreeIsTruth, DamagedTreesOpenWithWhatCanBeReached) {
    DbxLayout layout;
    const std::string good = NumberedFolder(40, 3).Build(layout);
    const DbxCountCheck lenient = DbxCountCheck::TreeIsTruth;

    // The root overwritten with zeros: a node without entries or children.
    std::string zeroed = good;
    zeroed.replace(layout.root_offset, 64, 64, '\0');
    MemoryDbx zeroed_dbx(zeroed, lenient);
    ASSERT_NE(zeroed_dbx.reader(), nullptr);
    EXPECT_EQ(zeroed_dbx.reader()->item_count, 0);
    EXPECT_EQ(zeroed_dbx.reader()->header_item_count, 40);

    // The root outside the file, and the file cut inside the root's entries.
    for (const std::string& bytes : {[&] {
                                         std::string b = good;
                                         PutLe32(b, fixtures::kDbxRootNodeAt, 0xFFFFFFF0u);
                                         return b;
                                     }(),
                                     good.substr(0, good.size() - 1)}) {
        MemoryDbx dbx(bytes, lenient);
        ASSERT_NE(dbx.reader(), nullptr);
        EXPECT_TRUE(dbx.reader()->index_damaged);
        EXPECT_LT(dbx.reader()->item_count, 40);
        for (int slot = 0; slot < dbx.reader()->item_count; ++slot) EXPECT_NE(dbx.Email(slot), nullptr);
    }

    // A child node overwritten: its sub-tree is left out, every other item stays in order.
    std::string child_lost = good;
    const auto& leaf = layout.nodes.front();
    ASSERT_GT(leaf.depth, 0);
    child_lost.replace(leaf.offset, fixtures::kDbxNodeHeaderSize, fixtures::kDbxNodeHeaderSize, '\xFF');
    MemoryDbx child_dbx(child_lost, lenient);
    ASSERT_NE(child_dbx.reader(), nullptr);
    const std::vector<std::string> subjects = SubjectsInTreeOrder(child_dbx);
    EXPECT_EQ(subjects.size(), std::size_t(40 - leaf.entry_count));
    EXPECT_TRUE(std::is_sorted(subjects.begin(), subjects.end(), [](const std::string& a, const std::string& b) {
        return std::stoi(a.substr(8)) < std::stoi(b.substr(8));
    }));
    EXPECT_EQ(OpenFailureCode(child_lost), 4);
}

TEST(DbxOpenTreeIsTruth, CyclesAndSharedNodesListEachItemOnce) {
    DbxLayout layout;
    std::string bytes = NumberedFolder(40, 2).Build(layout);
    const auto& leaf = layout.nodes.front();
    PutLe32(bytes, fixtures::DbxEntryOffset(leaf.offset, 0) + 4, layout.root_offset);
    PutLe32(bytes, fixtures::DbxEntryOffset(leaf.offset, 0) + 8, 40);
    MemoryDbx dbx(bytes, DbxCountCheck::TreeIsTruth);
    ASSERT_NE(dbx.reader(), nullptr);
    EXPECT_EQ(SubjectsInTreeOrder(dbx), NumberedSubjects(40));
    EXPECT_TRUE(dbx.reader()->index_damaged);

    // Deeper than the bound: the part above it is listed.
    MemoryDbx deep(FirstChildChain(200), DbxCountCheck::TreeIsTruth);
    ASSERT_NE(deep.reader(), nullptr);
    EXPECT_GT(deep.reader()->item_count, 0);
    EXPECT_LT(deep.reader()->item_count, 200);
}

TEST(DbxOpenTreeIsTruth, FilesThatAreNoFolderFilesStillFail) {
    std::string bytes = NumberedFolder(1).Build();
    PutByte(bytes, 4, 0xC7);
    dbx_errno = 0;
    EXPECT_EQ(MemoryDbx(bytes, DbxCountCheck::TreeIsTruth).reader(), nullptr);
    EXPECT_EQ(dbx_errno, 1);
    EXPECT_EQ(MemoryDbx(NumberedFolder(1).Build().substr(0, 0xE7), DbxCountCheck::TreeIsTruth).reader(), nullptr);
    EXPECT_EQ(dbx_errno, 3);
    EXPECT_EQ(dbx_open_with("/nonexistent/Inbox.dbx", DbxCountCheck::TreeIsTruth), nullptr);
    EXPECT_EQ(dbx_errno, 1);
}
