// The HTML form's pages opened in a real browser (headless Chromium) with their
// Content-Security-Policy line taken out: the sanitizer alone must keep every hostile message
// from fetching anything. A local HTTP server notes every request the pages make.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "fixtures/temp_folder.h"
#include "hostile_html.h"
#include "store/mime/mime_import.h"
#include "store/render/render.h"

namespace fs = std::filesystem;

namespace {

bool HaveChromium() { return std::system("command -v chromium >/dev/null 2>&1") == 0; }

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The rendering of a message whose HTML body is html, without the policy line.
std::string PageWithoutPolicy(const std::string& html) {
    const std::string mail = "Subject: hostile\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" + html;
    std::string page = render::RenderHtml(mime::ImportMessage(mail.data(), mail.size()));
    const std::size_t policy = page.find("<meta http-equiv=\"Content-Security-Policy\"");
    if (policy != std::string::npos) page.erase(policy, page.find('\n', policy) + 1 - policy);
    return page;
}

// The recording server, for as long as the test needs it.
class RecordingServer {
public:
    explicit RecordingServer(const fixtures::TempFolder& dir) : port_file_(dir / "port"), log_(dir / "requests.log") {
        WriteFile(log_, "");
        pid_ = ::fork();
        if (pid_ == 0) {
            const std::string script = std::string(OMBRIK_SOURCE_DIR) + "/tests/store/render/recording_server.py";
            ::execlp("python3", "python3", script.c_str(), port_file_.c_str(), log_.c_str(), "300", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 200 && !fs::exists(port_file_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (fs::exists(port_file_)) port_ = fixtures::ReadFile(port_file_);
    }
    ~RecordingServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& port() const { return port_; }
    std::string Requests() const { return fixtures::ReadFile(log_); }

private:
    std::string port_file_, log_, port_;
    pid_t pid_ = -1;
};

}  // namespace

TEST(BrowserFetch, NoHostilePageFetchesAnythingWithoutItsPolicyLine) {
    if (!HaveChromium()) GTEST_SKIP() << "chromium not installed (scripts/install-deps.sh installs it): pages not opened";
    fixtures::TempFolder dir;
    RecordingServer server(dir);
    ASSERT_FALSE(server.port().empty()) << "the recording server did not start";
    const std::string host = "127.0.0.1:" + server.port();
    // One page per message, all opened at once as frames of one page; the first, not sanitized,
    // shows that the browser does fetch what a page asks for.
    std::string index = "<!DOCTYPE html><html><body>\n<iframe src=\"control.html\"></iframe>\n";
    WriteFile(dir / "control.html", "<html><body><img src=\"http://" + host + "/control\"></body></html>");
    std::size_t n = 0;
    for (const char* sample : hostile::kRemoteLoads) {
        const std::string name = "page" + std::to_string(n++) + ".html";
        WriteFile(dir / name, PageWithoutPolicy(hostile::WithHost(sample, host)));
        index += "<iframe src=\"" + name + "\"></iframe>\n";
    }
    WriteFile(dir / "index.html", index + "</body></html>\n");
    const std::string profile = dir / "profile";
    const std::string command =
        "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-background-networking --no-first-run "
        "--disable-quic --disable-component-update --disable-sync --user-data-dir='" + profile +
        "' --virtual-time-budget=5000 --dump-dom 'file://" + (dir / "index.html") + "' > '" + (dir / "dom.txt") +
        "' 2> '" + (dir / "chromium.log") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << fixtures::ReadFile(dir / "chromium.log");
    const std::string requests = server.Requests();
    EXPECT_NE(requests.find("/control"), std::string::npos) << "the browser fetched nothing at all: the check proves nothing";
    std::string others;
    std::size_t at = 0;
    while (at < requests.size()) {
        const std::size_t end = requests.find('\n', at);
        const std::string line = requests.substr(at, end - at);
        if (line != "/control") others += line + "\n";
        at = end == std::string::npos ? requests.size() : end + 1;
    }
    EXPECT_EQ(others, "") << "fetched by sanitized pages";
}
