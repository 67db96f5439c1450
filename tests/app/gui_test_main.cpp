// Runs the GUI tests inside a wxWidgets application, without entering its main loop: the tests
// drive the windows by commands and pump events themselves.
#include <gtest/gtest.h>

#include <cstdio>

#include <wx/app.h>
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
    const int result = RUN_ALL_TESTS();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
