// Prints the nodes of a PST store with their property contexts and tables: a debugging aid.
// With --layout it prints instead where each heap keeps its structures (compare Outlook's stores).
#include <cstdio>
#include <cstring>
#include <exception>

#include "store/pst/ltp/context.h"

using namespace pst;

static void PrintValue(const ltp::Bytes& v) {
    std::printf(" [%zu]", v.size());
    for (std::size_t i = 0; i < v.size() && i < 48; ++i) std::printf(" %02x", v[i]);
}

static void DumpHeap(const ndb::Database& db, std::uint64_t bid_data, std::uint64_t bid_sub, const char* indent) {
    try {
        ltp::NodeReader node(db, bid_data, bid_sub);
        if (node.heap().client_sig() == ltp::kClientSigPc) {
            for (const auto& [tag, v] : ltp::ReadPropertyContext(node)) {
                std::printf("%s  %08x", indent, tag);
                PrintValue(v);
                std::printf("\n");
            }
        } else if (node.heap().client_sig() == ltp::kClientSigTc) {
            auto t = ltp::ReadTableContext(node);
            std::printf("%s  columns:", indent);
            for (const auto& c : t.columns) std::printf(" %08x@%u/%u/%u", c.tag, c.ib, c.cb, c.bit);
            std::printf("\n");
            for (const auto& r : t.rows) {
                std::printf("%s  row %x:", indent, r.row_id);
                for (const auto& [tag, v] : r.values) {
                    std::printf(" %08x", tag);
                    PrintValue(v);
                }
                std::printf("\n");
            }
        } else {
            std::printf("%s  heap client %02x\n", indent, node.heap().client_sig());
        }
    } catch (const std::exception& e) {
        auto raw = db.ReadDataTree(bid_data);
        std::printf("%s  (not a heap: %s) raw", indent, e.what());
        PrintValue(raw);
        std::printf("\n");
    }
}

// One line per heap: its kind, the HID of its root structure and, for a table, of its row index
// and row matrix (a subnode NID when not in the heap), and its block count.
static void PrintLayout(const ndb::Database& db, std::uint64_t nid, std::uint64_t bid_data, std::uint64_t bid_sub) {
    try {
        ltp::NodeReader node(db, bid_data, bid_sub);
        const auto& heap = node.heap();
        std::printf("%llx sig %02x root %x blocks %zu", (unsigned long long)nid, heap.client_sig(), heap.user_root(),
                    heap.block_count());
        if (heap.client_sig() == ltp::kClientSigTc) {
            auto info = heap.Get(heap.user_root());
            if (info.size() >= 22)
                std::printf(" rowindex %x rows %x", (unsigned)ltp::LoadLe(info.subspan(10, 4)),
                            (unsigned)ltp::LoadLe(info.subspan(14, 4)));
        }
        std::printf("\n");
    } catch (const std::exception&) {
    }
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const bool layout = argc > 2 && std::strcmp(argv[1], "--layout") == 0;
    if (layout) ++argv;
    try {
        auto db = ndb::Database::Open(argv[1], false);
        if (layout) {
            db->ForEachNode([&](const ndb::NodeInfo& n) {
                if (n.bid_data) PrintLayout(*db, n.nid, n.bid_data, n.bid_sub);
                for (const auto& s : db->ReadSubnodeTree(n.bid_sub))
                    if ((s.nid & 0x1f) != 0x1f && s.bid_data) PrintLayout(*db, s.nid, s.bid_data, s.bid_sub);
            });
            return 0;
        }
        db->ForEachNode([&](const ndb::NodeInfo& n) {
            std::printf("node %llx data %llx sub %llx parent %x\n", (unsigned long long)n.nid,
                        (unsigned long long)n.bid_data, (unsigned long long)n.bid_sub, n.nid_parent);
            if (n.bid_data) DumpHeap(*db, n.bid_data, n.bid_sub, "");
            for (const auto& s : db->ReadSubnodeTree(n.bid_sub)) {
                std::printf("  sub %llx data %llx sub %llx\n", (unsigned long long)s.nid,
                            (unsigned long long)s.bid_data, (unsigned long long)s.bid_sub);
                if ((s.nid & 0x1f) != 0x1f) DumpHeap(*db, s.bid_data, s.bid_sub, "  ");
            }
        });
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
}
