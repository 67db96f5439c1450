// The session's PST operations, carried out by its PST side (pst_session.h).
#include "store/native_session.h"

namespace store {

std::shared_ptr<RDOStore> NativeSession::LogonPstStore(const std::string& path, int format) {
    return pst_.LogonPstStore(path, format);
}

std::shared_ptr<RDOFolder> NativeSession::GetFolderFromPath(const std::string& path) {
    return pst_.GetFolderFromPath(path);
}

void NativeSession::Logoff() { pst_.Logoff(); }

void NativeSession::SetStoreWait(std::function<void(const std::string& path)> waiting, std::function<bool()> give_up) {
    pst_.SetStoreWait(std::move(waiting), std::move(give_up));
}

}  // namespace store
