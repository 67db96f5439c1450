// The PST export: the options dialog, then one store per folder file ("seprate") or one store for
// all of them ("new", "old"), with one folder per folder file under the store's top folder.
#pragma once

class ConversionWindow;
class JobTally;
struct JobSettings;

// Runs the whole PST job on the worker thread. False when the options dialog was cancelled or the
// session could not be made (no completion step follows); true otherwise.
bool RunPstExport(ConversionWindow& window, JobSettings& settings, JobTally& tally, int row_count);
