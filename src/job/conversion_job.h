// The conversion job: walks the source rows and hands each folder file to its exporter.
#pragma once

#include <string>

#include "conversion/conversion_window.h"
#include "conversion/folder_export.h"
#include "conversion/job_tally.h"

struct JobSettings;

// True when a saving option can be converted by this build.
bool IsSavingOptionAvailable(const std::string& saving_option);

// "Inbox.dbx" -> "Inbox": every exact-case ".dbx" removed.
std::string FolderNameFromFileName(const std::string& file_name);

// Runs one whole job on the calling thread; returns what it did. devices: what every file of
// the job is written through (nullptr: the files themselves; a test passes a device that fails).
JobTally RunConversionJob(ConversionWindow& window, JobSettings& settings,
                          const platform::DeviceFilter* devices = nullptr);

// Thread entry: runs the job for the process-wide settings. Refuses (returns false) while
// another job runs, so exactly one job runs at a time.
bool StartConversionThread(ConversionWindow& window);
// True while a job started by StartConversionThread is running.
bool IsConversionRunning();
// Waits for the running job, if any, to end.
void JoinConversionThread();
