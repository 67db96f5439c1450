#include "store/pst/messaging/store.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

#include "platform/file_stream.h"
#include "store/mapi/prop_tags.h"
#include "store/pst/ltp/value_codec.h"
#include "store/pst/messaging/message_identity.h"
#include "store/pst/messaging/tags.h"
#include "store/pst/ndb/crc.h"

namespace pst::messaging {

constexpr std::uint32_t kPidTagPstPassword = 0x67FF0003;
namespace {

using ltp::AppendLe;
using ltp::Bytes;
using ltp::LoadLe;
using ltp::PropMap;

constexpr int kMaxEmbeddingDepth = 32;
constexpr std::uint32_t kBucketCount = 251;
constexpr std::uint32_t kMsgFlagRead = 0x01;
constexpr std::uint32_t kMsgFlagHasAttach = 0x10;
constexpr std::int32_t kAttachByValue = 1;
constexpr std::int32_t kAttachEmbeddedMsg = 5;

const mapi::Guid kPsMapi = {0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
const mapi::Guid kPsPublicStrings = {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                     0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
const std::uint8_t kOneOffProvider[16] = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                          0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};

// Columns of the tables every store carries, as Outlook lays them out.
const std::vector<std::uint32_t> kHierarchyColumns = {0x0E300102, 0x0E330014, 0x0E340102, 0x0E380003, 0x3001001F,
                                                      0x36020003, 0x36030003, 0x360A000B, 0x3613001F, 0x66350003,
                                                      0x66360003};
const std::vector<std::uint32_t> kContentsColumns = {
    0x00170003, 0x001A001F, 0x00360003, 0x0037001F, 0x00390040, 0x0042001F, 0x0057000B, 0x0058000B,
    0x0070001F, 0x00710102, 0x0E03001F, 0x0E04001F, 0x0E060040, 0x0E070003, 0x0E080003, 0x0E170003,
    0x0E300102, 0x0E330014, 0x0E340102, 0x0E380003, 0x0E3C0102, 0x0E3D0102, 0x10970003, 0x30080040,
    0x30130102, 0x65C60003};
const std::vector<std::uint32_t> kAssocContentsColumns = {0x001A001F, 0x0E070003, 0x0E170003, 0x3001001F,
                                                          0x6800001F, 0x6803000B, 0x68051003, 0x682F001F,
                                                          0x70030003, 0x70040102, 0x70050102, 0x7006001F,
                                                          0x70070003};
const std::vector<std::uint32_t> kSearchContentsColumns = {
    0x00170003, 0x001A001F, 0x00360003, 0x0037001F, 0x0042001F, 0x0057000B, 0x0058000B,
    0x0E03001F, 0x0E04001F, 0x0E05001F, 0x0E060040, 0x0E070003, 0x0E080003, 0x0E170003,
    0x0E2A000B, 0x30080040, 0x67F10003};
const std::vector<std::uint32_t> kAttachmentColumns = {0x0E200003, 0x3704001F, 0x37050003, 0x370B0003};
const std::vector<std::uint32_t> kRecipientColumns = {0x0C150003, 0x0E0F000B, 0x0FF90102, 0x0FFE0003,
                                                      0x0FFF0102, 0x3001001F, 0x3002001F, 0x3003001F,
                                                      0x300B0102, 0x39000003, 0x39FF001F, 0x3A40000B};

Bytes Int32Bytes(std::uint32_t v) {
    Bytes b;
    AppendLe(b, v, 4);
    return b;
}
Bytes BoolBytes(bool v) { return Bytes{static_cast<std::uint8_t>(v ? 1 : 0)}; }
Bytes StringBytes(const std::string& s) { return ltp::Utf8ToUtf16(s); }

std::uint32_t GetInt32(const PropMap& m, std::uint32_t tag, std::uint32_t fallback = 0) {
    auto it = m.find(tag);
    return it != m.end() && it->second.size() == 4 ? static_cast<std::uint32_t>(LoadLe(it->second)) : fallback;
}

std::string GetString(const PropMap& m, std::uint32_t tag) {
    auto it = m.find(tag);
    return it == m.end() ? std::string() : ltp::Utf16ToUtf8(it->second);
}

std::uint64_t NowFiletime() {
    using namespace std::chrono;
    auto since_epoch = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    return static_cast<std::uint64_t>(since_epoch) * 10 + 116444736000000000ull;
}

std::uint32_t NidForSubnode(std::uint32_t type, std::uint32_t& counter) { return ndb::MakeNid(type, counter++); }

std::string ToUpperAscii(std::string s) {
    for (auto& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// A subnode as built for one message: its data blocks and its own subnodes.
}  // namespace

struct SubnodeBuild {
    std::uint32_t nid = 0;
    std::vector<Bytes> blocks;
    std::vector<SubnodeBuild> children;
    // Or the value it holds, borrowed from the message (see ltp::BorrowedValues).
    std::span<const std::uint8_t> borrowed = {};
};

namespace {
std::uint64_t TotalSize(const std::vector<Bytes>& blocks, const std::vector<SubnodeBuild>& subs) {
    std::uint64_t n = 0;
    for (const auto& b : blocks) n += b.size();
    for (const auto& s : subs) n += s.borrowed.size() + TotalSize(s.blocks, s.children);
    return n;
}

// What a built node takes in the file: its heap and its values' subnodes. Counted where they
// are, since a large attachment must not be copied only to be measured.
std::uint64_t BuiltSize(const ltp::BuiltNode& built) {
    std::uint64_t n = 0;
    for (const auto& b : built.blocks) n += b.size();
    for (const auto& sub : built.subnodes)
        for (const auto& b : sub.second) n += b.size();
    for (const auto& sub : built.borrowed_subnodes) n += sub.second.size();
    return n;
}

// Takes the blocks of the values' subnodes out of built.
std::vector<SubnodeBuild> ValueSubnodes(ltp::BuiltNode&& built) {
    std::vector<SubnodeBuild> out;
    out.reserve(built.subnodes.size() + built.borrowed_subnodes.size());
    for (auto& [nid, blocks] : built.subnodes) out.push_back({nid, std::move(blocks), {}, {}});
    for (const auto& [nid, value] : built.borrowed_subnodes) out.push_back({nid, {}, {}, value});
    built.subnodes.clear();
    built.borrowed_subnodes.clear();
    return out;
}

// Moves the large values of props (but those named in keep_here) into kept and lends them to
// the node through borrowed: the node is then built and written without another copy of them.
// Moving a value keeps its bytes where they are, so kept may grow later.
void LendLargeValues(PropMap& props, const std::vector<std::uint32_t>& keep_here, std::vector<Bytes>& kept,
                     ltp::BorrowedValues& borrowed) {
    for (auto it = props.begin(); it != props.end();) {
        if (it->second.size() <= ltp::kMaxHeapAlloc ||
            std::find(keep_here.begin(), keep_here.end(), it->first) != keep_here.end()) {
            ++it;
            continue;
        }
        kept.push_back(std::move(it->second));
        borrowed[it->first] = kept.back();
        it = props.erase(it);
    }
}
}  // namespace

// Contents-table rows kept in an anonymous temporary file until the folder's table is written,
// each as its row id, its length and its packed values. A folder remembers only the stretches
// of the file that hold its rows (one while it is filled alone), so its memory does not grow
// with the messages it receives.
class Store::RowSpool {
public:
    RowSpool() : file_(platform::OpenTemporaryStream()) {
        if (!file_) throw PstError("cannot create a temporary file for table rows");
    }
    ~RowSpool() { std::fclose(file_); }
    RowSpool(const RowSpool&) = delete;
    RowSpool& operator=(const RowSpool&) = delete;

    std::uint64_t size() const { return size_; }

    void Append(std::uint32_t row_id, const Bytes& packed) {
        Bytes record;
        ltp::AppendLe(record, row_id, 4);
        ltp::AppendLe(record, packed.size(), 4);
        record.insert(record.end(), packed.begin(), packed.end());
        if (std::fseek(file_, static_cast<long>(size_), SEEK_SET) != 0 ||
            std::fwrite(record.data(), 1, record.size(), file_) != record.size())
            throw PstSystemError("cannot write the temporary table rows", errno);
        size_ += record.size();
    }

    // Reads the row at `at` and returns where the next one starts.
    std::uint64_t Read(std::uint64_t at, ltp::TableRow* row) {
        std::uint8_t head[8];
        if (std::fseek(file_, static_cast<long>(at), SEEK_SET) != 0 || std::fread(head, 1, 8, file_) != 8)
            throw PstError("cannot read the temporary table rows");
        const auto length = static_cast<std::uint32_t>(ltp::LoadLe({head + 4, 4}));
        if (length > size_ - at - 8) throw PstError("temporary table row out of bounds");
        Bytes packed(length);
        if (std::fread(packed.data(), 1, length, file_) != length) throw PstError("cannot read the temporary table rows");
        row->row_id = static_cast<std::uint32_t>(ltp::LoadLe({head, 4}));
        row->values = ltp::UnpackValues(packed);
        return at + 8 + length;
    }

private:
    std::FILE* file_;
    std::uint64_t size_ = 0;
};

// A folder's rows in the spool: stretches of the file, in row order.
struct SpooledRows {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> stretches;  // begin, end
    std::size_t count = 0;
};

struct Store::Folder {
    std::uint32_t nid = 0;
    std::uint32_t parent = 0;
    PropMap props;
    std::vector<ltp::TableRow> hierarchy;
    bool contents_loaded = false;
    SpooledRows contents;
    bool props_dirty = false;
    bool hierarchy_dirty = false;
    bool contents_dirty = false;
    bool is_new = false;
    // Who the folder's messages are, once asked for: built from the store once, then kept up.
    std::optional<MessageIdentitySet> identities;
};

struct Store::BuiltMessage {
    ltp::BuiltNode pc;
    std::vector<SubnodeBuild> subnodes;
    std::uint64_t size = 0;
    // Large values in their stored form that the nodes above refer to; the model's own binary
    // values are referred to where they are.
    std::vector<Bytes> kept;
};

Store::~Store() = default;

Store::RowSpool& Store::Spool() {
    if (!spool_) spool_ = std::make_unique<RowSpool>();
    return *spool_;
}

void Store::AppendContentsRow(Folder& f, std::uint32_t row_id, const Bytes& packed) {
    RowSpool& spool = Spool();
    const std::uint64_t at = spool.size();
    spool.Append(row_id, packed);
    auto& stretches = f.contents.stretches;
    if (!stretches.empty() && stretches.back().second == at) {
        stretches.back().second = spool.size();
    } else {
        stretches.emplace_back(at, spool.size());
    }
    ++f.contents.count;
}

// Reads a folder's spooled rows one after another.
class Store::ContentsCursor {
public:
    ContentsCursor(RowSpool& spool, const SpooledRows& rows) : spool_(spool), rows_(rows) {
        if (!rows_.stretches.empty()) at_ = rows_.stretches.front().first;
    }
    ltp::TableRow Next() {
        while (stretch_ < rows_.stretches.size() && at_ >= rows_.stretches[stretch_].second)
            if (++stretch_ < rows_.stretches.size()) at_ = rows_.stretches[stretch_].first;
        if (stretch_ >= rows_.stretches.size()) throw PstError("fewer spooled rows than counted");
        ltp::TableRow row;
        at_ = spool_.Read(at_, &row);
        return row;
    }

private:
    RowSpool& spool_;
    const SpooledRows& rows_;
    std::size_t stretch_ = 0;
    std::uint64_t at_ = 0;
};

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
    auto password = props.find(kPidTagPstPassword);
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
    Bytes b(4, 0);
    b.insert(b.end(), uid_.begin(), uid_.end());
    AppendLe(b, nid, 4);
    return b;
}

std::uint32_t Store::root_folder() const { return nid::kRootFolder; }

std::string Store::display_name() const {
    auto node = db_->FindNode(nid::kMessageStore);
    if (!node) return {};
    ltp::NodeReader reader(*db_, node->bid_data, node->bid_sub);
    return GetString(ltp::ReadPropertyContext(reader), tag::kDisplayName);
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
    store_props[tag::kDisplayName] = StringBytes(display_name);
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
    receive.values[tag::kMessageClass] = {};
    receive.values[tag::kReceiveFolderNid] = Int32Bytes(nid::kIpmSubtree);
    WriteTable(nid::kReceiveFolderTable, {tag::kMessageClass, tag::kReceiveFolderNid}, {receive});
    // Search bookkeeping: empty queues and the list of active search folders.
    db_->SetNode({nid::kSearchManagementQueue, 0, 0, 0});
    db_->SetNode({nid::kSearchDomainObject, 0, 0, 0});
    db_->SetNode({nid::kSearchActivityList, db_->WriteDataTree(Int32Bytes(nid::kSpamSearchFolder)), 0, 0});

    // The folder hierarchy every store has.
    auto make_folder = [&](std::uint32_t nid, std::uint32_t parent, const std::string& name, bool container) {
        auto f = std::make_unique<Folder>();
        f->nid = nid;
        f->parent = parent;
        f->props[tag::kDisplayName] = StringBytes(name);
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
    spam[tag::kDisplayName] = StringBytes("SPAM Search Folder 2");
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
    for (auto t : {tag::kDisplayName, tag::kContentCount, tag::kContentUnreadCount, tag::kSubfolders})
        spam_row[t] = spam[t];
    root.hierarchy.push_back({nid::kSpamSearchFolder, spam_row});
    // Folder ids below these are taken by the fixed folders.
    db_->ReserveNids(ndb::kNidTypeNormalFolder, ndb::NidIndex(nid::kDeletedItems) + 1);
}

PropMap Store::FolderHierarchyRow(const Folder& f) const {
    PropMap row;
    for (auto t : kHierarchyColumns) {
        auto it = f.props.find(t);
        if (it != f.props.end()) row[t] = it->second;
    }
    return row;
}

Store::Folder& Store::LoadFolder(std::uint32_t folder_nid) {
    auto it = folders_.find(folder_nid);
    if (it != folders_.end()) return *it->second;
    if (ndb::NidType(folder_nid) != ndb::kNidTypeNormalFolder) throw PstError("not a folder");
    auto node = db_->FindNode(folder_nid);
    if (!node) throw PstError("folder not found");
    auto f = std::make_unique<Folder>();
    f->nid = folder_nid;
    f->parent = node->nid_parent;
    ltp::NodeReader pc(*db_, node->bid_data, node->bid_sub);
    f->props = ltp::ReadPropertyContext(pc);
    auto hier = db_->FindNode(ndb::MakeNid(ndb::kNidTypeHierarchyTable, ndb::NidIndex(folder_nid)));
    if (!hier) throw PstError("folder without a hierarchy table");
    ltp::NodeReader tc(*db_, hier->bid_data, hier->bid_sub);
    f->hierarchy = ltp::ReadTableContext(tc).rows;
    auto& ref = *f;
    folders_[folder_nid] = std::move(f);
    return ref;
}

void Store::LoadContents(Folder& f) {
    if (f.contents_loaded) return;
    auto node = db_->FindNode(ndb::MakeNid(ndb::kNidTypeContentsTable, ndb::NidIndex(f.nid)));
    if (!node) throw PstError("folder without a contents table");
    ltp::NodeReader tc(*db_, node->bid_data, node->bid_sub);
    ltp::ForEachTableRow(tc, [&](ltp::TableRow&& row) { AppendContentsRow(f, row.row_id, ltp::PackValues(row.values)); });
    f.contents_loaded = true;
}

std::vector<FolderInfo> Store::Subfolders(std::uint32_t folder) {
    auto& f = LoadFolder(folder);
    std::vector<FolderInfo> out;
    for (const auto& row : f.hierarchy) {
        FolderInfo info;
        info.nid = row.row_id;
        info.name = GetString(row.values, tag::kDisplayName);
        info.content_count = static_cast<std::int32_t>(GetInt32(row.values, tag::kContentCount));
        auto sub = row.values.find(tag::kSubfolders);
        info.has_subfolders = sub != row.values.end() && !sub->second.empty() && sub->second[0] != 0;
        out.push_back(std::move(info));
    }
    return out;
}

FolderInfo Store::GetFolder(std::uint32_t folder) {
    auto& f = LoadFolder(folder);
    FolderInfo info;
    info.nid = folder;
    info.name = GetString(f.props, tag::kDisplayName);
    info.content_count = static_cast<std::int32_t>(GetInt32(f.props, tag::kContentCount));
    auto sub = f.props.find(tag::kSubfolders);
    info.has_subfolders = sub != f.props.end() && !sub->second.empty() && sub->second[0] != 0;
    return info;
}

std::optional<std::uint32_t> Store::FindSubfolder(std::uint32_t parent, const std::string& name) {
    for (const auto& s : Subfolders(parent))
        if (s.name == name && ndb::NidType(s.nid) == ndb::kNidTypeNormalFolder) return s.nid;
    return std::nullopt;
}

std::optional<std::uint32_t> Store::FindFolderByPath(const std::string& path) {
    std::uint32_t current = ipm_subtree_;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (!part.empty()) {
            auto next = FindSubfolder(current, part);
            if (!next) return std::nullopt;
            current = *next;
        }
        start = end + 1;
    }
    return current;
}

std::uint32_t Store::AddFolder(std::uint32_t parent_nid, const std::string& name, const std::string& container_class) {
    if (!db_->writable()) throw PstError("store opened read-only");
    auto& parent = LoadFolder(parent_nid);
    const std::uint32_t folder_nid = db_->NewNid(ndb::kNidTypeNormalFolder);
    auto f = std::make_unique<Folder>();
    f->nid = folder_nid;
    f->parent = parent_nid;
    f->props[tag::kDisplayName] = StringBytes(name);
    f->props[tag::kContentCount] = Int32Bytes(0);
    f->props[tag::kContentUnreadCount] = Int32Bytes(0);
    f->props[tag::kSubfolders] = BoolBytes(false);
    if (!container_class.empty()) f->props[tag::kContainerClass] = StringBytes(container_class);
    f->contents_loaded = true;
    f->props_dirty = f->hierarchy_dirty = f->contents_dirty = f->is_new = true;
    parent.hierarchy.push_back({folder_nid, FolderHierarchyRow(*f)});
    parent.hierarchy_dirty = true;
    if (parent.props[tag::kSubfolders] != BoolBytes(true)) {
        parent.props[tag::kSubfolders] = BoolBytes(true);
        parent.props_dirty = true;
        if (parent.parent != parent.nid) {
            auto& grand = LoadFolder(parent.parent);
            for (auto& row : grand.hierarchy)
                if (row.row_id == parent.nid) row.values = FolderHierarchyRow(parent);
            grand.hierarchy_dirty = true;
        }
    }
    folders_[folder_nid] = std::move(f);
    return folder_nid;
}

void Store::WriteFolder(Folder& f) {
    std::uint32_t counter = 0x400;
    auto next = [&] { return NidForSubnode(ndb::kNidTypeLtp, counter); };
    const std::uint32_t index = ndb::NidIndex(f.nid);
    if (f.props_dirty) WriteNode(f.nid, ltp::BuildPropertyContext(f.props, next), f.parent);
    if (f.hierarchy_dirty) WriteTable(ndb::MakeNid(ndb::kNidTypeHierarchyTable, index), kHierarchyColumns, f.hierarchy);
    if (f.contents_dirty) {
        counter = 0x400;
        auto built = ltp::BuildTableContext(
            kContentsColumns, f.contents.count,
            [&, cursor = ContentsCursor(Spool(), f.contents)](std::size_t) mutable { return cursor.Next(); },
            next, db_.get());
        WriteNode(ndb::MakeNid(ndb::kNidTypeContentsTable, index), built, 0);
    }
    if (f.is_new) WriteTable(ndb::MakeNid(ndb::kNidTypeAssocContentsTable, index), kAssocContentsColumns, {});
    f.props_dirty = f.hierarchy_dirty = f.contents_dirty = f.is_new = false;
}

// ---- named properties ----

namespace {
std::uint16_t GuidIndex(const mapi::Guid& g, std::vector<mapi::Guid>& guids, bool add) {
    if (g == kPsMapi) return 1;
    if (g == kPsPublicStrings) return 2;
    for (std::size_t i = 0; i < guids.size(); ++i)
        if (guids[i] == g) return static_cast<std::uint16_t>(3 + i);
    if (!add) return 0;
    guids.push_back(g);
    return static_cast<std::uint16_t>(3 + guids.size() - 1);
}
}  // namespace

std::optional<std::uint32_t> Store::KnownNamedId(const mapi::NamedProperty& name) const {
    mapi::NamedProperty key = name;
    key.type = mapi::PropType::Unicode;
    std::lock_guard<std::mutex> lock(names_mutex_);
    auto it = name_ids_.find(key);
    if (it == name_ids_.end()) return std::nullopt;
    return it->second;
}

std::uint32_t Store::NamedId(const mapi::NamedProperty& name) {
    mapi::NamedProperty key = name;
    key.type = mapi::PropType::Unicode;  // the map names a property whatever its type
    std::lock_guard<std::mutex> lock(names_mutex_);
    auto it = name_ids_.find(key);
    if (it != name_ids_.end()) return it->second;
    if (names_.size() >= 0x7FFF) throw PstError("too many named properties");
    const auto id = static_cast<std::uint32_t>(0x8000 + names_.size());
    names_.push_back(key);
    name_ids_[key] = id;
    names_dirty_ = true;
    return id;
}

void Store::LoadNameMap() {
    auto node = db_->FindNode(nid::kNameToIdMap);
    if (!node) return;
    ltp::NodeReader reader(*db_, node->bid_data, node->bid_sub);
    auto props = ltp::ReadPropertyContext(reader);
    const Bytes& guid_stream = props[tag::kNameidStreamGuid];
    const Bytes& entries = props[tag::kNameidStreamEntry];
    const Bytes& strings = props[tag::kNameidStreamString];
    std::lock_guard<std::mutex> lock(names_mutex_);
    names_.clear();
    name_ids_.clear();
    for (std::size_t off = 0; off + 8 <= entries.size(); off += 8) {
        auto value = static_cast<std::uint32_t>(LoadLe({entries.data() + off, 4}));
        auto guid_field = static_cast<std::uint16_t>(LoadLe({entries.data() + off + 4, 2}));
        auto index = static_cast<std::uint16_t>(LoadLe({entries.data() + off + 6, 2}));
        mapi::NamedProperty np;
        const std::uint16_t guid_index = guid_field >> 1;
        if (guid_index == 1) {
            np.property_set = kPsMapi;
        } else if (guid_index == 2) {
            np.property_set = kPsPublicStrings;
        } else if (guid_index >= 3 && (guid_index - 3u + 1) * 16 <= guid_stream.size()) {
            std::copy_n(guid_stream.begin() + (guid_index - 3) * 16, 16, np.property_set.begin());
        }
        if (guid_field & 1) {
            if (value + 4ull > strings.size()) throw PstError("named property string outside its stream");
            std::size_t len = LoadLe({strings.data() + value, 4});
            if (len > strings.size() - value - 4) throw PstError("named property string too long");
            np.name = ltp::Utf16ToUtf8({strings.data() + value + 4, len});
        } else {
            np.lid = value;
        }
        if (index != names_.size()) throw PstError("named property entries out of order");
        names_.push_back(np);
        name_ids_[np] = 0x8000 + index;
    }
}

void Store::WriteNameMap() {
    std::vector<mapi::Guid> guids;
    Bytes entry_stream, string_stream;
    std::vector<Bytes> buckets(kBucketCount);
    for (std::size_t i = 0; i < names_.size(); ++i) {
        const auto& np = names_[i];
        const std::uint16_t guid_index = GuidIndex(np.property_set, guids, true);
        const bool is_string = !np.lid.has_value();
        const auto guid_field = static_cast<std::uint16_t>((guid_index << 1) | (is_string ? 1 : 0));
        std::uint32_t value = 0, hash_key = 0;
        if (is_string) {
            Bytes name16 = ltp::Utf8ToUtf16(np.name);
            value = static_cast<std::uint32_t>(string_stream.size());
            AppendLe(string_stream, name16.size(), 4);
            string_stream.insert(string_stream.end(), name16.begin(), name16.end());
            while (string_stream.size() % 4) string_stream.push_back(0);
            hash_key = ndb::ComputeCrc(name16);
        } else {
            value = *np.lid;
            hash_key = value;
        }
        AppendLe(entry_stream, value, 4);
        AppendLe(entry_stream, guid_field, 2);
        AppendLe(entry_stream, i, 2);
        Bytes& bucket = buckets[(hash_key ^ guid_field) % kBucketCount];
        AppendLe(bucket, hash_key, 4);
        AppendLe(bucket, guid_field, 2);
        AppendLe(bucket, i, 2);
    }
    PropMap props;
    props[tag::kNameidBucketCount] = Int32Bytes(kBucketCount);
    Bytes guid_stream;
    for (const auto& g : guids) guid_stream.insert(guid_stream.end(), g.begin(), g.end());
    props[tag::kNameidStreamGuid] = guid_stream;
    props[tag::kNameidStreamEntry] = entry_stream;
    props[tag::kNameidStreamString] = string_stream;
    for (std::uint32_t b = 0; b < kBucketCount; ++b)
        if (!buckets[b].empty()) props[tag::kNameidBucketBase + (b << 16)] = buckets[b];
    std::uint32_t counter = 0x400;
    WriteNode(nid::kNameToIdMap, ltp::BuildPropertyContext(props, [&] { return NidForSubnode(ndb::kNidTypeLtp, counter); }),
              0);
    names_dirty_ = false;
}

// ---- messages ----

Store::BuiltMessage Store::BuildMessage(const mapi::Message& message, PropMap* row_values, int depth,
                                        const Bytes* search_key, const NamedIdSource& named_id) const {
    if (depth > kMaxEmbeddingDepth) throw PstError("embedded messages nested too deep");
    BuiltMessage out;
    std::uint32_t value_counter = 0x400;
    auto next_value_nid = [&] { return NidForSubnode(ndb::kNidTypeLtp, value_counter); };

    // A large binary value of the model (an attachment's data above all) is lent to its node
    // where it is; values the builder looks at or copies into rows are encoded.
    auto encode = [](PropMap& into, ltp::BorrowedValues& lent, const std::vector<std::uint32_t>& keep_here,
                     mapi::PropTag t, const mapi::PropValue& v) {
        const auto* binary = std::get_if<mapi::Binary>(&v);
        if (binary && mapi::TagType(t) == mapi::PropType::Binary && binary->size() > ltp::kMaxHeapAlloc &&
            std::find(keep_here.begin(), keep_here.end(), t) == keep_here.end()) {
            lent[t] = *binary;
            return;
        }
        mapi::PropTag stored = 0;
        Bytes b = ltp::EncodeValue(t, v, &stored);
        into[stored] = std::move(b);
    };
    std::vector<std::uint32_t> message_keep = kContentsColumns;
    message_keep.push_back(tag::kSearchKey);
    PropMap props;
    ltp::BorrowedValues lent;
    for (const auto& [t, v] : message.props.all()) encode(props, lent, message_keep, t, v);
    for (const auto& [name, v] : message.props.named())
        encode(props, lent, message_keep, (named_id(name) << 16) | static_cast<std::uint16_t>(name.type), v);
    // Recipients: one row each in the recipient table.
    std::string to, cc, bcc;
    std::vector<ltp::TableRow> recipient_rows;
    std::vector<std::uint32_t> recipient_columns = kRecipientColumns;
    for (std::size_t i = 0; i < message.recipients.size(); ++i) {
        PropMap r;
        for (const auto& [t, v] : message.recipients[i].props.all()) {
            mapi::PropTag stored = 0;
            Bytes b = ltp::EncodeValue(t, v, &stored);
            r[stored] = std::move(b);
        }
        const std::string name = GetString(r, tag::kDisplayName);
        std::string email = GetString(r, tag::kEmailAddress);
        if (!r.count(tag::kRecipientType)) r[tag::kRecipientType] = Int32Bytes(1);
        if (!r.count(tag::kObjectType)) r[tag::kObjectType] = Int32Bytes(6);
        if (!r.count(tag::kDisplayType)) r[tag::kDisplayType] = Int32Bytes(0);
        if (!r.count(tag::kResponsibility)) r[tag::kResponsibility] = BoolBytes(false);
        if (!r.count(tag::kSendRichInfo)) r[tag::kSendRichInfo] = BoolBytes(false);
        if (!r.count(tag::kAddressType) && !email.empty()) r[tag::kAddressType] = StringBytes("SMTP");
        if (!r.count(tag::kTransmittableDisplayName) && !name.empty()) r[tag::kTransmittableDisplayName] = StringBytes(name);
        if (!r.count(tag::kEntryId)) {
            Bytes id(4, 0);
            id.insert(id.end(), std::begin(kOneOffProvider), std::end(kOneOffProvider));
            AppendLe(id, 0, 2);
            AppendLe(id, 0x8001, 2);  // Unicode one-off entry, no rich text
            for (const auto& s : {name, GetString(r, tag::kAddressType), email}) {
                Bytes w = ltp::Utf8ToUtf16(s);
                id.insert(id.end(), w.begin(), w.end());
                AppendLe(id, 0, 2);
            }
            r[tag::kEntryId] = id;
        }
        if (!r.count(tag::kSearchKey) && !email.empty()) {
            std::string key = ToUpperAscii(GetString(r, tag::kAddressType) + ":" + email);
            Bytes k(key.begin(), key.end());
            k.push_back(0);
            r[tag::kSearchKey] = k;
        }
        r[tag::kRowid] = Int32Bytes(static_cast<std::uint32_t>(i));
        const std::string shown = name.empty() ? email : name;
        std::string* list = nullptr;
        switch (GetInt32(r, tag::kRecipientType)) {
            case 2: list = &cc; break;
            case 3: list = &bcc; break;
            default: list = &to; break;
        }
        if (!shown.empty()) *list += (list->empty() ? "" : "; ") + shown;
        for (const auto& [t, v] : r)
            if (std::find(recipient_columns.begin(), recipient_columns.end(), t) == recipient_columns.end())
                recipient_columns.push_back(t);
        recipient_rows.push_back({static_cast<std::uint32_t>(i), std::move(r)});
    }
    {
        std::uint32_t counter = 0x400;
        auto tc = ltp::BuildTableContext(recipient_columns, recipient_rows,
                                         [&] { return NidForSubnode(ndb::kNidTypeLtp, counter); });
        out.subnodes.push_back({nid::kRecipientTable, std::move(tc.blocks), ValueSubnodes(std::move(tc))});
    }

    // Attachments: each its own property context in a subnode, listed in the attachment table.
    std::vector<ltp::TableRow> attachment_rows;
    std::uint32_t attach_counter = 0x400;
    std::vector<std::uint32_t> attachment_keep = kAttachmentColumns;
    attachment_keep.push_back(tag::kAttachLongFilename);
    for (std::size_t i = 0; i < message.attachments.size(); ++i) {
        const auto& att = message.attachments[i];
        PropMap a;
        ltp::BorrowedValues a_lent;
        for (const auto& [t, v] : att.props.all()) encode(a, a_lent, attachment_keep, t, v);
        for (const auto& [name, v] : att.props.named())
            encode(a, a_lent, attachment_keep, (named_id(name) << 16) | static_cast<std::uint16_t>(name.type), v);
        const std::uint32_t attach_nid = NidForSubnode(ndb::kNidTypeAttachment, attach_counter);
        std::uint32_t sub_counter = 0x400;
        std::vector<SubnodeBuild> children;
        if (att.embedded) {
            BuiltMessage inner = BuildMessage(*att.embedded, nullptr, depth + 1, nullptr, named_id);
            const std::uint32_t inner_nid = ndb::MakeNid(ndb::kNidTypeNormalMessage, 0x400 + static_cast<std::uint32_t>(i));
            Bytes object;
            AppendLe(object, inner_nid, 4);
            AppendLe(object, inner.size, 4);
            a.erase(tag::kAttachDataBinary);
            a_lent.erase(tag::kAttachDataBinary);
            a[tag::kAttachDataObject] = object;
            a[tag::kAttachMethod] = Int32Bytes(kAttachEmbeddedMsg);
            children.push_back({inner_nid, std::move(inner.pc.blocks), ValueSubnodes(std::move(inner.pc))});
            for (auto& s : inner.subnodes) children.back().children.push_back(std::move(s));
            out.kept.insert(out.kept.end(), std::make_move_iterator(inner.kept.begin()),
                            std::make_move_iterator(inner.kept.end()));
            sub_counter = 0x800;  // value subnodes must not collide with the embedded message's id
        }
        if (!a.count(tag::kAttachMethod)) a[tag::kAttachMethod] = Int32Bytes(kAttachByValue);
        if (!a.count(tag::kRenderingPosition)) a[tag::kRenderingPosition] = Int32Bytes(0xFFFFFFFFu);
        a[tag::kAttachNumber] = Int32Bytes(static_cast<std::uint32_t>(i));
        a[tag::kObjectType] = Int32Bytes(7);
        a[tag::kAttachSize] = Int32Bytes(0);
        LendLargeValues(a, attachment_keep, out.kept, a_lent);
        auto build_attach = [&] {
            std::uint32_t c = sub_counter;
            return ltp::BuildPropertyContext(a, a_lent, [&] { return NidForSubnode(ndb::kNidTypeLtp, c); });
        };
        // Built once to learn its size, and that build freed before the one that is kept.
        a[tag::kAttachSize] = Int32Bytes(static_cast<std::uint32_t>(BuiltSize(build_attach()) + TotalSize({}, children)));
        auto pc = build_attach();
        auto all_children = ValueSubnodes(std::move(pc));
        all_children.insert(all_children.end(), std::make_move_iterator(children.begin()),
                            std::make_move_iterator(children.end()));
        PropMap row;
        for (auto t : kAttachmentColumns)
            if (a.count(t)) row[t] = a[t];
        if (!row.count(tag::kAttachFilename) && a.count(tag::kAttachLongFilename))
            row[tag::kAttachFilename] = a[tag::kAttachLongFilename];
        attachment_rows.push_back({attach_nid, std::move(row)});
        a.clear();  // the attachment's bytes are in its subnodes (or lent to them) now
        out.subnodes.push_back({attach_nid, std::move(pc.blocks), std::move(all_children)});
    }
    if (!message.attachments.empty()) {
        std::uint32_t counter = 0x400;
        auto tc = ltp::BuildTableContext(kAttachmentColumns, attachment_rows,
                                         [&] { return NidForSubnode(ndb::kNidTypeLtp, counter); });
        out.subnodes.push_back({nid::kAttachmentTable, std::move(tc.blocks), ValueSubnodes(std::move(tc))});
    }

    // The message's own properties, with what readers expect to find.
    const std::uint64_t now = NowFiletime();
    auto time_or = [&](std::uint32_t t, std::uint64_t fallback) {
        auto it = props.find(t);
        return it != props.end() && it->second.size() == 8 ? LoadLe(it->second) : fallback;
    };
    // A message that tells no time of its own keeps none as its delivery time (the time of the
    // conversion is no time the mail was delivered); the item itself is made now.
    const std::uint64_t delivered = time_or(tag::kMessageDeliveryTime, time_or(tag::kClientSubmitTime, 0));
    if (!props.count(tag::kMessageClass)) props[tag::kMessageClass] = StringBytes("IPM.Note");
    std::uint32_t flags = GetInt32(props, tag::kMessageFlags, kMsgFlagRead);
    flags = message.attachments.empty() ? (flags & ~kMsgFlagHasAttach) : (flags | kMsgFlagHasAttach);
    props[tag::kMessageFlags] = Int32Bytes(flags);
    props[tag::kHasAttachments] = BoolBytes(!message.attachments.empty());
    if (!props.count(tag::kMessageStatus)) props[tag::kMessageStatus] = Int32Bytes(0);
    if (!props.count(tag::kImportance)) props[tag::kImportance] = Int32Bytes(1);
    if (!props.count(tag::kSensitivity)) props[tag::kSensitivity] = Int32Bytes(0);
    for (auto t : {tag::kCreationTime, tag::kLastModificationTime}) {
        if (!props.count(t)) {
            Bytes b;
            AppendLe(b, delivered != 0 ? delivered : now, 8);
            props[t] = b;
        }
    }
    if (!props.count(tag::kMessageDeliveryTime) && delivered != 0) {
        Bytes b;
        AppendLe(b, delivered, 8);
        props[tag::kMessageDeliveryTime] = b;
    }
    if (!props.count(tag::kDisplayTo)) props[tag::kDisplayTo] = StringBytes(to);
    if (!props.count(tag::kDisplayCc)) props[tag::kDisplayCc] = StringBytes(cc);
    if (!props.count(tag::kDisplayBcc)) props[tag::kDisplayBcc] = StringBytes(bcc);
    if (search_key) {
        // The key the message is known by in its folder (SearchKeyFor), which may replace its own.
        props[tag::kSearchKey] = *search_key;
    } else if (!props.count(tag::kSearchKey)) {
        Bytes key(uid_.begin(), uid_.end());
        std::uint64_t seed = now ^ (static_cast<std::uint64_t>(names_.size()) << 32) ^ row_version_;
        for (int k = 0; k < 8; ++k) key[k] ^= static_cast<std::uint8_t>(seed >> (8 * k));
        props[tag::kSearchKey] = key;
    }
    if (!props.count(tag::kConversationTopic) && props.count(tag::kSubject))
        props[tag::kConversationTopic] = props[tag::kSubject];
    props[tag::kMessageSize] = Int32Bytes(0);
    LendLargeValues(props, kContentsColumns, out.kept, lent);
    auto build_pc = [&] {
        value_counter = 0x400;
        return ltp::BuildPropertyContext(props, lent, next_value_nid);
    };
    // The size a message reports is what it occupies: its properties, tables and attachments.
    out.size = BuiltSize(build_pc()) + TotalSize({}, out.subnodes);
    props[tag::kMessageSize] = Int32Bytes(static_cast<std::uint32_t>(std::min<std::uint64_t>(out.size, 0x7FFFFFFF)));
    out.pc = build_pc();
    if (row_values) {
        for (auto t : kContentsColumns)
            if (props.count(t)) (*row_values)[t] = props[t];
    }
    return out;
}

namespace {

// The search key a message is stored with: its own when it has an Internet Message-ID, else its
// content digest. The key the MIME import gives a message without a Message-ID comes from its
// date and subject alone; kept, it would take two different messages of one subject and date
// for the same one, and the second would never reach the store.
Bytes SearchKeyFor(const mapi::Message& message) {
    const auto message_id = message.props.GetString(mapi::PR_INTERNET_MESSAGE_ID_W);
    if (message_id && !message_id->empty())
        if (const auto* own = message.props.GetBinary(tag::kSearchKey); own && !own->empty()) return *own;
    return ContentDigest(message);
}

// The identity of a message about to be stored with this search key.
std::optional<MessageIdentity> IdentityOfNew(const mapi::Message& message, const Bytes& search_key) {
    PropMap props;
    for (const auto& [t, v] : message.props.all()) {
        // Only the few identity values are encoded, never the bodies: 8-bit strings are
        // stored as Unicode, so that is the tag they are known by.
        const mapi::PropTag as_stored = mapi::TagType(t) == mapi::PropType::String8
                                            ? ((t & 0xFFFF0000u) | static_cast<std::uint16_t>(mapi::PropType::Unicode))
                                            : t;
        if (!IsIdentityTag(as_stored)) continue;
        mapi::PropTag stored = 0;
        Bytes b = ltp::EncodeValue(t, v, &stored);
        props[stored] = std::move(b);
    }
    props[tag::kSearchKey] = search_key;
    return IdentityOfStored(props);
}

}  // namespace

void Store::LoadIdentities(Folder& f) {
    if (f.identities) return;
    LoadContents(f);
    MessageIdentitySet set;
    set.reserve(f.contents.count);
    ContentsCursor cursor(Spool(), f.contents);
    for (std::size_t i = 0; i < f.contents.count; ++i) {
        const std::uint32_t message_nid = cursor.Next().row_id;
        // Only the few identity values are read, not the bodies and attachments. A message that
        // cannot be read is no reason to refuse new ones: it simply matches nothing.
        try {
            auto node = db_->FindNode(message_nid);
            if (!node || node->bid_data == 0) continue;
            ltp::NodeReader reader(*db_, node->bid_data, node->bid_sub);
            if (reader.heap().client_sig() != ltp::kClientSigPc) continue;
            PropMap props;
            ltp::ForEachBthRecord(reader.heap(), reader.heap().user_root(),
                                  [&](std::span<const std::uint8_t> key, std::span<const std::uint8_t> data) {
                                      if (key.size() != 2 || data.size() != 6) throw PstError("property context record size");
                                      const auto stored = static_cast<std::uint32_t>((LoadLe(key) << 16) | LoadLe(data.subspan(0, 2)));
                                      if (!IsIdentityTag(stored)) return;
                                      const auto hnid = static_cast<std::uint32_t>(LoadLe(data.subspan(2, 4)));
                                      props[stored] = reader.Resolve(hnid);
                                  });
            if (auto identity = IdentityOfStored(props)) set.insert(*identity);
        } catch (const PstError&) {
        }
    }
    f.identities = std::move(set);
}

// What adding a message computes from the message alone: made by Prepare on any thread, used
// by the thread that adds it.
struct Store::PreparedMessage {
    Bytes search_key;
    std::optional<MessageIdentity> identity;
    // The message's nodes, when every named property it uses had its id already and it embeds
    // no message (whose own search key depends on the store's state); else built when added.
    std::optional<BuiltMessage> built;
    PropMap row;
};

void Store::PreparedDeleter::operator()(PreparedMessage* prepared) const { delete prepared; }

Store::Prepared Store::Prepare(const mapi::Message& message) const {
    Prepared prepared(new PreparedMessage);
    prepared->search_key = SearchKeyFor(message);
    prepared->identity = IdentityOfNew(message, prepared->search_key);
    std::map<mapi::NamedProperty, std::uint32_t> known;
    auto all_known = [&](const mapi::PropertyBag& bag) {
        for (const auto& [name, value] : bag.named()) {
            const auto id = KnownNamedId(name);
            if (!id) return false;
            known[name] = *id;
        }
        return true;
    };
    bool buildable = all_known(message.props);
    for (const auto& attachment : message.attachments)
        buildable = buildable && !attachment.embedded && all_known(attachment.props);
    if (buildable) {
        // Ids known now stay the same: the map only ever grows, and only the adding thread
        // grows it. BuildMessage reads nothing else of the store for a message without embedded ones.
        prepared->built = BuildMessage(
            message, &prepared->row, 0, &prepared->search_key,
            [&known](const mapi::NamedProperty& name) { return known.at(name); });
    }
    return prepared;
}

Store::AddOutcome Store::AddMessageUnlessPresent(std::uint32_t folder_nid, const mapi::Message& message) {
    return AddPreparedUnlessPresent(folder_nid, message, Prepare(message));
}

Store::AddOutcome Store::AddPreparedUnlessPresent(std::uint32_t folder_nid, const mapi::Message& message,
                                                  Prepared prepared) {
    if (!db_->writable()) throw PstError("store opened read-only");
    if (!prepared) throw PstError("no prepared message");
    auto& folder = LoadFolder(folder_nid);
    LoadIdentities(folder);
    if (prepared->identity && folder.identities->count(*prepared->identity)) return {0, true};
    return {StoreMessage(folder, message, *prepared), false};
}

std::uint32_t Store::AddMessage(std::uint32_t folder_nid, const mapi::Message& message) {
    if (!db_->writable()) throw PstError("store opened read-only");
    auto& folder = LoadFolder(folder_nid);
    PreparedMessage prepared;
    prepared.search_key = SearchKeyFor(message);
    if (folder.identities) prepared.identity = IdentityOfNew(message, prepared.search_key);
    return StoreMessage(folder, message, prepared);
}

std::uint32_t Store::StoreMessage(Folder& folder, const mapi::Message& message, PreparedMessage& prepared) {
    const std::uint32_t folder_nid = folder.nid;
    LoadContents(folder);
    if (!prepared.built)
        prepared.built = BuildMessage(message, &prepared.row, 0, &prepared.search_key,
                                      [this](const mapi::NamedProperty& name) { return NamedId(name); });
    BuiltMessage& built = *prepared.built;
    PropMap& row = prepared.row;
    const auto& identity = prepared.identity;
    const std::uint32_t message_nid = db_->NewNid(ndb::kNidTypeNormalMessage);
    ndb::NodeInfo info;
    info.nid = message_nid;
    info.nid_parent = folder_nid;
    info.bid_data = db_->WriteDataTreeBlocks(built.pc.blocks);
    auto subs = ValueSubnodes(std::move(built.pc));
    subs.insert(subs.end(), std::make_move_iterator(built.subnodes.begin()), std::make_move_iterator(built.subnodes.end()));
    info.bid_sub = WriteSubnodes(subs);
    db_->SetNode(info);

    row[tag::kLtpRowVer] = Int32Bytes(row_version_++);
    AppendContentsRow(folder, message_nid, ltp::PackValues(row));
    folder.contents_dirty = true;
    folder.props[tag::kContentCount] = Int32Bytes(GetInt32(folder.props, tag::kContentCount) + 1);
    if (!(GetInt32(row, tag::kMessageFlags) & kMsgFlagRead))
        folder.props[tag::kContentUnreadCount] = Int32Bytes(GetInt32(folder.props, tag::kContentUnreadCount) + 1);
    folder.props_dirty = true;
    if (folder.parent != folder.nid) {
        auto& parent = LoadFolder(folder.parent);
        for (auto& r : parent.hierarchy)
            if (r.row_id == folder.nid) r.values = FolderHierarchyRow(folder);
        parent.hierarchy_dirty = true;
    }
    if (folder.identities && identity) folder.identities->insert(*identity);
    return message_nid;
}

std::vector<std::uint32_t> Store::Messages(std::uint32_t folder_nid) {
    auto& f = LoadFolder(folder_nid);
    LoadContents(f);
    std::vector<std::uint32_t> out;
    ContentsCursor cursor(Spool(), f.contents);
    for (std::size_t i = 0; i < f.contents.count; ++i) out.push_back(cursor.Next().row_id);
    return out;
}

mapi::Message Store::ReadMessageNode(const ltp::NodeReader& node, int depth) {
    if (depth > kMaxEmbeddingDepth) throw PstError("embedded messages nested too deep");
    mapi::Message msg;
    auto put = [&](mapi::PropertyBag& bag, const PropMap& props) {
        for (const auto& [t, v] : props) {
            if ((t >> 16) >= 0x8000) {
                const std::size_t index = (t >> 16) - 0x8000;
                if (index < names_.size()) {
                    auto np = names_[index];
                    np.type = mapi::TagType(t);
                    if (auto value = ltp::DecodeValue(t, v)) bag.SetNamed(np, *value);
                }
                continue;
            }
            if (auto value = ltp::DecodeValue(t, v)) bag.Set(t, *value);
        }
    };
    put(msg.props, ltp::ReadPropertyContext(node));
    if (const auto* rt = node.FindSubnode(nid::kRecipientTable)) {
        ltp::NodeReader tc(*db_, rt->bid_data, rt->bid_sub);
        for (const auto& row : ltp::ReadTableContext(tc).rows) {
            mapi::Recipient r;
            auto values = row.values;
            values.erase(tag::kLtpRowId);
            values.erase(tag::kLtpRowVer);
            put(r.props, values);
            msg.recipients.push_back(std::move(r));
        }
    }
    if (const auto* at = node.FindSubnode(nid::kAttachmentTable)) {
        ltp::NodeReader tc(*db_, at->bid_data, at->bid_sub);
        for (const auto& row : ltp::ReadTableContext(tc).rows) {
            const auto* sub = node.FindSubnode(row.row_id);
            if (!sub) throw PstError("attachment listed but missing");
            ltp::NodeReader apc(*db_, sub->bid_data, sub->bid_sub);
            auto props = ltp::ReadPropertyContext(apc);
            mapi::Attachment a;
            auto obj = props.find(tag::kAttachDataObject);
            if (obj != props.end() && obj->second.size() >= 4) {
                const auto inner_nid = static_cast<std::uint32_t>(LoadLe({obj->second.data(), 4}));
                const auto* inner = apc.FindSubnode(inner_nid);
                if (!inner) throw PstError("embedded message missing");
                ltp::NodeReader inner_reader(*db_, inner->bid_data, inner->bid_sub);
                a.embedded = std::make_unique<mapi::Message>(ReadMessageNode(inner_reader, depth + 1));
            }
            put(a.props, props);
            msg.attachments.push_back(std::move(a));
        }
    }
    return msg;
}

mapi::Message Store::ReadMessage(std::uint32_t message_nid) {
    auto node = db_->FindNode(message_nid);
    if (!node) throw PstError("message not found");
    ltp::NodeReader reader(*db_, node->bid_data, node->bid_sub);
    return ReadMessageNode(reader, 0);
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
