#include "store/native_session.h"

namespace store {

std::shared_ptr<RDOSession> CreateSessionFromProgId(const std::string& prog_id) {
    if (prog_id != kSessionProgId) throw StoreFailure(FailureKind::kNotFound, "class not registered: " + prog_id);
    return std::make_shared<NativeSession>();
}

}  // namespace store
