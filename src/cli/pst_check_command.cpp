#include "cli/pst_check_command.h"

namespace {

std::string Counts(const pst::PstCheckVerdict& v) {
    return std::to_string(v.folders) + " folders, " + std::to_string(v.messages) + " messages, " +
           std::to_string(v.nodes) + " nodes, " + std::to_string(v.blocks) + " blocks";
}

void List(std::string& out, const char* label, const std::vector<pst::CheckFinding>& findings) {
    for (const auto& f : findings) out += std::string("  ") + label + " " + f.code + ": " + f.detail + "\n";
}

}  // namespace

std::string FormatPstCheckVerdict(const std::string& path, const pst::PstCheckVerdict& v) {
    using Kind = pst::PstCheckVerdict::Kind;
    std::string out = path + ": ";
    switch (v.kind) {
        case Kind::kSound:
            out += "sound, no damage (" + Counts(v) + ")\n";
            break;
        case Kind::kNotesOnly:
            out += "no damage; " + std::to_string(v.notes.size()) +
                   " inconsistencies that Outlook itself leaves and mends (" + Counts(v) + ")\n";
            List(out, "note", v.notes);
            break;
        case Kind::kDamaged:
            out += "DAMAGED: " + std::to_string(v.damage.size()) + " faults (" + Counts(v) +
                   "); repair it with Outlook's Inbox Repair Tool (scanpst.exe)\n";
            List(out, "damage", v.damage);
            List(out, "note", v.notes);
            break;
        case Kind::kNotChecked:
            out += v.reason + "\n";
            break;
    }
    return out;
}

int RunPstCheckCommand(const std::string& path, std::FILE* out) {
    const pst::PstCheckVerdict verdict = pst::CheckPstStore(path);
    std::fputs(FormatPstCheckVerdict(path, verdict).c_str(), out);
    return verdict.exit_code();
}
