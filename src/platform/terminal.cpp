#include "platform/terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>

namespace platform {

namespace {
void (*stop_callback)() = nullptr;
void OnSignal(int) {
    if (stop_callback != nullptr) stop_callback();
}
}  // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

void UseUtf8Console() {}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

void ListenForInterruption(void (*on_stop)()) {
    stop_callback = on_stop;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    // Reset to the default after the first: the second signal ends the program.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::optional<std::string> ReadSecretFromTerminal(const std::string& prompt) {
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) return std::nullopt;
    termios saved{};
    if (::tcgetattr(tty, &saved) != 0) {
        ::close(tty);
        return std::nullopt;
    }
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHONL));
    quiet.c_lflag |= ICANON;
    (void)!::write(tty, prompt.data(), prompt.size());
    ::tcsetattr(tty, TCSAFLUSH, &quiet);
    std::string line;
    bool ended = false;
    // A password is short; a line longer than this is no answer.
    constexpr std::size_t kMaxLength = 4096;
    while (line.size() < kMaxLength) {
        char c = 0;
        const ssize_t count = ::read(tty, &c, 1);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        if (c == '\n') {
            ended = true;
            break;
        }
        line += c;
    }
    ::tcsetattr(tty, TCSAFLUSH, &saved);
    (void)!::write(tty, "\n", 1);
    ::close(tty);
    if (!ended) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace platform
