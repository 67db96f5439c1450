#include "platform/terminal.h"

#include <unistd.h>

#include <csignal>

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

}  // namespace platform
