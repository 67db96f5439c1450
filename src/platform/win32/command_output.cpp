#include "platform/command_output.h"

#include <algorithm>

#include "platform/output_file.h"
#include "platform/win32/win32_support.h"

namespace platform {

namespace {

constexpr std::size_t kMaxOutput = 64 * 1024;

}  // namespace

// Through cmd.exe, the system's shell, with the command as it was written; its output comes
// through a pipe, read to its end so that the command is never left blocked on a full pipe.
bool FirstLineOfCommand(const std::string& command, std::string& output, std::string& error) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!::CreatePipe(&read_end, &write_end, &inherit, 0)) {
        error = "cannot be started";
        return false;
    }
    ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write_end;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    wchar_t shell[MAX_PATH + 1];
    const DWORD length = ::GetEnvironmentVariableW(L"ComSpec", shell, MAX_PATH + 1);
    const std::wstring interpreter = length > 0 && length <= MAX_PATH ? std::wstring(shell, length) : L"cmd.exe";
    // cmd.exe takes what follows /c as the command line itself when the whole is in quotes.
    std::wstring line = L"\"" + interpreter + L"\" /d /s /c \"" + win32::WideText(command) + L"\"";
    PROCESS_INFORMATION process{};
    const BOOL started = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                          nullptr, nullptr, &startup, &process);
    ::CloseHandle(write_end);
    if (!started) {
        ::CloseHandle(read_end);
        error = "cannot be started";
        return false;
    }
    ::CloseHandle(process.hThread);
    std::string printed;
    char buffer[4096];
    DWORD count = 0;
    while (::ReadFile(read_end, buffer, sizeof buffer, &count, nullptr) && count > 0)
        if (printed.size() < kMaxOutput) printed.append(buffer, std::min<std::size_t>(count, kMaxOutput - printed.size()));
    ::CloseHandle(read_end);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    const bool known = ::GetExitCodeProcess(process.hProcess, &status) != 0;
    ::CloseHandle(process.hProcess);
    if (!known) {
        error = "did not end normally";
        return false;
    }
    if (status != 0) {
        error = "ended with status " + std::to_string(status);
        return false;
    }
    output = printed.substr(0, printed.find('\n'));
    if (!output.empty() && output.back() == '\r') output.pop_back();
    return true;
}

}  // namespace platform
