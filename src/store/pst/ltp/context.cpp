#include "store/pst/ltp/context.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace pst::ltp {
namespace {

struct RowNumber {
    std::uint64_t row_id;
    std::uint64_t row;
};
std::uint64_t IndexKey(const RowNumber& r) { return r.row_id; }
[[maybe_unused]] void SetIndexKey(RowNumber& r, std::uint64_t key) { r.row_id = key; }

#pragma pack(push, 1)
// TCINFO without its column descriptors.
struct TCINFO {
    std::uint8_t bType;
    std::uint8_t cCols;
    std::uint16_t rgib[4];
    std::uint32_t hidRowIndex;
    std::uint32_t hnidRows;
    std::uint32_t hidIndex;
};
static_assert(sizeof(TCINFO) == 22);
struct TCOLDESC {
    std::uint32_t tag;
    std::uint16_t ibData;
    std::uint8_t cbData;
    std::uint8_t iBit;
};
static_assert(sizeof(TCOLDESC) == 8);
#pragma pack(pop)

constexpr std::size_t kTci4b = 0, kTci2b = 1, kTci1b = 2, kTciBm = 3;

std::uint16_t TypeOf(PropTag tag) { return static_cast<std::uint16_t>(tag & 0xFFFF); }

// Where a variable-size value goes: the heap when small, a subnode otherwise; a borrowed value
// in a subnode is referred to, not copied.
std::uint32_t StoreValue(HeapWriter& heap, BuiltNode& node, std::span<const std::uint8_t> value, bool borrowed,
                         const NidSource& next_nid) {
    if (value.empty()) return 0;
    if (value.size() <= kMaxHeapAlloc) return heap.Allocate(value);
    std::uint32_t nid = next_nid();
    if (borrowed) {
        node.borrowed_subnodes.emplace_back(nid, value);
    } else {
        node.subnodes.emplace_back(nid, SplitBlocks(value, ndb::kMaxBlockData));
    }
    return nid;
}

// Size of a column's cell in a row.
std::uint8_t CellSize(std::uint16_t type) {
    std::size_t fixed = FixedSize(type);
    if (fixed == 1 || fixed == 2 || fixed == 4 || fixed == 8) return static_cast<std::uint8_t>(fixed);
    return 4;  // an HNID
}

}  // namespace

std::size_t FixedSize(std::uint16_t type) {
    switch (type) {
        case 0x0002: return 2;
        case 0x0003: case 0x0004: case 0x000A: return 4;
        case 0x000B: return 1;
        case 0x0005: case 0x0006: case 0x0007: case 0x0014: case 0x0040: return 8;
        case 0x0048: return 16;
        default: return 0;
    }
}

BuiltNode BuildPropertyContext(const PropMap& props, const NidSource& next_nid) {
    return BuildPropertyContext(props, BorrowedValues{}, next_nid);
}

BuiltNode BuildPropertyContext(const PropMap& props, const BorrowedValues& borrowed, const NidSource& next_nid) {
    struct Value {
        PropTag tag;
        std::span<const std::uint8_t> bytes;
        bool borrowed;
    };
    std::vector<Value> values;
    values.reserve(props.size() + borrowed.size());
    for (const auto& [tag, value] : props) values.push_back({tag, value, false});
    for (const auto& [tag, value] : borrowed)
        if (!props.count(tag)) values.push_back({tag, value, true});
    std::sort(values.begin(), values.end(), [](const Value& a, const Value& b) { return a.tag < b.tag; });
    BuiltNode node;
    HeapWriter heap(kClientSigPc);
    // The BTH header comes first (HID 0x20), as in Outlook's stores: some readers look for it there.
    SortedBthWriter bth(heap, 2, 6);
    std::uint32_t last_id = 0x10000;
    for (const auto& [tag, value, is_borrowed] : values) {
        if (last_id != 0x10000 && (tag >> 16) == last_id) throw PstError("property stored twice with two types");
        last_id = tag >> 16;
        const std::uint16_t type = TypeOf(tag);
        const std::size_t fixed = FixedSize(type);
        std::uint32_t hnid = 0;
        if (fixed != 0 && fixed <= 4) {
            if (value.size() != fixed) throw PstError("property value of the wrong size");
            hnid = static_cast<std::uint32_t>(LoadLe(value));
        } else {
            if (fixed != 0 && value.size() != fixed) throw PstError("property value of the wrong size");
            hnid = StoreValue(heap, node, value, is_borrowed, next_nid);
        }
        // On the stack: grown step by step in a vector, the eight bytes cost three allocations
        // per property of every message.
        const std::uint16_t id = static_cast<std::uint16_t>(tag >> 16);
        std::array<std::uint8_t, 8> record;
        std::memcpy(record.data(), &id, 2);  // the host is little-endian
        std::memcpy(record.data() + 2, &type, 2);
        std::memcpy(record.data() + 4, &hnid, 4);
        bth.Add(record);  // sorted above, so in property id order
    }
    heap.SetUserRoot(bth.Finish());
    node.blocks = heap.Finish();
    return node;
}

std::vector<TableColumn> LayoutColumns(std::vector<PropTag> tags, std::uint16_t* row_size) {
    tags.erase(std::remove_if(tags.begin(), tags.end(),
                              [](PropTag t) { return t == kTagLtpRowId || t == kTagLtpRowVer; }),
               tags.end());
    std::sort(tags.begin(), tags.end());
    tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
    std::vector<TableColumn> cols;
    std::uint16_t ib = 0;
    std::uint8_t bit = 0;
    auto place = [&](PropTag tag) {
        std::uint8_t cb = CellSize(TypeOf(tag));
        cols.push_back({tag, ib, cb, bit++});
        ib = static_cast<std::uint16_t>(ib + cb);
    };
    place(kTagLtpRowId);
    place(kTagLtpRowVer);
    for (std::uint8_t size : {8, 4, 2, 1}) {
        for (PropTag t : tags)
            if (CellSize(TypeOf(t)) == size) place(t);
    }
    *row_size = static_cast<std::uint16_t>(ib + (cols.size() + 7) / 8);
    return cols;
}

BuiltNode BuildTableContext(const std::vector<PropTag>& tags, const std::vector<TableRow>& rows,
                            const NidSource& next_nid) {
    return BuildTableContext(tags, rows.size(), [&](std::size_t i) { return rows[i]; }, next_nid);
}

Bytes PackValues(const PropMap& values) {
    Bytes out;
    for (const auto& [tag, v] : values) {
        AppendLe(out, tag, 4);
        AppendLe(out, v.size(), 4);
        out.insert(out.end(), v.begin(), v.end());
    }
    return out;
}

PropMap UnpackValues(std::span<const std::uint8_t> packed) {
    PropMap out;
    std::size_t off = 0;
    while (off + 8 <= packed.size()) {
        auto tag = static_cast<PropTag>(LoadLe(packed.subspan(off, 4)));
        std::size_t len = LoadLe(packed.subspan(off + 4, 4));
        off += 8;
        if (len > packed.size() - off) throw PstError("packed row truncated");
        out[tag] = Bytes(packed.begin() + off, packed.begin() + off + len);
        off += len;
    }
    return out;
}

BuiltNode BuildTableContext(const std::vector<PropTag>& tags, std::size_t row_count,
                            const std::function<TableRow(std::size_t)>& row_at, const NidSource& next_nid,
                            ndb::Database* row_sink) {
    BuiltNode node;
    HeapWriter heap(kClientSigTc, row_sink);
    std::uint16_t row_size = 0;
    auto cols = LayoutColumns(tags, &row_size);
    // As in Outlook's stores, the row index's BTH header comes first (HID 0x20), where some
    // readers look for it, and the table header next (0x40), filled in once the rows are placed.
    SortedBthWriter row_index(heap, 4, 4);
    const std::uint32_t hid_info = heap.Reserve(sizeof(TCINFO) + cols.size() * sizeof(TCOLDESC));
    std::uint16_t end4 = 0, end2 = 0, end1 = 0;
    for (const auto& c : cols) {
        std::uint16_t end = static_cast<std::uint16_t>(c.ib + c.cb);
        if (c.cb >= 4) end4 = std::max(end4, end);
        if (c.cb == 2) end2 = std::max(end2, end);
        if (c.cb == 1) end1 = std::max(end1, end);
    }
    end2 = std::max(end2, end4);
    end1 = std::max(end1, end2);

    // Rows: fixed cells in place, variable values in the heap, the cell existence bitmap last.
    // Rows go straight into the blocks they are stored in: each block holds as many whole rows
    // as fit, and every block but the last is padded to full size.
    const std::size_t rows_per_block = ndb::kMaxBlockData / row_size;
    std::vector<Bytes> row_blocks;
    std::vector<std::uint64_t> written_bids, written_sizes;  // row blocks already in the file
    auto write_out = [&](Bytes& block) {
        written_bids.push_back(row_sink->WriteBlock(block, false));
        written_sizes.push_back(block.size());
        Bytes().swap(block);
    };
    // Row id to row number, in row id order; kept outside memory when the table is large.
    ndb::EntryIndex<RowNumber> index(4096);
    Bytes row(row_size, 0);
    for (std::size_t r = 0; r < row_count; ++r) {
        const TableRow current = row_at(r);
        std::fill(row.begin(), row.end(), 0);
        for (const auto& c : cols) {
            const Bytes* value = nullptr;
            Bytes id_bytes;
            if (c.tag == kTagLtpRowId) {
                AppendLe(id_bytes, current.row_id, 4);
                value = &id_bytes;
            } else {
                auto it = current.values.find(c.tag);
                if (it != current.values.end()) value = &it->second;
                if (c.tag == kTagLtpRowVer && !value) {
                    AppendLe(id_bytes, 0, 4);
                    value = &id_bytes;
                }
            }
            if (!value) continue;
            const std::size_t fixed = FixedSize(TypeOf(c.tag));
            if (fixed != 0 && fixed == c.cb) {
                if (value->size() != fixed) throw PstError("table cell of the wrong size");
                std::memcpy(row.data() + c.ib, value->data(), fixed);
            } else {
                std::uint32_t hnid = StoreValue(heap, node, *value, false, next_nid);
                std::memcpy(row.data() + c.ib, &hnid, 4);
            }
            row[end1 + c.bit / 8] |= static_cast<std::uint8_t>(0x80 >> (c.bit % 8));
        }
        if (r % rows_per_block == 0) {
            if (!row_blocks.empty()) row_blocks.back().resize(ndb::kMaxBlockData, 0);
            if (row_sink && !row_blocks.empty()) {
                write_out(row_blocks.back());
                row_blocks.pop_back();
            }
            row_blocks.emplace_back();
            row_blocks.back().reserve(ndb::kMaxBlockData);
        }
        row_blocks.back().insert(row_blocks.back().end(), row.begin(), row.end());
        index.Put({current.row_id, r});
    }
    index.ForEach([&](const RowNumber& entry) {
        Bytes record;
        AppendLe(record, entry.row_id, 4);
        AppendLe(record, entry.row, 4);
        row_index.Add(record);
    });
    const std::uint32_t hid_index = row_index.Finish();
    std::uint32_t hnid_rows = 0;
    if (!written_bids.empty()) {
        for (auto& b : row_blocks) write_out(b);
        row_blocks.clear();
        hnid_rows = next_nid();
        node.written_subnodes.emplace_back(hnid_rows, row_sink->LinkDataTree(written_bids, written_sizes));
    } else if (row_blocks.size() == 1 && row_blocks[0].size() <= kMaxHeapAlloc) {
        hnid_rows = heap.Allocate(row_blocks[0]);
    } else if (!row_blocks.empty()) {
        hnid_rows = next_nid();
        node.subnodes.emplace_back(hnid_rows, std::move(row_blocks));
    }
    Bytes info(sizeof(TCINFO) + cols.size() * sizeof(TCOLDESC));
    TCINFO ti{kClientSigTc, static_cast<std::uint8_t>(cols.size()), {end4, end2, end1, row_size}, hid_index, hnid_rows, 0};
    std::memcpy(info.data(), &ti, sizeof(ti));
    auto sorted = cols;
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.tag < b.tag; });
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        TCOLDESC d{sorted[i].tag, sorted[i].ib, sorted[i].cb, sorted[i].bit};
        std::memcpy(info.data() + sizeof(ti) + i * sizeof(d), &d, sizeof(d));
    }
    heap.Fill(hid_info, info);
    heap.SetUserRoot(hid_info);
    if (row_sink) {
        node.written_data = heap.FinishInto();
    } else {
        node.blocks = heap.Finish();
    }
    return node;
}

NodeReader::NodeReader(const ndb::Database& db, std::uint64_t bid_data, std::uint64_t bid_sub)
    : db_(db), heap_(db, bid_data), subnodes_(db.ReadSubnodeTree(bid_sub)) {}

const ndb::SubnodeInfo* NodeReader::FindSubnode(std::uint64_t nid) const {
    auto it = std::lower_bound(subnodes_.begin(), subnodes_.end(), nid,
                               [](const ndb::SubnodeInfo& s, std::uint64_t key) { return s.nid < key; });
    if (it == subnodes_.end() || it->nid != nid) return nullptr;
    return &*it;
}

std::vector<std::uint64_t> NodeReader::SubnodeBlockIds(std::uint64_t nid) const {
    const auto* sub = FindSubnode(nid);
    if (!sub) throw PstError("subnode missing");
    return db_.DataTreeBlocks(sub->bid_data);
}

std::vector<Bytes> SplitBlocks(std::span<const std::uint8_t> data, std::size_t per_block) {
    std::vector<Bytes> out;
    for (std::size_t off = 0; off < data.size(); off += per_block)
        out.emplace_back(data.begin() + off, data.begin() + std::min(data.size(), off + per_block));
    if (out.empty()) out.emplace_back();
    return out;
}

Bytes NodeReader::Resolve(std::uint32_t hnid) const {
    if (hnid == 0) return {};
    if (IsHid(hnid)) {
        auto span = heap_.Get(hnid);
        return Bytes(span.begin(), span.end());
    }
    const auto* sub = FindSubnode(hnid);
    if (!sub) throw PstError("value subnode missing");
    return db_.ReadDataTree(sub->bid_data);
}

PropMap ReadPropertyContext(const NodeReader& node) {
    if (node.heap().client_sig() != kClientSigPc) throw PstError("not a property context");
    std::uint8_t cb_key = 0, cb_ent = 0;
    auto records = ReadBth(node.heap(), node.heap().user_root(), &cb_key, &cb_ent);
    if (cb_key != 2 || cb_ent != 6) throw PstError("property context record size");
    PropMap out;
    for (const auto& r : records) {
        auto id = static_cast<std::uint32_t>(LoadLe(r.key));
        auto type = static_cast<std::uint16_t>(LoadLe({r.data.data(), 2}));
        auto hnid = static_cast<std::uint32_t>(LoadLe({r.data.data() + 2, 4}));
        const std::size_t fixed = FixedSize(type);
        Bytes value;
        if (fixed != 0 && fixed <= 4) {
            AppendLe(value, hnid, fixed);
        } else {
            value = node.Resolve(hnid);
        }
        out[(id << 16) | type] = std::move(value);
    }
    return out;
}

Table ReadTableContext(const NodeReader& node) {
    Table table;
    table.columns = ForEachTableRow(node, [&](TableRow&& row) { table.rows.push_back(std::move(row)); });
    return table;
}

std::vector<TableColumn> ForEachTableRow(const NodeReader& node, const std::function<void(TableRow&&)>& visit) {
    const auto& heap = node.heap();
    if (heap.client_sig() != kClientSigTc) throw PstError("not a table context");
    auto raw = heap.Get(heap.user_root());
    if (raw.size() < sizeof(TCINFO)) throw PstError("short table header");
    TCINFO ti;
    std::memcpy(&ti, raw.data(), sizeof(ti));
    if (ti.bType != kClientSigTc || raw.size() < sizeof(ti) + ti.cCols * sizeof(TCOLDESC))
        throw PstError("bad table header");
    if (ti.rgib[kTci4b] > ti.rgib[kTci2b] || ti.rgib[kTci2b] > ti.rgib[kTci1b] || ti.rgib[kTci1b] > ti.rgib[kTciBm] ||
        ti.rgib[kTciBm] == 0 || ti.rgib[kTciBm] - ti.rgib[kTci1b] < (ti.cCols + 7) / 8)
        throw PstError("bad table row layout");
    std::vector<TableColumn> columns;
    for (std::size_t i = 0; i < ti.cCols; ++i) {
        TCOLDESC d;
        std::memcpy(&d, raw.data() + sizeof(ti) + i * sizeof(d), sizeof(d));
        if (d.ibData + d.cbData > ti.rgib[kTci1b] || d.iBit / 8 >= ti.rgib[kTciBm] - ti.rgib[kTci1b])
            throw PstError("table column outside the row");
        columns.push_back({d.tag, d.ibData, d.cbData, d.iBit});
    }
    const std::size_t row_size = ti.rgib[kTciBm];
    // The row matrix: in the heap for a small table, else in a subnode's blocks, read one at a
    // time. Rows never straddle blocks; a block's tail shorter than a row is padding.
    Bytes in_heap;
    std::vector<std::uint64_t> row_blocks;
    std::vector<std::uint64_t> first_row{0};  // first row of each block, then the row count
    if (ti.hnidRows != 0) {
        if (IsHid(ti.hnidRows)) {
            auto span = heap.Get(ti.hnidRows);
            in_heap.assign(span.begin(), span.end());
            first_row.push_back(in_heap.size() / row_size);
        } else {
            row_blocks = node.SubnodeBlockIds(ti.hnidRows);
            for (auto bid : row_blocks) {
                auto info = node.database().FindBlock(bid);
                if (!info) throw PstError("table row block not in the block B-tree");
                first_row.push_back(first_row.back() + info->cb / row_size);
            }
        }
    }
    const std::uint64_t row_count = first_row.back();
    // The row id of every row, from the row index; a row no index entry names is not part of the table.
    constexpr std::uint64_t kNoRow = ~std::uint64_t{0};
    std::vector<std::uint64_t> row_ids(row_count, kNoRow);
    ForEachBthRecord(heap, ti.hidRowIndex, [&](std::span<const std::uint8_t> key, std::span<const std::uint8_t> data) {
        if (key.size() != 4 || data.size() < 4) throw PstError("table row index record size");
        auto r = static_cast<std::size_t>(LoadLe(data.subspan(0, 4)));
        if (r >= row_count) throw PstError("table row index points past the rows");
        row_ids[r] = LoadLe(key);
    });
    std::size_t block = 0;
    Bytes current = std::move(in_heap);
    bool loaded = row_blocks.empty();
    for (std::size_t r = 0; r < row_count; ++r) {
        while (r >= first_row[block + 1]) {
            ++block;
            loaded = false;
        }
        if (row_ids[r] == kNoRow) continue;
        if (!loaded) {
            current = node.database().ReadBlock(row_blocks[block]);
            loaded = true;
        }
        const std::size_t at = (r - first_row[block]) * row_size;
        if (at + row_size > current.size()) throw PstError("table row outside its block");
        const std::uint8_t* row = current.data() + at;
        TableRow out;
        out.row_id = static_cast<std::uint32_t>(row_ids[r]);
        for (const auto& c : columns) {
            if (!(row[ti.rgib[kTci1b] + c.bit / 8] & (0x80 >> (c.bit % 8)))) continue;
            const std::uint16_t type = TypeOf(c.tag);
            const std::size_t fixed = FixedSize(type);
            std::span<const std::uint8_t> cell(row + c.ib, c.cb);
            if (fixed != 0 && fixed == c.cb) {
                out.values[c.tag] = Bytes(cell.begin(), cell.end());
            } else if (c.cb == 4) {
                out.values[c.tag] = node.Resolve(static_cast<std::uint32_t>(LoadLe(cell)));
            } else {
                throw PstError("table cell size does not fit its type");
            }
        }
        visit(std::move(out));
    }
    return columns;
}

}  // namespace pst::ltp
