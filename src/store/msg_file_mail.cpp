#include "store/msg_file_mail.h"

#include <stdexcept>

#include "store/msg/msg_file.h"

namespace store {

std::string MsgFileBytes(const mapi::Message& message) {
    try {
        return msg::MsgFileBytes(message);
    } catch (const std::invalid_argument& e) {
        throw StoreFailure(FailureKind::kUnsupported, e.what());
    }
}

MsgFileLayout::MsgFileLayout(mapi::Message message) : message_(std::move(message)), root_(cfb::MakeRootStorage()) {
    try {
        msg::BuildMsgStorage(message_, root_);
    } catch (const std::invalid_argument& e) {
        throw StoreFailure(FailureKind::kUnsupported, e.what());
    }
}

platform::WriteFailure MsgFileLayout::WriteTo(platform::OutputDevice& device) const {
    platform::WriteFailure failure = platform::WriteFailure::kNone;
    cfb::WriteCompoundFile(root_, [&](std::string_view piece) {
        failure = device.Write(piece);
        return failure == platform::WriteFailure::kNone;
    });
    return failure;
}

MsgFileMail::MsgFileMail(std::string path, const std::string& message_class, std::string legacy_codepage)
    : ModelMail(message_class, message_class, std::move(legacy_codepage)), path_(std::move(path)) {}

void MsgFileMail::Save() { WriteWholeFile(path_, MsgFileBytes(message_)); }

void MsgFileMail::SaveAs(const std::string& path, int format) {
    if (format == kOlMsgUnicode) {
        WriteWholeFile(path, MsgFileBytes(message_));
        return;
    }
    ModelMail::SaveAs(path, format);
}

}  // namespace store
