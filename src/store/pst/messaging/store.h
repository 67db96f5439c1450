// A PST message store: folders, messages with recipients and attachments, embedded messages
// and named properties over the node database. Messages are written as they are added, one in
// memory at a time; folder properties and tables are kept in memory while the store is open
// and written by Flush and Close.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "store/mapi/message.h"
#include "store/pst/ltp/context.h"
#include "store/pst/messaging/message_identity.h"
#include "store/pst/ndb/database.h"

namespace pst::messaging {

struct BuiltMessage;

struct FolderInfo {
    std::uint32_t nid = 0;
    std::string name;
    std::int32_t content_count = 0;
    bool has_subfolders = false;
};

class Store {
public:
    // A new store file at path (an existing file is replaced), written through devices (none:
    // the file itself).
    static std::unique_ptr<Store> Create(const std::string& path, const std::string& display_name,
                                         ndb::CryptMethod method = ndb::CryptMethod::Permute,
                                         const platform::DeviceFilter* devices = nullptr);
    // A store file that exists; writable opens it for adding folders and messages.
    static std::unique_ptr<Store> Open(const std::string& path, bool writable,
                                       const platform::DeviceFilter* devices = nullptr);

    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    std::string display_name() const;
    // The checksum of the password the store's owner set, 0 when there is none.
    std::uint32_t password_crc() const { return password_crc_; }
    std::uint32_t root_folder() const;
    // The top of the personal folders (the IPM subtree).
    std::uint32_t ipm_subtree() const { return ipm_subtree_; }

    std::vector<FolderInfo> Subfolders(std::uint32_t folder);
    std::optional<std::uint32_t> FindSubfolder(std::uint32_t parent, const std::string& name);
    // A folder by its names from the IPM subtree, separated by backslashes ("Inbox\Sub").
    std::optional<std::uint32_t> FindFolderByPath(const std::string& path);
    std::uint32_t AddFolder(std::uint32_t parent, const std::string& name,
                            const std::string& container_class = "IPF.Note");
    FolderInfo GetFolder(std::uint32_t folder);

    // Stores a message in a folder and returns its node id. A message without a search key gets
    // its content digest as one.
    std::uint32_t AddMessage(std::uint32_t folder, const mapi::Message& message);
    struct AddOutcome {
        std::uint32_t nid = 0;       // the new message; 0 when nothing was added
        bool already_there = false;  // the folder holds the same message (see message_identity.h)
    };
    // The same, unless the folder holds the same message already. The folder's messages are
    // looked at once, at the first call for that folder; later calls look only in memory.
    AddOutcome AddMessageUnlessPresent(std::uint32_t folder, const mapi::Message& message);
    // The same in two steps: Prepare does the work that reads only the message (its key,
    // identity and most often its whole property and table contexts) and may run on any thread,
    // also while another adds messages; AddPreparedUnlessPresent then writes it, as
    // AddMessageUnlessPresent would have. What is prepared refers to the message's large values
    // instead of copying them: the message must stay as it is until it is added.
    struct PreparedMessage;
    struct PreparedDeleter {
        void operator()(PreparedMessage* prepared) const;
    };
    using Prepared = std::unique_ptr<PreparedMessage, PreparedDeleter>;
    Prepared Prepare(const mapi::Message& message) const;
    AddOutcome AddPreparedUnlessPresent(std::uint32_t folder, const mapi::Message& message, Prepared prepared);
    std::vector<std::uint32_t> Messages(std::uint32_t folder);
    mapi::Message ReadMessage(std::uint32_t message);

    // Writes folders, the name map and the file's indexes and maps; Close also ends writing.
    void Flush();
    void Close();

    ndb::Database& database() { return *db_; }

private:
    struct Folder;
    class RowSpool;
    class ContentsCursor;
    Store() = default;
    void CreateMandatoryNodes(const std::string& display_name);
    void WriteNode(std::uint32_t nid, const ltp::BuiltNode& built, std::uint32_t parent);
    void WriteTable(std::uint32_t nid, const std::vector<std::uint32_t>& columns,
                    const std::vector<ltp::TableRow>& rows);
    Folder& LoadFolder(std::uint32_t nid);
    void LoadContents(Folder& f);
    void WriteFolder(Folder& f);
    ltp::PropMap FolderHierarchyRow(const Folder& f) const;
    using NamedIdSource = std::function<std::uint32_t(const mapi::NamedProperty&)>;
    BuiltMessage BuildMessage(const mapi::Message& message, ltp::PropMap* row_values, int depth,
                              const ltp::Bytes* search_key, const NamedIdSource& named_id) const;
    void LoadIdentities(Folder& f);
    std::uint32_t StoreMessage(Folder& folder, const mapi::Message& message, PreparedMessage& prepared);
    std::uint64_t WriteSubnodes(const std::vector<struct SubnodeBuild>& subnodes);
    std::uint32_t NamedId(const mapi::NamedProperty& name);
    std::optional<std::uint32_t> KnownNamedId(const mapi::NamedProperty& name) const;
    void LoadNameMap();
    void WriteNameMap();
    mapi::Message ReadMessageNode(const ltp::NodeReader& node, int depth);
    ltp::Bytes EntryId(std::uint32_t nid) const;
    RowSpool& Spool();
    void AppendContentsRow(Folder& f, std::uint32_t row_id, const ltp::Bytes& packed);

    std::unique_ptr<RowSpool> spool_;  // contents rows of open folders, outside memory
    std::unique_ptr<ndb::Database> db_;
    std::array<std::uint8_t, 16> uid_{};
    std::uint32_t ipm_subtree_ = 0;
    std::map<std::uint32_t, std::unique_ptr<Folder>> folders_;
    // The name map; guarded by names_mutex_ where it changes and where Prepare reads it.
    mutable std::mutex names_mutex_;
    std::vector<mapi::NamedProperty> names_;  // index i is property id 0x8000 + i
    std::map<mapi::NamedProperty, std::uint32_t> name_ids_;
    bool names_dirty_ = false;
    std::uint32_t row_version_ = 1;
    bool closed_ = false;
    std::uint32_t password_crc_ = 0;
};

}  // namespace pst::messaging
