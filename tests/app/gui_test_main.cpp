// Runs the GUI tests inside a wxWidgets application, without entering its main loop: the tests
// drive the windows by commands and pump events themselves.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <unistd.h>

#include <wx/app.h>
#include <wx/fileconf.h>
#include <wx/image.h>
#include <wx/init.h>

namespace {

class GuiTestApp : public wxApp {
public:
    bool OnInit() override {
        wxInitAllImageHandlers();
        SetAppDisplayName("Ombrik");
        return true;
    }
};

// Every test starts from a program that remembers nothing.
class ForgetChoices : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        if (wxConfigBase* config = wxConfigBase::Get(false)) {
            config->DeleteAll();
        }
    }
};

}  // namespace

// A failed wxWidgets check fails the test instead of opening a dialog nobody answers.
static void FailOnAssert(const wxString& file, int line, const wxString& function, const wxString& condition,
                  const wxString& message) {
    ADD_FAILURE_AT(file.utf8_str(), line) << "wxWidgets check failed in " << function.utf8_str() << ": "
                                          << condition.utf8_str() << " " << message.utf8_str();
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    wxSetAssertHandler(FailOnAssert);
    wxApp::SetInstance(new GuiTestApp);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "cannot start the GUI (no display? run under xvfb-run)\n");
        return 1;
    }
    // Remembered choices go to a file of this run, never to the user's own settings.
    const std::filesystem::path config_file =
        std::filesystem::temp_directory_path() / ("ombrik-gui-tests-" + std::to_string(::getpid()) + ".ini");
    delete wxConfigBase::Set(new wxFileConfig("ombrik", wxEmptyString, config_file.string(), wxEmptyString,
                                              wxCONFIG_USE_LOCAL_FILE));
    testing::UnitTest::GetInstance()->listeners().Append(new ForgetChoices);
    const int result = RUN_ALL_TESTS();
    delete wxConfigBase::Set(nullptr);
    std::error_code error;
    std::filesystem::remove(config_file, error);
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
