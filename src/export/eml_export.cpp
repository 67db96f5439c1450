#include "export/eml_export.h"

#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "export/folder_loop.h"
#include "export/output_naming.h"
#include "msgfile/message_file.h"
#include "platform/paths.h"

namespace {

// One .eml file per e-mail: the stored text, byte for byte.
class EmlSink : public MessageSink {
public:
    EmlSink(ExportContext& context, std::string directory) : context_(context), directory_(std::move(directory)) {}

    bool Begin() override {
        if (!platform::CreateDirectory(directory_)) context_.tally.CountFailure(directory_, "cannot create the folder");
        return true;
    }
    std::string StatusText(const FolderMessage& message) override { return PathOf(message); }
    std::string FailureSubject(const FolderMessage& message) override { return PathOf(message); }
    std::string Write(PreparedMessage& prepared) override {
        const WriteResult written = WriteMessageFile(PathOf(prepared.message), prepared.message.text);
        if (!written) return written.error;
        // The file's time is only a convenience for sorting; a refusal costs nothing written.
        platform::SetModificationTime(PathOf(prepared.message), prepared.message.date);
        return {};
    }

private:
    // Made once per message: the status line and a failure both name the same file.
    const std::string& PathOf(const FolderMessage& message) {
        if (path_slot_ != message.slot || path_.empty()) {
            const std::string codepage = MessageCodepage(message.subject, message.text, context_.settings.codepage);
            path_ = platform::JoinPath(directory_, MakeMessageFileName(message.subject, message.slot, codepage));
            path_slot_ = message.slot;
        }
        return path_;
    }

    ExportContext& context_;
    std::string directory_;
    std::string path_;
    std::int32_t path_slot_ = -1;
};

}  // namespace

void ExportFolderToEml(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                       const std::string& folder_name) {
    EmlSink sink(context, MakeFolderOutputDirectory(destination_path, folder_name));
    RunFolderLoop(context, dbx_path, sink);
}
