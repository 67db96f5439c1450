// File > Code Page of Old Messages...: the choice reaches the job, the status bar shows it, and
// the next run of the program starts with it.
#include <algorithm>

#include <wx/choice.h>
#include <wx/fileconf.h>
#include <wx/statusbr.h>

#include "app/code_page_dlg.h"
#include "fixtures/temp_folder.h"
#include "platform/text_encoding.h"
#include "gui_test_support.h"

namespace guitest {
namespace {

class CodePageWindow : public MainWindowTest {
protected:
    void SetUp() override {
        // A settings file of the test's own, so the user's settings are never read or written.
        delete wxConfigBase::Set(new wxFileConfig("ombrik", "Corvanti", Wx(config_path_), wxEmptyString,
                                                  wxCONFIG_USE_LOCAL_FILE));
        MainWindowTest::SetUp();
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        delete wxConfigBase::Set(nullptr);
    }

    // Opens the dialog from the menu and, once it shows, picks the entry labelled label (or
    // cancels when label is empty).
    void ChooseFromMenu(const std::string& label) {
        bool seen = false;
        std::function<void(int)> answer = [&](int tries) {
            CCodePageDlg* dialog = nullptr;
            for (wxWindow* top : wxTopLevelWindows)
                if (auto* d = dynamic_cast<CCodePageDlg*>(top); d != nullptr && d->IsModal()) dialog = d;
            if (dialog == nullptr) {
                if (tries < 200) wxTheApp->CallAfter([&answer, tries] { answer(tries + 1); });
                return;
            }
            seen = true;
            EXPECT_EQ(Utf8(dialog->GetTitle()), kCodePageCaption);
            auto* choice = static_cast<wxChoice*>(dialog->FindWindow(ids::kCodePageChoice));
            offered_.clear();
            for (unsigned i = 0; i < choice->GetCount(); ++i) offered_.push_back(Utf8(choice->GetString(i)));
            shown_selection_ = Utf8(choice->GetStringSelection());
            if (label.empty()) {
                dialog->EndModal(wxID_CANCEL);
                return;
            }
            choice->SetStringSelection(Wx(label));
            dialog->EndModal(wxID_OK);
        };
        wxTheApp->CallAfter([&answer] { answer(0); });
        Menu(ids::kMenuCodePage);
        Pump();
        EXPECT_TRUE(seen) << "the code page dialog never showed";
    }
    std::string CodePageStatus() { return Utf8(window_->GetStatusBar()->GetStatusText(2)); }
    std::string Saved() {
        wxString value;
        wxConfigBase::Get()->Read(kCodePageConfigKey, &value);
        return Utf8(value);
    }

    fixtures::TempFolder dir_;
    std::string config_path_ = dir_ / "ombrik.conf";
    std::vector<std::string> offered_;
    std::string shown_selection_;
};

TEST_F(CodePageWindow, TheChoiceReachesTheJobTheStatusBarAndTheNextRun) {
    EXPECT_EQ(settings_.codepage, "");
    EXPECT_EQ(CodePageStatus().rfind("Code page: automatic (", 0), 0u) << CodePageStatus();

    ChooseFromMenu("Cyrillic (KOI8-R)");
    EXPECT_EQ(shown_selection_, "Automatic (from each message, else this system's)");
    for (const char* expected : {"Central European (Windows-1250)", "Vietnamese (Windows-1258)", "Thai (Windows-874)",
                                 "Japanese (Shift_JIS, 932)", "Chinese Simplified (GBK, 936)", "Korean (949)",
                                 "Chinese Traditional (Big5, 950)", "Ukrainian (KOI8-U)", "Greek (ISO-8859-7)"})
        EXPECT_NE(std::find(offered_.begin(), offered_.end(), expected), offered_.end()) << expected;
    EXPECT_EQ(settings_.codepage, "KOI8-R");
    EXPECT_EQ(CodePageStatus(), "Code page: KOI8-R");
    EXPECT_EQ(Saved(), "KOI8-R");
    // Every code page offered is one this system can read (the job would refuse any other).
    for (const CodePageChoice& choice : CodePageChoices()) {
        if (*choice.codepage != '\0') {
            EXPECT_TRUE(platform::IsKnownCodepage(choice.codepage)) << choice.label;
        }
    }
    // Cancel changes nothing, and the dialog opens on the current choice.
    ChooseFromMenu("");
    EXPECT_EQ(shown_selection_, "Cyrillic (KOI8-R)");
    EXPECT_EQ(settings_.codepage, "KOI8-R");

    // The next run of the program starts with the remembered choice.
    settings_ = JobSettings{};
    ReplaceWindow(DefaultOutlookProbe());
    EXPECT_EQ(settings_.codepage, "KOI8-R");
    EXPECT_EQ(CodePageStatus(), "Code page: KOI8-R");

    // Back to automatic; a remembered name this system cannot read is not taken.
    ChooseFromMenu("Automatic (from each message, else this system's)");
    EXPECT_EQ(settings_.codepage, "");
    EXPECT_EQ(Saved(), "");
    EXPECT_EQ(CodePageStatus().rfind("Code page: automatic (", 0), 0u) << CodePageStatus();
    wxConfigBase::Get()->Write(kCodePageConfigKey, "no-such-codepage");
    settings_ = JobSettings{};
    ReplaceWindow(DefaultOutlookProbe());
    EXPECT_EQ(settings_.codepage, "");
}

}  // namespace
}  // namespace guitest
