#include "platform/process.h"

#include "platform/win32/win32_support.h"

namespace platform {

long CurrentProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

bool ProcessRunning(long pid) {
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    // Only "no such process" says it has gone; one we may not look at still runs.
    if (process == nullptr) return ::GetLastError() != ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    // A process that has ended stays known while anyone holds a handle to it: ask whether it runs.
    const bool running = !::GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
}

std::string HostName() {
    wchar_t name[256] = {};
    DWORD size = 255;
    if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size) || size == 0) return "localhost";
    return win32::Utf8Text(std::wstring_view(name, size));
}

}  // namespace platform
