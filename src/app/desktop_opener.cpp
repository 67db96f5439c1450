#include "app/desktop_opener.h"

#include <wx/filefn.h>
#include <wx/process.h>
#include <wx/utils.h>

#include "app/toolkit_setup.h"
#include "app/wx_text.h"

namespace {

// Tells its end to the caller and goes.
class OpenerProcess : public wxProcess {
public:
    explicit OpenerProcess(std::function<void(const std::string&)> on_failure)
        : on_failure_(std::move(on_failure)) {}
    void OnTerminate(int, int status) override {
        if (status != 0 && on_failure_) on_failure_(DesktopOpenerFailure(status));
        delete this;
    }

private:
    std::function<void(const std::string&)> on_failure_;
};

bool IsAddress(const wxString& target) {
    return target.StartsWith("http://") || target.StartsWith("https://") || target.StartsWith("mailto:");
}

}  // namespace

std::string DesktopOpenerFailure(int exit_status) {
    switch (exit_status) {
    case 2: return "it was not found";
    case 3: return "no program to show it is installed";
    case 4: return "the program for it could not show it";
    default: return "the desktop's opener (xdg-open) ended with status " + std::to_string(exit_status);
    }
}

void OpenWithDesktopProgram(const std::string& target, std::function<void(const std::string&)> on_failure) {
    const wxString what = Wx(target);
    wxPathList path;
    path.AddEnvList("PATH");
    const wxString opener = path.FindAbsoluteValidPath("xdg-open");
    if (opener.empty()) {
        // No xdg-open (Windows, or a bare system): the toolkit's launcher, which answers at once.
        const bool shown = IsAddress(what) ? wxLaunchDefaultBrowser(what) : wxLaunchDefaultApplication(what);
        if (!shown && on_failure) on_failure("no program to show it was found");
        return;
    }
    auto* process = new OpenerProcess(on_failure);
    const wxString opener_argument = opener;
    const wchar_t* argv[] = {opener_argument.wc_str(), what.wc_str(), nullptr};
    wxExecuteEnv environment;
    environment.env = EnvironmentForOtherPrograms();
    if (wxExecute(const_cast<wchar_t**>(argv), wxEXEC_ASYNC, process, &environment) == 0) {
        // Not even started (no process could be made). The toolkit does not say whether it
        // still holds the process object: better one small object lost than freed twice.
        if (on_failure) on_failure("xdg-open could not be started");
    }
}
