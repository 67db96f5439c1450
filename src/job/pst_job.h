// The PST export: the options dialog, then one store per folder file ("seprate") or one store for
// all of them ("new", "old"), with one folder per folder file under the store's top folder.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "job/job_rows.h"

class ConversionWindow;
class JobTally;
class MessageManifest;
struct JobSettings;
namespace platform {
class DeviceFilter;
}

// The status line while another program is adding to the store this job needs, or writing into
// its destination folder; the path follows.
inline const char* const kStoreBusyText = "Waiting for another conversion to finish with ";

// The stores a PST job writes, as the options dialog was answered; read once, after the dialog.
struct PstChoice {
    enum class Stores { kOnePerFolderFile, kOneNew, kExisting };
    Stores stores = Stores::kOneNew;
    // The one store of kOneNew and kExisting; empty when none was chosen (nothing is converted).
    std::string store_path;
};

// The answer the options dialog left in settings; nullopt when the dialog was cancelled.
std::optional<PstChoice> PstChoiceFromAnswer(const JobSettings& settings);

// Runs the whole PST job on the worker thread. False when the options dialog was cancelled or the
// session could not be made (no completion step follows); true otherwise. Only the options dialog
// writes into settings; the job keeps its stores to itself, so no later choice inherits one.
// devices: what the stores are written through (nullptr: their files). manifest: where the
// messages of every store that was closed cleanly are recorded (nullptr: nowhere).
bool RunPstExport(ConversionWindow& window, JobSettings& settings, JobTally& tally, const std::vector<JobRow>& rows,
                  const platform::DeviceFilter* devices = nullptr, MessageManifest* manifest = nullptr);
