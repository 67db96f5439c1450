#include "export/attachment_files.h"


#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "export/content_digest.h"
#include "export/folder_loop.h"
#include "export/output_naming.h"
#include "msgfile/message_file.h"
#include "platform/paths.h"
#include "store/mime/mime_import.h"

namespace {

constexpr const char* kMboxSubFolderSuffix = ".sbd";

std::string WithoutExtension(const std::string& name) {
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

std::optional<AttachmentsPlace> AttachmentsPlaceFor(const ExportContext& context, const std::string& destination_path,
                                                    const std::string& folder_name) {
    const std::string& form = context.settings.saving_option;
    if (form == "imap") return std::nullopt;
    AttachmentsPlace place;
    place.destination = destination_path;
    place.named_by_output_file = form == "eml" || form == "msg" || form == "rtf" || form == "html";
    if (context.tree_path.empty() || form == "pst") {
        place.folder_name = folder_name;
        return place;
    }
    // A folder of a whole store sits below its parents; in Thunderbird's layout of MBOX files a
    // parent's sub-folders are in "<parent>.sbd".
    for (std::size_t i = 0; i + 1 < context.tree_path.size(); ++i)
        place.parents.push_back(context.tree_path[i] + (form == "mbox" ? kMboxSubFolderSuffix : ""));
    place.folder_name = context.tree_path.back();
    return place;
}

AttachmentFiles::AttachmentFiles(ExportContext& context, AttachmentsPlace place, bool recovered)
    : context_(context), place_(std::move(place)), recovered_(recovered) {
    root_path_ = place_.destination;
    for (const std::string& parent : place_.parents) root_path_ = platform::JoinPath(root_path_, parent);
    root_path_ = platform::JoinPath(root_path_, place_.folder_name + kAttachmentsSuffix);
    if (recovered_) root_path_ = platform::JoinPath(root_path_, kRecoveredFolderName);
}

platform::WriteFailure AttachmentFiles::OpenRoot() {
    if (root_ || root_failure_ != platform::WriteFailure::kNone) return root_failure_;
    platform::OutputFolder at;
    root_failure_ = at.Open(place_.destination);
    std::vector<std::string> levels = place_.parents;
    levels.push_back(place_.folder_name + kAttachmentsSuffix);
    if (recovered_) levels.push_back(kRecoveredFolderName);
    for (std::size_t i = 0; i < levels.size() && root_failure_ == platform::WriteFailure::kNone; ++i) {
        platform::OutputFolder child;
        root_failure_ = at.OpenChild(levels[i], child);
        at = std::move(child);
    }
    if (root_failure_ == platform::WriteFailure::kNone) root_ = std::make_unique<platform::OutputFolder>(std::move(at));
    return root_failure_;
}

MessageAttachments AttachmentFiles::Find(const FolderMessage& message) const {
    MessageAttachments found;
    if (!message.text) return found;
    found.files = mime::AttachedFilesOf(*message.text, context_.settings.codepage);
    if (found.files.empty()) return found;
    const std::string codepage = MessageCodepage(message.subject, message.text, context_.settings.codepage);
    found.eml_name = WithoutExtension(MakeMessageFileName(message.subject, message.slot, codepage));
    found.date = message.date;
    return found;
}

std::vector<SavedAttachment> AttachmentFiles::Save(const MessageAttachments& found, const std::string& output_path,
                                                   bool digests) {
    std::vector<SavedAttachment> saved;
    const std::vector<mime::AttachedFile>& files = found.files;
    if (files.empty()) return saved;
    // The message's own file names its folder, " (2)" and all; a form without one uses the EML name.
    const std::string folder_name = place_.named_by_output_file && !output_path.empty()
                                        ? WithoutExtension(platform::LastPathComponent(output_path))
                                        : found.eml_name;
    const std::string folder_path = platform::JoinPath(root_path_, folder_name);
    platform::WriteFailure failure = OpenRoot();
    platform::OutputFolder folder;
    if (failure == platform::WriteFailure::kNone) failure = root_->OpenChild(folder_name, folder);
    if (failure != platform::WriteFailure::kNone) {
        context_.tally.CountFailure(folder_path, std::string("the attachments could not be saved: ") +
                                                     platform::WriteFailureWords(failure));
        return saved;
    }
    std::vector<std::string> names, types;
    for (const mime::AttachedFile& file : files) {
        names.push_back(file.name);
        types.push_back(file.mime_type);
    }
    const std::vector<std::string> file_names = AttachmentFileNames(names, types);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const PlacedFile placed = WriteMessageFile(folder, file_names[i], files[i].bytes, found.date, context_.devices);
        if (!placed) {
            context_.tally.CountFailure(platform::JoinPath(folder_path, file_names[i]),
                                        platform::WriteFailureWords(placed.failure));
            continue;
        }
        SavedAttachment one;
        one.path = platform::JoinPath(folder_path, placed.name);
        one.size = files[i].bytes.size();
        if (digests) one.sha256 = Sha256Hex(files[i].bytes);
        one.already_there = placed.already_there;
        saved.push_back(std::move(one));
    }
    return saved;
}
