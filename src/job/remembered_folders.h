// A job's use of the folders a destination or a PST store remembers from earlier runs: the
// memory read under the job's lock, each folder file added alone placed by it, and the memory
// written back before the lock is let go.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "export/folder_places.h"

class JobTally;
class SourceDigests;
struct JobRow;

// The memory at path; one that is damaged is left out with a note (the job goes on as if it had
// none, and writes it anew).
std::unique_ptr<FolderPlaces> OpenFolderPlaces(const std::string& path, JobTally& tally);

// The folder of a row added alone, whose folder is base (numbered(n): its n-th name; taken_in_job:
// a name the job gave to something else). The row's file is read for its digest, and for its
// messages' keys only when a remembered folder of the name may be a copy of it. With digests, the
// digest is the job's one of the file (which a recover scan may compute on its way); without, it
// is read here.
std::string PlaceRowFolder(FolderPlaces& places, const JobRow& row, const std::string& base,
                           const std::function<std::string(int)>& numbered,
                           const std::function<bool(const std::string&)>& taken_in_job,
                           SourceDigests* digests = nullptr);

// Writes the memory back; a failure is a note: this run's outputs are in place all the same.
void SaveFolderPlaces(FolderPlaces& places, JobTally& tally);
