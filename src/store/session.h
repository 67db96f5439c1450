// The messaging store component: a session and the objects reached from it. Our own native
// implementation stands behind the ProgID the program was designed against, so no outside
// library or installed mail program is needed. Objects are counted references (shared_ptr);
// a failed operation throws store::StoreFailure, whose kind and words say what went wrong.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "store/store_failure.h"
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

class RDOMail {
public:
    virtual ~RDOMail() = default;
    virtual void Import(const std::string& path, int format) = 0;
    // The same import from a text in memory, whatever bytes it holds: no file in between.
    virtual void ImportText(std::string_view text, int format) = 0;
    // Takes a message model made beforehand (store::MessageFromRfc822), so that the parsing can
    // run away from the thread that saves.
    virtual void ImportMessage(mapi::Message message) = 0;
    // Writes the item to the file it is bound to.
    virtual void Save() = 0;
    virtual void SaveAs(const std::string& path, int format) = 0;
};

// A message made ready for a folder of a store, ahead of its adding.
class PreparedMail {
public:
    virtual ~PreparedMail() = default;
};

class RDOFolder;

class RDOFolders {
public:
    virtual ~RDOFolders() = default;
    virtual std::shared_ptr<RDOFolder> Add(const std::string& name, int folder_type) = 0;
    // The folder of that name directly below; nullptr when there is none. Throws only when the
    // store cannot say (it cannot be read).
    virtual std::shared_ptr<RDOFolder> Find(const std::string& name) = 0;
};

class RDOFolder {
public:
    virtual ~RDOFolder() = default;
    // Does what adding the message needs that reads only the message (its encoding for the
    // store), on any thread, also while other messages are added.
    virtual std::shared_ptr<PreparedMail> Prepare(mapi::Message message) = 0;
    // Adds a message made ready by Prepare, once; false when the folder held the same message
    // already and nothing was added.
    virtual bool Add(PreparedMail& prepared) = 0;
    virtual std::shared_ptr<RDOFolders> Folders() = 0;
};

class RDOStore {
public:
    virtual ~RDOStore() = default;
    virtual std::string DisplayName() = 0;
    // The top of the store's folders, under which the exported folders go.
    virtual std::shared_ptr<RDOFolder> RootFolder() = 0;
};

class RDOSession {
public:
    virtual ~RDOSession() = default;
    // Opens the PST store at path, creating it when missing.
    virtual std::shared_ptr<RDOStore> LogonPstStore(const std::string& path, int format) = 0;
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

// The class factory: the session for a known ProgID; throws StoreFailure (not found)
// for any other.
std::shared_ptr<RDOSession> CreateSessionFromProgId(const std::string& prog_id);

}  // namespace store
