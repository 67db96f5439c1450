// The PST side of our session: stores opened by path, folders found by path, the folder and
// item collections and message items that import an .eml file and save it into a store.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/output_device.h"
#include "store/session.h"

namespace store {

struct PstStoreHandle;

class PstSession {
public:
    PstSession();
    ~PstSession();
    PstSession(const PstSession&) = delete;
    PstSession& operator=(const PstSession&) = delete;

    // Opens the Unicode PST store at path, creating it (named after the file) when missing. The
    // store is locked against other programs doing the same (a lock file beside it) from here to
    // its log-off, so two runs into one store add to it one after the other. A store
    // that exists is extended through a private copy that replaces it, checked, at log-off; an
    // ANSI, 4K-page, password-protected or damaged store is refused with MAPI_E_CORRUPT_DATA and a
    // text saying what to do, and the file is left untouched.
    std::shared_ptr<RDOStore> LogonPstStore(const std::string& path, int format);
    // "\\Display name" is the store's top folder; "\\Display name\A\B" a folder below it.
    std::shared_ptr<RDOFolder> GetFolderFromPath(const std::string& path);
    // Writes and closes every store this session opened.
    void Logoff();
    // See RDOSession::SetStoreWait.
    void SetStoreWait(std::function<void(const std::string& path)> waiting, std::function<bool()> give_up);
    // For 8-bit text without a charset in the messages imported from now on (empty: this system's).
    void SetLegacyCodepage(const std::string& codepage) { legacy_codepage_ = codepage; }
    // What the stores opened from now on are written through (none: their files).
    void SetDeviceFilter(const platform::DeviceFilter* devices) { devices_ = devices; }

private:
    std::string legacy_codepage_;
    const platform::DeviceFilter* devices_ = nullptr;
    std::vector<std::shared_ptr<PstStoreHandle>> stores_;
    std::function<void(const std::string&)> waiting_;
    std::function<bool()> give_up_;
};

// The lock file that guards the store at path: beside the file the path leads to.
std::string PstStoreLockPath(const std::string& path);

// Why the store at path cannot be extended, or an empty text when it can.
std::string PstStoreRefusal(const std::string& path);

}  // namespace store
