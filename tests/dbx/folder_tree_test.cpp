// The folder list read as records and hung into a tree: nesting, the top level, and lists
// whose parents are missing or run in circles.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dbx/folder_tree.h"
#include "dbx_test_support.h"
#include "fixtures/store_builder.h"

namespace {

using fixtures::DbxFolderSpec;
using fixtures::ListedFolder;
using fixtures::kLocalFoldersId;

std::vector<DbxFolderRecord> ReadList(const std::vector<DbxFolderSpec>& folders) {
    dbx_test::MemoryDbx dbx(fixtures::BuildFolderList(folders));
    std::vector<DbxFolderRecord> records;
    EXPECT_TRUE(dbx_read_folder_list(dbx.reader(), records));
    return records;
}

DbxFolderTree TreeOf(std::vector<DbxFolderSpec> folders, bool with_top = true) {
    std::vector<DbxFolderSpec> all = with_top ? fixtures::StoreTopFolders() : std::vector<DbxFolderSpec>{};
    all.insert(all.end(), folders.begin(), folders.end());
    return dbx_build_folder_tree(ReadList(all));
}

int Find(const DbxFolderTree& tree, const std::string& name) {
    for (std::size_t i = 0; i < tree.nodes.size(); ++i)
        if (tree.nodes[i].record.name == name) return static_cast<int>(i);
    return -1;
}

std::string PathOf(const DbxFolderTree& tree, const std::string& name) {
    std::string path;
    for (int node : dbx_folder_chain(tree, Find(tree, name)))
        path += (path.empty() ? "" : "/") + tree.nodes[static_cast<std::size_t>(node)].record.name;
    return path;
}

TEST(FolderList, RecordsKeepEveryFieldInEitherForm) {
    DbxFolderSpec inbox = ListedFolder(4, kLocalFoldersId, "Inbox", "Inbox.dbx");
    inbox.special_folder = 1;
    inbox.message_count = 12;
    inbox.unread_count = 0x1000000;  // past 24 bits: stored as data
    inbox.store_type = 3;
    const auto records = ReadList({fixtures::StoreTopFolders()[0], inbox});
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].id, 0u);  // no id property
    EXPECT_EQ(records[0].parent_id, kDbxNoParent);
    EXPECT_EQ(records[0].name, "Outlook Express");
    EXPECT_EQ(records[0].file_name, "");
    EXPECT_EQ(records[1].id, 4u);
    EXPECT_EQ(records[1].parent_id, kLocalFoldersId);
    EXPECT_EQ(records[1].file_name, "Inbox.dbx");
    EXPECT_EQ(records[1].special_folder, 1u);
    EXPECT_EQ(records[1].message_count, 12u);
    EXPECT_EQ(records[1].unread_count, 0x1000000u);
    EXPECT_EQ(records[1].store_type, 3u);
}

TEST(FolderList, OnlyListFilesAreRead) {
    dbx_test::MemoryDbx mail(dbx_test::NumberedFolder(2).Build());
    std::vector<DbxFolderRecord> records(1);
    EXPECT_FALSE(dbx_read_folder_list(mail.reader(), records));
    EXPECT_TRUE(records.empty());
    EXPECT_FALSE(dbx_read_folder_list(nullptr, records));
}

TEST(FolderList, ANumberWhoseDataRunsOffTheBodyIsLeftOutAndTheNameStays) {
    fixtures::DbxRawRecord record;
    record.properties = {{0x80, 7}, {0x02, 0}, {0x01, 6}};  // the parent's 4 bytes start past the name
    record.data = std::string("Lists\0", 6) + std::string("\x05\x00", 2);
    dbx_test::MemoryDbx dbx(fixtures::DbxFileBuilder(DbxKind::List).AddRawRecord(record).Build());
    auto entry = dbx.ListEntry(0);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->tag02_text, "Lists");
    EXPECT_EQ(entry->folder_id, 7u);
    EXPECT_EQ(entry->parent_id, 5u);  // the two bytes that are there
    fixtures::DbxRawRecord outside = record;
    outside.properties = {{0x80, 7}, {0x01, 200}, {0x02, 0}};
    dbx_test::MemoryDbx dbx2(fixtures::DbxFileBuilder(DbxKind::List).AddRawRecord(outside).Build());
    auto entry2 = dbx2.ListEntry(0);
    EXPECT_FALSE(entry2->parent_id.has_value());
    EXPECT_EQ(entry2->tag02_text, "Lists");
}

TEST(FolderTree, NestsFoldersAsListedUnderTheTop) {
    const DbxFolderTree tree = TreeOf({
        ListedFolder(20, 21, "hal-commit", "hal-commit.dbx"),  // listed before its parent
        ListedFolder(4, kLocalFoldersId, "Inbox", "Inbox.dbx"),
        ListedFolder(10, kLocalFoldersId, "Mailinglists"),
        ListedFolder(21, 10, "hal", "hal.dbx"),
    });
    ASSERT_GE(tree.top, 0);
    EXPECT_EQ(tree.nodes[static_cast<std::size_t>(tree.top)].record.name, "Outlook Express");
    EXPECT_EQ(tree.nodes[static_cast<std::size_t>(tree.top_level)].record.name, "Local Folders");
    EXPECT_EQ(tree.roots, std::vector<int>{tree.top});
    EXPECT_EQ(PathOf(tree, "hal-commit"), "Local Folders/Mailinglists/hal/hal-commit");
    EXPECT_EQ(PathOf(tree, "Inbox"), "Local Folders/Inbox");
    const auto& local = tree.nodes[static_cast<std::size_t>(tree.top_level)];
    ASSERT_EQ(local.children.size(), 2u);  // in the list's order
    EXPECT_EQ(tree.nodes[static_cast<std::size_t>(local.children[0])].record.name, "Inbox");
    EXPECT_EQ(tree.nodes[static_cast<std::size_t>(local.children[1])].record.name, "Mailinglists");
    for (std::size_t i = 0; i < tree.nodes.size(); ++i) {
        const DbxPlacement expected = static_cast<int>(i) == tree.top ? DbxPlacement::Top : DbxPlacement::AsListed;
        EXPECT_EQ(tree.nodes[i].placement, expected) << tree.nodes[i].record.name;
    }
}

TEST(FolderTree, MissingParentsAndLoopsEndAtTheTopLevel) {
    const DbxFolderTree tree = TreeOf({
        ListedFolder(30, 99, "orphan"),      // parent not in the list
        ListedFolder(31, 32, "ring a"),      // 31 -> 32 -> 33 -> 31
        ListedFolder(32, 33, "ring b"),
        ListedFolder(33, 31, "ring c"),
        ListedFolder(34, 31, "below ring"),  // hangs off the ring, not in it
        ListedFolder(35, 35, "own parent"),
    });
    EXPECT_EQ(tree.nodes[static_cast<std::size_t>(Find(tree, "orphan"))].placement, DbxPlacement::ParentMissing);
    EXPECT_EQ(PathOf(tree, "orphan"), "Local Folders/orphan");
    // The ring is cut once, at its first folder in the list; the others keep their parents.
    EXPECT_EQ(tree.nodes[static_cast<std::size_t>(Find(tree, "ring a"))].placement, DbxPlacement::ParentLoop);
    EXPECT_EQ(PathOf(tree, "ring a"), "Local Folders/ring a");
    EXPECT_EQ(PathOf(tree, "ring c"), "Local Folders/ring a/ring c");
    EXPECT_EQ(PathOf(tree, "ring b"), "Local Folders/ring a/ring c/ring b");
    EXPECT_EQ(PathOf(tree, "below ring"), "Local Folders/ring a/below ring");
    EXPECT_EQ(tree.nodes[static_cast<std::size_t>(Find(tree, "own parent"))].placement, DbxPlacement::ParentLoop);
    EXPECT_EQ(PathOf(tree, "own parent"), "Local Folders/own parent");
    // Every folder is reachable exactly once from the roots.
    std::vector<int> seen(tree.nodes.size(), 0);
    std::vector<int> stack = tree.roots;
    while (!stack.empty()) {
        const int at = stack.back();
        stack.pop_back();
        ++seen[static_cast<std::size_t>(at)];
        for (int c : tree.nodes[static_cast<std::size_t>(at)].children) stack.push_back(c);
    }
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], 1) << tree.nodes[i].record.name;
}

TEST(FolderTree, AChainDeeperThanAnyStoreIsCutAndDuplicateIdsDoNotMerge) {
    std::vector<DbxFolderSpec> folders;
    for (std::uint32_t i = 0; i < 100; ++i) folders.push_back(ListedFolder(100 + i, i == 0 ? kLocalFoldersId : 99 + i, "d" + std::to_string(i)));
    folders.push_back(ListedFolder(4, kLocalFoldersId, "first four"));
    folders.push_back(ListedFolder(4, kLocalFoldersId, "second four"));
    folders.push_back(ListedFolder(50, 4, "under four"));
    const DbxFolderTree tree = TreeOf(folders);
    for (std::size_t i = 0; i < tree.nodes.size(); ++i)
        EXPECT_LE(dbx_folder_chain(tree, static_cast<int>(i)).size(), std::size_t(kDbxMaxFolderDepth));
    const int cut = Find(tree, "d" + std::to_string(kDbxMaxFolderDepth - 1));
    EXPECT_EQ(tree.nodes[static_cast<std::size_t>(cut)].placement, DbxPlacement::TooDeep);
    EXPECT_EQ(tree.nodes[static_cast<std::size_t>(cut)].parent, tree.top_level);
    EXPECT_EQ(PathOf(tree, "under four"), "Local Folders/first four/under four");
    EXPECT_EQ(PathOf(tree, "second four"), "Local Folders/second four");
}

TEST(FolderTree, AListWithoutTopOrLocalFolders) {
    // No top folder: every folder whose parent is missing becomes a root.
    const DbxFolderTree bare = TreeOf({ListedFolder(5, 1, "a"), ListedFolder(6, 5, "b")}, false);
    EXPECT_EQ(bare.top, -1);
    EXPECT_EQ(bare.top_level, -1);
    ASSERT_EQ(bare.roots.size(), 1u);
    EXPECT_EQ(PathOf(bare, "b"), "a/b");
    // A top folder but no local folders: the top level is right under the top.
    std::vector<DbxFolderSpec> only_top = {fixtures::StoreTopFolders()[0], ListedFolder(5, 77, "lost")};
    const DbxFolderTree tree = dbx_build_folder_tree(ReadList(only_top));
    EXPECT_EQ(tree.top_level, tree.top);
    EXPECT_EQ(PathOf(tree, "lost"), "lost");
    EXPECT_TRUE(dbx_build_folder_tree({}).roots.empty());
    // Without a top folder a chain counts its root too, and is still bounded.
    std::vector<DbxFolderSpec> chain;
    for (std::uint32_t i = 0; i < 70; ++i) chain.push_back(ListedFolder(i + 1, i, "c" + std::to_string(i)));
    const DbxFolderTree deep = TreeOf(chain, false);
    for (std::size_t i = 0; i < deep.nodes.size(); ++i)
        EXPECT_LE(dbx_folder_chain(deep, static_cast<int>(i)).size(), std::size_t(kDbxMaxFolderDepth));
    EXPECT_EQ(PathOf(deep, "c64"), "c64");
}

TEST(FolderTree, RealFolderListOfAFreshStore) {
    const std::string path = std::string(OMBRIK_SAMPLES_DIR) + "/dbx/Folders.dbx";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no sample folder list at " << path;
    DbxReader* reader = dbx_open(path.c_str());
    ASSERT_NE(reader, nullptr);
    std::vector<DbxFolderRecord> records;
    ASSERT_TRUE(dbx_read_folder_list(reader, records));
    dbx_close(reader);
    const DbxFolderTree tree = dbx_build_folder_tree(records);
    EXPECT_EQ(tree.nodes[static_cast<std::size_t>(tree.top)].record.name, "Outlook Express");
    EXPECT_EQ(tree.nodes[static_cast<std::size_t>(tree.top_level)].record.name, "Local Folders");
    EXPECT_EQ(PathOf(tree, "Inbox"), "Local Folders/Inbox");
    EXPECT_EQ(PathOf(tree, "Drafts"), "Local Folders/Drafts");
    EXPECT_EQ(PathOf(tree, "Hotmail"), "Hotmail");  // an account of its own, beside Local Folders
    const auto& inbox = tree.nodes[static_cast<std::size_t>(Find(tree, "Inbox"))].record;
    EXPECT_EQ(inbox.file_name, "Inbox.dbx");
    EXPECT_EQ(inbox.special_folder, static_cast<std::uint32_t>(DbxSpecialFolder::Inbox));
    EXPECT_EQ(inbox.message_count, 1u);
    EXPECT_FALSE(inbox.unread_count.has_value());  // its one message was read
    EXPECT_EQ(tree.nodes[static_cast<std::size_t>(Find(tree, "Hotmail"))].record.store_type,
              static_cast<std::uint32_t>(DbxStoreType::HttpMail));
    for (const auto& node : tree.nodes) EXPECT_NE(node.placement, DbxPlacement::ParentLoop);
}

}  // namespace
