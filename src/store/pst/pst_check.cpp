#include "store/pst/pst_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pst {
namespace {

// What the first bytes say the file is, when it is not a PST store we read; empty otherwise.
std::string ForeignFileReason(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "cannot be opened: " + std::string(std::strerror(errno));
    unsigned char head[12] = {};
    const ssize_t n = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    if (n != static_cast<ssize_t>(sizeof head) || std::memcmp(head, "!BDN", 4) != 0)
        return "is not an Outlook data file (.pst)";
    if (std::memcmp(head + 8, "SO", 2) == 0)
        return "is an offline store (OST), Outlook's local copy of a mail server account, not a PST store; "
               "to check or keep its mail, export it to a .pst in Outlook (File, Open & Export, Import/Export)";
    return {};
}

}  // namespace

PstCheckVerdict CheckPstStore(const std::string& path) {
    PstCheckVerdict verdict;
    verdict.reason = ForeignFileReason(path);
    if (!verdict.reason.empty()) {
        verdict.kind = PstCheckVerdict::Kind::kNotAStore;
        return verdict;
    }
    const CheckReport report = CheckPstFile(path);
    verdict.folders = report.folders;
    verdict.messages = report.messages;
    verdict.nodes = report.nodes;
    verdict.blocks = report.blocks;
    for (const auto& finding : report.errors)
        (IsMinorInconsistency(finding.code) ? verdict.notes : verdict.damage).push_back(finding);
    if (!verdict.damage.empty()) {
        verdict.kind = PstCheckVerdict::Kind::kDamaged;
    } else if (!verdict.notes.empty()) {
        verdict.kind = PstCheckVerdict::Kind::kNotesOnly;
    }
    return verdict;
}

}  // namespace pst
