#include "platform/terminal.h"

#include <atomic>

#include "platform/win32/win32_support.h"

#include <shellapi.h>

namespace platform {

namespace {

void (*stop_callback)() = nullptr;
std::atomic<int> interruptions{0};

// The system calls this on a thread of its own for Ctrl-C, Ctrl-Break and a closing console.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    // The first asks the job to stop; after that the default handler ends the program at once.
    if (interruptions++ > 0) return FALSE;
    if (stop_callback != nullptr) stop_callback();
    return TRUE;
}

}  // namespace

std::vector<std::string> CommandLineArguments(int, char**) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    if (wide == nullptr) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(win32::Utf8Text(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

void UseUtf8Console() {
    ::SetConsoleOutputCP(CP_UTF8);
}

bool StandardErrorIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void ListenForInterruption(void (*on_stop)()) {
    stop_callback = on_stop;
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace platform
