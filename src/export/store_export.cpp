#include "export/store_export.h"

#include "conversion/conversion_window.h"
#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "export/folder_loop.h"
#include "export/output_naming.h"
#include "export/output_place.h"
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
    StoreFileSink(ExportContext& context, std::string dbx_path, MessageFileOutput output)
        : context_(context),
          dbx_path_(std::move(dbx_path)),
          output_(std::move(output)),
          format_(OutputFor(context.settings.saving_option).format) {}

    // The files are made from the message model alone: no session of the store component is
    // needed, so none can fail to be made.
    bool Begin() override {
        output_.Begin();
        return true;
    }
    bool PreparesAhead() const override { return true; }
    void Prepare(PreparedMessage& prepared) override {
        const std::string_view text = prepared.message.text ? std::string_view(*prepared.message.text) : std::string_view();
        mapi::Message message = store::MessageFromRfc822(text, context_.settings.codepage);
        store::ApplyCreatedClass(message, "IPM.Note");
        mapi::ApplyMessageState(message, prepared.message.state);
        if (format_ != store::kOlMsgUnicode) {
            prepared.output = store::RenderingOf(message, format_);
            return;
        }
        // The file is laid out here and written in pieces by Write: a large attachment is then
        // held once, in the model, rather than also as the bytes of a whole file.
        auto layout = std::make_shared<const store::MsgFileLayout>(std::move(message));
        prepared.write_output = [layout](platform::OutputDevice& device) { return layout->WriteTo(device); };
    }
    std::string StatusText(const FolderMessage& message) override { return output_.PathOf(message); }
    std::string FailureSubject(const FolderMessage& message) override { return output_.PathOf(message); }
    std::string Write(PreparedMessage& prepared) override {
        std::string failure = prepared.write_output
                                  ? output_.Write(prepared.message, prepared.write_output, prepared.already_there)
                                  : output_.Write(prepared.message, prepared.output, prepared.already_there);
        prepared.output_path = output_.PlacedPath();
        prepared.write_output = nullptr;
        prepared.output.clear();
        prepared.output.shrink_to_fit();
        return failure;
    }
    std::unique_ptr<MessageSink> RecoveredSink() override {
        return std::make_unique<StoreFileSink>(context_, dbx_path_, MessageFileOutput(context_, output_));
    }

private:
    ExportContext& context_;
    std::string dbx_path_;
    MessageFileOutput output_;
    int format_;
};

}  // namespace

void ExportFolderThroughStore(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                              const std::string& folder_name) {
    StoreFileSink sink(context, dbx_path,
                       MessageFileOutput(context, destination_path, folder_name, OutputFor(context.settings.saving_option).suffix));
    RunFolderLoop(context, dbx_path, sink, AttachmentsPlaceFor(context, destination_path, folder_name));
}
