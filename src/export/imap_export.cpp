#include "export/imap_export.h"

#include <memory>

#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "export/arrival_time.h"
#include "export/folder_loop.h"
#include "export/output_naming.h"
#include "imap/account_upload.h"
#include "imap/folder_upload.h"
#include "imap/imap_failure.h"
#include "imap/upload_message.h"

namespace {

std::string JoinLevels(const std::vector<std::string>& levels) {
    std::string text;
    for (const std::string& level : levels) text += (text.empty() ? "" : "/") + level;
    return text;
}

imap::UploadMessage UploadMessageOf(const FolderMessage& message) {
    imap::UploadMessage upload;
    upload.bytes = imap::WithImapLineEnds(message.text ? std::string_view(*message.text) : std::string_view());
    upload.digest = imap::MessageDigest(upload.bytes);
    upload.message_id = imap::MessageIdOf(upload.bytes);
    if (message.state.known) {
        upload.state.read = message.state.read;
        upload.state.flagged = message.state.flagged;
        upload.state.replied = message.state.replied;
        upload.state.draft = message.state.draft;
        upload.state.forwarded = message.state.forwarded;
    }
    upload.internal_date = imap::InternalDateOf(ArrivalTime(message));
    upload.slot = message.slot;
    upload.complete = message.text_complete;
    return upload;
}

// One folder of the account, filled from one folder file: the stored bytes with IMAP's line
// ends, the flags and the arrival time; what the server holds already is left alone.
class ImapSink : public MessageSink {
public:
    ImapSink(ExportContext& context, ImapTarget& target, std::vector<std::string> levels)
        : context_(context), target_(target), levels_(std::move(levels)), folder_text_(JoinLevels(levels_)) {}

    bool Begin() override {
        try {
            const std::string mailbox = target_.account.MakeMailbox(levels_);
            upload_ = std::make_unique<imap::FolderUpload>(target_.account, mailbox, target_.journal_folder);
            return true;
        } catch (const imap::Failure& failure) {
            // A folder the server refuses costs that folder; a lost connection or journal, the job.
            if (failure.kind() != imap::Failure::Kind::kRefused && failure.kind() != imap::Failure::Kind::kProtocol)
                target_.account.Stop(failure.what());
            else
                context_.tally.CountFailure(folder_text_, failure.what());
        } catch (const std::exception& failure) {
            context_.tally.CountFailure(folder_text_, failure.what());
        }
        return false;
    }
    std::string StatusText(const FolderMessage& message) override {
        return folder_text_ + ": " + SubjectDisplayText(message.subject, MessageCodepage(message.subject, message.text, context_.settings.codepage));
    }
    std::string FailureSubject(const FolderMessage& message) override { return MessageName(message.slot); }
    std::string Write(PreparedMessage& prepared) override {
        const imap::Offered offered = upload_->Offer(UploadMessageOf(prepared.message));
        CountNotUploaded();
        switch (offered) {
            case imap::Offered::kQueued: return {};
            case imap::Offered::kAlreadyThere:
                prepared.already_there = true;
                return {};
            case imap::Offered::kTooBig:
                return "larger than the server takes (" + std::to_string(target_.account.session().append_limit()) +
                       " bytes); not uploaded";
            case imap::Offered::kStopped:
                // Told once, by the stop; not written.
                if (prepared.message.text_complete) ++lost_;
                return {};
        }
        return {};
    }
    bool End() override {
        if (upload_) upload_->Flush();
        CountNotUploaded();
        return true;
    }
    std::size_t LostAfterWrite() const override { return lost_; }
    std::unique_ptr<MessageSink> RecoveredSink() override {
        std::vector<std::string> levels = levels_;
        levels.emplace_back(kRecoveredFolderName);
        return std::make_unique<ImapSink>(context_, target_, std::move(levels));
    }

private:
    std::string MessageName(std::int32_t slot) const { return folder_text_ + ": message " + std::to_string(slot); }

    // A message that Write took and the server did not: not written; a failure of its own when
    // the server refused it, unless its text was damaged, which the loop has counted already. Those
    // left when the upload stopped are told once, by the stop.
    void CountNotUploaded() {
        for (const imap::NotUploaded& message : upload_->TakeNotUploaded()) {
            if (!message.complete) continue;
            ++lost_;
            if (!message.stopped) context_.tally.CountFailure(MessageName(message.slot), message.why);
        }
    }

    ExportContext& context_;
    ImapTarget& target_;
    std::vector<std::string> levels_;
    std::string folder_text_;
    std::unique_ptr<imap::FolderUpload> upload_;
    std::size_t lost_ = 0;
};

}  // namespace

void ExportFolderToImap(ExportContext& context, const std::string& dbx_path, const std::string&, const std::string&) {
    auto* target = dynamic_cast<ImapTarget*>(context.target);
    if (target == nullptr) {
        context.tally.CountFailure(dbx_path, "no mail server to upload to");
        return;
    }
    ImapSink sink(context, *target, target->levels);
    RunFolderLoop(context, dbx_path, sink);
}
