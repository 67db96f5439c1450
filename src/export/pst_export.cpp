#include "export/pst_export.h"

#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "export/folder_loop.h"
#include "export/output_naming.h"
#include "platform/paths.h"
#include "store/mail_item.h"

namespace {

// Each e-mail becomes a new item of the target folder. The MIME parsing, the compressed RTF and
// the message's encoding for the store are made ahead on worker threads; adding to the store
// stays on the writer, in slot order.
// The 8-bit text without a charset is read in the job's code page.
class PstSink : public MessageSink {
public:
    // recovered: the sink of the messages only a scan finds, into the target's Recovered folder.
    PstSink(ExportContext& context, std::string dbx_path, bool recovered = false)
        : context_(context), dbx_path_(std::move(dbx_path)), recovered_(recovered) {}

    bool Begin() override {
        const auto* target = dynamic_cast<const PstTargetFolder*>(context_.target);
        const std::shared_ptr<store::RDOFolder> folder =
            target == nullptr ? nullptr : recovered_ ? target->RecoveredFolder() : target->folder();
        if (!folder) {
            context_.tally.CountFailure(dbx_path_, "no PST folder to import into");
            return false;
        }
        folder_ = folder;
        return true;
    }
    bool PreparesAhead() const override { return true; }
    // Making the item and encoding it for the store read nothing the writer changes but the
    // store's map of named properties, which the store guards; so they run ahead as well.
    void Prepare(PreparedMessage& prepared) override {
        const std::string_view text = prepared.message.text ? std::string_view(*prepared.message.text) : std::string_view();
        mapi::Message model = store::MessageFromRfc822(text, context_.settings.codepage);
        mapi::ApplyMessageState(model, prepared.message.state);
        prepared.item = folder_->Prepare(std::move(model));
    }
    std::string StatusText(const FolderMessage& message) override {
        const std::string codepage = MessageCodepage(message.subject, message.text, context_.settings.codepage);
        return SubjectDisplayText(message.subject, codepage);
    }
    std::string FailureSubject(const FolderMessage& message) override {
        return dbx_path_ + (recovered_ ? ": recovered message " : ": message ") + std::to_string(message.slot);
    }
    std::string Write(PreparedMessage& prepared) override {
        auto item = std::move(prepared.item);
        if (!item) throw store::StoreFailure(store::FailureKind::kFailed, "no message item");
        // A message the folder holds already (an earlier run of the same folder file) is not added
        // a second time; the summary counts it apart.
        if (!folder_->Add(*item)) prepared.already_there = true;
        if (const auto* target = dynamic_cast<const PstTargetFolder*>(context_.target)) {
            prepared.output_path = target->store_path();
            prepared.output_folder = target->folder_path() + (recovered_ ? std::string("\\") + kRecoveredFolderName : "");
        }
        return {};
    }
    std::unique_ptr<MessageSink> RecoveredSink() override {
        if (recovered_) return nullptr;
        return std::make_unique<PstSink>(context_, dbx_path_, true);
    }

private:
    ExportContext& context_;
    std::string dbx_path_;
    bool recovered_;
    std::shared_ptr<store::RDOFolder> folder_;
};

}  // namespace

void ExportFolderToPst(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                       const std::string& folder_name) {
    // The destination is made as for every form; only attachments saved as files go there.
    platform::CreateDirectory(destination_path);
    PstSink sink(context, dbx_path);
    RunFolderLoop(context, dbx_path, sink, AttachmentsPlaceFor(context, destination_path, folder_name));
}
