// The desktop program's window as Windows draws it (under Wine): started, a folder file with a
// non-ASCII name added, converted to EML, and the summary at the end, each photographed
// (docs/screenshots/windows-*.png). The choosers answer from a script, as in the Linux GUI
// tests; everything else is the real window, the real job and the real summary dialog.
// Usage: window_tour OUTPUT_DIR WORK_DIR   (exit status 0 when every step was seen)
// The platform's declarations come before <windows.h> (which wxWidgets brings) can rename them.
#include "platform/directory.h"
#include "platform/file_stream.h"
#include "platform/outlook_probe.h"
#include "platform/paths.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include <wx/app.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/fileconf.h>
#include <wx/image.h>
#include <wx/listctrl.h>
#include <wx/utils.h>

#include "app/completion_dlg.h"
#include "app/control_ids.h"
#include "app/job_control.h"
#include "app/ombrik_dlg.h"
#include "app/prompter.h"
#include "app/wx_text.h"
#include "conversion/job_settings.h"
#include "fixtures/dbx_builder.h"

// wxWidgets brings <windows.h>, whose macro would rename platform::CreateDirectory below.
#undef CreateDirectory

namespace {

namespace fs = std::filesystem;

void Settle(int milliseconds) {
    const wxLongLong until = wxGetLocalTimeMillis() + milliseconds;
    while (wxGetLocalTimeMillis() < until) {
        wxTheApp->Yield(true);
        wxMilliSleep(10);
    }
}

// A picture of a top-level window with its frame, read back from the screen.
bool Shoot(wxWindow& window, const std::string& path) {
    Settle(800);
    const wxRect rect = window.GetRect();
    wxBitmap picture(rect.width, rect.height, 24);
    {
        wxScreenDC screen;
        wxMemoryDC memory(picture);
        memory.Blit(0, 0, rect.width, rect.height, &screen, rect.x, rect.y);
    }
    const bool saved = picture.ConvertToImage().SaveFile(Wx(path), wxBITMAP_TYPE_PNG);
    std::printf("%s %s\n", saved ? "took" : "could not take", path.c_str());
    return saved;
}

class TourPrompter : public WxPrompter {
public:
    std::string folder;
    std::string file;
    std::string summary_picture;
    bool summary_shown = false;
    std::optional<std::string> ChooseFolder(wxWindow*, const std::string&, const std::string&) override { return folder; }
    std::optional<FileSelection> ChooseFiles(wxWindow*, const FileDialogRequest&) override {
        return FileSelection{platform::Utf8PathText(platform::FileSystemPath(file).parent_path()), {file}};
    }
    int ShowMessage(wxWindow*, const std::string& text, const std::string&, unsigned) override {
        std::printf("message: %s\n", text.c_str());
        return wxID_OK;
    }
    void ShowJobSummary(wxWindow* owner, const JobTally& tally, const std::string& destination, bool stopped) override {
        CCompletionDlg dialog(owner, tally, destination, *this, stopped);
        dialog.CallAfter([this, &dialog] {
            summary_shown = Shoot(dialog, summary_picture);
            dialog.EndModal(wxID_OK);
        });
        dialog.ShowModal();
    }
};

class TourApp : public wxApp {
public:
    bool OnInit() override {
        if (argc < 3) {
            std::fprintf(stderr, "usage: window_tour OUTPUT_DIR WORK_DIR\n");
            return false;
        }
        output_ = Utf8(argv[1]);
        work_ = Utf8(argv[2]);
        platform::CreateDirectory(work_);
        platform::CreateDirectory(output_);
        // A first run: nothing remembered, and the user's own settings left alone.
        delete wxConfigBase::Set(new wxFileConfig("ombrik", wxEmptyString, Wx(platform::JoinPath(work_, "settings.ini")),
                                                  wxEmptyString, wxCONFIG_USE_LOCAL_FILE));
        wxInitAllImageHandlers();
        SetAppDisplayName("Ombrik");
        MakeFolderFile();
        CallAfter([this] { RunTour(); });
        return true;
    }
    int OnExit() override { return 0; }
    int status() const { return status_; }

private:
    void MakeFolderFile() {
        const std::string mail = platform::JoinPath(work_, "Outlook Express");
        platform::CreateDirectory(mail);
        platform::CreateDirectory(platform::JoinPath(work_, "Converted"));
        prompter_.file = platform::JoinPath(mail, "Boîte de réception.dbx");
        fixtures::WriteDbxFile(prompter_.file, 40, [](std::size_t i) {
            fixtures::DbxEmailSpec email;
            email.subject = "Café crème " + std::to_string(i);
            email.text = "From: Anna <anna@example.org>\r\nSubject: =?utf-8?Q?Caf=C3=A9_cr=C3=A8me?= " + std::to_string(i) +
                         "\r\n\r\nUn café.\r\n";
            return email;
        });
    }

    void RunTour() {
        auto* window = new COmbrikDlg(CurrentJobSettings(), prompter_, DefaultOutlookProbe(), jobs_);
        window->Move(20, 20);
        window->Show();
        bool ok = Shoot(*window, Picture("main-window"));
        window->OnAddFile();
        auto* list = static_cast<wxListCtrl*>(window->FindWindow(ids::kSourceList));
        ok = list != nullptr && list->GetItemCount() == 1 && ok;
        prompter_.folder = platform::JoinPath(work_, "Converted");
        window->OnBrowseDestination();
        ok = Shoot(*window, Picture("file-added")) && ok;
        prompter_.summary_picture = Picture("completion");
        window->OnConvertMessages();
        while (jobs_.IsRunning()) Settle(100);
        Settle(300);
        const std::string written = platform::JoinPath(platform::JoinPath(prompter_.folder, "ExportDBX"), "Boîte de réception");
        const auto files = platform::ListDirectory(written);
        std::printf("%zu files in %s\n", files ? files->size() : 0, written.c_str());
        ok = ok && prompter_.summary_shown && files && files->size() == 40;
        status_ = ok ? 0 : 1;
        window->SetEndProcessHandler([window] { window->Destroy(); });
        window->Destroy();
    }

    std::string Picture(const std::string& name) const { return platform::JoinPath(output_, "windows-" + name + ".png"); }

    std::string output_;
    std::string work_;
    TourPrompter prompter_;
    WorkerJobControl jobs_;
    int status_ = 1;
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(TourApp);

int main(int argc, char** argv) {
    wxEntryStart(argc, argv);
    int status = 1;
    if (wxTheApp->CallOnInit()) {
        wxTheApp->OnRun();
        status = static_cast<TourApp*>(wxTheApp)->status();
    }
    wxEntryCleanup();
    return status;
}
