// Property contexts (PC) and table contexts (TC) over a heap. Values are kept in their stored
// byte form here (little-endian integers, UTF-16LE strings); value_codec.h converts them
// to and from the shared message model.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "store/pst/ltp/heap.h"
#include "store/pst/ndb/database.h"

namespace pst::ltp {

using PropTag = std::uint32_t;
using PropMap = std::map<PropTag, Bytes>;  // tag (id and type) -> stored bytes
// Large values in their stored form held by someone else (the message being stored), so that
// a node is built and written without a copy of them; they must outlive the built node.
using BorrowedValues = std::map<PropTag, std::span<const std::uint8_t>>;

constexpr PropTag kTagLtpRowId = 0x67F20003;
constexpr PropTag kTagLtpRowVer = 0x67F30003;

// Cuts data into blocks of at most per_block bytes.
std::vector<Bytes> SplitBlocks(std::span<const std::uint8_t> data, std::size_t per_block);

// Size of a value of this type when fixed (0 for variable-size types).
std::size_t FixedSize(std::uint16_t type);

// A node's content as built in memory: its heap blocks and the subnodes that hold values too
// large for the heap.
struct BuiltNode {
    std::vector<Bytes> blocks;
    // Or, when nonzero, the node's data tree already written to the file.
    std::uint64_t written_data = 0;
    // Subnode NID and its data, already cut into blocks.
    std::vector<std::pair<std::uint32_t, std::vector<Bytes>>> subnodes;
    // Subnode NID and the data tree already written to the file for it.
    std::vector<std::pair<std::uint32_t, std::uint64_t>> written_subnodes;
    // Subnode NID and the borrowed value it holds, cut into blocks only as it is written.
    std::vector<std::pair<std::uint32_t, std::span<const std::uint8_t>>> borrowed_subnodes;
};

using NidSource = std::function<std::uint32_t()>;

BuiltNode BuildPropertyContext(const PropMap& props, const NidSource& next_subnode_nid);
// The same with values that are not copied; a tag in both maps is taken from props.
BuiltNode BuildPropertyContext(const PropMap& props, const BorrowedValues& borrowed, const NidSource& next_subnode_nid);

struct TableColumn {
    PropTag tag = 0;
    std::uint16_t ib = 0;
    std::uint8_t cb = 0;
    std::uint8_t bit = 0;
};

struct TableRow {
    std::uint32_t row_id = 0;
    PropMap values;  // row id and version are added by the builder
};

BuiltNode BuildTableContext(const std::vector<PropTag>& columns, const std::vector<TableRow>& rows,
                            const NidSource& next_subnode_nid);
// The same for rows produced one at a time (large tables are kept packed by their owner).
// With a database, every full block of rows is written to it at once instead of being kept,
// and the row matrix is returned among the written subnodes.
BuiltNode BuildTableContext(const std::vector<PropTag>& columns, std::size_t row_count,
                            const std::function<TableRow(std::size_t)>& row_at, const NidSource& next_subnode_nid,
                            ndb::Database* row_sink = nullptr);

// A row packed into one buffer: tag, length, bytes for each value.
Bytes PackValues(const PropMap& values);
PropMap UnpackValues(std::span<const std::uint8_t> packed);

// Reading: a node's heap from its data tree and its subnode list for large values.
class NodeReader {
public:
    NodeReader(const ndb::Database& db, std::uint64_t bid_data, std::uint64_t bid_sub);
    const HeapReader& heap() const { return heap_; }
    // The bytes behind an HNID: a heap allocation or a subnode's data.
    Bytes Resolve(std::uint32_t hnid) const;
    // The data blocks of a subnode's data tree, by BID, in order.
    std::vector<std::uint64_t> SubnodeBlockIds(std::uint64_t nid) const;
    const ndb::Database& database() const { return db_; }
    const std::vector<ndb::SubnodeInfo>& subnodes() const { return subnodes_; }
    const ndb::SubnodeInfo* FindSubnode(std::uint64_t nid) const;

private:
    const ndb::Database& db_;
    HeapReader heap_;
    std::vector<ndb::SubnodeInfo> subnodes_;
};

PropMap ReadPropertyContext(const NodeReader& node);

struct Table {
    std::vector<TableColumn> columns;
    std::vector<TableRow> rows;  // in row order
};
Table ReadTableContext(const NodeReader& node);
// The same one row at a time, in row order, for tables too large to hold; returns the columns.
std::vector<TableColumn> ForEachTableRow(const NodeReader& node, const std::function<void(TableRow&&)>& visit);

// Layout of the row of a table with these columns (row id and version included).
std::vector<TableColumn> LayoutColumns(std::vector<PropTag> tags, std::uint16_t* row_size);

}  // namespace pst::ltp
