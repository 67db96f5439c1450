// The PST export: the options dialog, then one store per folder file ("seprate") or one store for
// all of them ("new", "old"), with one folder per folder file under the store's top folder.
#pragma once

class ConversionWindow;
class JobTally;
struct JobSettings;
namespace platform {
class DeviceFilter;
}

// The status line while another program is adding to the store this job needs, or writing into
// its destination folder; the path follows.
inline const char* const kStoreBusyText = "Waiting for another conversion to finish with ";

// Runs the whole PST job on the worker thread. False when the options dialog was cancelled or the
// session could not be made (no completion step follows); true otherwise.
// devices: what the stores are written through (nullptr: their files).
bool RunPstExport(ConversionWindow& window, JobSettings& settings, JobTally& tally, int row_count,
                  const platform::DeviceFilter* devices = nullptr);
