#include "store/pst/ndb/database.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "store/pst/ndb/crc.h"
#include "platform/output_file.h"

namespace pst::ndb {
namespace {

constexpr int kMaxBTreeDepth = 8;
constexpr int kMaxDataTreeDepth = 2;

template <typename T>
T Load(const std::uint8_t* p) {
    T value;
    std::memcpy(&value, p, sizeof(T));
    return value;
}

template <typename T>
void Store(std::uint8_t* p, const T& value) {
    std::memcpy(p, &value, sizeof(T));
}

std::uint64_t SectionBase(std::uint64_t n) { return kFirstAMapOffset + n * kAMapCoverage; }

// Where the allocatable space of section n begins: after its last map page.
std::uint64_t DataStart(std::uint64_t n) {
    std::uint64_t end = Database::AMapOffset(n) + kPageSize;
    for (auto ib : {Database::PMapOffset(n), Database::FMapOffset(n), Database::FPMapOffset(n)})
        if (ib) end = std::max(end, ib + kPageSize);
    return end;
}


}  // namespace

std::uint64_t Database::AMapOffset(std::uint64_t n) { return SectionBase(n); }

std::uint64_t Database::PMapOffset(std::uint64_t n) {
    return n % 8 == 0 ? SectionBase(n) + kPageSize : 0;
}

// Map pages keep fixed places in a section: AMap, PMap, FMap, FPMap, 512 bytes apart.
std::uint64_t Database::FMapOffset(std::uint64_t n) {
    if (n < kHeaderFMapAMaps || (n - kHeaderFMapAMaps) % kFMapAMaps != 0) return 0;
    return SectionBase(n) + 2 * kPageSize;
}

std::uint64_t Database::FPMapOffset(std::uint64_t n) {
    // FPMaps start once the header's bits run out, past about 2 GB.
    const std::uint64_t first = kHeaderFPMapPMaps * 8;
    if (n < first || (n - first) % (kFPMapPMaps * 8) != 0) return 0;
    return SectionBase(n) + 3 * kPageSize;
}

namespace {
std::size_t g_index_memory_limit = 0;

std::size_t IndexMemoryLimit(std::size_t entry_size) {
    if (g_index_memory_limit) return g_index_memory_limit;
    return (std::size_t{256} << 10) / entry_size;  // about 256 KiB of entries
}
}  // namespace

void Database::SetIndexMemoryLimitForTesting(std::size_t entries) { g_index_memory_limit = entries; }

Database::Database()
    : nodes_(IndexMemoryLimit(sizeof(NodeInfo))), blocks_(IndexMemoryLimit(sizeof(BlockInfo))) {}

Database::~Database() {
    try {
        FlushPending();
    } catch (...) {
        // Nothing to report to from a destructor; Flush is where writing fails visibly.
    }
}

std::unique_ptr<Database> Database::Create(const std::string& path, CryptMethod method,
                                           const platform::DeviceFilter* devices) {
    std::unique_ptr<Database> db(new Database());
    const int fd = platform::OpenOutputDescriptor(path, platform::OutputMode::kTruncate, true);
    if (fd < 0) throw PstSystemError("cannot create " + path, -fd);
    db->file_ = platform::RandomAccessFile(fd);
    db->device_ = platform::DeviceFor(fd, devices);
    db->writable_ = true;
    db->InitNew(method);
    return db;
}

std::unique_ptr<Database> Database::Open(const std::string& path, bool writable, const platform::DeviceFilter* devices) {
    std::unique_ptr<Database> db(new Database());
    using Access = platform::RandomAccessFile::Access;
    if (int err = db->file_.Open(path, writable ? Access::kReadWrite : Access::kRead))
        throw PstSystemError("cannot open " + path, err);
    db->writable_ = writable;
    if (writable) db->device_ = platform::DeviceFor(db->file_.descriptor(), devices);
    db->ReadHeader();
    return db;
}

void Database::InitNew(CryptMethod method) {
    crypt_ = method;
    header_ = HEADER{};
    header_.dwMagic = kHeaderMagic;
    header_.wMagicClient = kMagicClient;
    header_.wVer = kVersionUnicode;
    header_.wVerClient = kVersionClient;
    header_.bPlatformCreate = 0x01;
    header_.bPlatformAccess = 0x01;
    header_.bidNextP = 1;
    header_.bidNextB = 4;
    header_.dwUnique = 1;
    for (std::size_t t = 0; t < 32; ++t) header_.rgnid[t] = 0x400;  // packed: no references into it
    header_.rgnid[kNidTypeSearchFolder] = 0x4000;
    header_.rgnid[kNidTypeNormalMessage] = 0x10000;
    header_.rgnid[kNidTypeAssocMessage] = 0x8000;
    std::memset(header_.rgbFM, 0xFF, sizeof(header_.rgbFM));
    std::memset(header_.rgbFP, 0xFF, sizeof(header_.rgbFP));
    header_.bSentinel = 0x80;
    header_.bCryptMethod = static_cast<std::uint8_t>(method);
    AddSection();
    alloc_pos_ = DataStart(0);
}

void Database::ReadHeader() {
    std::uint64_t size = 0;
    if (int err = file_.Size(size)) throw PstSystemError("cannot read the store", err);
    if (size < kFirstAMapOffset + kPageSize) throw PstError("not a PST store: file too small");
    auto raw = ReadAt(0, sizeof(HEADER));
    std::memcpy(&header_, raw.data(), sizeof(HEADER));
    if (header_.dwMagic == kHeaderMagic && header_.wMagicClient == kMagicClientOst)
        throw PstError("an offline store (OST) of Outlook, not a PST store");
    if (header_.dwMagic != kHeaderMagic || header_.wMagicClient != kMagicClient)
        throw PstError("not a PST store: bad magic");
    if (header_.wVer < 23) throw PstError("only Unicode PST stores are supported");
    if (header_.wVer >= 36) throw PstError("4K-page stores are not supported");
    if (ComputeCrc({raw.data() + kHeaderPartialCrcStart, kHeaderPartialCrcLength}) != header_.dwCRCPartial ||
        ComputeCrc({raw.data() + kHeaderPartialCrcStart, kHeaderFullCrcLength}) != header_.dwCRCFull)
        throw PstError("PST header checksum mismatch");
    if (header_.bCryptMethod == 0x02) throw PstError("unsupported PST encoding (high)");
    if (header_.bCryptMethod > 1)
        throw PstError("unsupported PST encoding (" + std::to_string(header_.bCryptMethod) + ")");
    crypt_ = static_cast<CryptMethod>(header_.bCryptMethod);
    const ROOT& root = header_.root;
    if (root.ibFileEof > size || root.ibFileEof < kFirstAMapOffset + kAMapCoverage ||
        (root.ibFileEof - kFirstAMapOffset) % kAMapCoverage != 0)
        throw PstError("PST header: bad end of file");
    file_eof_ = root.ibFileEof;
    amap_count_ = (file_eof_ - kFirstAMapOffset) / kAMapCoverage;
    pages_read_ = 0;
    ReadBTree(root.BREFNBT.bid, root.BREFNBT.ib, kPtypeNBT, 0, 0, true);
    ReadBTree(root.BREFBBT.bid, root.BREFBBT.ib, kPtypeBBT, 0, 0, true);
    LoadAMaps();
    alloc_pos_ = file_eof_;
}

void Database::LoadAMaps() {
    amap_ = AllocationBits();
    const bool trusted = header_.root.fAMapValid != 0;
    for (std::uint64_t n = 0; n < amap_count_; ++n) {
        if (trusted) {
            amap_.AddSection(ReadAt(AMapOffset(n), kPageSize).data());
        } else {
            amap_.AddSection();
        }
    }
    // Maps that are not trusted are rebuilt from what the B-trees reference. Before writing,
    // whatever is referenced is marked in use even where trusted maps say free: new data must
    // never go where live data is.
    if (!trusted || writable_) MarkReferenced(amap_);
    if (trusted && header_.root.cbPMapFree != 0) ReleasePageReserve();
    if (writable_) CollectFreeSpace();
}

void Database::MarkReferenced(AllocationBits& bits) const {
    auto mark = [&](std::uint64_t ib, std::uint64_t size) { MarkSlots(bits, ib, size, true); };
    for (std::uint64_t n = 0; n < bits.section_count(); ++n)
        for (auto ib : {AMapOffset(n), PMapOffset(n), FMapOffset(n), FPMapOffset(n)})
            if (ib) mark(ib, kPageSize);
    for (auto ib : btree_pages_) mark(ib, kPageSize);
    blocks_.ForEach([&](const BlockInfo& b) { mark(b.ib, BlockSize(b.cb)); });
}

// Older writers reserve pages in the AMap ahead of need and track them in the PMap (a clear bit
// is a reserved page still free). We write PMaps with every page in use, so the reserve that
// nothing references goes back to the AMap's free space; a referenced page is never released.
void Database::ReleasePageReserve() {
    AllocationBits referenced;
    for (std::uint64_t n = 0; n < amap_count_; ++n) referenced.AddSection();
    MarkReferenced(referenced);
    for (std::uint64_t n = 0; n < amap_count_; n += 8) {
        const std::uint64_t ib = PMapOffset(n);
        if (ib == 0 || ib + kPageSize > file_eof_) continue;
        auto pmap = ReadAt(ib, kPageSize);
        const std::uint64_t section = AMapOffset(n);
        for (std::uint64_t bit = 0; bit < kPageDataSize * 8; ++bit) {
            if (pmap[bit / 8] & (0x80 >> (bit % 8))) continue;  // a page in use
            const std::uint64_t page = section + bit * kPageSize;
            if (page + kPageSize > file_eof_) break;
            const std::uint64_t slot = (page - kFirstAMapOffset) / kBlockAlign;
            if (!referenced.AnyUsed(slot, kPageSize / kBlockAlign)) amap_.Mark(slot, kPageSize / kBlockAlign, false);
        }
    }
}

// Every free run the maps show becomes space for new blocks and pages.
void Database::CollectFreeSpace() {
    std::uint8_t bits[AllocationBits::kSectionBytes];
    for (std::uint64_t n = 0; n < amap_count_; ++n) {
        amap_.CopySection(n, bits);
        const std::uint64_t base = AMapOffset(n);
        std::uint64_t run_start = 0, run_length = 0;
        for (std::uint64_t s = 0; s <= AllocationBits::kSectionSlots; ++s) {
            const bool used = s == AllocationBits::kSectionSlots || (bits[s / 8] & (0x80 >> (s % 8)));
            if (!used) {
                if (run_length++ == 0) run_start = s;
                continue;
            }
            if (run_length) free_.Add(base + run_start * kBlockAlign, run_length * kBlockAlign);
            run_length = 0;
        }
    }
}

void Database::ReadBTree(std::uint64_t bid, std::uint64_t ib, std::uint8_t ptype, int depth,
                         std::uint64_t low_key, bool first) {
    if (depth > kMaxBTreeDepth) throw PstError("B-tree too deep");
    if (ib < kFirstAMapOffset || ib + kPageSize > file_eof_ || ib % kPageSize != 0)
        throw PstError("B-tree page outside the file");
    if (++pages_read_ > file_eof_ / kPageSize) throw PstError("B-tree has a cycle");
    auto raw = ReadAt(ib, kPageSize);
    BTPAGE page;
    std::memcpy(&page, raw.data(), sizeof(page));
    const auto& t = page.pageTrailer;
    if (t.ptype != ptype || t.ptypeRepeat != ptype) throw PstError("B-tree page of the wrong type");
    if (t.bid != bid) throw PstError("B-tree page BID mismatch");
    if (t.dwCRC != ComputeCrc({raw.data(), kPageDataSize})) throw PstError("B-tree page checksum mismatch");
    if (t.wSig != ComputeSig(ib, bid)) throw PstError("B-tree page signature mismatch");
    if (page.cbEnt == 0 || static_cast<std::size_t>(page.cEnt) * page.cbEnt > kBtEntriesSize ||
        page.cEntMax != kBtEntriesSize / page.cbEnt)
        throw PstError("B-tree page entry count");
    if (depth == 0) root_level_ = page.cLevel;
    if (page.cLevel != root_level_ - depth) throw PstError("B-tree leaves at different depths");
    btree_pages_.push_back(ib);
    std::uint64_t prev = low_key;
    for (std::size_t i = 0; i < page.cEnt; ++i) {
        const std::uint8_t* e = page.rgentries + i * page.cbEnt;
        if (page.cLevel > 0) {
            if (page.cbEnt < sizeof(BTENTRY)) throw PstError("B-tree entry size");
            auto entry = Load<BTENTRY>(e);
            if ((!first || i > 0) && entry.btkey < prev) throw PstError("B-tree keys out of order");
            prev = entry.btkey;
            ReadBTree(entry.BREF_.bid, entry.BREF_.ib, ptype, depth + 1, entry.btkey, first && i == 0);
        } else if (ptype == kPtypeNBT) {
            if (page.cbEnt < sizeof(NBTENTRY)) throw PstError("NBT entry size");
            auto entry = Load<NBTENTRY>(e);
            entry.nid &= 0xFFFFFFFFu;
            if (nodes_.size() > 0 && entry.nid <= last_read_key_) throw PstError("NBT keys out of order");
            last_read_key_ = entry.nid;
            nodes_.Put({entry.nid, entry.bidData, entry.bidSub, entry.nidParent});
        } else {
            if (page.cbEnt < sizeof(BBTENTRY)) throw PstError("BBT entry size");
            auto entry = Load<BBTENTRY>(e);
            if (blocks_.size() > 0 && entry.BREF_.bid <= last_read_key_) throw PstError("BBT keys out of order");
            last_read_key_ = entry.BREF_.bid;
            if (entry.BREF_.ib + BlockSize(entry.cb) > file_eof_ || entry.cb > kMaxBlockData)
                throw PstError("BBT entry outside the file");
            blocks_.Put({entry.BREF_.bid, entry.BREF_.ib, entry.cb, entry.cRef});
        }
    }
}

std::vector<std::uint8_t> Database::ReadAt(std::uint64_t ib, std::size_t size) const {
    FlushPending();
    std::vector<std::uint8_t> out(size);
    if (file_.ReadAt(out.data(), size, ib) != static_cast<std::int64_t>(size))
        throw PstError("read past the end of the store");
    return out;
}

void Database::WriteRaw(std::uint64_t ib, std::span<const std::uint8_t> data) const {
    if (!device_) throw PstError("store opened read-only");
    // A store that lost a write is not whole: every later write, the last flush included, fails
    // for the same reason, which is then what the user is told (not a check's finding).
    if (write_failure_ == platform::WriteFailure::kNone) {
        const std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
        write_failure_ = device_->WriteAt(bytes, ib);
    }
    if (write_failure_ != platform::WriteFailure::kNone) throw PstSystemError("cannot write the store", write_failure_);
}

// Writes that continue the previous one are gathered and go out in large pieces: blocks are
// appended one after another, so a message costs a few memory copies instead of system calls.
namespace {
// Gathered writes go to the file once they reach this size.
constexpr std::size_t kPendingLimit = 1 << 20;
}  // namespace

void Database::WriteAt(std::uint64_t ib, std::span<const std::uint8_t> data) {
    const std::span<std::uint8_t> space = PendingSpace(ib, data.size());
    if (!data.empty()) std::memcpy(space.data(), data.data(), data.size());
    FlushPendingWhenFull();
}

std::span<std::uint8_t> Database::PendingSpace(std::uint64_t ib, std::size_t size) {
    if (!pending_.empty() && ib != pending_at_ + pending_.size()) FlushPending();
    if (pending_.empty()) pending_at_ = ib;
    const std::size_t at = pending_.size();
    pending_.resize(at + size);
    return {pending_.data() + at, size};
}

void Database::FlushPendingWhenFull() {
    if (pending_.size() >= kPendingLimit) FlushPending();
}

void Database::FlushPending() const {
    if (pending_.empty()) return;
    // Taken out first: a failed write is reported once and not retried by the next read. After
    // a good one the buffer comes back, emptied, so that it is not grown again for every megabyte.
    std::vector<std::uint8_t> data;
    data.swap(pending_);
    WriteRaw(pending_at_, data);
    data.clear();
    data.swap(pending_);
}

// ---- nodes ----

std::optional<NodeInfo> Database::FindNode(std::uint64_t nid) const { return nodes_.Find(nid); }

void Database::SetNode(const NodeInfo& node) { nodes_.Put(node); }

void Database::RemoveNode(std::uint64_t nid) { nodes_.Remove(nid); }

std::uint32_t Database::NewNid(std::uint32_t type) {
    if (type >= 32) throw PstError("bad NID type");
    std::uint32_t index = header_.rgnid[type];
    EnsureUsedIndices();
    // Other writers do not always keep the header's counters ahead of the nodes they made, and
    // a folder's tables share its index: an index any node already uses is never handed out.
    while (std::binary_search(used_indices_.begin(), used_indices_.end(), index)) ++index;
    if (index >= (1u << 27) - 1) throw PstError("NID space exhausted");
    header_.rgnid[type] = index + 1;
    return MakeNid(type, index);
}

void Database::EnsureUsedIndices() {
    if (used_indices_ready_) return;
    nodes_.ForEach([&](const NodeInfo& n) { used_indices_.push_back(NidIndex(static_cast<std::uint32_t>(n.nid))); });
    std::sort(used_indices_.begin(), used_indices_.end());
    used_indices_ready_ = true;
}

// Some readers look a subnode's NID up in the node B-tree before the subnode tree (an embedded
// message's, for one), so no new node may take an index a subnode anywhere in the file uses.
void Database::ReserveSubnodeIndices() {
    EnsureUsedIndices();
    std::vector<std::uint64_t> todo;
    nodes_.ForEach([&](const NodeInfo& n) {
        if (n.bid_sub != 0) todo.push_back(n.bid_sub);
    });
    const std::size_t limit = blocks_.size() + 1;  // each subnode tree is read once at most
    for (std::size_t i = 0; i < todo.size() && i < limit; ++i) {
        for (const auto& e : ReadSubnodeTree(todo[i])) {
            used_indices_.push_back(NidIndex(static_cast<std::uint32_t>(e.nid)));
            if (e.bid_sub != 0) todo.push_back(e.bid_sub);
        }
    }
    std::sort(used_indices_.begin(), used_indices_.end());
    used_indices_.erase(std::unique(used_indices_.begin(), used_indices_.end()), used_indices_.end());
}

void Database::ReserveNids(std::uint32_t type, std::uint32_t next_index) {
    if (type >= 32) throw PstError("bad NID type");
    const std::uint32_t current = header_.rgnid[type];
    if (next_index > current) header_.rgnid[type] = next_index;
}

// ---- blocks ----

std::optional<BlockInfo> Database::FindBlock(std::uint64_t bid) const {
    return blocks_.Find(bid & ~std::uint64_t{1});
}

std::vector<std::uint8_t> Database::ReadBlock(std::uint64_t bid) const {
    auto info = FindBlock(bid);
    if (!info) throw PstError("block not in the block B-tree");
    const std::uint64_t size = BlockSize(info->cb);
    auto raw = ReadAt(info->ib, size);
    BLOCKTRAILER trailer;
    std::memcpy(&trailer, raw.data() + size - sizeof(BLOCKTRAILER), sizeof(trailer));
    if (trailer.cb != info->cb || (trailer.bid & ~std::uint64_t{1}) != info->bid)
        throw PstError("block trailer does not match the block B-tree");
    if (trailer.wSig != ComputeSig(info->ib, info->bid)) throw PstError("block signature mismatch");
    if (trailer.dwCRC != ComputeCrc({raw.data(), info->cb})) throw PstError("block checksum mismatch");
    raw.resize(info->cb);
    if (!IsInternalBid(info->bid)) DecodeBlockData(crypt_, raw);
    return raw;
}

std::uint64_t Database::NextBlockBid(bool internal) {
    std::uint64_t bid = header_.bidNextB;
    header_.bidNextB += 4;
    return internal ? (bid | 2) : bid;
}

std::uint64_t Database::WriteBlock(std::span<const std::uint8_t> data, bool internal) {
    if (!writable_) throw PstError("store opened read-only");
    if (data.size() > kMaxBlockData) throw PstError("block too large");
    const std::uint64_t size = BlockSize(data.size());
    const std::uint64_t bid = NextBlockBid(internal);
    const std::uint64_t ib = Allocate(size, false);
    // Encoded straight into the gathered writes: the padding before the trailer stays zero.
    const std::span<std::uint8_t> buf = PendingSpace(ib, size);
    EncodeBlockDataInto(internal ? CryptMethod::None : crypt_, data, buf);
    BLOCKTRAILER trailer{};
    trailer.cb = static_cast<std::uint16_t>(data.size());
    trailer.wSig = ComputeSig(ib, bid);
    trailer.dwCRC = ComputeCrc({buf.data(), data.size()});
    trailer.bid = bid;
    std::memcpy(buf.data() + size - sizeof(trailer), &trailer, sizeof(trailer));
    FlushPendingWhenFull();
    blocks_.Put({bid, ib, trailer.cb, 2});
    return bid;
}

void Database::FreeBlock(std::uint64_t bid) {
    auto info = blocks_.Find(bid & ~std::uint64_t{1});
    if (!info) return;
    if (info->ref > 2) {
        --info->ref;
        blocks_.Put(*info);
        return;
    }
    Release(info->ib, BlockSize(info->cb));
    blocks_.Remove(info->bid);
}

// ---- data trees ----

std::uint64_t Database::WriteDataTree(std::span<const std::uint8_t> data) {
    if (data.size() <= kMaxBlockData) return WriteBlock(data, false);
    if (data.size() > 0xFFFFFFFFull) throw PstError("value too large for a PST store");
    std::vector<std::uint64_t> leaves, sizes;
    for (std::size_t off = 0; off < data.size(); off += kMaxBlockData) {
        std::size_t n = std::min<std::size_t>(kMaxBlockData, data.size() - off);
        leaves.push_back(WriteBlock(data.subspan(off, n), false));
        sizes.push_back(n);
    }
    return WriteXBlocks(leaves, sizes);
}

std::uint64_t Database::WriteDataTreeBlocks(const std::vector<std::vector<std::uint8_t>>& blocks) {
    if (blocks.empty()) return WriteBlock({}, false);
    if (blocks.size() == 1) return WriteBlock(blocks[0], false);
    std::vector<std::uint64_t> leaves, sizes;
    for (const auto& b : blocks) {
        leaves.push_back(WriteBlock(b, false));
        sizes.push_back(b.size());
    }
    return WriteXBlocks(leaves, sizes);
}

std::uint64_t Database::LinkDataTree(const std::vector<std::uint64_t>& leaves,
                                     const std::vector<std::uint64_t>& sizes) {
    if (leaves.empty() || leaves.size() != sizes.size()) throw PstError("data tree without its blocks");
    if (leaves.size() == 1) return leaves[0];
    return WriteXBlocks(leaves, sizes);
}

std::uint64_t Database::WriteXBlocks(const std::vector<std::uint64_t>& leaves, const std::vector<std::uint64_t>& sizes) {
    auto write_x = [&](std::span<const std::uint64_t> bids, std::uint8_t level, std::uint64_t total) {
        if (total > 0xFFFFFFFFull) throw PstError("value too large for a PST store");
        std::vector<std::uint8_t> buf(sizeof(XBLOCKHEADER) + bids.size() * 8);
        XBLOCKHEADER h{0x01, level, static_cast<std::uint16_t>(bids.size()), static_cast<std::uint32_t>(total)};
        std::memcpy(buf.data(), &h, sizeof(h));
        std::memcpy(buf.data() + sizeof(h), bids.data(), bids.size() * 8);
        return WriteBlock(buf, true);
    };
    std::uint64_t total = 0;
    for (auto s : sizes) total += s;
    if (leaves.size() <= kXBlockMaxEntries) return write_x(leaves, 1, total);
    std::vector<std::uint64_t> xblocks;
    for (std::size_t i = 0; i < leaves.size(); i += kXBlockMaxEntries) {
        std::size_t n = std::min(kXBlockMaxEntries, leaves.size() - i);
        std::uint64_t bytes = 0;
        for (std::size_t k = 0; k < n; ++k) bytes += sizes[i + k];
        xblocks.push_back(write_x(std::span(leaves).subspan(i, n), 1, bytes));
    }
    if (xblocks.size() > kXBlockMaxEntries) throw PstError("value too large for a PST store");
    return write_x(xblocks, 2, total);
}

std::vector<std::vector<std::uint8_t>> Database::ReadDataTreeBlocks(std::uint64_t bid) const {
    std::vector<std::vector<std::uint8_t>> out;
    if (bid == 0) return out;
    std::uint64_t total = 0;
    for (auto b : DataTreeBlocks(bid)) {
        out.push_back(ReadBlock(b));
        total += out.back().size();
        if (total > file_eof_) throw PstError("data tree larger than the store");
    }
    return out;
}

std::vector<std::uint64_t> Database::DataTreeBlocks(std::uint64_t bid) const {
    std::vector<std::uint64_t> out;
    if (!IsInternalBid(bid)) {
        out.push_back(bid);
        return out;
    }
    auto walk = [&](auto&& self, std::uint64_t b, int depth) -> void {
        if (!IsInternalBid(b)) {
            out.push_back(b);
            return;
        }
        if (depth >= kMaxDataTreeDepth) throw PstError("data tree too deep");
        auto raw = ReadBlock(b);
        if (raw.size() < sizeof(XBLOCKHEADER)) throw PstError("short XBLOCK");
        auto h = Load<XBLOCKHEADER>(raw.data());
        if (h.btype != 0x01 || h.cLevel == 0 || h.cLevel > 2 || sizeof(h) + h.cEnt * 8ull > raw.size())
            throw PstError("bad XBLOCK");
        if (h.cLevel != kMaxDataTreeDepth - depth && depth > 0) throw PstError("XBLOCK level mismatch");
        for (std::size_t i = 0; i < h.cEnt; ++i) {
            std::uint64_t child = Load<std::uint64_t>(raw.data() + sizeof(h) + i * 8);
            if (h.cLevel == 1 && IsInternalBid(child)) throw PstError("XBLOCK child is internal");
            if (h.cLevel == 2 && !IsInternalBid(child)) throw PstError("XXBLOCK child is external");
            self(self, child, depth + 1);
        }
    };
    walk(walk, bid, 0);
    return out;
}

std::vector<std::uint8_t> Database::ReadDataTree(std::uint64_t bid) const {
    if (bid == 0) return {};
    if (!IsInternalBid(bid)) return ReadBlock(bid);
    auto head = ReadBlock(bid);
    if (head.size() < sizeof(XBLOCKHEADER)) throw PstError("short XBLOCK");
    auto h = Load<XBLOCKHEADER>(head.data());
    if (h.lcbTotal > file_eof_) throw PstError("XBLOCK total larger than the store");
    std::vector<std::uint8_t> out;
    out.reserve(h.lcbTotal);
    for (auto b : DataTreeBlocks(bid)) {
        auto part = ReadBlock(b);
        out.insert(out.end(), part.begin(), part.end());
        if (out.size() > h.lcbTotal) throw PstError("data tree longer than its total");
    }
    if (out.size() != h.lcbTotal) throw PstError("data tree shorter than its total");
    return out;
}

void Database::FreeDataTree(std::uint64_t bid) {
    if (bid == 0 || !FindBlock(bid)) return;
    if (IsInternalBid(bid)) {
        auto raw = ReadBlock(bid);
        auto h = Load<XBLOCKHEADER>(raw.data());
        for (std::size_t i = 0; i < h.cEnt && sizeof(h) + (i + 1) * 8 <= raw.size(); ++i)
            FreeDataTree(Load<std::uint64_t>(raw.data() + sizeof(h) + i * 8));
    }
    FreeBlock(bid);
}

// ---- subnode trees ----

std::uint64_t Database::WriteSubnodeTree(std::vector<SubnodeInfo> entries) {
    if (entries.empty()) return 0;
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.nid < b.nid; });
    auto write_sl = [&](std::span<const SubnodeInfo> part) {
        std::vector<std::uint8_t> buf(sizeof(SLBLOCKHEADER) + part.size() * sizeof(SLENTRY));
        SLBLOCKHEADER h{0x02, 0, static_cast<std::uint16_t>(part.size()), 0};
        std::memcpy(buf.data(), &h, sizeof(h));
        for (std::size_t i = 0; i < part.size(); ++i) {
            SLENTRY e{part[i].nid, part[i].bid_data, part[i].bid_sub};
            std::memcpy(buf.data() + sizeof(h) + i * sizeof(SLENTRY), &e, sizeof(e));
        }
        return WriteBlock(buf, true);
    };
    if (entries.size() <= kSLBlockMaxEntries) return write_sl(entries);
    std::vector<SIENTRY> index;
    for (std::size_t i = 0; i < entries.size(); i += kSLBlockMaxEntries) {
        std::size_t n = std::min(kSLBlockMaxEntries, entries.size() - i);
        index.push_back({entries[i].nid, write_sl(std::span(entries).subspan(i, n))});
    }
    if (index.size() > kSIBlockMaxEntries) throw PstError("too many subnodes");
    std::vector<std::uint8_t> buf(sizeof(SLBLOCKHEADER) + index.size() * sizeof(SIENTRY));
    SLBLOCKHEADER h{0x02, 1, static_cast<std::uint16_t>(index.size()), 0};
    std::memcpy(buf.data(), &h, sizeof(h));
    std::memcpy(buf.data() + sizeof(h), index.data(), index.size() * sizeof(SIENTRY));
    return WriteBlock(buf, true);
}

std::vector<SubnodeInfo> Database::ReadSubnodeTree(std::uint64_t bid) const {
    std::vector<SubnodeInfo> out;
    if (bid == 0) return out;
    auto walk = [&](auto&& self, std::uint64_t b, int depth) -> void {
        if (!IsInternalBid(b)) throw PstError("subnode tree block is not internal");
        auto raw = ReadBlock(b);
        if (raw.size() < sizeof(SLBLOCKHEADER)) throw PstError("short SLBLOCK");
        auto h = Load<SLBLOCKHEADER>(raw.data());
        if (h.btype != 0x02 || h.cLevel > 1) throw PstError("bad SLBLOCK");
        if (h.cLevel == 1) {
            if (depth > 0) throw PstError("subnode tree too deep");
            if (sizeof(h) + h.cEnt * sizeof(SIENTRY) > raw.size()) throw PstError("SIBLOCK entry count");
            for (std::size_t i = 0; i < h.cEnt; ++i) {
                auto e = Load<SIENTRY>(raw.data() + sizeof(h) + i * sizeof(SIENTRY));
                self(self, e.bid, depth + 1);
            }
            return;
        }
        if (sizeof(h) + h.cEnt * sizeof(SLENTRY) > raw.size()) throw PstError("SLBLOCK entry count");
        for (std::size_t i = 0; i < h.cEnt; ++i) {
            auto e = Load<SLENTRY>(raw.data() + sizeof(h) + i * sizeof(SLENTRY));
            e.nid &= 0xFFFFFFFFu;
            if (!out.empty() && e.nid <= out.back().nid) throw PstError("subnode keys out of order");
            out.push_back({e.nid & 0xFFFFFFFFu, e.bidData, e.bidSub});
        }
    };
    walk(walk, bid, 0);
    return out;
}

void Database::FreeSubnodeTree(std::uint64_t bid) {
    if (bid == 0 || !FindBlock(bid)) return;
    for (const auto& e : ReadSubnodeTree(bid)) {
        FreeDataTree(e.bid_data);
        FreeSubnodeTree(e.bid_sub);
    }
    auto raw = ReadBlock(bid);
    auto h = Load<SLBLOCKHEADER>(raw.data());
    if (h.cLevel == 1) {
        for (std::size_t i = 0; i < h.cEnt && sizeof(h) + (i + 1) * sizeof(SIENTRY) <= raw.size(); ++i)
            FreeBlock(Load<SIENTRY>(raw.data() + sizeof(h) + i * sizeof(SIENTRY)).bid);
    }
    FreeBlock(bid);
}

// ---- allocation ----

bool Database::IsAllocated(std::uint64_t ib) const {
    if (ib < kFirstAMapOffset) return true;
    return amap_.IsUsed((ib - kFirstAMapOffset) / kBlockAlign);
}

void Database::MarkSlots(AllocationBits& bits, std::uint64_t ib, std::uint64_t size, bool used) {
    if (ib < kFirstAMapOffset) throw PstError("allocation before the first allocation map");
    bits.Mark((ib - kFirstAMapOffset) / kBlockAlign, (size + kBlockAlign - 1) / kBlockAlign, used);
}

void Database::MarkRange(std::uint64_t ib, std::uint64_t size, bool used) { MarkSlots(amap_, ib, size, used); }

void Database::Release(std::uint64_t ib, std::uint64_t size) {
    MarkRange(ib, size, false);
    free_.Add(ib, (size + kBlockAlign - 1) / kBlockAlign * kBlockAlign);
}

void Database::MarkMapPages(std::uint64_t n) {
    for (auto ib : {AMapOffset(n), PMapOffset(n), FMapOffset(n), FPMapOffset(n)})
        if (ib) MarkRange(ib, kPageSize, true);
}

void Database::AddSection() {
    const std::uint64_t n = amap_count_;
    amap_.AddSection();
    ++amap_count_;
    file_eof_ = SectionBase(amap_count_);
    MarkMapPages(n);
}

// Free space inside the file first (the smallest run that fits), then the end of the file,
// where the space skipped to align or to stay within one section is kept for later.
std::uint64_t Database::Allocate(std::uint64_t size, bool page) {
    const std::uint64_t align = page ? kPageSize : kBlockAlign;
    if (auto ib = free_.Take(size, align)) {
        MarkRange(*ib, size, true);
        return *ib;
    }
    std::uint64_t pos = alloc_pos_;
    for (;;) {
        const std::uint64_t n = (pos - kFirstAMapOffset) / kAMapCoverage;
        pos = std::max(pos, DataStart(n));
        const std::uint64_t start = (pos + align - 1) / align * align;
        if (start + size <= SectionBase(n + 1)) {
            while (n >= amap_count_) AddSection();
            if (start > pos) free_.Add(pos, start - pos);
            MarkRange(start, size, true);
            alloc_pos_ = start + size;
            return start;
        }
        if (n < amap_count_) free_.Add(pos, SectionBase(n + 1) - pos);
        pos = SectionBase(n + 1);
    }
}

// ---- flushing ----

void Database::WritePage(std::uint64_t ib, std::uint8_t* page, std::uint8_t ptype, std::uint64_t bid,
                         bool signed_page) {
    PAGETRAILER t{};
    t.ptype = ptype;
    t.ptypeRepeat = ptype;
    t.wSig = signed_page ? ComputeSig(ib, bid) : 0;
    t.dwCRC = ComputeCrc({page, kPageDataSize});
    t.bid = bid;
    std::memcpy(page + kPageDataSize, &t, sizeof(t));
    WriteAt(ib, {page, kPageSize});
}

// Builds a B-tree bottom-up while its entries stream past in key order: a leaf page fills, goes
// to the file, and its first key becomes an entry of the level above, which fills in turn.
// Only one page per level is ever waiting.
std::uint64_t Database::WriteBTree(std::uint8_t ptype) {
    struct Child {
        std::uint64_t key, bid, ib;
    };
    const bool nbt = ptype == kPtypeNBT;
    const std::size_t leaf_size = nbt ? sizeof(NBTENTRY) : sizeof(BBTENTRY);
    const std::size_t leaf_max = kBtEntriesSize / leaf_size;
    const std::size_t index_max = kBtEntriesSize / sizeof(BTENTRY);
    std::uint8_t page[kPageSize];
    auto emit = [&](std::size_t n_entries, std::size_t entry_size, std::uint8_t c_level) {
        page[488] = static_cast<std::uint8_t>(n_entries);
        page[489] = static_cast<std::uint8_t>(kBtEntriesSize / entry_size);
        page[490] = static_cast<std::uint8_t>(entry_size);
        page[491] = c_level;
        std::uint64_t ib = Allocate(kPageSize, true);
        std::uint64_t bid = header_.bidNextP++;
        WritePage(ib, page, ptype, bid, true);
        btree_pages_.push_back(ib);
        return std::pair{bid, ib};
    };
    auto write_index = [&](const std::vector<Child>& children, std::size_t c_level) {
        std::memset(page, 0, sizeof(page));
        for (std::size_t k = 0; k < children.size(); ++k)
            Store(page + k * sizeof(BTENTRY), BTENTRY{children[k].key, {children[k].bid, children[k].ib}});
        auto [bid, ib] = emit(children.size(), sizeof(BTENTRY), static_cast<std::uint8_t>(c_level));
        return Child{children[0].key, bid, ib};
    };
    std::vector<std::vector<Child>> waiting;  // waiting[l]: pages of level l not yet indexed above
    auto add_child = [&](auto&& self, std::size_t level, const Child& child) -> void {
        if (waiting.size() <= level) waiting.resize(level + 1);
        waiting[level].push_back(child);
        if (waiting[level].size() < index_max) return;
        const Child up = write_index(waiting[level], level + 1);
        waiting[level].clear();
        self(self, level + 1, up);
    };
    std::uint8_t leaf[kBtEntriesSize] = {};
    std::size_t in_leaf = 0;
    std::uint64_t leaf_key = 0;
    bool leaf_written = false;
    auto write_leaf = [&] {
        std::memset(page, 0, sizeof(page));
        std::memcpy(page, leaf, in_leaf * leaf_size);
        auto [bid, ib] = emit(in_leaf, leaf_size, 0);
        add_child(add_child, 0, Child{in_leaf ? leaf_key : 0, bid, ib});
        in_leaf = 0;
        leaf_written = true;
    };
    auto add_entry = [&](std::uint64_t key, const auto& entry) {
        if (in_leaf == 0) leaf_key = key;
        Store(leaf + in_leaf * leaf_size, entry);
        if (++in_leaf == leaf_max) write_leaf();
    };
    if (nbt) {
        nodes_.ForEach([&](const NodeInfo& n) {
            add_entry(n.nid, NBTENTRY{n.nid, n.bid_data, n.bid_sub, n.nid_parent, 0});
        });
    } else {
        blocks_.ForEach([&](const BlockInfo& b) { add_entry(b.bid, BBTENTRY{{b.bid, b.ib}, b.cb, b.ref, 0}); });
    }
    if (in_leaf > 0 || !leaf_written) write_leaf();
    // The partly filled pages left at each level get their parents, up to a single root.
    Child root{};
    for (std::size_t level = 0;; ++level) {
        if (level + 1 == waiting.size() && waiting[level].size() == 1) {
            root = waiting[level][0];
            break;
        }
        if (waiting[level].empty()) continue;
        const Child up = write_index(waiting[level], level + 1);
        waiting[level].clear();
        add_child(add_child, level + 1, up);
    }
    if (nbt) {
        header_.root.BREFNBT = {root.bid, root.ib};
    } else {
        header_.root.BREFBBT = {root.bid, root.ib};
    }
    return root.ib;
}

void Database::WriteMaps() {
    std::uint8_t page[kPageSize];
    std::uint64_t free_bytes = 0;
    std::vector<std::uint8_t> longest_free(amap_count_, 0);
    std::uint8_t bits[AllocationBits::kSectionBytes];
    for (std::uint64_t n = 0; n < amap_count_; ++n) {
        amap_.CopySection(n, bits);
        std::uint64_t run = 0, best = 0;
        for (std::size_t s = 0; s < kPageDataSize * 8; ++s) {
            if (bits[s / 8] & (0x80 >> (s % 8))) {
                run = 0;
            } else {
                free_bytes += kBlockAlign;
                best = std::max(best, ++run);
            }
        }
        longest_free[n] = static_cast<std::uint8_t>(std::min<std::uint64_t>(best, 255));
    }
    for (std::uint64_t n = 0; n < amap_count_; ++n) {
        std::memset(page, 0, sizeof(page));
        amap_.CopySection(n, page);
        WritePage(AMapOffset(n), page, kPtypeAMap, AMapOffset(n), false);
        if (auto ib = PMapOffset(n)) {
            std::memset(page, 0xFF, kPageDataSize);
            WritePage(ib, page, kPtypePMap, ib, false);
        }
        if (auto ib = FMapOffset(n)) {
            // An FMap stands for the 496 AMaps from its own section on.
            std::memset(page, 0, sizeof(page));
            for (std::uint64_t k = 0; k < kFMapAMaps && n + k < amap_count_; ++k) page[k] = longest_free[n + k];
            WritePage(ib, page, kPtypeFMap, ib, false);
        }
        if (auto ib = FPMapOffset(n)) {
            std::memset(page, 0xFF, kPageDataSize);
            WritePage(ib, page, kPtypeFPMap, ib, false);
        }
    }
    header_.root.cbAMapFree = free_bytes;
    header_.root.cbPMapFree = 0;
    header_.root.ibAMapLast = AMapOffset(amap_count_ - 1);
    header_.root.ibFileEof = file_eof_;
    header_.root.fAMapValid = kAMapValid2;
}

void Database::WriteDensityList() {
    DLISTPAGE page{};
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;  // free slots, page number
    std::uint8_t bits[AllocationBits::kSectionBytes];
    for (std::uint64_t n = 0; n < amap_count_; ++n) {
        amap_.CopySection(n, bits);
        std::uint32_t free_slots = 0;
        for (std::size_t s = 0; s < kPageDataSize * 8; ++s)
            if (!(bits[s / 8] & (0x80 >> (s % 8)))) ++free_slots;
        entries.push_back({free_slots, static_cast<std::uint32_t>(n)});
    }
    // Most free space first, as readers expect.
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    const std::size_t count = std::min<std::size_t>(entries.size(), 119);
    page.bFlags = 0;
    page.cEntDList = static_cast<std::uint8_t>(count);
    page.ulCurrentPage = static_cast<std::uint32_t>(amap_count_ - 1);
    for (std::size_t i = 0; i < count; ++i)
        page.rgDListPageEnt[i] = (entries[i].second & 0xFFFFF) | (std::min<std::uint32_t>(entries[i].first, 0xFFF) << 20);
    std::uint8_t raw[kPageSize];
    std::memcpy(raw, &page, sizeof(page));
    WritePage(kDensityListOffset, raw, kPtypeDL, header_.bidNextP++, true);
}

void Database::WriteHeader() {
    ++header_.dwUnique;
    std::uint8_t raw[sizeof(HEADER)];
    std::memcpy(raw, &header_, sizeof(HEADER));
    header_.dwCRCPartial = ComputeCrc({raw + kHeaderPartialCrcStart, kHeaderPartialCrcLength});
    std::memcpy(raw, &header_, sizeof(HEADER));
    header_.dwCRCFull = ComputeCrc({raw + kHeaderPartialCrcStart, kHeaderFullCrcLength});
    std::memcpy(raw, &header_, sizeof(HEADER));
    std::vector<std::uint8_t> first(kDensityListOffset, 0);
    std::memcpy(first.data(), raw, sizeof(raw));
    WriteAt(0, first);
}

void Database::Flush() {
    if (!writable_) throw PstError("store opened read-only");
    for (auto ib : btree_pages_) Release(ib, kPageSize);
    btree_pages_.clear();
    WriteBTree(kPtypeNBT);
    WriteBTree(kPtypeBBT);
    WriteMaps();
    if (int err = file_.SetSize(file_eof_)) throw PstSystemError("cannot size the store", err);
    WriteDensityList();
    FlushPending();
    WriteHeader();
    FlushPending();
    if (const auto failure = device_->Sync(); failure != platform::WriteFailure::kNone)
        throw PstSystemError("cannot flush the store", failure);
}

}  // namespace pst::ndb
