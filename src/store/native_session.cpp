#include "store/native_session.h"

#include "store/msg_file_mail.h"

namespace store {

std::shared_ptr<RDOStore> NativeSession::LogonPstStore(const std::string& path, int format) {
    return pst_.LogonPstStore(path, format);
}


void NativeSession::Logoff() { pst_.Logoff(); }

void NativeSession::SetStoreWait(std::function<void(const std::string& path)> waiting, std::function<bool()> give_up) {
    pst_.SetStoreWait(std::move(waiting), std::move(give_up));
}

std::shared_ptr<RDOMail> NativeSession::CreateMessageFromMsgFile(const std::string& path, const std::string& message_class,
                                                                 int format) {
    if (format != kOlMsgUnicode) throw StoreFailure(FailureKind::kUnsupported, "MSG format " + std::to_string(format) + " not supported");
    if (path.empty()) throw StoreFailure(FailureKind::kUnsupported, "no MSG file path");
    // The file is written by Save; an item that is only saved as RTF or HTML never needs it.
    return std::make_shared<MsgFileMail>(path, message_class.empty() ? std::string("IPM.Note") : message_class,
                                         legacy_codepage_);
}

}  // namespace store
