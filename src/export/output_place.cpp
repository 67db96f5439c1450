#include "export/output_place.h"

#include "export/folder_loop.h"
#include "export/output_naming.h"
#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "platform/paths.h"

namespace {

constexpr const char* kSubFolderSuffix = ".sbd";

}  // namespace

std::string NumberedOutputPath(const std::string& path, int n) {
    const std::size_t slash = path.find_last_of(platform::kPathSeparators);
    const std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, name_at) + NumberedFileName(path.substr(name_at), n);
}

platform::WriteFailure OpenDestination(const std::string& destination_path, platform::OutputFolder& folder) {
    return folder.Open(destination_path);
}

platform::WriteFailure OpenFolderOutput(const ExportContext& context, const std::string& destination_path,
                                        const std::string& folder_name, platform::OutputFolder& folder) {
    platform::OutputFolder at;
    if (const auto failure = OpenDestination(destination_path, at); failure != platform::WriteFailure::kNone)
        return failure;
    const std::vector<std::string> levels =
        context.tree_path.empty() ? std::vector<std::string>{folder_name} : context.tree_path;
    for (const std::string& name : levels) {
        platform::OutputFolder child;
        if (const auto failure = at.OpenChild(name, child); failure != platform::WriteFailure::kNone) return failure;
        at = std::move(child);
    }
    folder = std::move(at);
    return platform::WriteFailure::kNone;
}

platform::WriteFailure OpenMboxFolder(const std::string& destination_path, const std::vector<std::string>& tree_path,
                                      platform::OutputFolder& folder) {
    platform::OutputFolder at;
    if (const auto failure = OpenDestination(destination_path, at); failure != platform::WriteFailure::kNone)
        return failure;
    for (std::size_t i = 0; i + 1 < tree_path.size(); ++i) {
        // Made only when nothing is there: a parent's own messages, written by an earlier row,
        // are never cut short, and a link planted there is never followed.
        if (const auto failure = at.MakeEmptyFileUnlessThere(tree_path[i]); failure != platform::WriteFailure::kNone)
            return failure;
        platform::OutputFolder child;
        if (const auto failure = at.OpenChild(tree_path[i] + kSubFolderSuffix, child);
            failure != platform::WriteFailure::kNone)
            return failure;
        at = std::move(child);
    }
    folder = std::move(at);
    return platform::WriteFailure::kNone;
}

MessageFileOutput::MessageFileOutput(ExportContext& context, std::string destination, std::string folder_name,
                                     std::string suffix)
    : context_(context),
      destination_(std::move(destination)),
      folder_name_(std::move(folder_name)),
      suffix_(std::move(suffix)),
      directory_(FolderOutputDirectory(context, destination_, folder_name_)),
      folder_(std::make_shared<platform::OutputFolder>()) {}

MessageFileOutput::MessageFileOutput(ExportContext& context, const MessageFileOutput& live)
    : context_(context),
      folder_name_(kRecoveredFolderName),
      suffix_(live.suffix_),
      directory_(platform::JoinPath(live.directory_, kRecoveredFolderName)),
      folder_(std::make_shared<platform::OutputFolder>()),
      parent_(live.folder_) {}

void MessageFileOutput::Begin() {
    folder_failure_ = parent_ ? parent_->OpenChild(folder_name_, *folder_)
                              : OpenFolderOutput(context_, destination_, folder_name_, *folder_);
    if (folder_failure_ != platform::WriteFailure::kNone) {
        context_.tally.CountFailure(directory_,
                                    std::string("cannot create the folder: ") + platform::WriteFailureWords(folder_failure_));
        return;
    }
    // Files a killed run of an older version or of a system without nameless files left half made.
    folder_->RemoveStaleTemporaries();
}

const std::string& MessageFileOutput::PathOf(const FolderMessage& message) {
    if (path_slot_ != message.slot || path_.empty()) UsePath(message, MakePath(message));
    return path_;
}

std::string MessageFileOutput::MakePath(const FolderMessage& message) const {
    return MakeMessageOutputPath(directory_, message.subject, message.text, message.slot, context_.settings.codepage,
                                 suffix_);
}

void MessageFileOutput::UsePath(const FolderMessage& message, std::string path) {
    path_ = std::move(path);
    path_slot_ = message.slot;
}

std::string MessageFileOutput::Write(const FolderMessage& message, std::string_view bytes, bool& already_there) {
    return Place(message, bytes, nullptr, already_there);
}

std::shared_ptr<StagedMessageFile> MessageFileOutput::Stage(const FolderMessage& message, std::string_view bytes,
                                                            const std::string& path) const {
    if (folder_failure_ != platform::WriteFailure::kNone) return nullptr;  // Write tells why
    // The name is only the hint for a hidden temporary name where the system has no nameless
    // files.
    const auto hint = [&] { return platform::LastPathComponent(path); };
    auto staged = std::make_shared<StagedMessageFile>();
    StageMessageFile(*staged, *folder_, hint, bytes, message.date, context_.devices);
    return staged;
}

std::string MessageFileOutput::Place(const FolderMessage& message, std::string_view bytes, StagedMessageFile* staged,
                                     bool& already_there) {
    if (folder_failure_ != platform::WriteFailure::kNone) return platform::WriteFailureWords(folder_failure_);
    const std::string name = platform::LastPathComponent(PathOf(message));
    const PlacedFile placed = staged != nullptr ? PlaceMessageFile(*staged, *folder_, name, bytes)
                                                : WriteMessageFile(*folder_, name, bytes, message.date, context_.devices);
    already_there = placed.already_there;
    placed_path_ = placed ? platform::JoinPath(directory_, placed.name) : std::string();
    return placed ? std::string() : platform::WriteFailureWords(placed.failure);
}

std::string MessageFileOutput::Write(const FolderMessage& message,
                                     const std::function<platform::WriteFailure(platform::OutputDevice&)>& write,
                                     bool& already_there) {
    if (folder_failure_ != platform::WriteFailure::kNone) return platform::WriteFailureWords(folder_failure_);
    const PlacedFile placed = WriteMessageFile(*folder_, platform::LastPathComponent(PathOf(message)), write,
                                               message.date, context_.devices);
    already_there = placed.already_there;
    placed_path_ = placed ? platform::JoinPath(directory_, placed.name) : std::string();
    return placed ? std::string() : platform::WriteFailureWords(placed.failure);
}
