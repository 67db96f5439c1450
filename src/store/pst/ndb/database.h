// The node database: a PST file's header, allocation maps, node and block B-trees, blocks,
// data trees and subnode trees. Blocks are written to disk as soon as they are made. The two
// B-tree indexes are kept in EntryIndex objects, which hold only their newest entries in memory
// and the rest in temporary files; with the allocation bitmap (one bit per 64 bytes of file)
// they are written back by Flush.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/output_device.h"
#include "platform/random_access_file.h"
#include "store/pst/ndb/allocation_bits.h"
#include "store/pst/ndb/entry_index.h"
#include "store/pst/ndb/format.h"
#include "store/pst/ndb/free_space.h"

namespace pst::ndb {

struct NodeInfo {
    std::uint64_t nid = 0;
    std::uint64_t bid_data = 0;
    std::uint64_t bid_sub = 0;
    std::uint32_t nid_parent = 0;
};

struct BlockInfo {
    std::uint64_t bid = 0;
    std::uint64_t ib = 0;
    std::uint16_t cb = 0;
    std::uint16_t ref = 0;
};

inline std::uint64_t IndexKey(const NodeInfo& n) { return n.nid; }
inline void SetIndexKey(NodeInfo& n, std::uint64_t key) { n.nid = key; }
inline std::uint64_t IndexKey(const BlockInfo& b) { return b.bid; }
inline void SetIndexKey(BlockInfo& b, std::uint64_t key) { b.bid = key; }

struct SubnodeInfo {
    std::uint64_t nid = 0;
    std::uint64_t bid_data = 0;
    std::uint64_t bid_sub = 0;
};

class Database {
public:
    // A new, empty store file (an existing file at path is replaced). Its writes go through
    // devices (none: the file itself).
    static std::unique_ptr<Database> Create(const std::string& path, CryptMethod method,
                                            const platform::DeviceFilter* devices = nullptr);
    // A store file that exists; writable opens it for adding nodes, written through devices.
    static std::unique_ptr<Database> Open(const std::string& path, bool writable,
                                          const platform::DeviceFilter* devices = nullptr);

    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    CryptMethod crypt_method() const { return crypt_; }
    std::uint64_t file_size() const { return file_eof_; }
    const HEADER& header() const { return header_; }
    bool writable() const { return writable_; }

    // Node B-tree.
    std::optional<NodeInfo> FindNode(std::uint64_t nid) const;
    void SetNode(const NodeInfo& node);  // adds or replaces
    void RemoveNode(std::uint64_t nid);
    std::size_t node_count() const { return nodes_.size(); }
    // Visits every node in NID order; the store must not change during the visit.
    template <typename Fn>
    void ForEachNode(Fn&& fn) const { nodes_.ForEach(std::forward<Fn>(fn)); }
    // The next unused NID of a type; reserve marks it used in the header's counters.
    std::uint32_t NewNid(std::uint32_t type);
    // Keeps new NIDs clear of every index the file's subnode trees use (reads them all).
    void ReserveSubnodeIndices();
    // Makes sure NIDs of a type are handed out from next_index on.
    void ReserveNids(std::uint32_t type, std::uint32_t next_index);

    // Block B-tree.
    std::optional<BlockInfo> FindBlock(std::uint64_t bid) const;
    std::size_t block_count() const { return blocks_.size(); }
    // Visits every block in BID order; the store must not change during the visit.
    template <typename Fn>
    void ForEachBlock(Fn&& fn) const { blocks_.ForEach(std::forward<Fn>(fn)); }

    // One block's data, decoded and with its trailer checked.
    std::vector<std::uint8_t> ReadBlock(std::uint64_t bid) const;
    // Writes one block (at most 8176 data bytes) and returns its BID.
    std::uint64_t WriteBlock(std::span<const std::uint8_t> data, bool internal);

    // A node's data stream of any size: one block, an XBLOCK or an XXBLOCK tree.
    std::uint64_t WriteDataTree(std::span<const std::uint8_t> data);
    // A data tree whose block boundaries the caller chose (a heap's pages, a table's rows).
    std::uint64_t WriteDataTreeBlocks(const std::vector<std::vector<std::uint8_t>>& blocks);
    // A data tree over data blocks already written, in order, with their sizes.
    std::uint64_t LinkDataTree(const std::vector<std::uint64_t>& leaves, const std::vector<std::uint64_t>& sizes);
    std::vector<std::uint8_t> ReadDataTree(std::uint64_t bid) const;
    // The data blocks of a data tree in order, without reading them.
    std::vector<std::uint64_t> DataTreeBlocks(std::uint64_t bid) const;
    // The decoded data blocks of a data tree, one vector per block.
    std::vector<std::vector<std::uint8_t>> ReadDataTreeBlocks(std::uint64_t bid) const;

    // A subnode tree: one SLBLOCK, or an SIBLOCK over SLBLOCKs. Entries any order.
    std::uint64_t WriteSubnodeTree(std::vector<SubnodeInfo> entries);
    std::vector<SubnodeInfo> ReadSubnodeTree(std::uint64_t bid) const;

    // Frees the blocks of a data tree or a subnode tree (with every subnode's own trees).
    void FreeDataTree(std::uint64_t bid);
    void FreeSubnodeTree(std::uint64_t bid);

    // Writes both B-trees, the allocation maps, the density list and the header (last).
    void Flush();

    // Raw access, for the structural checker.
    std::vector<std::uint8_t> ReadAt(std::uint64_t ib, std::size_t size) const;
    // Offsets of the B-tree pages of the file as read or last written.
    const std::vector<std::uint64_t>& btree_pages() const { return btree_pages_; }
    // Whether the 64-byte slot at a file offset is marked allocated in memory.
    bool IsAllocated(std::uint64_t ib) const;
    std::uint64_t amap_count() const { return amap_count_; }
    // Bytes inside the file free for new blocks and pages (known to a writable store only).
    std::uint64_t reusable_space() const { return free_.total(); }

    // How many index entries databases opened from now on keep in memory (0: the default).
    static void SetIndexMemoryLimitForTesting(std::size_t entries);

    // Where the map pages of the section starting at AMap n sit (0 when none).
    static std::uint64_t AMapOffset(std::uint64_t n);
    static std::uint64_t PMapOffset(std::uint64_t n);
    static std::uint64_t FMapOffset(std::uint64_t n);
    static std::uint64_t FPMapOffset(std::uint64_t n);

private:
    Database();
    void InitNew(CryptMethod method);
    void ReadHeader();
    void ReadBTree(std::uint64_t bid, std::uint64_t ib, std::uint8_t ptype, int depth,
                   std::uint64_t low_key, bool first);
    void LoadAMaps();
    void MarkReferenced(AllocationBits& bits) const;
    void ReleasePageReserve();
    void CollectFreeSpace();
    void EnsureUsedIndices();
    std::uint64_t Allocate(std::uint64_t size, bool page);
    void AddSection();
    void MarkMapPages(std::uint64_t n);
    static void MarkSlots(AllocationBits& bits, std::uint64_t ib, std::uint64_t size, bool used);
    void MarkRange(std::uint64_t ib, std::uint64_t size, bool used);
    void Release(std::uint64_t ib, std::uint64_t size);
    void FreeBlock(std::uint64_t bid);
    void WriteAt(std::uint64_t ib, std::span<const std::uint8_t> data);
    // size zeroed bytes at the end of the gathered writes, to be written at ib (the gathered
    // writes go to the file first when they do not end there); valid until the next write.
    std::span<std::uint8_t> PendingSpace(std::uint64_t ib, std::size_t size);
    void FlushPendingWhenFull();
    void WriteRaw(std::uint64_t ib, std::span<const std::uint8_t> data) const;
    void FlushPending() const;
    void WritePage(std::uint64_t ib, std::uint8_t* page, std::uint8_t ptype, std::uint64_t bid, bool signed_page);
    std::uint64_t WriteBTree(std::uint8_t ptype);
    void WriteMaps();
    void WriteDensityList();
    void WriteHeader();
    std::uint64_t NextBlockBid(bool internal);
    std::uint64_t WriteXBlocks(const std::vector<std::uint64_t>& leaves, const std::vector<std::uint64_t>& sizes);

    platform::RandomAccessFile file_;  // read through directly
    std::unique_ptr<platform::OutputDevice> device_;  // and written through this, on a writable store
    mutable platform::WriteFailure write_failure_ = platform::WriteFailure::kNone;  // the first write that failed
    bool writable_ = false;
    CryptMethod crypt_ = CryptMethod::Permute;
    HEADER header_{};
    std::uint64_t file_eof_ = 0;
    std::uint64_t amap_count_ = 0;
    std::uint64_t alloc_pos_ = 0;          // where the next appended allocation may start
    AllocationBits amap_;                  // one bit per 64 bytes from the first AMap, MSB first
    FreeSpace free_;                       // free runs below alloc_pos_, for new blocks and pages
    EntryIndex<NodeInfo> nodes_;
    EntryIndex<BlockInfo> blocks_;
    std::uint64_t last_read_key_ = 0;      // while a B-tree is read, the last leaf key
    std::vector<std::uint64_t> btree_pages_;
    std::uint64_t pages_read_ = 0;
    int root_level_ = 0;
    std::vector<std::uint32_t> used_indices_;  // NID indices found in the file, sorted
    bool used_indices_ready_ = false;
    mutable std::vector<std::uint8_t> pending_;  // gathered writes not yet in the file
    mutable std::uint64_t pending_at_ = 0;
};

}  // namespace pst::ndb
