#include "job/remembered_folders.h"

#include "conversion/job_tally.h"
#include "export/folder_loop.h"
#include "export/source_digests.h"
#include "job/job_rows.h"
#include "platform/file_checks.h"

std::unique_ptr<FolderPlaces> OpenFolderPlaces(const std::string& path, JobTally& tally) {
    auto places = std::make_unique<FolderPlaces>(path);
    if (places->damaged())
        tally.AddNote(path, "this memory of the folders earlier runs used is damaged and was left out; folders were "
                            "chosen as on a first run, and it is written anew");
    return places;
}

std::string PlaceRowFolder(FolderPlaces& places, const JobRow& row, const std::string& base,
                           const std::function<std::string(int)>& numbered,
                           const std::function<bool(const std::string&)>& taken_in_job, SourceDigests* digests) {
    const auto source_keys = [&] { return FolderFileMessageKeys(row.dbx_path); };
    // Never read unless it is a plain file: a FIFO would block, and it is refused later anyway.
    if (!platform::ReadableFileRefusal(row.dbx_path).empty()) return places.Place(base, std::string(), numbered, taken_in_job, source_keys);
    if (digests != nullptr) {
        // A digest that is to come from the conversion's own read is not there yet: where the
        // folder depends on it, it is read now.
        if (places.DigestMatters(base, numbered, taken_in_job))
            return places.Place(base, digests->Now(row.dbx_path), numbered, taken_in_job, source_keys);
        return places.Place(base, digests->Of(row.dbx_path), numbered, taken_in_job, source_keys);
    }
    // A job without digests of its own (PST) reads the file on a thread beside the conversion; the
    // folder holds the digest's future, so the set that began it may go.
    SourceDigests own;
    return places.Place(base, own.Of(row.dbx_path), numbered, taken_in_job, source_keys);
}

void SaveFolderPlaces(FolderPlaces& places, JobTally& tally) {
    if (const std::string failure = places.Save(); !failure.empty())
        tally.AddNote(places.path(), "the folders this run used could not be remembered (" + failure +
                                         "); a later run may put a folder file into another folder");
}
