#include "export/store_export.h"

#include "conversion/conversion_window.h"
#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "export/folder_loop.h"
#include "export/output_naming.h"
#include "export/output_place.h"
#include "platform/paths.h"
#include "store/mail_item.h"
#include "store/mapi/prop_tags.h"
#include "store/msg_file_mail.h"

const char* const kSessionErrorText =
    "Unable to create redemption session \n"
    " Please Register Redemption DLL by following below steps- \n"
    " 1) Go to software installation location. \n"
    " 2) Click on Start button \xC2\xBB Run \n"
    " 3) Type the below command- \n"
    " regsvr32 C:\\Program Files\\Corvanti Ombrik\\Redemption.dll";

namespace {

struct StoreOutput {
    const char* suffix;
    int format;  // kOlMsgUnicode, kOlRtf or kOlHtml
};

StoreOutput OutputFor(const std::string& saving_option) {
    if (saving_option == "rtf") return {".rtf", store::kOlRtf};
    if (saving_option == "html") return {".html", store::kOlHtml};
    return {".msg", store::kOlMsgUnicode};
}

// One .msg, .rtf or .html file per e-mail, made by the store component from the message text in
// memory: parsing, rendering and laying out the file run ahead on worker threads, and the
// writer only puts the finished bytes in place.
class StoreFileSink : public MessageSink {
public:
    StoreFileSink(ExportContext& context, std::string dbx_path, std::string destination, std::string directory)
        : context_(context),
          dbx_path_(std::move(dbx_path)),
          destination_(std::move(destination)),
          directory_(std::move(directory)),
          output_(OutputFor(context.settings.saving_option)) {}

    bool Begin() override {
        // A recovered sink has no destination of its own: its folder goes inside the live one's.
        const bool made = destination_.empty() ? platform::CreateDirectory(directory_)
                                               : MakeFolderOutput(context_, destination_, directory_);
        if (!made) context_.tally.CountFailure(directory_, "cannot create the folder");
        // The component must be there for every message; without it the folder ends with the
        // session message.
        try {
            session_ = store::CreateSessionFromProgId(store::kSessionProgId);
            session_->SetLegacyCodepage(context_.settings.codepage);
        } catch (const std::exception& error) {
            context_.tally.CountFailure(dbx_path_, store::DescribeFailure(error));
            context_.window.ShowMessage(kSessionErrorText, kMessageTitle, msgbox::kJobMessage);
            return false;
        }
        return true;
    }
    bool PreparesAhead() const override { return true; }
    void Prepare(PreparedMessage& prepared) override {
        const std::string_view text = prepared.message.text ? std::string_view(*prepared.message.text) : std::string_view();
        mapi::Message message = store::MessageFromRfc822(text, context_.settings.codepage);
        store::ApplyCreatedClass(message, "IPM.Note");
        mapi::ApplyMessageState(message, prepared.message.state);
        prepared.output = output_.format == store::kOlMsgUnicode ? store::MsgFileBytes(message)
                                                                 : store::RenderingOf(message, output_.format);
    }
    std::string StatusText(const FolderMessage& message) override { return PathOf(message); }
    std::string FailureSubject(const FolderMessage& message) override { return PathOf(message); }
    std::string Write(PreparedMessage& prepared) override {
        const OutputPlace place = PlaceForBytes(PathOf(prepared.message), prepared.output);
        if (place.path.empty()) return "no free name for another version of the file";
        if (place.already_there) {
            prepared.already_there = true;
        } else {
            store::WriteWholeFile(place.path, prepared.output);
            // The file's time is only a convenience for sorting; a refusal costs nothing written.
            platform::SetModificationTime(place.path, prepared.message.date);
        }
        prepared.output.clear();
        prepared.output.shrink_to_fit();
        return {};
    }
    std::unique_ptr<MessageSink> RecoveredSink() override {
        return std::make_unique<StoreFileSink>(context_, dbx_path_, std::string(),
                                               platform::JoinPath(directory_, kRecoveredFolderName));
    }

private:
    const std::string& PathOf(const FolderMessage& message) {
        if (path_slot_ != message.slot || path_.empty()) {
            path_ = MakeMessageOutputPath(directory_, message.subject, message.text, message.slot,
                                          context_.settings.codepage, output_.suffix);
            path_slot_ = message.slot;
        }
        return path_;
    }

    ExportContext& context_;
    std::string dbx_path_;
    std::string destination_;
    std::string directory_;
    StoreOutput output_;
    std::shared_ptr<store::RDOSession> session_;
    std::string path_;
    std::int32_t path_slot_ = -1;
};

}  // namespace

void ExportFolderThroughStore(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                              const std::string& folder_name) {
    StoreFileSink sink(context, dbx_path, destination_path, FolderOutputDirectory(context, destination_path, folder_name));
    RunFolderLoop(context, dbx_path, sink);
}
