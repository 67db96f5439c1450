// File > Add Outlook Express Store... and File > Find Outlook Express Stores on a Disk...: the
// rows each adds, the notes the user is shown, the stores offered with their check boxes, and
// the rows' places in their store reaching the job.
#include <filesystem>
#include <memory>

#include <wx/button.h>
#include <wx/display.h>
#include <wx/fileconf.h>
#include <wx/gauge.h>
#include <wx/menu.h>
#include <wx/timer.h>

#include "app/store_choice_dlg.h"
#include "app/store_search_dlg.h"
#include "fixtures/store_builder.h"
#include "fixtures/temp_folder.h"
#include "gui_test_support.h"

namespace guitest {
namespace {

namespace fs = std::filesystem;

std::string StoreDir(const std::string& disk, const std::string& user, const std::string& identity) {
    return disk + "/Documents and Settings/" + user + "/Local Settings/Application Data/Identities/" + identity +
           "/Microsoft/Outlook Express";
}

// Watches for a modal dialog of type D and hands it to act on the UI thread; a timer looks every
// few milliseconds (a chain of queued calls would keep the event loop from ever reaching the
// timers the dialogs run on), for at most 30 seconds and no longer than the watch lives.
class ModalWatch : public wxTimer {
public:
    ModalWatch(std::function<bool()> try_act) : try_act_(std::move(try_act)) { Start(5); }
    ModalWatch(const ModalWatch&) = delete;
    ModalWatch& operator=(const ModalWatch&) = delete;
    ~ModalWatch() override { Stop(); }
    void Notify() override {
        if (try_act_() || std::chrono::steady_clock::now() >= deadline_) Stop();
    }

private:
    std::function<bool()> try_act_;
    std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(30);
};

template <typename D>
std::unique_ptr<ModalWatch> WhenModal(bool& seen, std::function<void(D&)> act) {
    return std::make_unique<ModalWatch>([&seen, act = std::move(act)] {
        for (wxWindow* top : wxTopLevelWindows) {
            if (auto* d = dynamic_cast<D*>(top); d != nullptr && d->IsModal()) {
                seen = true;
                act(*d);
                return true;
            }
        }
        return false;
    });
}

class StoreWindow : public MainWindowTest {
protected:
    void SetUp() override {
        // A settings file of the test's own, so the user's remembered folders are never touched.
        delete wxConfigBase::Set(new wxFileConfig("ombrik", "Corvanti", Wx(dir_ / "ombrik.conf"), wxEmptyString,
                                                  wxCONFIG_USE_LOCAL_FILE));
        MainWindowTest::SetUp();
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        delete wxConfigBase::Set(nullptr);
    }

    std::string MakeStore(const std::string& path) {
        fs::create_directories(path);
        fixtures::WriteExampleStore(path, "Gel\xF6schte Objekte");
        return path;
    }
    std::vector<std::string> Column(int column) {
        std::vector<std::string> texts;
        for (long row = 0; row < List().GetItemCount(); ++row) texts.push_back(Cell(row, column));
        return texts;
    }
    std::string MenuLabel(int id) {
        wxMenuItem* item = window_->GetMenuBar()->FindItem(ids::WxMenuId(id));
        return item == nullptr ? std::string("(none)") : Utf8(item->GetItemLabelText());
    }

    // Runs Find Stores on root; once the store dialog shows, hands it to act (on the UI thread),
    // which reads it and ends it. False when no dialog showed.
    bool FindStores(const std::string& root, const std::function<void(CStoreChoiceDlg&, wxListCtrl&)>& act) {
        bool seen = false;
        const auto watch = WhenModal<CStoreChoiceDlg>(seen, [&act](CStoreChoiceDlg& dialog) {
            act(dialog, *static_cast<wxListCtrl*>(dialog.FindWindow(ids::kStoreChoiceList)));
        });
        prompter_.folder_answers.push_back(root);
        Menu(ids::kMenuFindStores);
        Pump();
        return seen;
    }

    fixtures::TempFolder dir_;
};

// Add Folder on a store's folder: the user hears that it is a whole store and may add it as one.
TEST_F(StoreWindow, AddFolderOnAStoreOffersToAddItAsAStore) {
    const std::string store = MakeStore(dir_ / "store");
    ASSERT_TRUE(IsStoreFolder(store));
    EXPECT_FALSE(IsStoreFolder(dir_.path()));
    std::vector<std::string> files;
    COmbrikDlg::FindDbxFiles(store, files, true);

    prompter_.message_answers.push_back(wxID_YES);
    prompter_.folder_answers.push_back(store);
    Click(ids::kAddFolder);
    ASSERT_GE(prompter_.messages.size(), 1u);
    EXPECT_EQ(prompter_.messages[0].text, StoreFolderQuestion(store));
    EXPECT_EQ(prompter_.messages[0].style & 0xF, msgbox::kYesNo);
    EXPECT_EQ(List().GetItemCount(), static_cast<int>(fixtures::kExampleStoreFolders));
    EXPECT_EQ(Column(2).front(), "Inbox");  // named by its place in the store, not by a file name

    // No: the files one by one, as Add Folder always added them, the folder list among them.
    Click(ids::kClearList);
    prompter_.message_answers.push_back(wxID_NO);
    prompter_.folder_answers.push_back(store);
    Click(ids::kAddFolder);
    EXPECT_EQ(prompter_.messages.back().text, StoreFolderQuestion(store));
    EXPECT_EQ(List().GetItemCount(), static_cast<int>(files.size()));
    const std::vector<std::string> names = Column(1);
    EXPECT_NE(std::find(names.begin(), names.end(), "Folders.dbx"), names.end());
}

TEST_F(StoreWindow, AddStoreListsEveryMailFolderByItsPlaceAndTellsWhatWasPassedOver) {
    EXPECT_EQ(MenuLabel(ids::kMenuAddStore), "Add Outlook Express Store...");
    EXPECT_EQ(MenuLabel(ids::kMenuFindStores), "Find Outlook Express Stores on a Disk...");
    const std::string store = MakeStore(dir_ / "store");
    AddFiles(dir_.path(), {});  // nothing chosen: the list stays as it was
    prompter_.folder_answers.push_back(store);
    Menu(ids::kMenuAddStore);
    Pump();
    ASSERT_EQ(prompter_.folder_titles.size(), 1u);
    EXPECT_EQ(prompter_.folder_titles[0], kAddStoreTitle);

    ASSERT_EQ(List().GetItemCount(), static_cast<int>(fixtures::kExampleStoreFolders));
    const std::vector<std::string> names = Column(2);
    EXPECT_EQ(names.front(), "Inbox");  // the tree's order, from the top
    for (const char* expected : {"Mailinglists > hal", "Mailinglists > hal > hal-commit", "Projekte 2003",
                                 "Gel\u00f6schte Objekte", "ring a > ring b", "Old stuff"}) {
        EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;
    }
    EXPECT_EQ(CountText(), "8  files");
    // What holds no mail, and the folders moved to the top, are told, in one message.
    ASSERT_EQ(prompter_.messages.size(), 1u);
    const std::string& told = prompter_.messages[0].text;
    EXPECT_EQ(told.rfind("Added 8 folders of the store " + store + ".", 0), 0u) << told;
    EXPECT_NE(told.find("passed over Pop3uidl.dbx"), std::string::npos) << told;
    EXPECT_NE(told.find("\"ring a\" has parent folders that lead back to itself"), std::string::npos) << told;

    // A folder file added alone has no place in a store; the job hears both kinds of row.
    const std::string alone = dir_ / "Alone.dbx";
    fixtures::WriteFile(alone, fixtures::BuildMailFolder("alone", 1));
    AddFiles(dir_.path(), {alone});
    std::vector<std::vector<std::string>> paths;
    std::atomic<bool> done{false};
    job_.body = [&](ConversionWindow& window) {
        for (int row = 0; row < window.RowCount(); ++row) paths.push_back(window.RowStorePath(row));
        done = true;
    };
    prompter_.folder_answers.push_back(dir_.path());
    Click(ids::kBrowseDestination);
    Click(ids::kConvertMessages);
    ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
    PumpUntil([this] { return !job_.IsRunning(); });
    ASSERT_EQ(paths.size(), 9u);
    EXPECT_TRUE(paths[0].empty());
    EXPECT_EQ(paths[1], std::vector<std::string>{"Inbox"});
    const auto commit = std::vector<std::string>{"Mailinglists", "hal", "hal-commit"};
    EXPECT_NE(std::find(paths.begin(), paths.end(), commit), paths.end());

    // The same store again adds nothing twice, and says so.
    prompter_.messages.clear();
    prompter_.folder_answers.push_back(store);
    Menu(ids::kMenuAddStore);
    Pump();
    EXPECT_EQ(List().GetItemCount(), 9);
    ASSERT_FALSE(prompter_.messages.empty());
    EXPECT_NE(prompter_.messages.back().text.find("No mail folder to add was found in " + store),
              std::string::npos);
}

TEST_F(StoreWindow, FindStoresOffersEachStoreWithItsOwnerAndAddsTheCheckedOnes) {
    const std::string disk = dir_ / "disk";
    const std::string alice = MakeStore(StoreDir(disk, "alice", "{1A2B3C4D-0000-1111-2222-333344445555}"));
    const std::string bob = MakeStore(StoreDir(disk, "bob", "{99999999-AAAA-BBBB-CCCC-DDDDEEEEFFFF}"));
    std::vector<std::vector<std::string>> offered;
    ASSERT_TRUE(FindStores(disk, [&](CStoreChoiceDlg& dialog, wxListCtrl& list) {
        EXPECT_EQ(Utf8(dialog.GetTitle()), kStoreChoiceCaption);
        for (long row = 0; row < list.GetItemCount(); ++row) {
            std::vector<std::string> cells;
            for (int column = 0; column < 5; ++column) cells.push_back(Utf8(list.GetItemText(row, column)));
            EXPECT_TRUE(list.IsItemChecked(row)) << "every store starts checked";
            offered.push_back(cells);
        }
        list.CheckItem(1, false);  // bob's
        dialog.EndModal(wxID_OK);
    })) << "the store dialog never showed";
    EXPECT_EQ(prompter_.folder_titles.back(), kFindStoresTitle);
    const std::string folders = std::to_string(fixtures::kExampleStoreFolders);
    const std::string messages = std::to_string(fixtures::kExampleStoreMessages);
    EXPECT_EQ(offered, (std::vector<std::vector<std::string>>{
                           {"alice", "{1A2B3C4D-0000-1111-2222-333344445555}", folders, messages, alice},
                           {"bob", "{99999999-AAAA-BBBB-CCCC-DDDDEEEEFFFF}", folders, messages, bob}}));
    ASSERT_EQ(List().GetItemCount(), static_cast<int>(fixtures::kExampleStoreFolders));
    for (const std::string& path : Column(0)) EXPECT_EQ(path.rfind(alice + "/", 0), 0u) << path;
    ASSERT_FALSE(prompter_.messages.empty());
    EXPECT_NE(prompter_.messages.back().text.find(alice + ":"), std::string::npos);

    // Cancel adds nothing.
    ASSERT_TRUE(FindStores(disk, [](CStoreChoiceDlg& dialog, wxListCtrl&) { dialog.EndModal(wxID_CANCEL); }));
    EXPECT_EQ(List().GetItemCount(), static_cast<int>(fixtures::kExampleStoreFolders));

    // A folder with no store below it is said to hold none; no dialog opens.
    fs::create_directories(dir_ / "empty");
    prompter_.folder_answers.push_back(dir_ / "empty");
    Menu(ids::kMenuFindStores);
    Pump();
    ASSERT_FALSE(prompter_.messages.empty());
    EXPECT_EQ(prompter_.messages.back().text, "No Outlook Express store was found below\n" + (dir_ / "empty"));
}

// The walk of a disk runs off the UI thread while a dialog with a moving bar and Cancel is up:
// the window keeps handling events during the walk, and the stores are offered after it.
TEST_F(StoreWindow, FindStoresWalksOnAWorkerWhileTheSearchDialogIsUp) {
    const std::string disk = dir_ / "disk";
    const std::string alice = MakeStore(StoreDir(disk, "alice", "{1A2B3C4D-0000-1111-2222-333344445555}"));
    std::atomic<bool> dialog_seen{false};
    std::atomic<bool> walked_on_ui{true};
    window_->SetStoreWalker([&](const std::string& root, const std::string& codepage, const StoreSearchLimits& limits) {
        walked_on_ui = wxIsMainThread();
        // Held until the UI thread has seen the dialog: a walk on the UI thread would hang here.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!dialog_seen && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return FindOutlookExpressStores(root, codepage, limits);
    });
    bool search_shown = false;
    const auto watch = WhenModal<CStoreSearchDlg>(search_shown, [&](CStoreSearchDlg& dialog) {
        EXPECT_EQ(Utf8(dialog.GetTitle()), kStoreSearchCaption);
        EXPECT_NE(dynamic_cast<wxGauge*>(dialog.FindWindow(ids::kStoreSearchGauge)), nullptr);
        wxWindow* cancel = dialog.FindWindow(wxID_CANCEL);
        ASSERT_NE(cancel, nullptr);
        EXPECT_TRUE(cancel->IsEnabled());
        EXPECT_TRUE(wxDisplay(0u).GetClientArea().Contains(dialog.GetScreenRect()));
        dialog_seen = true;
    });
    std::vector<std::string> offered;
    ASSERT_TRUE(FindStores(disk, [&](CStoreChoiceDlg& dialog, wxListCtrl& list) {
        for (long row = 0; row < list.GetItemCount(); ++row) offered.push_back(Utf8(list.GetItemText(row, 4)));
        dialog.EndModal(wxID_OK);
    })) << "the store dialog never showed";
    EXPECT_TRUE(search_shown) << "no search dialog while the disk was walked";
    EXPECT_FALSE(walked_on_ui);
    EXPECT_EQ(offered, std::vector<std::string>{alice});
    EXPECT_EQ(List().GetItemCount(), static_cast<int>(fixtures::kExampleStoreFolders));
}

// Cancel while the walk runs: the walk is told to stop, nothing is offered, nothing is added and
// nothing is said; the window is ready for the next command.
TEST_F(StoreWindow, CancellingTheSearchAddsNothing) {
    const std::string disk = dir_ / "disk";
    MakeStore(StoreDir(disk, "alice", "{1A2B3C4D-0000-1111-2222-333344445555}"));
    std::atomic<bool> stop_seen{false};
    std::atomic<std::size_t> stores_found{99};
    window_->SetStoreWalker([&](const std::string& root, const std::string& codepage, const StoreSearchLimits& limits) {
        // Stands for a big disk: the walk goes on until told to stop, then the finder runs
        // with the same stop.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (limits.keep_going() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        stop_seen = !limits.keep_going();
        StoreSearch search = FindOutlookExpressStores(root, codepage, limits);
        stores_found = search.stores.size();
        return search;
    });
    bool search_shown = false;
    bool disabled_after_click = false;
    const auto watch = WhenModal<CStoreSearchDlg>(search_shown, [&](CStoreSearchDlg& dialog) {
        wxCommandEvent click(wxEVT_BUTTON, wxID_CANCEL);
        click.SetEventObject(dialog.FindWindow(wxID_CANCEL));
        dialog.GetEventHandler()->ProcessEvent(click);
        disabled_after_click = !dialog.FindWindow(wxID_CANCEL)->IsEnabled();
    });
    const bool offered = FindStores(disk, [](CStoreChoiceDlg& dialog, wxListCtrl&) {
        ADD_FAILURE() << "stores offered after Cancel";
        dialog.EndModal(wxID_OK);
    });
    EXPECT_FALSE(offered);
    EXPECT_TRUE(search_shown);
    EXPECT_TRUE(disabled_after_click) << "Cancel can be pressed again while the walk stops";
    EXPECT_TRUE(stop_seen) << "the walk was never told to stop";
    EXPECT_EQ(stores_found, 0u);
    EXPECT_EQ(List().GetItemCount(), 0);
    EXPECT_TRUE(prompter_.messages.empty()) << testing::PrintToString(prompter_.MessageTexts());
    EXPECT_TRUE(window_->GetMenuBar()->IsEnabled(ids::WxMenuId(ids::kMenuFindStores)));

    // The next search, left alone, finds the store.
    window_->SetStoreWalker(FindOutlookExpressStores);
    EXPECT_TRUE(FindStores(disk, [](CStoreChoiceDlg& dialog, wxListCtrl&) { dialog.EndModal(wxID_CANCEL); }));
}

}  // namespace
}  // namespace guitest
