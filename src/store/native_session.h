// Our own session behind the store interface: MSG-bound message items, and PST stores through
// its PST side (pst_session.h).
#pragma once

#include <memory>
#include <string>

#include "store/pst_session.h"
#include "store/session.h"

namespace store {

class NativeSession : public RDOSession {
public:
    std::shared_ptr<RDOStore> LogonPstStore(const std::string& path, int format) override;
    std::shared_ptr<RDOFolder> GetFolderFromPath(const std::string& path) override;
    void Logoff() override;
    void SetStoreWait(std::function<void(const std::string& path)> waiting, std::function<bool()> give_up) override;
    void SetLegacyCodepage(const std::string& codepage) override {
        legacy_codepage_ = codepage;
        pst_.SetLegacyCodepage(codepage);
    }
    void SetDeviceFilter(const platform::DeviceFilter* devices) override { pst_.SetDeviceFilter(devices); }

    std::shared_ptr<RDOMail> CreateMessageFromMsgFile(const std::string& path, const std::string& message_class,
                                                      int format) override;

private:
    PstSession pst_;
    std::string legacy_codepage_;
};

}  // namespace store
