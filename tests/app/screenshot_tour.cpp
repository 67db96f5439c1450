// Walks the desktop program through the states shown in the documentation and takes a picture
// of each: the empty main window, the window during a conversion, the summary at its end, the
// PST options dialog and the about box. Run by take-screenshots.sh under a virtual display with
// a window manager, once per font scale.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include <wx/app.h>
#include <wx/fileconf.h>
#include <wx/image.h>
#include <wx/listctrl.h>
#include <wx/radiobut.h>
#include <wx/menu.h>
#include <wx/timer.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include "app/about_dlg.h"
#include "app/completion_dlg.h"
#include "app/control_ids.h"
#include "app/job_control.h"
#include "app/ombrik_dlg.h"
#include "app/prompter.h"
#include "app/save_pst_option.h"
#include "app/store_choice_dlg.h"
#include "app/theme_marks.h"
#include "app/toolkit_setup.h"
#include "fixtures/dbx_builder.h"
#include "fixtures/store_builder.h"
#include "conversion/job_settings.h"
#include "platform/outlook_probe.h"

namespace {

namespace fs = std::filesystem;

void Shoot(wxWindow& window, const std::string& path);
void Settle(int milliseconds);

// Real dialogs, except that the folder and file choosers answer from a script; the summary is
// photographed and closed.
class TourPrompter : public WxPrompter {
public:
    std::string folder;
    std::string summary_picture;
    std::optional<std::string> ChooseFolder(wxWindow*, const std::string&, const std::string&) override {
        return folder;
    }
    std::optional<std::string> ChooseSaveFile(wxWindow*, const SaveFileRequest& request) override {
        return folder + "/" + request.file_name;
    }
    int ShowMessage(wxWindow*, const std::string&, const std::string&, unsigned) override { return wxID_OK; }
    void ShowJobSummary(wxWindow* owner, const JobTally& tally, const std::string& destination,
                        bool stopped) override {
        CCompletionDlg dialog(owner, tally, destination, *this, stopped);
        dialog.CallAfter([this, &dialog] {
            Shoot(dialog, summary_picture);
            dialog.EndModal(wxID_OK);
        });
        dialog.ShowModal();
    }
};

void Settle(int milliseconds) {
    const wxLongLong until = wxGetLocalTimeMillis() + milliseconds;
    while (wxGetLocalTimeMillis() < until) {
        wxTheApp->Yield(true);
        wxMilliSleep(10);
    }
}

// A part of the screen, with whatever lies over it there (an open menu).
void ShootRect(wxRect rect, const std::string& path) {
    Settle(600);
    rect.Inflate(1);
    const std::string screen = path + ".screen.png";
    const std::string command = "import -window root '" + screen + "' && convert '" + screen + "' -crop " +
                                std::to_string(rect.width) + "x" + std::to_string(rect.height) + "+" +
                                std::to_string(std::max(0, rect.x)) + "+" + std::to_string(std::max(0, rect.y)) +
                                " +repage '" + path + "' && rm -f '" + screen + "'";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not take %s\n", path.c_str());
}

// A picture of one top-level window with its frame, cut from the whole screen, once the window
// manager has put it where it stays.
void Shoot(wxWindow& window, const std::string& path) {
    Settle(600);
    ShootRect(window.GetRect(), path);
}

std::string MessageText(std::size_t i) {
    std::string text = "From: \"Ann Example\" <ann@example.org>\r\nTo: bob@example.org\r\nSubject: Weekly report " +
                       std::to_string(i) + "\r\n\r\n";
    while (text.size() < 6000) text += "The figures for this week are attached below.\r\n";
    return text;
}

class TourApp : public wxApp {
public:
    TourApp() { SetUpToolkitEnvironment(); }
    bool OnInit() override {
        if (argc < 3) {
            std::fprintf(stderr, "usage: screenshot_tour OUTPUT_DIR WORK_DIR [NAME_SUFFIX]\n");
            return false;
        }
        output_ = argv[1].ToStdString();
        work_ = argv[2].ToStdString();
        if (argc > 3) suffix_ = argv[3].ToStdString();
        fs::create_directories(work_);
        // The pictures show a first run: nothing remembered, and the user's settings untouched.
        delete wxConfigBase::Set(new wxFileConfig("ombrik", wxEmptyString, work_ + "/settings.ini", wxEmptyString,
                                                  wxCONFIG_USE_LOCAL_FILE));
        wxInitAllImageHandlers();
        DrawThemeMarksFromBitmaps();
        SetAppDisplayName("Ombrik");
        fs::create_directories(output_);
        MakeFolderFiles();
        CallAfter([this] { RunTour(); });
        return true;
    }

private:
    void MakeFolderFiles() {
        const std::string mail = work_ + "/Outlook Express";
        fs::create_directories(mail);
        fs::create_directories(work_ + "/Converted");
        // A folder file that is not one, so the summary has a failure to show.
        std::FILE* broken = std::fopen((mail + "/Damaged.dbx").c_str(), "wb");
        if (broken != nullptr) {
            std::fputs("not a folder file", broken);
            std::fclose(broken);
        }
        for (const char* name : {"Inbox", "Sent Items", "Drafts", "Deleted Items", "Archive 2004"}) {
            const std::size_t count = std::string(name) == "Inbox" ? 6000 : 400;
            fixtures::WriteDbxFile(mail + "/" + name + ".dbx", count, [](std::size_t i) {
                fixtures::DbxEmailSpec email;
                email.subject = "Weekly report " + std::to_string(i);
                email.text = MessageText(i);
                return email;
            });
        }
    }

    void RunTour() {
        auto* window = new COmbrikDlg(CurrentJobSettings(), prompter_, DefaultOutlookProbe(), jobs_);
        window->Move(40, 40);
        window->Show();
        Shoot(*window, Picture("main-window"));
        ShootFileMenu(*window);

        prompter_.folder = work_ + "/Outlook Express";
        window->OnAddFolder();
        prompter_.folder = work_ + "/Converted";
        prompter_.summary_picture = Picture("completion");
        window->OnBrowseDestination();
        window->OnConvertMessages();
        Settle(900);
        Shoot(*window, Picture("main-window-converting"));
        while (jobs_.IsRunning()) Settle(100);
        Settle(200);

        prompter_.folder = work_ + "/Converted";
        CSavePSTOption pst(window, CurrentJobSettings(), prompter_);
        pst.CallAfter([this, &pst] {
            static_cast<wxRadioButton*>(pst.FindWindow(ids::kPstSingleNewStore))->SetValue(true);
            pst.OnSingleNewStore();
            pst.OnBrowseNewStore();
            Shoot(pst, Picture("pst-options"));
            pst.OnCancelDialog();
        });
        pst.ShowModal();

        CAboutDlg about(window);
        about.CallAfter([this, &about] {
            Shoot(about, Picture("about-box"));
            about.EndModal(wxID_OK);
        });
        about.ShowModal();

        ShootStores(*window);

        window->SetEndProcessHandler([window] { window->Destroy(); });
        window->Destroy();
    }

    // The File menu opened as a user opens it, with a click on its title, photographed with
    // the window behind it, then closed with Esc.
    void ShootFileMenu(COmbrikDlg& window) {
        wxMenuBar* bar = window.GetMenuBar();
        if (bar == nullptr) return;
        const wxPoint title = bar->GetScreenPosition() + wxPoint(bar->GetCharWidth() * 2, bar->GetSize().y / 2);
        wxUIActionSimulator input;
        input.MouseMove(title);
        Settle(200);
        input.MouseClick();
        Settle(800);
        ShootRect(window.GetRect(), Picture("file-menu"));
        input.Char(WXK_ESCAPE);
        Settle(300);
    }

    // Two users' stores on an old disk, with nested and renamed folders as real ones have.
    void MakeOldDisk(const std::string& disk) {
        const char* const users[] = {"Anna", "Peter"};
        for (const char* user : users) {
            const std::string store = disk + "/Documents and Settings/" + user +
                                      "/Local Settings/Application Data/Identities/"
                                      "{3F2A4C1E-7B9D-4E21-A5C3-0D6E8F9B1A72}/Microsoft/Outlook Express";
            fs::create_directories(store);
            std::vector<fixtures::DbxFolderSpec> folders = fixtures::StoreTopFolders();
            auto add = [&](std::uint32_t id, std::uint32_t parent, const char* name, const char* file) {
                folders.push_back(fixtures::ListedFolder(id, parent, name, file));
            };
            add(4, fixtures::kLocalFoldersId, "Inbox", "Inbox.dbx");
            add(5, fixtures::kLocalFoldersId, "Sent Items", "Sent Items.dbx");
            add(10, fixtures::kLocalFoldersId, "Mailing lists", "");
            add(11, 10, "hal", "hal.dbx");
            add(12, 11, "hal-commit", "hal-commit.dbx");
            add(13, fixtures::kLocalFoldersId, "Family", "Neuer Ordner.dbx");
            const int scale = std::string(user) == "Anna" ? 1 : 2;
            fixtures::WriteStore(store, folders,
                                 {{"Inbox.dbx", 40 * scale}, {"Sent Items.dbx", 12 * scale}, {"hal.dbx", 25},
                                  {"hal-commit.dbx", 60}, {"Neuer Ordner.dbx", 9 * scale}});
        }
    }

    // Find Outlook Express Stores on a Disk: the dialog of the stores found, then the list
    // with the chosen store's folders by their places in its tree.
    void ShootStores(COmbrikDlg& window) {
        const std::string disk = work_ + "/old-disk";
        MakeOldDisk(disk);
        window.OnClearList();
        prompter_.folder = disk;
        // Looked for by a timer until the dialog is up (after the search, which runs on a worker
        // while its own dialog shows), for half a minute at most. A chain of queued calls would
        // keep the event loop from reaching the timer that ends the search dialog.
        class ChoiceWatch : public wxTimer {
        public:
            explicit ChoiceWatch(TourApp& tour) : tour_(tour) { Start(20); }
            void Notify() override {
                if (wxGetLocalTimeMillis() > give_up_) Stop();
                for (wxWindow* top : wxTopLevelWindows) {
                    if (auto* dialog = dynamic_cast<CStoreChoiceDlg*>(top); dialog != nullptr && dialog->IsModal()) {
                        Stop();
                        Shoot(*dialog, tour_.Picture("find-stores"));
                        // Peter's store stays behind: the list then shows Anna's folders alone.
                        static_cast<wxListCtrl*>(dialog->FindWindow(ids::kStoreChoiceList))->CheckItem(1, false);
                        dialog->EndModal(wxID_OK);
                        return;
                    }
                }
            }

        private:
            TourApp& tour_;
            const wxLongLong give_up_ = wxGetLocalTimeMillis() + 30000;
        } watch(*this);
        window.OnFindStores();
        // Made as large as the screen, as a user would to see the whole store: the list grows.
        window.Maximize();
        Settle(800);
        Shoot(window, Picture("main-window-store"));
        window.Restore();
        Settle(400);
    }

    std::string Picture(const std::string& name) const { return output_ + "/" + name + suffix_ + ".png"; }

    std::string output_;
    std::string work_;
    std::string suffix_;
    TourPrompter prompter_;
    WorkerJobControl jobs_;
};

}  // namespace

wxIMPLEMENT_APP_CONSOLE(TourApp);
