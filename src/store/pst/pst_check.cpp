#include "store/pst/pst_check.h"

#include <cstring>

#include "platform/output_file.h"
#include "platform/random_access_file.h"

namespace pst {
namespace {

// What the first bytes say the file is, when it is not a store this check reads; empty otherwise.
// None of these is damage: they are other kinds of file.
std::string ForeignFileReason(const std::string& path) {
    platform::RandomAccessFile file;
    if (int err = file.Open(path, platform::RandomAccessFile::Access::kRead))
        return "cannot be opened: " + platform::ErrorText(err);
    unsigned char head[12] = {};
    unsigned char crypt = 0;
    const std::int64_t n = file.ReadAt(head, sizeof head, 0);
    const bool has_crypt = file.ReadAt(&crypt, 1, 513) == 1;  // bCryptMethod of a Unicode header
    file.Close();
    if (n != static_cast<std::int64_t>(sizeof head) || std::memcmp(head, "!BDN", 4) != 0)
        return "is not an Outlook data file (.pst)";
    if (std::memcmp(head + 8, "SO", 2) == 0)
        return "is an offline store (OST), Outlook's local copy of a mail server account, not a PST store; "
               "to check or keep its mail, export it to a .pst in Outlook (File, Open & Export, Import/Export)";
    const unsigned version = head[10] | (head[11] << 8);
    if (version == 14 || version == 15)
        return "is in the old ANSI format of Outlook 97-2002, which this check does not read (not damage)";
    if (version >= 36) return "uses 4 KB pages, which this check does not read (not damage)";
    if (version >= 23 && has_crypt && crypt > 1)
        return "uses an encoding this check does not read (" + std::to_string(crypt) + "; not damage)";
    return {};
}

}  // namespace

PstCheckVerdict CheckPstStore(const std::string& path) {
    PstCheckVerdict verdict;
    verdict.reason = ForeignFileReason(path);
    if (!verdict.reason.empty()) {
        verdict.kind = PstCheckVerdict::Kind::kNotChecked;
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
