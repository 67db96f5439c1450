// Finding the stores on a disk: where Windows keeps them, stores moved elsewhere, and the
// things a real disk holds that must not stop or mislead the walk.
#include "job/store_finder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "fixtures/store_builder.h"
#include "fixtures/temp_folder.h"

namespace {

namespace fs = std::filesystem;

const char* const kIdentityA = "{1A2B3C4D-0000-1111-2222-333344445555}";
const char* const kIdentityB = "{99999999-AAAA-BBBB-CCCC-DDDDEEEEFFFF}";

std::string StoreDir(const std::string& disk, const std::string& user, const std::string& identity) {
    return disk + "/Documents and Settings/" + user + "/Local Settings/Application Data/Identities/" + identity +
           "/Microsoft/Outlook Express";
}

std::string MakeStore(const std::string& dir, int inbox_messages) {
    fs::create_directories(dir);
    std::vector<fixtures::DbxFolderSpec> folders = fixtures::StoreTopFolders();
    fixtures::DbxFolderSpec inbox;
    inbox.id = 4;
    inbox.parent_id = fixtures::kLocalFoldersId;
    inbox.name = "Inbox";
    inbox.file_name = "Inbox.dbx";
    folders.push_back(inbox);
    fixtures::WriteStore(dir, folders, {{"Inbox.dbx", inbox_messages}, {"Sent Items.dbx", 1}});
    return dir;
}

const FoundStore* Find(const StoreSearch& search, const std::string& path) {
    for (const auto& store : search.stores)
        if (store.path == path) return &store;
    return nullptr;
}

TEST(StoreFinder, FindsEveryIdentityOfEveryUserAndMovedStores) {
    fixtures::TempFolder disk;
    const std::string alice_a = MakeStore(StoreDir(disk.path(), "alice", kIdentityA), 3);
    const std::string alice_b = MakeStore(StoreDir(disk.path(), "alice", kIdentityB), 0);
    const std::string bob = MakeStore(StoreDir(disk.path(), "Bob Smith", kIdentityA), 5);
    const std::string moved = MakeStore(disk / "backup/old mail", 2);
    // Folder files without a folder list are no store; nor is a folder named like the list.
    fs::create_directories(disk / "loose");
    fixtures::WriteStore(disk / "loose", {}, {{"Inbox.dbx", 1}});
    fs::create_directories(disk / "odd/Folders.dbx");

    const StoreSearch search = FindOutlookExpressStores(disk.path(), "windows-1252");
    EXPECT_TRUE(search.problems.empty());
    EXPECT_FALSE(search.truncated);
    ASSERT_EQ(search.stores.size(), 4u);
    const FoundStore* a = Find(search, alice_a);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->user, "alice");
    EXPECT_EQ(a->identity, kIdentityA);
    EXPECT_EQ(a->folders, 2u);
    EXPECT_EQ(a->messages, 4u);
    ASSERT_NE(Find(search, alice_b), nullptr);
    EXPECT_EQ(Find(search, alice_b)->identity, kIdentityB);
    EXPECT_EQ(Find(search, alice_b)->messages, 1u);
    ASSERT_NE(Find(search, bob), nullptr);
    EXPECT_EQ(Find(search, bob)->user, "Bob Smith");
    EXPECT_EQ(Find(search, bob)->messages, 6u);
    ASSERT_NE(Find(search, moved), nullptr);
    EXPECT_EQ(Find(search, moved)->user, "");
    EXPECT_EQ(Find(search, moved)->identity, "");
    // In path order.
    for (std::size_t i = 1; i < search.stores.size(); ++i) EXPECT_LT(search.stores[i - 1].path, search.stores[i].path);
}

TEST(StoreFinder, LinkLoopsFifosAndUnreadableFoldersDoNotStopTheWalk) {
    fixtures::TempFolder disk;
    const std::string store = MakeStore(StoreDir(disk.path(), "carol", kIdentityA), 1);
    fs::create_symlink(disk.path(), disk / "Documents and Settings/carol/loop");  // back up to the top
    fs::create_directory_symlink(store, disk / "shortcut to mail");              // the same store again
    fs::create_symlink(disk / "a", disk / "b");
    fs::create_symlink(disk / "b", disk / "a");  // a link that never resolves
    fs::create_directories(disk / "pipes");
    ASSERT_EQ(::mkfifo((disk / "pipes/Folders.dbx").c_str(), 0600), 0);  // must not be opened
    fs::create_directories(disk / "private/inner");
    MakeStore(disk / "private/inner/store", 1);
    ::chmod((disk / "private").c_str(), 0);

    const StoreSearch search = FindOutlookExpressStores(disk.path(), "");
    ::chmod((disk / "private").c_str(), 0700);
    ASSERT_NE(Find(search, store), nullptr);
    EXPECT_EQ(Find(search, store)->user, "carol");
    EXPECT_EQ(Find(search, store)->messages, 2u);
    EXPECT_EQ(Find(search, (disk / "pipes")), nullptr);
    if (::geteuid() == 0) {
        // The superuser reads every folder: the hidden store is found, and that is all.
        EXPECT_EQ(search.stores.size(), 2u);
        GTEST_SKIP() << "running as root: a folder without permissions is still readable";
    }
    EXPECT_EQ(search.stores.size(), 1u);
    bool told = false;
    for (const auto& problem : search.problems) told |= problem.find("private") != std::string::npos;
    EXPECT_TRUE(told);
}

TEST(StoreFinder, TheWalkIsBounded) {
    fixtures::TempFolder disk;
    MakeStore(disk / "a/b/c/d/store", 1);
    StoreSearchLimits shallow;
    shallow.max_depth = 3;
    const StoreSearch search = FindOutlookExpressStores(disk.path(), "", shallow);
    EXPECT_TRUE(search.stores.empty());
    EXPECT_TRUE(search.truncated);
    const StoreSearch none = FindOutlookExpressStores(disk / "missing", "");
    EXPECT_TRUE(none.stores.empty());
    ASSERT_EQ(none.problems.size(), 1u);
    EXPECT_NE(none.problems[0].find("missing"), std::string::npos);
}

// A stop asked for mid-walk ends it at the next folder: stores in folders not yet entered are
// not found, none is found twice, and the search says it was stopped.
TEST(StoreFinder, AStopEndsTheWalkAtTheNextFolder) {
    fixtures::TempFolder disk;
    const std::string first = MakeStore(disk / "a/store", 1);
    MakeStore(disk / "b/store", 1);
    MakeStore(disk / "c/store", 1);
    int asked = 0;
    bool stop = false;
    StoreSearchLimits limits;
    limits.keep_going = [&] {
        ++asked;
        // Stop once the first store has been entered: folders are disk, a, a/store, then b.
        if (asked == 4) stop = true;
        return !stop;
    };
    const StoreSearch search = FindOutlookExpressStores(disk.path(), "", limits);
    EXPECT_TRUE(search.stopped);
    EXPECT_FALSE(search.truncated);
    ASSERT_EQ(search.stores.size(), 1u);
    EXPECT_EQ(search.stores[0].path, first);
    EXPECT_EQ(asked, 4) << "the walk went on asking after it was told to stop";

    limits.keep_going = [] { return false; };
    const StoreSearch none = FindOutlookExpressStores(disk.path(), "", limits);
    EXPECT_TRUE(none.stopped);
    EXPECT_TRUE(none.stores.empty());

    limits.keep_going = [] { return true; };
    const StoreSearch all = FindOutlookExpressStores(disk.path(), "", limits);
    EXPECT_FALSE(all.stopped);
    EXPECT_EQ(all.stores.size(), 3u);
}

TEST(StoreFinder, OwnerNamesFromTheWindowsLayouts) {
    std::string user, identity;
    NameStoreOwner("/mnt/win/DOCUMENTS AND SETTINGS/Eve/Local Settings/Application Data/Identities/"
                   "{0A0B0C0D-1111-2222-3333-444455556666}/Microsoft/Outlook Express",
                   user, identity);
    EXPECT_EQ(user, "Eve");
    EXPECT_EQ(identity, "{0A0B0C0D-1111-2222-3333-444455556666}");
    NameStoreOwner("/mnt/win98/WINDOWS/Profiles/Frank/Application Data/Identities/{X}/Microsoft/Outlook Express",
                   user, identity);
    EXPECT_EQ(user, "Frank");
    EXPECT_EQ(identity, "{X}");
    NameStoreOwner("/home/me/old mail/Identities/not-a-guid/x", user, identity);
    EXPECT_EQ(user, "");
    EXPECT_EQ(identity, "");
}

}  // namespace
