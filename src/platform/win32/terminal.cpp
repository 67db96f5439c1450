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

// The console itself (CONIN$, CONOUT$), not standard input: a password is typed by the user even
// when the program's input comes from a pipe. Echo is turned off through the console's mode and
// turned back on however the read ends; the line is read as UTF-16, so any character comes
// through.
std::optional<std::string> ReadSecretFromTerminal(const std::string& prompt) {
    const HANDLE input = ::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) return std::nullopt;
    DWORD saved = 0;
    if (!::GetConsoleMode(input, &saved)) {
        ::CloseHandle(input);
        return std::nullopt;
    }
    const HANDLE output = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
    const auto say = [output](const std::wstring& text) {
        DWORD written = 0;
        if (output != INVALID_HANDLE_VALUE) ::WriteConsoleW(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    };
    say(win32::WideText(prompt));
    ::SetConsoleMode(input, (saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::wstring line;
    bool ended = false;
    // A password is short; a line longer than this is no answer.
    constexpr std::size_t kMaxLength = 4096;
    while (line.size() < kMaxLength) {
        wchar_t c = 0;
        DWORD count = 0;
        if (!::ReadConsoleW(input, &c, 1, &count, nullptr) || count == 0) break;
        if (c == L'\n') {
            ended = true;
            break;
        }
        line += c;
    }
    ::SetConsoleMode(input, saved);
    say(L"\r\n");
    ::CloseHandle(input);
    if (output != INVALID_HANDLE_VALUE) ::CloseHandle(output);
    if (!ended) return std::nullopt;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    std::string secret = win32::Utf8Text(line);
    ::SecureZeroMemory(line.data(), line.size() * sizeof(wchar_t));
    return secret;
}

}  // namespace platform
