// A structural check of a PST store: the invariants Outlook's repair tool looks at, from the
// header and maps down to every folder's tables and every message's size.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pst {

struct CheckFinding {
    std::string code;    // short upper-case name of the broken rule
    std::string detail;  // where and what
};

struct CheckReport {
    std::vector<CheckFinding> errors;
    std::uint64_t nodes = 0;
    std::uint64_t blocks = 0;
    std::uint64_t folders = 0;
    std::uint64_t messages = 0;
    bool ok() const { return errors.empty(); }
    // One line per finding and a closing summary line.
    std::string ToText() const;
};

// True for the findings that stores made by Outlook commonly carry and that Outlook mends by
// itself (tables lagging behind their messages, space marked used that nothing uses, hints such
// as free-space totals and the density list, absent from Outlook 2003's stores, blocks counted
// more often than referenced): they are no damage to build upon. Every other finding is damage.
bool IsMinorInconsistency(const std::string& code);

// Checks the store file at path; never throws for a damaged file (that is a finding).
CheckReport CheckPstFile(const std::string& path);
// The same, also handing every finding to each as it is found: the report keeps only the first
// thousand, each sees them all.
CheckReport CheckPstFile(const std::string& path, const std::function<void(const CheckFinding&)>& each);

}  // namespace pst
