#include "app/ombrik_app.h"

#include <filesystem>

#include <wx/image.h>
#include <wx/stdpaths.h>

#include "app/allocator_setup.h"
#include "app/job_control.h"
#include "app/ombrik_dlg.h"
#include "app/prompter.h"
#include "app/theme_marks.h"
#include "app/toolkit_setup.h"
#include "app/wx_text.h"
#include "conversion/job_settings.h"
#include "platform/outlook_probe.h"
#include "platform/file_stream.h"

#ifndef OMBRIK_HELP_INSTALL_DIR
#define OMBRIK_HELP_INSTALL_DIR ""
#endif

namespace {

// The shipped help pages: installed next to the program's data, or beside the freshly built
// program in the build tree.
std::string FindHelpDirectory() {
    namespace fs = std::filesystem;
    const fs::path program = platform::FileSystemPath(Utf8(wxStandardPaths::Get().GetExecutablePath()));
    std::error_code error;
    for (const fs::path& candidate :
         {program.parent_path() / "help", program.parent_path().parent_path() / "share/ombrik/help",
          fs::path(OMBRIK_HELP_INSTALL_DIR)}) {
        if (!candidate.empty() && fs::exists(candidate / "index.html", error)) return platform::Utf8PathText(candidate);
    }
    return {};
}

}  // namespace

// The application object is made before the toolkit starts: the one moment to tell it how to
// draw scrollbars.
COmbrikApp::COmbrikApp() {
    SetUpToolkitEnvironment();
    ReturnFreedMemoryPromptly();
}

COmbrikApp::~COmbrikApp() = default;

bool COmbrikApp::OnInit() {
    SetAppName("ombrik");
    SetAppDisplayName("Ombrik");
    SetVendorName("Corvanti");
    // Remembered choices go where the desktop keeps settings (~/.config/ombrik.conf).
    wxStandardPaths::Get().SetFileLayout(wxStandardPaths::FileLayout_XDG);
    wxInitAllImageHandlers();
    DrawThemeMarksFromBitmaps();
    prompter_ = std::make_unique<WxPrompter>();
    jobs_ = std::make_unique<WorkerJobControl>();
    auto* window = new COmbrikDlg(CurrentJobSettings(), *prompter_, DefaultOutlookProbe(), *jobs_);
    window->SetHelpDirectory(FindHelpDirectory());
    SetTopWindow(window);
    window->Show();
    return true;
}

wxIMPLEMENT_APP(COmbrikApp);
