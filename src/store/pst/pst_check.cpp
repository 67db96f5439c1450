#include "store/pst/pst_check.h"

#include <algorithm>
#include <cstdio>

#include "store/pst/messaging/checker.h"

int RunPstCheckCommand(const std::string& path) {
    const pst::CheckReport report = pst::CheckPstFile(path);
    const bool damaged = std::any_of(report.errors.begin(), report.errors.end(),
                                     [](const pst::CheckFinding& f) { return !pst::IsMinorInconsistency(f.code); });
    std::fputs((path + ": " + report.ToText()).c_str(), damaged ? stderr : stdout);
    if (!report.ok() && !damaged)
        std::fputs("Only inconsistencies that stores made by Outlook commonly carry and that Outlook mends by "
                   "itself; no damage.\n",
                   stdout);
    return damaged ? 1 : 0;
}
