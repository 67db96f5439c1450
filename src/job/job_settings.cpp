#include "job/job_settings.h"

JobSettings& CurrentJobSettings() {
    static JobSettings settings;
    return settings;
}
