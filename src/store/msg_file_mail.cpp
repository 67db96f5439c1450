#include "store/msg_file_mail.h"

#include <stdexcept>

#include "store/msg/msg_file.h"

namespace store {

std::string MsgFileBytes(const mapi::Message& message) {
    try {
        return msg::MsgFileBytes(message);
    } catch (const std::invalid_argument& e) {
        throw ComError(kE_INVALIDARG, e.what());
    }
}

MsgFileMail::MsgFileMail(std::string path, const std::string& message_class)
    : ModelMail(message_class, message_class), path_(std::move(path)) {}

void MsgFileMail::Save() { WriteWholeFile(path_, MsgFileBytes(message_)); }

void MsgFileMail::SaveAs(const std::string& path, int format) {
    if (format == kOlMsgUnicode) {
        WriteWholeFile(path, MsgFileBytes(message_));
        return;
    }
    ModelMail::SaveAs(path, format);
}

}  // namespace store
