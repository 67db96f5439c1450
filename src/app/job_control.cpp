#include "app/job_control.h"

#include "job/conversion_job.h"

bool WorkerJobControl::Start(ConversionWindow& window) { return StartConversionThread(window); }

bool WorkerJobControl::IsRunning() { return IsConversionRunning(); }

void WorkerJobControl::Join() { JoinConversionThread(); }
