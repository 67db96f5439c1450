#include "store/pst/pst_check.h"

#include <cstdio>

#include "store/pst/messaging/checker.h"

int RunPstCheckCommand(const std::string& path) {
    const pst::CheckReport report = pst::CheckPstFile(path);
    std::fputs((path + ": " + report.ToText()).c_str(), report.ok() ? stdout : stderr);
    return report.ok() ? 0 : 1;
}
