#include "export/source_places.h"

#include "export/destination_memory.h"
#include "export/output_naming.h"
#include "platform/paths.h"

namespace {

constexpr const char* kFirstLine = "ombrik source places 1";

}  // namespace

SourcePlaces::SourcePlaces(std::string destination_path, std::string file_name)
    : destination_path_(std::move(destination_path)), file_name_(std::move(file_name)) {
    for (auto& [digest, name] :
         ReadDestinationMemory(platform::JoinPath(destination_path_, file_name_), kFirstLine, kMaxEntries))
        // Only a name the naming itself could have made: never a path, never "..".
        if (IsSha256Text(digest) && !name.empty() && CleanFileFolderName(name) == name) places_[digest] = std::move(name);
}

std::string SourcePlaces::PlaceOf(const std::string& digest) const {
    const auto found = places_.find(digest);
    return found == places_.end() ? std::string() : found->second;
}

void SourcePlaces::Remember(const std::string& digest, const std::string& folder_name) {
    if (!IsSha256Text(digest) || folder_name.empty()) return;
    auto& name = places_[digest];
    if (name == folder_name) return;
    name = folder_name;
    changed_ = true;
}

std::string SourcePlaces::Save() {
    if (!changed_) return {};
    const std::string failure = SaveDestinationMemory(platform::JoinPath(destination_path_, file_name_), kFirstLine,
                                                      {places_.begin(), places_.end()});
    if (failure.empty()) changed_ = false;
    return failure;
}
