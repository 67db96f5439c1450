#include "platform/command_output.h"

#include <sys/wait.h>

#include <cstdio>

namespace platform {

bool FirstLineOfCommand(const std::string& command, std::string& output, std::string& error) {
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        error = "cannot be started";
        return false;
    }
    std::string printed;
    constexpr std::size_t kMaxOutput = 64 * 1024;
    char buffer[4096];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        if (printed.size() < kMaxOutput) printed.append(buffer, count);
    const int status = ::pclose(pipe);
    if (status == -1 || !WIFEXITED(status)) {
        error = "did not end normally";
        return false;
    }
    if (WEXITSTATUS(status) != 0) {
        error = "ended with status " + std::to_string(WEXITSTATUS(status));
        return false;
    }
    output = printed.substr(0, printed.find('\n'));
    if (!output.empty() && output.back() == '\r') output.pop_back();
    return true;
}

}  // namespace platform
