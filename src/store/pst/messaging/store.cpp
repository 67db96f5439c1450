#include "store/pst/messaging/store.h"

#include <algorithm>
#include <random>

#include "store/pst/messaging/store_internals.h"

namespace pst::messaging {

Store::~Store() = default;

std::unique_ptr<Store> Store::Create(const std::string& path, const std::string& display_name,
                                     ndb::CryptMethod method, const platform::DeviceFilter* devices) {
    std::unique_ptr<Store> store(new Store());
    store->db_ = ndb::Database::Create(path, method, devices);
    std::random_device rd;
    for (auto& b : store->uid_) b = static_cast<std::uint8_t>(rd());
    store->CreateMandatoryNodes(display_name);
    store->Flush();
    return store;
}

std::unique_ptr<Store> Store::Open(const std::string& path, bool writable, const platform::DeviceFilter* devices) {
    std::unique_ptr<Store> store(new Store());
    store->db_ = ndb::Database::Open(path, writable, devices);
    auto node = store->db_->FindNode(nid::kMessageStore);
    if (!node) throw PstError("PST store without a message store node");
    ltp::NodeReader reader(*store->db_, node->bid_data, node->bid_sub);
    auto props = ltp::ReadPropertyContext(reader);
    auto key = props.find(tag::kRecordKey);
    if (key != props.end() && key->second.size() == 16) std::copy(key->second.begin(), key->second.end(), store->uid_.begin());
    auto password = props.find(tag::kPstPassword);
    if (password != props.end() && password->second.size() >= 4)
        store->password_crc_ = static_cast<std::uint32_t>(LoadLe({password->second.data(), 4}));
    auto ipm = props.find(tag::kIpmSubTreeEntryId);
    if (ipm == props.end() || ipm->second.size() != 24) throw PstError("PST store without a top of personal folders");
    store->ipm_subtree_ = static_cast<std::uint32_t>(LoadLe({ipm->second.data() + 20, 4}));
    if (!store->db_->FindNode(store->ipm_subtree_)) throw PstError("PST store's top folder is missing");
    store->LoadNameMap();
    return store;
}

Bytes Store::EntryId(std::uint32_t nid) const {
    // Four flag bytes, the store's id, the node id.
    Bytes b(4 + uid_.size(), 0);
    std::copy(uid_.begin(), uid_.end(), b.begin() + 4);
    AppendLe(b, nid, 4);
    return b;
}

std::uint32_t Store::root_folder() const { return nid::kRootFolder; }

std::string Store::display_name() const {
    auto node = db_->FindNode(nid::kMessageStore);
    if (!node) return {};
    ltp::NodeReader reader(*db_, node->bid_data, node->bid_sub);
    return GetString(ltp::ReadPropertyContext(reader), mapi::PR_DISPLAY_NAME_W);
}

void Store::WriteNode(std::uint32_t nid, const ltp::BuiltNode& built, std::uint32_t parent) {
    if (auto old = db_->FindNode(nid)) {
        db_->FreeDataTree(old->bid_data);
        db_->FreeSubnodeTree(old->bid_sub);
    }
    ndb::NodeInfo info;
    info.nid = nid;
    info.nid_parent = parent;
    info.bid_data = built.written_data != 0 ? built.written_data : db_->WriteDataTreeBlocks(built.blocks);
    // The value subnodes are written from the built node itself: a large table's rows are
    // not worth a copy.
    std::vector<ndb::SubnodeInfo> entries;
    for (const auto& [sub_nid, blocks] : built.subnodes) entries.push_back({sub_nid, db_->WriteDataTreeBlocks(blocks), 0});
    for (const auto& [sub_nid, bid] : built.written_subnodes) entries.push_back({sub_nid, bid, 0});
    for (const auto& [sub_nid, value] : built.borrowed_subnodes) entries.push_back({sub_nid, db_->WriteDataTree(value), 0});
    info.bid_sub = entries.empty() ? 0 : db_->WriteSubnodeTree(std::move(entries));
    db_->SetNode(info);
}

std::uint64_t Store::WriteSubnodes(const std::vector<SubnodeBuild>& subnodes) {
    if (subnodes.empty()) return 0;
    std::vector<ndb::SubnodeInfo> entries;
    for (const auto& s : subnodes) {
        ndb::SubnodeInfo e;
        e.nid = s.nid;
        e.bid_data = s.borrowed.empty() ? db_->WriteDataTreeBlocks(s.blocks) : db_->WriteDataTree(s.borrowed);
        e.bid_sub = WriteSubnodes(s.children);
        entries.push_back(e);
    }
    return db_->WriteSubnodeTree(std::move(entries));
}

void Store::WriteTable(std::uint32_t nid, const std::vector<std::uint32_t>& columns,
                       const std::vector<ltp::TableRow>& rows) {
    std::uint32_t counter = 0x400;
    auto built = ltp::BuildTableContext(columns, rows, [&] { return NidForSubnode(ndb::kNidTypeLtp, counter); });
    WriteNode(nid, built, 0);
}

void Store::CreateMandatoryNodes(const std::string& display_name) {
    std::uint32_t counter = 0x400;
    auto next = [&] { return NidForSubnode(ndb::kNidTypeLtp, counter); };
    // The message store object.
    PropMap store_props;
    store_props[tag::kRecordKey] = Bytes(uid_.begin(), uid_.end());
    store_props[mapi::PR_DISPLAY_NAME_W] = StringBytes(display_name);
    store_props[tag::kValidFolderMask] = Int32Bytes(0x89);
    store_props[tag::kIpmSubTreeEntryId] = EntryId(nid::kIpmSubtree);
    store_props[tag::kIpmWastebasketEntryId] = EntryId(nid::kDeletedItems);
    store_props[tag::kFinderEntryId] = EntryId(nid::kSearchRoot);
    store_props[tag::kPstLrNoRestrictions] = BoolBytes(true);
    store_props[tag::kPstPassword] = Int32Bytes(0);
    WriteNode(nid::kMessageStore, ltp::BuildPropertyContext(store_props, next), 0);
    ipm_subtree_ = nid::kIpmSubtree;

    // Readers expect a name map with entries; start it with names mail items commonly carry.
    const mapi::Guid common = {0x08, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    for (std::uint32_t lid : {0x8506u, 0x8580u, 0x8581u}) {
        mapi::NamedProperty np;
        np.property_set = common;
        np.lid = lid;
        NamedId(np);
    }
    mapi::NamedProperty keywords;
    keywords.property_set = kPsPublicStrings;
    keywords.name = "Keywords";
    NamedId(keywords);
    names_dirty_ = true;
    // Table templates new folders and messages copy their columns from.
    WriteTable(nid::kHierarchyTableTemplate, kHierarchyColumns, {});
    WriteTable(nid::kContentsTableTemplate, kContentsColumns, {});
    WriteTable(nid::kAssocContentsTableTemplate, kAssocContentsColumns, {});
    WriteTable(nid::kSearchContentsTableTemplate, kSearchContentsColumns, {});
    WriteTable(nid::kAttachmentTable, kAttachmentColumns, {});
    WriteTable(nid::kRecipientTable, kRecipientColumns, {});
    WriteTable(nid::kChangeHistoryTable, {0x0E330014, 0x0E370102, 0x0E380003}, {});
    WriteTable(nid::kTombstoneTable, {0x001A001F, 0x0E300102, 0x0E310102, 0x0E330014, 0x0E340102, 0x0E380003, 0x0E3E0102},
               {});
    WriteTable(nid::kInternalTable, {0x0E330014, 0x30070040}, {});
    WriteTable(nid::kOutgoingQueueTable, {0x00390040, 0x0E100003, 0x0E140003}, {});
    ltp::TableRow receive;
    receive.row_id = 1;
    receive.values[mapi::PR_MESSAGE_CLASS_W] = {};
    receive.values[tag::kReceiveFolderNid] = Int32Bytes(nid::kIpmSubtree);
    WriteTable(nid::kReceiveFolderTable, {mapi::PR_MESSAGE_CLASS_W, tag::kReceiveFolderNid}, {receive});
    // Search bookkeeping: empty queues and the list of active search folders.
    db_->SetNode({nid::kSearchManagementQueue, 0, 0, 0});
    db_->SetNode({nid::kSearchDomainObject, 0, 0, 0});
    db_->SetNode({nid::kSearchActivityList, db_->WriteDataTree(Int32Bytes(nid::kSpamSearchFolder)), 0, 0});

    // The folder hierarchy every store has.
    auto make_folder = [&](std::uint32_t nid, std::uint32_t parent, const std::string& name, bool container) {
        auto f = std::make_unique<Folder>();
        f->nid = nid;
        f->parent = parent;
        f->props[mapi::PR_DISPLAY_NAME_W] = StringBytes(name);
        f->props[tag::kContentCount] = Int32Bytes(0);
        f->props[tag::kContentUnreadCount] = Int32Bytes(0);
        f->props[tag::kSubfolders] = BoolBytes(false);
        if (container) f->props[tag::kContainerClass] = StringBytes("IPF.Note");
        f->contents_loaded = true;
        f->props_dirty = f->hierarchy_dirty = f->contents_dirty = f->is_new = true;
        folders_[nid] = std::move(f);
    };
    make_folder(nid::kRootFolder, nid::kRootFolder, "", false);
    make_folder(nid::kIpmSubtree, nid::kRootFolder, "Top of Personal Folders", false);
    folders_[nid::kIpmSubtree]->props[tag::kPstHiddenCount] = Int32Bytes(0);
    folders_[nid::kIpmSubtree]->props[tag::kPstHiddenUnread] = Int32Bytes(0);
    make_folder(nid::kSearchRoot, nid::kRootFolder, "Search Root", false);
    make_folder(nid::kDeletedItems, nid::kIpmSubtree, "Deleted Items", true);
    auto& root = *folders_[nid::kRootFolder];
    auto& top = *folders_[nid::kIpmSubtree];
    for (std::uint32_t child : {nid::kIpmSubtree, nid::kSearchRoot})
        root.hierarchy.push_back({child, FolderHierarchyRow(*folders_[child])});
    top.hierarchy.push_back({nid::kDeletedItems, FolderHierarchyRow(*folders_[nid::kDeletedItems])});
    top.props[tag::kSubfolders] = BoolBytes(true);
    root.props[tag::kSubfolders] = BoolBytes(true);
    root.hierarchy[0].values = FolderHierarchyRow(top);

    // The spam search folder under the root: its properties, update queue, criteria and contents.
    PropMap spam;
    spam[mapi::PR_DISPLAY_NAME_W] = StringBytes("SPAM Search Folder 2");
    spam[tag::kContentCount] = Int32Bytes(0);
    spam[tag::kContentUnreadCount] = Int32Bytes(0);
    spam[tag::kSubfolders] = BoolBytes(false);
    WriteNode(nid::kSpamSearchFolder, ltp::BuildPropertyContext(spam, next), nid::kRootFolder);
    db_->SetNode({ndb::MakeNid(ndb::kNidTypeSearchUpdateQueue, ndb::NidIndex(nid::kSpamSearchFolder)), 0, 0, 0});
    PropMap criteria;
    criteria[tag::kSearchFolderCriteria] = Int32Bytes(0);
    WriteNode(ndb::MakeNid(ndb::kNidTypeSearchCriteriaObject, ndb::NidIndex(nid::kSpamSearchFolder)),
              ltp::BuildPropertyContext(criteria, next), 0);
    WriteTable(ndb::MakeNid(ndb::kNidTypeSearchContentsTable, ndb::NidIndex(nid::kSpamSearchFolder)),
               kSearchContentsColumns, {});
    PropMap spam_row;
    for (auto t : {mapi::PR_DISPLAY_NAME_W, tag::kContentCount, tag::kContentUnreadCount, tag::kSubfolders})
        spam_row[t] = spam[t];
    root.hierarchy.push_back({nid::kSpamSearchFolder, spam_row});
    // Folder ids below these are taken by the fixed folders.
    db_->ReserveNids(ndb::kNidTypeNormalFolder, ndb::NidIndex(nid::kDeletedItems) + 1);
}

void Store::Flush() {
    for (auto& [id, f] : folders_) WriteFolder(*f);
    if (names_dirty_) WriteNameMap();
    db_->Flush();
}

void Store::Close() {
    if (closed_) return;
    if (db_->writable()) Flush();
    closed_ = true;
}

}  // namespace pst::messaging
