#include "export/output_place.h"

#include <cerrno>
#include <cstdio>

#include "platform/existing_file.h"
#include "platform/output_file.h"
#include "platform/paths.h"

std::string NumberedOutputPath(const std::string& path, int n) {
    if (n <= 1) return path;
    const std::size_t separator = path.find_last_of(platform::kPathSeparators);
    const std::size_t name_at = separator == std::string::npos ? 0 : separator + 1;
    std::size_t dot = path.find_last_of('.');
    // No extension, or a name that only starts with a dot: the number goes at the end.
    if (dot == std::string::npos || dot <= name_at) dot = path.size();
    return path.substr(0, dot) + " (" + std::to_string(n) + ")" + path.substr(dot);
}

OutputPlace PlaceForBytes(const std::string& path, std::string_view bytes) {
    for (int n = 1; n <= kMaxOutputVersions; ++n) {
        const std::string candidate = NumberedOutputPath(path, n);
        switch (platform::CompareWithExisting(candidate, bytes)) {
            case platform::ExistingFile::kNone: return {candidate, false};
            case platform::ExistingFile::kSame: return {candidate, true};
            case platform::ExistingFile::kOther:
                if (n == 1) return {candidate, false};
                break;
            case platform::ExistingFile::kDifferent: break;
        }
    }
    return {};
}

std::string PlaceFinishedFile(const std::string& temporary_path, const std::string& path, std::string& placed,
                              bool& already_there) {
    already_there = false;
    for (int n = 1; n <= kMaxOutputVersions; ++n) {
        const std::string candidate = NumberedOutputPath(path, n);
        const platform::ExistingFile existing = platform::CompareWithExistingFile(candidate, temporary_path);
        if (existing == platform::ExistingFile::kSame) {
            platform::DeleteFile(temporary_path);
            placed = candidate;
            already_there = true;
            return {};
        }
        if (existing == platform::ExistingFile::kOther && n == 1) {
            platform::DeleteFile(temporary_path);
            return "something that is not a plain file is in the way";
        }
        if (existing == platform::ExistingFile::kDifferent && platform::MoveOverEmptyFile(temporary_path, candidate) == 0) {
            placed = candidate;
            return {};
        }
        if (existing != platform::ExistingFile::kNone) continue;
        const int error = platform::MoveToFreeName(temporary_path, candidate);
        if (error == 0) {
            placed = candidate;
            return {};
        }
        if (error != EEXIST) {
            platform::DeleteFile(temporary_path);
            return platform::ErrorText(error);
        }
    }
    platform::DeleteFile(temporary_path);
    return "no free name after " + std::to_string(kMaxOutputVersions) + " versions";
}
