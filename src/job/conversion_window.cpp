#include "job/conversion_window.h"

#include "job/job_tally.h"

void ConversionWindow::ShowJobSummary(const JobTally& tally) {
    ShowMessage(std::string(kCompletionText) + tally.Summary(), kMessageTitle, msgbox::kJobMessage);
}
