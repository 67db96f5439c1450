// Prints the nodes of a PST store with their property contexts and tables: a debugging aid.
#include <cstdio>
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

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    try {
        auto db = ndb::Database::Open(argv[1], false);
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
