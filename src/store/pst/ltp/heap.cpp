#include "store/pst/ltp/heap.h"

#include "store/pst/ndb/database.h"

#include <algorithm>
#include <cstring>

namespace pst::ltp {
namespace {

using ndb::kMaxBlockData;

constexpr std::size_t kMaxAllocsPerBlock = 2047;  // hidIndex has 11 bits
constexpr int kMaxBthLevels = 8;

bool IsBitmapBlock(std::size_t index) { return index >= 8 && (index - 8) % 128 == 0; }

// The fill level nibble of a block from its free bytes.
std::uint8_t FillLevel(std::size_t free) {
    static constexpr std::size_t kLimits[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768,
                                              512,  256,  128,  64,   32,   16,   8};
    for (std::uint8_t i = 0; i < 15; ++i)
        if (free >= kLimits[i]) return i;
    return 15;
}

std::size_t PageMapSize(std::size_t allocs) { return 4 + (allocs + 1) * 2; }

}  // namespace

std::uint64_t LoadLe(std::span<const std::uint8_t> bytes) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 8; ++i) v |= std::uint64_t{bytes[i]} << (8 * i);
    return v;
}

void StoreLe(std::span<std::uint8_t> out, std::uint64_t value) {
    std::memcpy(out.data(), &value, std::min<std::size_t>(out.size(), 8));  // the host is little-endian
}

void AppendLe(Bytes& out, std::uint64_t value, std::size_t size) {
    const std::size_t at = out.size();
    out.resize(at + size);
    StoreLe({out.data() + at, size}, value);
}

HeapWriter::HeapWriter(std::uint8_t client_sig, ndb::Database* sink) : client_sig_(client_sig), sink_(sink) {
    blocks_.push_back({Bytes(HeaderSize(0), 0), {}});
}

std::size_t HeapWriter::HeaderSize(std::size_t index) {
    if (index == 0) return sizeof(HNHDR);
    return IsBitmapBlock(index) ? sizeof(HNBITMAPHDR) : 2;
}

std::uint32_t HeapWriter::Allocate(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxHeapAlloc) throw PstError("heap allocation too large");
    Block* block = &blocks_.back();
    auto fits = [&](const Block& b) {
        std::size_t end = b.data.size() + bytes.size();
        end += end & 1;
        return b.starts.size() < kMaxAllocsPerBlock && end + PageMapSize(b.starts.size() + 1) <= kMaxBlockData;
    };
    if (!fits(*block)) {
        if (blocks_.size() >= 0xFFFF) throw PstError("heap too large");
        if (sink_) SealAndSpill(blocks_.size() - 1, false);
        blocks_.push_back({Bytes(HeaderSize(blocks_.size()), 0), {}});
        block = &blocks_.back();
    }
    block->starts.push_back(static_cast<std::uint16_t>(block->data.size()));
    block->data.insert(block->data.end(), bytes.begin(), bytes.end());
    const auto index = static_cast<std::uint32_t>(block->starts.size());
    const auto block_index = static_cast<std::uint32_t>(blocks_.size() - 1);
    return (block_index << 16) | (index << 5);
}

std::uint32_t HeapWriter::Reserve(std::size_t size) { return Allocate(Bytes(size, 0)); }

void HeapWriter::Fill(std::uint32_t hid, std::span<const std::uint8_t> bytes) {
    const std::size_t block = hid >> 16, index = (hid >> 5) & 0x7FF;
    if (!IsHid(hid) || block != 0 || index == 0) throw PstError("only the first heap block is filled late");
    std::uint8_t* at = nullptr;
    std::size_t room = 0;
    if (!blocks_.empty() && !blocks_[0].data.empty()) {
        // Still open: the allocation ends where the next begins, or at the end of the data.
        const Block& b = blocks_[0];
        if (index > b.starts.size()) throw PstError("heap id out of range");
        const std::size_t begin = b.starts[index - 1];
        const std::size_t end = index < b.starts.size() ? b.starts[index] : b.data.size();
        at = blocks_[0].data.data() + begin;
        room = end - begin;
    } else if (auto it = held_.find(0); it != held_.end()) {
        // Sealed and held: find the allocation through the block's page map.
        Bytes& data = it->second;
        const std::size_t ib = LoadLe({data.data(), 2});
        const std::size_t count = LoadLe({data.data() + ib, 2});
        if (index > count) throw PstError("heap id out of range");
        const std::size_t begin = LoadLe({data.data() + ib + 4 + (index - 1) * 2, 2});
        const std::size_t end = LoadLe({data.data() + ib + 4 + index * 2, 2});
        at = data.data() + begin;
        room = end - begin;
    } else {
        throw PstError("the first heap block is no longer held");
    }
    if (room != bytes.size()) throw PstError("late heap allocation of another size");
    std::memcpy(at, bytes.data(), bytes.size());
}

Bytes HeapWriter::Seal(std::size_t i, bool last) {
    Block& b = blocks_[i];
    Bytes data = std::move(b.data);
    std::vector<std::uint16_t> offsets = std::move(b.starts);
    b = Block{};
    const std::size_t count = offsets.size();
    offsets.push_back(static_cast<std::uint16_t>(data.size()));
    if (data.size() & 1) data.push_back(0);
    const auto ib_hnpm = static_cast<std::uint16_t>(data.size());
    AppendLe(data, count, 2);
    AppendLe(data, 0, 2);
    for (auto o : offsets) AppendLe(data, o, 2);
    std::memcpy(data.data(), &ib_hnpm, 2);
    if (fill_.size() <= i) fill_.resize(i + 1, 0);
    fill_[i] = FillLevel(kMaxBlockData - data.size());
    // Every block of a data tree but the last is full: pad after the page map.
    if (!last) data.resize(kMaxBlockData, 0);
    return data;
}

// Fill levels: the first eight blocks in the header, then 128 per bitmap block.
void HeapWriter::StampHeader(Bytes& first) const {
    HNHDR hdr{};
    std::memcpy(&hdr, first.data(), sizeof(hdr));
    hdr.bSig = kHnSig;
    hdr.bClientSig = client_sig_;
    hdr.hidUserRoot = user_root_;
    for (std::size_t i = 0; i < 8 && i < fill_.size(); ++i)
        hdr.rgbFillLevel[i / 2] |= static_cast<std::uint8_t>(fill_[i] << (4 * (i % 2)));
    std::memcpy(first.data(), &hdr, sizeof(hdr));
}

void HeapWriter::StampBitmap(Bytes& bitmap_block, std::size_t index) const {
    for (std::size_t k = 0; k < 128 && index + k < fill_.size(); ++k)
        bitmap_block[2 + k / 2] |= static_cast<std::uint8_t>(fill_[index + k] << (4 * (k % 2)));
}

std::vector<Bytes> HeapWriter::Finish() {
    std::vector<Bytes> out;
    for (std::size_t i = 0; i < blocks_.size(); ++i) out.push_back(Seal(i, i + 1 == blocks_.size()));
    blocks_.clear();
    StampHeader(out[0]);
    for (std::size_t i = 8; i < out.size(); i += 128) StampBitmap(out[i], i);
    return out;
}

void HeapWriter::WriteLeaf(std::size_t index, const Bytes& data) {
    if (leaf_bids_.size() <= index) {
        leaf_bids_.resize(index + 1, 0);
        leaf_sizes_.resize(index + 1, 0);
    }
    leaf_bids_[index] = sink_->WriteBlock(data, false);
    leaf_sizes_[index] = data.size();
}

void HeapWriter::SealAndSpill(std::size_t index, bool last) {
    Bytes data = Seal(index, last);
    if (index == 0 || IsBitmapBlock(index)) {
        held_[index] = std::move(data);
    } else {
        WriteLeaf(index, data);
    }
    // A bitmap block is complete once the last of the 128 blocks it describes is sealed.
    if (index >= 8 && (index - 8) % 128 == 127) {
        const std::size_t bitmap = index - 127;
        auto it = held_.find(bitmap);
        if (it == held_.end()) throw PstError("heap bitmap block lost");
        StampBitmap(it->second, bitmap);
        WriteLeaf(bitmap, it->second);
        held_.erase(it);
    }
}

std::uint64_t HeapWriter::FinishInto() {
    if (!sink_ || blocks_.empty()) throw PstError("heap without a sink");
    SealAndSpill(blocks_.size() - 1, true);
    const std::size_t count = blocks_.size();
    blocks_.clear();
    for (auto& [index, data] : held_) {
        if (index == 0) {
            StampHeader(data);
        } else {
            StampBitmap(data, index);
        }
        WriteLeaf(index, data);
    }
    held_.clear();
    if (leaf_bids_.size() != count) throw PstError("heap blocks missing");
    return sink_->LinkDataTree(leaf_bids_, leaf_sizes_);
}

HeapReader::HeapReader(std::vector<Bytes> blocks) : block_count_(blocks.size()) {
    for (std::size_t i = 0; i < blocks.size(); ++i) loaded_.push_back(Parse(i, std::move(blocks[i])));
    ReadHeader();
}

HeapReader::HeapReader(const ndb::Database& db, std::uint64_t bid_data) : db_(&db) {
    if (bid_data == 0) throw PstError("empty heap");
    bids_ = db.DataTreeBlocks(bid_data);
    block_count_ = bids_.size();
    loaded_.reserve(kBlocksKept);
    ReadHeader();
}

void HeapReader::ReadHeader() {
    if (block_count_ == 0) throw PstError("empty heap");
    const Loaded& first = Block(0);
    if (first.data.size() < sizeof(HNHDR)) throw PstError("empty heap");
    HNHDR hdr;
    std::memcpy(&hdr, first.data.data(), sizeof(hdr));
    if (hdr.bSig != kHnSig) throw PstError("heap signature mismatch");
    client_sig_ = hdr.bClientSig;
    user_root_ = hdr.hidUserRoot;
}

HeapReader::Loaded HeapReader::Parse(std::size_t index, Bytes data) {
    Loaded out;
    out.index = index;
    if (data.size() < 2) throw PstError("short heap block");
    std::size_t ib = LoadLe({data.data(), 2});
    if (ib + 4 > data.size()) throw PstError("heap page map outside its block");
    std::size_t count = LoadLe({data.data() + ib, 2});
    if (ib + 4 + (count + 1) * 2 > data.size()) throw PstError("heap page map too long");
    for (std::size_t i = 0; i <= count; ++i) {
        auto o = static_cast<std::uint16_t>(LoadLe({data.data() + ib + 4 + i * 2, 2}));
        if (o > ib || (!out.offsets.empty() && o < out.offsets.back())) throw PstError("heap allocation offsets");
        out.offsets.push_back(o);
    }
    out.data = std::move(data);
    return out;
}

const HeapReader::Loaded& HeapReader::Block(std::size_t index) const {
    if (!db_) return loaded_.at(index);
    Loaded* oldest = nullptr;
    for (auto& l : loaded_) {
        if (l.index == index) {
            l.used = ++clock_;
            return l;
        }
        if (!oldest || l.used < oldest->used) oldest = &l;
    }
    Loaded fresh = Parse(index, db_->ReadBlock(bids_[index]));
    fresh.used = ++clock_;
    if (loaded_.size() < kBlocksKept) {
        loaded_.push_back(std::move(fresh));
        return loaded_.back();
    }
    *oldest = std::move(fresh);
    return *oldest;
}

std::span<const std::uint8_t> HeapReader::Get(std::uint32_t hid) const {
    if (hid == 0) return {};
    if (!IsHid(hid)) throw PstError("not a heap id");
    std::size_t block = hid >> 16;
    std::size_t index = (hid >> 5) & 0x7FF;
    if (block >= block_count_) throw PstError("heap id out of range");
    const Loaded& b = Block(block);
    if (index == 0 || index >= b.offsets.size()) throw PstError("heap id out of range");
    std::size_t begin = b.offsets[index - 1], end = b.offsets[index];
    return {b.data.data() + begin, end - begin};
}

std::uint32_t WriteBth(HeapWriter& heap, std::uint8_t cb_key, std::uint8_t cb_ent, std::vector<BthRecord> records) {
    std::sort(records.begin(), records.end(),
              [](const BthRecord& a, const BthRecord& b) { return LoadLe(a.key) < LoadLe(b.key); });
    Bytes flat;
    flat.reserve(records.size() * (cb_key + cb_ent));
    for (const auto& r : records) {
        if (r.key.size() != cb_key || r.data.size() != cb_ent) throw PstError("BTH record size");
        flat.insert(flat.end(), r.key.begin(), r.key.end());
        flat.insert(flat.end(), r.data.begin(), r.data.end());
    }
    return WriteSortedBth(heap, cb_key, cb_ent, flat);
}

std::uint32_t WriteSortedBth(HeapWriter& heap, std::uint8_t cb_key, std::uint8_t cb_ent, const Bytes& records) {
    const std::size_t record_size = cb_key + cb_ent;
    if (record_size == 0 || records.size() % record_size != 0) throw PstError("BTH record size");
    SortedBthWriter writer(heap, cb_key, cb_ent);
    for (std::size_t off = 0; off < records.size(); off += record_size)
        writer.Add(std::span(records).subspan(off, record_size));
    return writer.Finish();
}

SortedBthWriter::SortedBthWriter(HeapWriter& heap, std::uint8_t cb_key, std::uint8_t cb_ent)
    : heap_(heap), cb_key_(cb_key), cb_ent_(cb_ent) {
    if (cb_key == 0 || cb_key > 8 || cb_ent == 0) throw PstError("BTH record size");
    per_leaf_ = kMaxHeapAlloc / (cb_key + cb_ent);
    header_hid_ = heap_.Reserve(sizeof(BTHHEADER));
}

void SortedBthWriter::Add(std::span<const std::uint8_t> record) {
    if (record.size() != std::size_t{cb_key_} + cb_ent_) throw PstError("BTH record size");
    leaf_.insert(leaf_.end(), record.begin(), record.end());
    if (leaf_.size() == per_leaf_ * record.size()) WriteLeaf();
}

void SortedBthWriter::WriteLeaf() {
    leaves_.push_back({LoadLe(std::span(leaf_).subspan(0, cb_key_)), heap_.Allocate(leaf_)});
    leaf_.clear();
}

std::uint32_t SortedBthWriter::Finish() {
    if (!leaf_.empty()) WriteLeaf();
    BTHHEADER header{kClientSigBth, cb_key_, cb_ent_, 0, 0};
    if (!leaves_.empty()) {
        std::vector<Node> level = std::move(leaves_);
        std::uint8_t levels = 0;
        const std::size_t per_index = kMaxHeapAlloc / (cb_key_ + 4u);
        while (level.size() > 1) {
            ++levels;
            std::vector<Node> up;
            for (std::size_t i = 0; i < level.size(); i += per_index) {
                Bytes index;
                for (std::size_t k = i; k < std::min(level.size(), i + per_index); ++k) {
                    AppendLe(index, level[k].key, cb_key_);
                    AppendLe(index, level[k].hid, 4);
                }
                up.push_back({level[i].key, heap_.Allocate(index)});
            }
            level = std::move(up);
        }
        header.bIdxLevels = levels;
        header.hidRoot = level[0].hid;
    }
    Bytes raw(sizeof(header));
    std::memcpy(raw.data(), &header, sizeof(header));
    heap_.Fill(header_hid_, raw);
    return header_hid_;
}

std::vector<BthRecord> ReadBth(const HeapReader& heap, std::uint32_t hid, std::uint8_t* cb_key, std::uint8_t* cb_ent) {
    std::vector<BthRecord> out;
    ForEachBthRecord(heap, hid, [&](std::span<const std::uint8_t> key, std::span<const std::uint8_t> data) {
        out.push_back({Bytes(key.begin(), key.end()), Bytes(data.begin(), data.end())});
    }, cb_key, cb_ent);
    return out;
}

void ForEachBthRecord(const HeapReader& heap, std::uint32_t hid,
                      const std::function<void(std::span<const std::uint8_t>, std::span<const std::uint8_t>)>& visit,
                      std::uint8_t* cb_key, std::uint8_t* cb_ent) {
    auto raw = heap.Get(hid);
    if (raw.size() < sizeof(BTHHEADER)) throw PstError("short BTH header");
    BTHHEADER h;
    std::memcpy(&h, raw.data(), sizeof(h));
    if (h.bType != kClientSigBth || h.cbKey == 0 || h.cbKey > 16 || h.cbEnt == 0 || h.cbEnt > 32 ||
        h.bIdxLevels > kMaxBthLevels)
        throw PstError("bad BTH header");
    if (cb_key) *cb_key = h.cbKey;
    if (cb_ent) *cb_ent = h.cbEnt;
    if (h.hidRoot == 0) return;
    bool any = false;
    std::uint64_t last = 0;
    auto walk = [&](auto&& self, std::uint32_t node, int level) -> void {
        // An index node is copied: reading its children may take its block out of memory.
        Bytes copy;
        auto data = heap.Get(node);
        if (level > 0) {
            copy.assign(data.begin(), data.end());
            data = copy;
        }
        const std::size_t size = level > 0 ? h.cbKey + 4u : h.cbKey + h.cbEnt;
        if (data.size() % size != 0) throw PstError("BTH node size");
        for (std::size_t off = 0; off < data.size(); off += size) {
            auto key = data.subspan(off, h.cbKey);
            if (level > 0) {
                self(self, static_cast<std::uint32_t>(LoadLe(data.subspan(off + h.cbKey, 4))), level - 1);
            } else {
                const std::uint64_t k = LoadLe(key);
                if (any && last >= k) throw PstError("BTH keys out of order");
                any = true;
                last = k;
                visit(key, data.subspan(off + h.cbKey, h.cbEnt));
            }
        }
    };
    walk(walk, h.hidRoot, h.bIdxLevels);
}

}  // namespace pst::ltp
