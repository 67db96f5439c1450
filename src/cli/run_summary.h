// ombrik-cli --summary-json: what a run did, for a program to read.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "conversion/job_tally.h"

struct RunOutcome {
    const JobTally& tally;
    // Sources left out before the job began: (path, why).
    const std::vector<std::pair<std::string, std::string>>& skipped;
    bool stopped = false;
    int exit_status = 0;
    std::string format;
};

// One JSON object: the exit status and what it means, the counts, every failure and every
// skipped source with its file and reason, and every note.
std::string RunSummaryJson(const RunOutcome& outcome);
