#include "conversion/job_settings.h"

JobSettings& CurrentJobSettings() {
    static JobSettings settings;
    return settings;
}
