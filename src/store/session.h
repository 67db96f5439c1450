// The messaging store component: a session and the objects reached from it. Our own native
// implementation stands behind the ProgID the program was designed against, so no outside
// library or installed mail program is needed. Objects are counted references (shared_ptr);
// a failed operation throws store::ComError with a negative HRESULT.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "store/com_error.h"
#include "store/mapi/message.h"

namespace platform {
class DeviceFilter;
}

namespace store {

inline const char* const kSessionProgId = "Redemption.RDOSession";

// Formats of the operations below.
constexpr int kOlRtf = 1;          // save as: RTF
constexpr int kOlHtml = 5;         // save as: HTML
constexpr int kOlMsgUnicode = 9;   // create message from MSG file: Unicode MSG
constexpr int kOlRfc822 = 1024;    // import: an RFC 822 message file
constexpr int kOlStoreUnicode = 2; // open PST store: Unicode PST
constexpr int kOlFolderMail = 5;   // folder collection add: a mail folder
constexpr int kOlMailItem = 0;     // item collection add: a mail item

class RDOMail {
public:
    virtual ~RDOMail() = default;
    virtual void Import(const std::string& path, int format) = 0;
    // The same import from a text in memory, whatever bytes it holds: no file in between.
    virtual void ImportText(std::string_view text, int format) = 0;
    // Takes a message model made beforehand (store::MessageFromRfc822), so that the parsing can
    // run away from the thread that saves.
    virtual void ImportMessage(mapi::Message message) = 0;
    // Stores the item; false when its folder held the same message already and nothing was added.
    virtual bool Save() = 0;
    // Does ahead what Save needs that reads only the item (a store's encoding of the message),
    // so that it can run on another thread than Save, also while other items are saved; an
    // import after it undoes it. Items that have nothing to do ahead do nothing.
    virtual void PrepareSave() {}
    virtual void SaveAs(const std::string& path, int format) = 0;
};

class RDOItems {
public:
    virtual ~RDOItems() = default;
    virtual std::shared_ptr<RDOMail> Add(int item_type) = 0;
};

class RDOFolder;

class RDOFolders {
public:
    virtual ~RDOFolders() = default;
    virtual std::shared_ptr<RDOFolder> Add(const std::string& name, int folder_type) = 0;
};

class RDOFolder {
public:
    virtual ~RDOFolder() = default;
    virtual std::shared_ptr<RDOItems> Items() = 0;
    virtual std::shared_ptr<RDOFolders> Folders() = 0;
};

class RDOStore {
public:
    virtual ~RDOStore() = default;
    virtual std::string DisplayName() = 0;
};

class RDOSession {
public:
    virtual ~RDOSession() = default;
    // Opens the PST store at path, creating it when missing.
    virtual std::shared_ptr<RDOStore> LogonPstStore(const std::string& path, int format) = 0;
    // "\\Display name\Folder\Sub": the folder at that path; throws when none exists.
    virtual std::shared_ptr<RDOFolder> GetFolderFromPath(const std::string& path) = 0;
    // A new message item bound to the MSG file at path (written by its Save).
    virtual std::shared_ptr<RDOMail> CreateMessageFromMsgFile(const std::string& path,
                                                              const std::string& message_class,
                                                              int format) = 0;
    virtual void Logoff() = 0;
    // How LogonPstStore waits while another program is adding to the same store: waiting(path) is
    // told once as the wait begins; give_up() is asked between tries and ends the wait with a
    // failure when it answers true. Without them the wait lasts until the store is free.
    virtual void SetStoreWait(std::function<void(const std::string& path)>, std::function<bool()>) {}
    // The code page for 8-bit text that names no charset in the messages this session imports,
    // when a message gives no hint of its own (empty: this system's).
    virtual void SetLegacyCodepage(const std::string& codepage) { (void)codepage; }
    // What the stores this session opens from now on are written through (nullptr: their files).
    virtual void SetDeviceFilter(const platform::DeviceFilter* devices) { (void)devices; }
};

// The class factory: the session for a known ProgID; throws ComError (class not registered)
// for any other.
std::shared_ptr<RDOSession> CreateSessionFromProgId(const std::string& prog_id);

}  // namespace store
