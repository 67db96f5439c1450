#include "msgfile/message_file.h"

std::string NumberedFileName(const std::string& name, int n) {
    if (n <= 1) return name;
    std::size_t dot = name.find_last_of('.');
    // No extension, or a name that only starts with a dot: the number goes at the end.
    if (dot == std::string::npos || dot == 0) dot = name.size();
    return name.substr(0, dot) + " (" + std::to_string(n) + ")" + name.substr(dot);
}

PlacedFile PlaceUnderFreeName(platform::PendingFile& file, const std::string& name,
                              const std::function<platform::ExistingFile(const std::string&)>& compare,
                              bool over_empty) {
    using platform::ExistingFile;
    using platform::WriteFailure;
    PlacedFile placed;
    for (int n = 1; n <= kMaxOutputVersions; ++n) {
        const std::string candidate = NumberedFileName(name, n);
        bool taken = false;
        // The exclusive link is the test whether the name is free: a look beforehand would cost
        // a call for every file and still race with whoever makes the name meanwhile.
        placed.failure = file.Place(candidate, taken);
        if (placed.failure != WriteFailure::kNone) break;
        if (!taken) {
            placed.name = candidate;
            placed.failure = file.Finish();
            if (placed.failure != WriteFailure::kNone) placed.name.clear();
            return placed;
        }
        const ExistingFile existing = compare(candidate);
        if (existing == ExistingFile::kSame) {
            file.Abandon();
            placed.name = candidate;
            placed.already_there = true;
            return placed;
        }
        if (n == 1 && (existing == ExistingFile::kLink || existing == ExistingFile::kOther)) {
            placed.failure = existing == ExistingFile::kLink ? WriteFailure::kLinkInTheWay : WriteFailure::kInTheWay;
            break;
        }
        if (over_empty && existing == ExistingFile::kDifferent) {
            placed.failure = file.PlaceOverEmptyFile(candidate, taken);
            if (placed.failure != WriteFailure::kNone) break;
            if (!taken) {
                placed.name = candidate;
                placed.failure = file.Finish();
                if (placed.failure != WriteFailure::kNone) placed.name.clear();
                return placed;
            }
        }
    }
    if (placed.failure == WriteFailure::kNone) placed.failure = WriteFailure::kNoFreeName;
    file.Abandon();
    return placed;
}

void StageMessageFile(StagedMessageFile& staged, const platform::OutputFolder& folder, const std::string& name,
                      std::string_view bytes, std::uint64_t filetime, const platform::DeviceFilter* devices) {
    StageMessageFile(staged, folder, [&name] { return name; }, bytes, filetime, devices);
}

void StageMessageFile(StagedMessageFile& staged, const platform::OutputFolder& folder,
                      const std::function<std::string()>& name, std::string_view bytes, std::uint64_t filetime,
                      const platform::DeviceFilter* devices) {
    staged.failure = staged.file.Begin(folder, name, devices);
    if (staged.failure == platform::WriteFailure::kNone && !bytes.empty()) staged.failure = staged.file.device().Write(bytes);
    if (staged.failure != platform::WriteFailure::kNone) {
        staged.file.Abandon();
        return;
    }
    // The time is only a convenience for sorting; a refusal costs nothing written.
    if (filetime != 0) staged.file.SetTime(filetime);
}

PlacedFile PlaceMessageFile(StagedMessageFile& staged, const platform::OutputFolder& folder, const std::string& name,
                            std::string_view bytes) {
    if (staged.failure != platform::WriteFailure::kNone) {
        PlacedFile placed;
        placed.failure = staged.failure;
        return placed;
    }
    // An empty file at a name holds nothing of anyone's: a run of an older version that a full
    // disk stopped left those, and this one fills them in.
    return PlaceUnderFreeName(
        staged.file, name, [&](const std::string& candidate) { return folder.Compare(candidate, bytes); }, true);
}

PlacedFile WriteMessageFile(const platform::OutputFolder& folder, const std::string& name, std::string_view bytes,
                            std::uint64_t filetime, const platform::DeviceFilter* devices) {
    StagedMessageFile staged;
    StageMessageFile(staged, folder, name, bytes, filetime, devices);
    return PlaceMessageFile(staged, folder, name, bytes);
}

PlacedFile WriteMessageFile(const platform::OutputFolder& folder, const std::string& name,
                            const std::function<platform::WriteFailure(platform::OutputDevice&)>& write,
                            std::uint64_t filetime, const platform::DeviceFilter* devices) {
    platform::PendingFile file;
    PlacedFile placed;
    placed.failure = file.Begin(folder, name, devices, true);
    if (placed.failure == platform::WriteFailure::kNone) placed.failure = write(file.device());
    if (placed.failure != platform::WriteFailure::kNone) return placed;
    if (filetime != 0) file.SetTime(filetime);
    return PlaceUnderFreeName(
        file, name, [&](const std::string& candidate) { return file.CompareWith(candidate); }, true);
}
