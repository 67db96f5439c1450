#include "export/eml_export.h"

#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "export/folder_loop.h"
#include "export/output_naming.h"
#include "export/output_place.h"
#include "msgfile/message_file.h"
#include "platform/paths.h"

namespace {

// One .eml file per e-mail: the stored text, byte for byte.
class EmlSink : public MessageSink {
public:
    EmlSink(ExportContext& context, std::string destination, std::string directory)
        : context_(context), destination_(std::move(destination)), directory_(std::move(directory)) {}

    bool Begin() override {
        // A recovered sink has no destination of its own: its folder goes inside the live one's.
        const bool made = destination_.empty() ? platform::CreateDirectory(directory_)
                                               : MakeFolderOutput(context_, destination_, directory_);
        if (!made) context_.tally.CountFailure(directory_, "cannot create the folder");
        return true;
    }
    std::string StatusText(const FolderMessage& message) override { return PathOf(message); }
    std::string FailureSubject(const FolderMessage& message) override { return PathOf(message); }
    std::string Write(PreparedMessage& prepared) override {
        const auto& text = prepared.message.text;
        const OutputPlace place = PlaceForBytes(PathOf(prepared.message), text ? std::string_view(*text) : std::string_view());
        if (place.path.empty()) return "no free name for another version of the file";
        if (place.already_there) {
            prepared.already_there = true;
            return {};
        }
        const WriteResult written = WriteMessageFile(place.path, text);
        if (!written) return written.error;
        // The file's time is only a convenience for sorting; a refusal costs nothing written.
        platform::SetModificationTime(place.path, prepared.message.date);
        return {};
    }
    std::unique_ptr<MessageSink> RecoveredSink() override {
        return std::make_unique<EmlSink>(context_, std::string(), platform::JoinPath(directory_, kRecoveredFolderName));
    }

private:
    // Made once per message: the status line and a failure both name the same file.
    const std::string& PathOf(const FolderMessage& message) {
        if (path_slot_ != message.slot || path_.empty()) {
            path_ = MakeMessageOutputPath(directory_, message.subject, message.text, message.slot, context_.settings.codepage);
            path_slot_ = message.slot;
        }
        return path_;
    }

    ExportContext& context_;
    std::string destination_;
    std::string directory_;
    std::string path_;
    std::int32_t path_slot_ = -1;
};

}  // namespace

void ExportFolderToEml(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                       const std::string& folder_name) {
    EmlSink sink(context, destination_path, FolderOutputDirectory(context, destination_path, folder_name));
    RunFolderLoop(context, dbx_path, sink);
}
