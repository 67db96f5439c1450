#include "cli/run_summary.h"

#include "export/json_text.h"

namespace {

std::string PairList(const std::vector<std::pair<std::string, std::string>>& entries, const char* first,
                     const char* second) {
    std::string text = "[";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i != 0) text += ",";
        text += std::string("{\"") + first + "\":" + JsonString(entries[i].first) + ",\"" + second +
                "\":" + JsonString(entries[i].second) + "}";
    }
    return text + "]";
}

const char* ExitMeaning(int status) {
    switch (status) {
        case 0: return "every message converted or already there";
        case 2: return "usage error; nothing was written";
        default: return "something failed, was skipped or the run was interrupted";
    }
}

}  // namespace

std::string RunSummaryJson(const RunOutcome& outcome) {
    const JobTally& tally = outcome.tally;
    const auto failures = tally.failure_entries();
    std::string text = "{\"exit_status\":" + std::to_string(outcome.exit_status) +
                       ",\"exit_meaning\":" + JsonString(ExitMeaning(outcome.exit_status)) +
                       ",\"format\":" + JsonString(outcome.format) +
                       ",\"stopped\":" + (outcome.stopped ? "true" : "false") +
                       ",\"folders\":" + std::to_string(tally.folders()) +
                       ",\"messages_written\":" + std::to_string(tally.messages()) +
                       ",\"already_there\":" + std::to_string(tally.already_there()) +
                       ",\"recovered\":" + std::to_string(tally.recovered()) +
                       ",\"duplicates_left_out\":" + std::to_string(tally.duplicates()) +
                       ",\"failures\":" + std::to_string(tally.failures()) +
                       ",\"failures_listed\":" + std::to_string(failures.size()) +
                       ",\"skipped_sources\":" + std::to_string(outcome.skipped.size()) +
                       ",\"failure_list\":" + PairList(failures, "what", "why") +
                       ",\"skipped_list\":" + PairList(outcome.skipped, "path", "why") +
                       ",\"notes\":" + PairList(tally.note_entries(), "what", "text") + "}\n";
    return text;
}
