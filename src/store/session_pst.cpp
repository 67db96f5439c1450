// The session's PST operations. Not available in this build of the component.
#include "store/native_session.h"

namespace store {

std::shared_ptr<RDOStore> NativeSession::LogonPstStore(const std::string&, int) {
    throw ComError(kMAPI_E_NO_SUPPORT, "PST stores are not supported");
}

std::shared_ptr<RDOFolder> NativeSession::GetFolderFromPath(const std::string&) {
    throw ComError(kMAPI_E_NO_SUPPORT, "PST stores are not supported");
}

void NativeSession::Logoff() { throw ComError(kMAPI_E_NO_SUPPORT, "PST stores are not supported"); }

}  // namespace store
