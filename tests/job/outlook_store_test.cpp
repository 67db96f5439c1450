// A whole store read from disk: folders nested and named as the folder pane shows them, the
// mail file of each, and the files that hold no mail.
#include "job/outlook_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "fixtures/store_builder.h"
#include "fixtures/temp_folder.h"

namespace {

const StoreFolder* FindByPath(const OutlookStore& store, const std::string& display_path) {
    for (const auto& folder : store.folders)
        if (folder.display_path == display_path) return &folder;
    return nullptr;
}

std::string FileOf(const OutlookStore& store, const std::string& display_path) {
    const StoreFolder* folder = FindByPath(store, display_path);
    return folder == nullptr ? "(no folder)" : std::filesystem::path(folder->file_path).filename().string();
}

bool HasNoteWith(const OutlookStore& store, const std::string& words) {
    return std::any_of(store.notes.begin(), store.notes.end(),
                       [&](const std::string& note) { return note.find(words) != std::string::npos; });
}

TEST(OutlookStore, FoldersComeOutNestedNamedAndMatchedToTheirFiles) {
    fixtures::TempFolder dir;
    fixtures::WriteExampleStore(dir.path(), "Gel\xF6schte Objekte");
    const OutlookStore store = LoadOutlookStore(dir.path(), "windows-1252");
    EXPECT_TRUE(store.folder_list_read);
    EXPECT_EQ(FileOf(store, "Inbox"), "INBOX.DBX");  // listed as Inbox.dbx
    EXPECT_EQ(FileOf(store, "Mailinglists"), "");    // a folder without mail of its own
    EXPECT_EQ(FileOf(store, "Mailinglists > hal"), "hal.dbx");
    EXPECT_EQ(FileOf(store, "Mailinglists > hal > hal-commit"), "hal-commit.dbx");
    EXPECT_EQ(FileOf(store, "Projekte 2003"), "Neuer Ordner.dbx");
    EXPECT_EQ(FileOf(store, "Gel\u00f6schte Objekte"), "Deleted Items.dbx");
    EXPECT_EQ(FileOf(store, "Old stuff"), "Old stuff.dbx");
    EXPECT_FALSE(FindByPath(store, "Old stuff")->listed);
    EXPECT_EQ(FileOf(store, "ring a"), "ring a.dbx");
    EXPECT_EQ(FileOf(store, "ring a > ring b"), "ring b.dbx");
    EXPECT_EQ(FileOf(store, "Gone"), "");

    const StoreFolder* commit = FindByPath(store, "Mailinglists > hal > hal-commit");
    ASSERT_NE(commit, nullptr);
    EXPECT_EQ(commit->path, (std::vector<std::string>{"Mailinglists", "hal", "hal-commit"}));
    EXPECT_EQ(commit->message_count, 2u);
    // Parents come before their children, and each knows the other.
    for (std::size_t i = 0; i < store.folders.size(); ++i) {
        const StoreFolder& f = store.folders[i];
        if (f.parent < 0) continue;
        EXPECT_LT(static_cast<std::size_t>(f.parent), i) << f.display_path;
        const auto& siblings = store.folders[static_cast<std::size_t>(f.parent)].children;
        EXPECT_NE(std::find(siblings.begin(), siblings.end(), static_cast<int>(i)), siblings.end());
    }
    EXPECT_EQ(store.MailFolderCount(), fixtures::kExampleStoreFolders);
    EXPECT_EQ(store.MessageCount(), fixtures::kExampleStoreMessages);
}

TEST(OutlookStore, FilesWithoutMailAreNamedAndOddPlacesAreNoted) {
    fixtures::TempFolder dir;
    fixtures::WriteExampleStore(dir.path(), "Deleted");
    const OutlookStore store = LoadOutlookStore(dir.path(), "windows-1252");
    std::map<std::string, DbxFileKind> others;
    for (const auto& file : store.other_files) others[std::filesystem::path(file.path).filename().string()] = file.kind;
    EXPECT_EQ(others, (std::map<std::string, DbxFileKind>{{"Folders.dbx", DbxFileKind::FolderList},
                                                           {"Offline.dbx", DbxFileKind::OfflineActions},
                                                           {"Pop3uidl.dbx", DbxFileKind::Pop3Uidl},
                                                           {"notes.dbx", DbxFileKind::Text}}));
    EXPECT_TRUE(HasNoteWith(store, "\"ring a\" has parent folders that lead back to itself"));
    EXPECT_TRUE(HasNoteWith(store, "Gone.dbx, which is not in the store"));
    EXPECT_FALSE(HasNoteWith(store, "no folder list"));
    EXPECT_FALSE(HasNoteWith(store, "hal"));
}

TEST(OutlookStore, EachListedNameTakesOneFile) {
    fixtures::TempFolder dir;
    std::vector<fixtures::DbxFolderSpec> folders = fixtures::StoreTopFolders();
    for (const char* name : {"Inbox", "Inbox copy"}) {
        const bool first = name[5] == 0;
        folders.push_back(fixtures::ListedFolder(first ? 4 : 5, fixtures::kLocalFoldersId, name, first ? "Inbox.dbx" : "INBOX.dbx"));
    }
    fixtures::WriteStore(dir.path(), folders, {{"Inbox.dbx", 2}});
    const OutlookStore store = LoadOutlookStore(dir.path(), "");
    EXPECT_EQ(FileOf(store, "Inbox"), "Inbox.dbx");
    EXPECT_EQ(FileOf(store, "Inbox copy"), "");
    EXPECT_EQ(store.MessageCount(), 2u);
    EXPECT_TRUE(HasNoteWith(store, "\"Inbox copy\" names INBOX.dbx, the file of another folder"));

    // Copied to a disk that tells letter case apart, both spellings may be there: each name
    // takes its own file first, and a file no name takes is still converted.
    fixtures::WriteStore(dir.path(), {}, {{"INBOX.dbx", 3}, {"inbox.DBX", 4}});
    const OutlookStore both = LoadOutlookStore(dir.path(), "");
    EXPECT_EQ(FileOf(both, "Inbox"), "Inbox.dbx");
    EXPECT_EQ(FileOf(both, "Inbox copy"), "INBOX.dbx");
    EXPECT_EQ(FileOf(both, "inbox"), "inbox.DBX");
    EXPECT_EQ(both.MessageCount(), 9u);
}

TEST(OutlookStore, SiblingsOfOneNameAreToldApart) {
    fixtures::TempFolder dir;
    std::vector<fixtures::DbxFolderSpec> folders = fixtures::StoreTopFolders();
    auto add = [&](std::uint32_t id, std::uint32_t parent, const char* name, const char* file) {
        folders.push_back(fixtures::ListedFolder(id, parent, name, file));
    };
    add(4, fixtures::kLocalFoldersId, "Work", "Work.dbx");
    add(5, fixtures::kLocalFoldersId, "Work", "Work old.dbx");
    add(6, 5, "Work", "Inner.dbx");  // a child may carry its parent's name
    add(7, fixtures::kLocalFoldersId, "Archive", "Archive 1.dbx");
    // "Archive.dbx" is not listed: it comes to the top as "Archive", beside the listed one.
    fixtures::WriteStore(dir.path(), folders,
                         {{"Work.dbx", 1}, {"Work old.dbx", 2}, {"Inner.dbx", 1}, {"Archive 1.dbx", 1}, {"Archive.dbx", 3}});
    const OutlookStore store = LoadOutlookStore(dir.path(), "");
    EXPECT_EQ(FileOf(store, "Work"), "Work.dbx");
    EXPECT_EQ(FileOf(store, "Work (2)"), "Work old.dbx");
    EXPECT_EQ(FileOf(store, "Work (2) > Work"), "Inner.dbx");
    EXPECT_EQ(FileOf(store, "Archive"), "Archive 1.dbx");
    EXPECT_EQ(FileOf(store, "Archive (2)"), "Archive.dbx");
    const StoreFolder* inner = FindByPath(store, "Work (2) > Work");
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->path, (std::vector<std::string>{"Work (2)", "Work"}));
}

TEST(OutlookStore, NamesAreDecodedWithTheCodePageGiven) {
    fixtures::TempFolder dir;
    const std::string inbox_1251 = "\xC2\xF5\xEE\xE4\xFF\xF9\xE8\xE5";  // "Входящие"
    fixtures::WriteExampleStore(dir.path(), inbox_1251);
    const OutlookStore russian = LoadOutlookStore(dir.path(), "windows-1251");
    EXPECT_EQ(FileOf(russian, "\u0412\u0445\u043e\u0434\u044f\u0449\u0438\u0435"), "Deleted Items.dbx");
    const OutlookStore western = LoadOutlookStore(dir.path(), "windows-1252");
    EXPECT_EQ(FileOf(western, "\u00c2\u00f5\u00ee\u00e4\u00ff\u00f9\u00e8\u00e5"), "Deleted Items.dbx");
}

TEST(OutlookStore, WithoutAReadableFolderListEveryMailFileIsATopFolder) {
    fixtures::TempFolder dir;
    fixtures::WriteStore(dir.path(), {}, {{"Inbox.dbx", 2}, {"Sent Items.dbx", 1}});
    const OutlookStore bare = LoadOutlookStore(dir.path(), "");
    EXPECT_TRUE(bare.folder_list_path.empty());
    ASSERT_EQ(bare.folders.size(), 2u);
    EXPECT_EQ(bare.folders[0].display_path, "Inbox");
    EXPECT_EQ(bare.folders[1].display_path, "Sent Items");
    EXPECT_EQ(bare.MessageCount(), 3u);
    EXPECT_TRUE(HasNoteWith(bare, "there is no folder list (Folders.dbx)"));

    // A folder list whose index is damaged: the same, with a note saying why.
    std::string list = fixtures::BuildFolderList(fixtures::StoreTopFolders());
    fixtures::PutLe32(list, fixtures::GetLe32(list, fixtures::kDbxRootNodeAt), 0);  // the root no longer names itself
    fixtures::WriteFile(dir / "Folders.dbx", list);
    const OutlookStore damaged = LoadOutlookStore(dir.path(), "");
    EXPECT_FALSE(damaged.folder_list_read);
    EXPECT_EQ(damaged.folders.size(), 2u);
    EXPECT_TRUE(HasNoteWith(damaged, "Folders.dbx has a damaged index of messages; every folder file"));

    // A text file in the folder list's place is passed over as what it is.
    fixtures::WriteFile(dir / "Folders.dbx", "not a list");
    const OutlookStore text = LoadOutlookStore(dir.path(), "");
    EXPECT_TRUE(HasNoteWith(text, "a text file"));
    EXPECT_EQ(text.folders.size(), 2u);

    const OutlookStore missing = LoadOutlookStore(dir / "nowhere", "");
    EXPECT_TRUE(missing.folders.empty());
    EXPECT_TRUE(HasNoteWith(missing, "cannot read the folder"));
}

TEST(OutlookStore, RealFolderListBesideItsFiles) {
    const std::string samples = std::string(OMBRIK_SAMPLES_DIR) + "/dbx";
    if (!std::filesystem::is_directory(samples)) GTEST_SKIP() << "no sample folder files in " << samples;
    fixtures::TempFolder dir;
    for (const char* name : {"Folders.dbx", "Inbox.dbx", "Outbox.dbx", "Offline.dbx"})
        std::filesystem::copy_file(samples + "/" + name, dir / name);
    const OutlookStore store = LoadOutlookStore(dir.path(), "windows-1252");
    EXPECT_TRUE(store.folder_list_read);
    EXPECT_EQ(FileOf(store, "Inbox"), "Inbox.dbx");
    EXPECT_EQ(FileOf(store, "Outbox"), "Outbox.dbx");
    EXPECT_NE(FindByPath(store, "Sent Items"), nullptr);
    EXPECT_NE(FindByPath(store, "Hotmail"), nullptr);
    EXPECT_EQ(FindByPath(store, "Local Folders"), nullptr);  // the container is the top itself
    EXPECT_EQ(store.MailFolderCount(), 2u);
    EXPECT_EQ(store.MessageCount(), 1u);
    EXPECT_EQ(store.other_files.size(), 2u);  // the list and the offline-actions file
}

}  // namespace

// A news account's groups are folders of their own below the account, like another account's
// mail folders.
TEST(OutlookStore, NewsgroupsAreFoldersBelowTheirAccount) {
    fixtures::TempFolder dir;
    std::vector<fixtures::DbxFolderSpec> folders = fixtures::StoreTopFolders();
    folders.push_back(fixtures::ListedFolder(2, fixtures::kLocalFoldersId, "Inbox", "Inbox.dbx"));
    fixtures::DbxFolderSpec server = fixtures::ListedFolder(30, 0, "news.example.com");
    server.store_type = 0;  // news
    folders.push_back(server);
    folders.push_back(fixtures::ListedFolder(31, 30, "alt.test", "alt.test.dbx"));
    fixtures::WriteStore(dir.path(), folders, {{"Inbox.dbx", 1}});
    fixtures::DbxFileBuilder group;
    group.SetNewsAccount("00000002");
    for (int i = 0; i < 2; ++i) group.AddEmail({"article " + std::to_string(i), "a@example.org", 0, true,
                                               "Newsgroups: alt.test\r\nSubject: article\r\n\r\nposted\r\n"});
    group.WriteTo(dir / "alt.test.dbx");
    const OutlookStore store = LoadOutlookStore(dir.path(), "windows-1252");
    EXPECT_EQ(FileOf(store, "news.example.com > alt.test"), "alt.test.dbx");
    EXPECT_EQ(FindByPath(store, "news.example.com > alt.test")->message_count, 2u);
    EXPECT_EQ(store.MailFolderCount(), 2u);
    for (const auto& file : store.other_files) EXPECT_NE(file.kind, DbxFileKind::NewsFolder) << file.path;
}
