// The hidden names that writers give their files until they are placed: the same on every system.
#include "platform/temporary_name.h"

#include <cstdlib>
#include <string_view>

#include "platform/output_folder.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace platform {

namespace {

constexpr std::string_view kTemporarySuffix = ".part";

}  // namespace

long TemporaryNameOwner(const std::string& name) {
    if (name.size() < 1 + kTemporarySuffix.size() + 2 || name[0] != '.' ||
        name.compare(name.size() - kTemporarySuffix.size(), kTemporarySuffix.size(), kTemporarySuffix) != 0)
        return 0;
    const std::size_t end = name.size() - kTemporarySuffix.size();
    const std::size_t dot = name.rfind('.', end - 1);
    if (dot == std::string::npos || dot == 0 || dot + 1 >= end || end - dot - 1 > 10) return 0;
    const std::string digits = name.substr(dot + 1, end - dot - 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return 0;
    return std::strtol(digits.c_str(), nullptr, 10);
}

std::string TemporaryNameFor(const std::string& name, int attempt) {
    const std::string tail = (attempt > 0 ? "~" + std::to_string(attempt) : std::string()) + "." +
                             std::to_string(CurrentProcessId()) + std::string(kTemporarySuffix);
    return "." + CutToBytes(name, kNameLimit - 1 - tail.size()) + tail;
}

}  // namespace platform
