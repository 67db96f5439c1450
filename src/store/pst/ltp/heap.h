// Heap-on-node (HN) and the B-tree-on-heap (BTH) built inside it: the storage under every
// property context and table context.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <vector>

#include "store/pst/ndb/format.h"

namespace pst::ndb {
class Database;
}

namespace pst::ltp {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kHnSig = 0xEC;
constexpr std::uint8_t kClientSigBth = 0xB5;
constexpr std::uint8_t kClientSigTc = 0x7C;
constexpr std::uint8_t kClientSigPc = 0xBC;
constexpr std::size_t kMaxHeapAlloc = 3580;

#pragma pack(push, 1)
// HNHDR: the first block of a heap.
struct HNHDR {
    std::uint16_t ibHnpm;
    std::uint8_t bSig;
    std::uint8_t bClientSig;
    std::uint32_t hidUserRoot;
    std::uint8_t rgbFillLevel[4];
};
static_assert(sizeof(HNHDR) == 12);

// HNBITMAPHDR: blocks 8, 136, 264, ... of a heap.
struct HNBITMAPHDR {
    std::uint16_t ibHnpm;
    std::uint8_t rgbFillLevel[64];
};
static_assert(sizeof(HNBITMAPHDR) == 66);

// BTHHEADER: the root allocation of a BTH.
struct BTHHEADER {
    std::uint8_t bType;
    std::uint8_t cbKey;
    std::uint8_t cbEnt;
    std::uint8_t bIdxLevels;
    std::uint32_t hidRoot;
};
static_assert(sizeof(BTHHEADER) == 8);
#pragma pack(pop)

constexpr bool IsHid(std::uint32_t hnid) { return (hnid & 0x1F) == 0; }

// Builds a heap block by block; allocations never exceed kMaxHeapAlloc bytes.
class HeapWriter {
public:
    // With a sink, every block that can no longer change is written to it at once, so that
    // a heap of any size holds only its first block, its current bitmap block and the open one.
    explicit HeapWriter(std::uint8_t client_sig, ndb::Database* sink = nullptr);
    std::uint32_t Allocate(std::span<const std::uint8_t> bytes);
    // Takes room for an allocation whose bytes are known only later (a root structure that
    // readers expect first in the heap); Fill writes them. Only the first block can be filled
    // late, as it is the one block kept until the heap is finished.
    std::uint32_t Reserve(std::size_t size);
    void Fill(std::uint32_t hid, std::span<const std::uint8_t> bytes);
    void SetUserRoot(std::uint32_t hid) { user_root_ = hid; }
    // The heap's blocks, ready to become the node's data tree (without a sink).
    std::vector<Bytes> Finish();
    // With a sink: writes the blocks still held and returns the BID of the heap's data tree.
    std::uint64_t FinishInto();

private:
    struct Block {
        Bytes data;                        // header space, then the allocations back to back
        std::vector<std::uint16_t> starts;  // where each allocation begins
    };
    static std::size_t HeaderSize(std::size_t index);
    // Closes a block with its page map and records its fill level; all but the last are padded.
    Bytes Seal(std::size_t index, bool last);
    void StampHeader(Bytes& first) const;
    void StampBitmap(Bytes& bitmap_block, std::size_t index) const;
    void SealAndSpill(std::size_t index, bool last);
    void WriteLeaf(std::size_t index, const Bytes& data);
    std::uint8_t client_sig_;
    std::uint32_t user_root_ = 0;
    std::vector<Block> blocks_;
    std::vector<std::uint8_t> fill_;  // fill level of every sealed block
    ndb::Database* sink_ = nullptr;
    std::map<std::size_t, Bytes> held_;  // sealed blocks that still take fill levels
    std::vector<std::uint64_t> leaf_bids_, leaf_sizes_;
};

// Reads a heap from its blocks; every access is bounds-checked. A heap given by its data tree
// is read a block at a time when an allocation in it is asked for, and only the blocks used
// last stay in memory: a folder's contents table may span thousands of blocks. A span returned
// by Get stays valid until the next Get.
class HeapReader {
public:
    explicit HeapReader(std::vector<Bytes> blocks);
    HeapReader(const ndb::Database& db, std::uint64_t bid_data);
    std::uint8_t client_sig() const { return client_sig_; }
    std::uint32_t user_root() const { return user_root_; }
    // The bytes of an allocation; an empty span for HID 0.
    std::span<const std::uint8_t> Get(std::uint32_t hid) const;
    std::size_t block_count() const { return block_count_; }

private:
    struct Loaded {
        std::size_t index = 0;
        Bytes data;
        std::vector<std::uint16_t> offsets;  // rgibAlloc
        std::uint64_t used = 0;
    };
    static constexpr std::size_t kBlocksKept = 16;
    const Loaded& Block(std::size_t index) const;
    static Loaded Parse(std::size_t index, Bytes data);
    void ReadHeader();

    const ndb::Database* db_ = nullptr;
    std::vector<std::uint64_t> bids_;  // the data blocks, when read from the file
    std::size_t block_count_ = 0;
    mutable std::vector<Loaded> loaded_;  // all blocks when given in memory, else the last used
    mutable std::uint64_t clock_ = 0;
    std::uint8_t client_sig_ = 0;
    std::uint32_t user_root_ = 0;
};

// A BTH: records of fixed-size keys and data, sorted by key (compared as little-endian integers).
struct BthRecord {
    Bytes key;
    Bytes data;
};

// Writes the records (sorted here) into the heap and returns the HID of the BTH header, which is
// taken before the records: in a fresh heap it is the first allocation (HID 0x20).
std::uint32_t WriteBth(HeapWriter& heap, std::uint8_t cb_key, std::uint8_t cb_ent, std::vector<BthRecord> records);
// The same for records already sorted and laid end to end (key, data, key, data, ...).
std::uint32_t WriteSortedBth(HeapWriter& heap, std::uint8_t cb_key, std::uint8_t cb_ent, const Bytes& records);

// Writes a BTH from records given one at a time in key order: each leaf goes into the heap as
// soon as it is full, so only the leaves' first keys are kept until the index above is built.
class SortedBthWriter {
public:
    // Reserves the BTH header at once, so that a BTH begun first in its heap has it at HID 0x20.
    SortedBthWriter(HeapWriter& heap, std::uint8_t cb_key, std::uint8_t cb_ent);
    std::uint32_t header_hid() const { return header_hid_; }
    void Add(std::span<const std::uint8_t> record);
    // Writes the index levels and the header; returns the header's HID.
    std::uint32_t Finish();

private:
    struct Node {
        std::uint64_t key;
        std::uint32_t hid;
    };
    void WriteLeaf();

    HeapWriter& heap_;
    std::uint8_t cb_key_, cb_ent_;
    std::size_t per_leaf_;
    std::uint32_t header_hid_ = 0;
    Bytes leaf_;
    std::vector<Node> leaves_;
};
// Reads every record of the BTH whose header is at hid.
std::vector<BthRecord> ReadBth(const HeapReader& heap, std::uint32_t hid, std::uint8_t* cb_key = nullptr,
                               std::uint8_t* cb_ent = nullptr);
// The same one record at a time, in key order, without copying.
void ForEachBthRecord(const HeapReader& heap, std::uint32_t hid,
                      const std::function<void(std::span<const std::uint8_t>, std::span<const std::uint8_t>)>& visit,
                      std::uint8_t* cb_key = nullptr, std::uint8_t* cb_ent = nullptr);

// Little-endian integer of up to 8 bytes.
std::uint64_t LoadLe(std::span<const std::uint8_t> bytes);
// The low out.size() bytes (up to 8) of value into out.
void StoreLe(std::span<std::uint8_t> out, std::uint64_t value);
void AppendLe(Bytes& out, std::uint64_t value, std::size_t size);

}  // namespace pst::ltp
