#include "store/pst/messaging/checker.h"

#include <functional>

#include <algorithm>
#include <cstring>
#include <exception>
#include <map>
#include <set>
#include <sstream>

#include "store/pst/ltp/context.h"
#include "store/pst/messaging/tags.h"
#include "store/pst/ndb/crc.h"
#include "store/pst/ndb/database.h"

namespace pst {
namespace {

using ltp::Bytes;
using ltp::LoadLe;
using ndb::Database;

constexpr std::size_t kMaxFindings = 1000;

std::string Hex(std::uint64_t v) {
    std::ostringstream s;
    s << "0x" << std::hex << std::uppercase << v;
    return s.str();
}

class Checker {
public:
    Checker(CheckReport& report, const std::function<void(const CheckFinding&)>* each)
        : report_(report), each_(each) {}

    void Run(const std::string& path) {
        try {
            db_ = Database::Open(path, false);
        } catch (const std::exception& e) {
            Fail("UNREADABLE", e.what());
            return;
        }
        report_.nodes = db_->node_count();
        report_.blocks = db_->block_count();
        Guard("MAPS", [&] { CheckMapPages(); });
        Guard("BLOCKS", [&] { CheckBlocksAndReferences(); });
        Guard("ALLOCATION", [&] { CheckAllocation(); });
        Guard("DLIST", [&] { CheckDensityList(); });
        Guard("FOLDERS", [&] { CheckFolders(); });
    }

private:
    void Fail(const std::string& code, const std::string& detail) {
        if (each_ && *each_) (*each_)(CheckFinding{code, detail});
        if (report_.errors.size() < kMaxFindings) report_.errors.push_back({code, detail});
    }

    template <typename F>
    void Guard(const char* code, F&& f) {
        try {
            f();
        } catch (const std::exception& e) {
            Fail(code, e.what());
        }
    }

    // Map pages: type, checksum and BID at every place the file's size calls for one.
    void CheckMapPages() {
        auto check = [&](std::uint64_t ib, std::uint8_t ptype, const char* what) {
            auto raw = db_->ReadAt(ib, ndb::kPageSize);
            ndb::PAGETRAILER t;
            std::memcpy(&t, raw.data() + ndb::kPageDataSize, sizeof(t));
            if (t.ptype != ptype || t.ptypeRepeat != ptype) Fail("MAP_TYPE", std::string(what) + " at " + Hex(ib));
            if (t.dwCRC != ndb::ComputeCrc({raw.data(), ndb::kPageDataSize}))
                Fail("MAP_CRC", std::string(what) + " at " + Hex(ib));
            if (t.bid != ib) Fail("MAP_BID", std::string(what) + " at " + Hex(ib));
            return raw;
        };
        for (std::uint64_t n = 0; n < db_->amap_count(); ++n) {
            auto raw = check(Database::AMapOffset(n), ndb::kPtypeAMap, "AMap");
            amaps_.insert(amaps_.end(), raw.begin(), raw.begin() + ndb::kPageDataSize);
            if (auto ib = Database::PMapOffset(n)) check(ib, ndb::kPtypePMap, "PMap");
            if (auto ib = Database::FMapOffset(n)) check(ib, ndb::kPtypeFMap, "FMap");
            if (auto ib = Database::FPMapOffset(n)) check(ib, ndb::kPtypeFPMap, "FPMap");
        }
    }

    void Use(std::uint64_t ib, std::uint64_t size, const std::string& what) {
        const std::uint64_t first = (ib - ndb::kFirstAMapOffset) / ndb::kBlockAlign;
        const std::uint64_t count = (size + ndb::kBlockAlign - 1) / ndb::kBlockAlign;
        if (ib < ndb::kFirstAMapOffset || (first + count) > used_.size()) {
            Fail("OUTSIDE", what + " at " + Hex(ib) + " lies outside the mapped file");
            return;
        }
        for (std::uint64_t s = first; s < first + count; ++s) {
            if (used_[s]) {
                Fail("OVERLAP", what + " at " + Hex(ib) + " overlaps another page or block");
                return;
            }
            used_[s] = true;
        }
    }

    // Every block is sound and referenced, and referenced as often as its count says.
    void CheckBlocksAndReferences() {
        used_.assign(db_->amap_count() * ndb::kPageDataSize * 8, false);
        for (std::uint64_t n = 0; n < db_->amap_count(); ++n) {
            for (auto ib : {Database::AMapOffset(n), Database::PMapOffset(n), Database::FMapOffset(n),
                            Database::FPMapOffset(n)})
                if (ib) Use(ib, ndb::kPageSize, "map page");
        }
        for (auto ib : db_->btree_pages()) Use(ib, ndb::kPageSize, "B-tree page");
        // References per block, in BID order as the blocks are visited: ten bytes a block.
        std::vector<std::uint64_t> bids;
        std::vector<std::uint16_t> refs;
        db_->ForEachBlock([&](const ndb::BlockInfo& b) {
            const std::uint64_t size = ndb::BlockSize(b.cb);
            const std::uint64_t section_end =
                Database::AMapOffset((b.ib - ndb::kFirstAMapOffset) / ndb::kAMapCoverage + 1);
            if (b.ib % ndb::kBlockAlign != 0 || b.ib + size > section_end)
                Fail("BLOCK_PLACE", "block " + Hex(b.bid) + " crosses an allocation map boundary");
            Use(b.ib, size, "block " + Hex(b.bid));
            try {
                db_->ReadBlock(b.bid);
            } catch (const std::exception& e) {
                Fail("BLOCK", "block " + Hex(b.bid) + ": " + e.what());
            }
            bids.push_back(b.bid);
        });
        refs.assign(bids.size(), 0);
        auto ref = [&](std::uint64_t bid, const std::string& owner) {
            auto it = std::lower_bound(bids.begin(), bids.end(), bid & ~std::uint64_t{1});
            if (it == bids.end() || *it != (bid & ~std::uint64_t{1})) {
                Fail("BID_MISSING", owner + " refers to block " + Hex(bid) + " which is not in the block B-tree");
                return false;
            }
            auto& count = refs[static_cast<std::size_t>(it - bids.begin())];
            if (count < 0xFFFF) ++count;
            return true;
        };
        auto walk_data = [&](std::uint64_t bid, const std::string& owner) {
            if (bid == 0 || !ref(bid, owner)) return;
            if (!ndb::IsInternalBid(bid)) return;
            for (auto leaf : db_->DataTreeBlocks(bid)) ref(leaf, owner);
            // Intermediate XBLOCKs of an XXBLOCK are referenced by it.
            auto head = db_->ReadBlock(bid);
            if (head.size() >= 8 && head[1] == 2)
                for (std::size_t i = 0; i < LoadLe({head.data() + 2, 2}) && 8 + i * 8 + 8 <= head.size(); ++i)
                    ref(LoadLe({head.data() + 8 + i * 8, 8}), owner);
        };
        auto walk_sub = [&](auto&& self, std::uint64_t bid, const std::string& owner, int depth) -> void {
            if (bid == 0 || depth > 64 || !ref(bid, owner)) return;
            auto head = db_->ReadBlock(bid);
            if (head.size() >= 8 && head[1] == 1)
                for (std::size_t i = 0; i < LoadLe({head.data() + 2, 2}) && 8 + i * 16 + 16 <= head.size(); ++i)
                    ref(LoadLe({head.data() + 8 + i * 16 + 8, 8}), owner);
            for (const auto& s : db_->ReadSubnodeTree(bid)) {
                walk_data(s.bid_data, owner + " subnode " + Hex(s.nid));
                self(self, s.bid_sub, owner + " subnode " + Hex(s.nid), depth + 1);
            }
        };
        db_->ForEachNode([&](const ndb::NodeInfo& n) {
            const std::string owner = "node " + Hex(n.nid);
            try {
                walk_data(n.bid_data, owner);
                walk_sub(walk_sub, n.bid_sub, owner, 0);
            } catch (const std::exception& e) {
                Fail("NODE", owner + ": " + e.what());
            }
        });
        std::size_t at = 0;
        db_->ForEachBlock([&](const ndb::BlockInfo& b) {
            const auto count = at < refs.size() ? refs[at++] : 0;
            // A count above the references only keeps a block longer than needed (space that
            // Outlook reclaims in time); one below them would let a block in use be freed.
            if (count == 0) Fail("BLOCK_LEAK", "block " + Hex(b.bid) + " is referenced by nothing");
            else if (b.ref > count + 1)
                Fail("BLOCK_REFCOUNT_HIGH", "block " + Hex(b.bid) + " has count " + std::to_string(b.ref) + " for " +
                                                std::to_string(count) + " references");
            else if (b.ref != count + 1)
                Fail("BLOCK_REFCOUNT", "block " + Hex(b.bid) + " has count " + std::to_string(b.ref) + " for " +
                                           std::to_string(count) + " references");
        });
    }

    // The allocation maps mark exactly what pages and blocks occupy.
    void CheckAllocation() {
        std::uint64_t leaks = 0, unmarked = 0, first_leak = 0, first_unmarked = 0;
        for (std::uint64_t s = 0; s < used_.size() && s / 8 < amaps_.size(); ++s) {
            const bool marked = (amaps_[s / 8] & (0x80 >> (s % 8))) != 0;
            const std::uint64_t ib = ndb::kFirstAMapOffset + s * ndb::kBlockAlign;
            if (marked && !used_[s] && leaks++ == 0) first_leak = ib;
            if (!marked && used_[s] && unmarked++ == 0) first_unmarked = ib;
        }
        if (leaks) Fail("AMAP_LEAK", std::to_string(leaks * 64) + " bytes marked but unused, first at " + Hex(first_leak));
        if (unmarked)
            Fail("AMAP_MISSING", std::to_string(unmarked * 64) + " bytes used but not marked, first at " + Hex(first_unmarked));
        std::uint64_t free_bytes = 0;
        for (std::uint64_t s = 0; s < amaps_.size() * 8; ++s)
            if (!(amaps_[s / 8] & (0x80 >> (s % 8)))) free_bytes += ndb::kBlockAlign;
        if (free_bytes != db_->header().root.cbAMapFree)
            Fail("AMAP_FREE", "header says " + std::to_string(db_->header().root.cbAMapFree) + " free bytes, maps say " +
                                  std::to_string(free_bytes));
        if (db_->header().root.ibAMapLast != Database::AMapOffset(db_->amap_count() - 1))
            Fail("AMAP_LAST", "header's last AMap offset is wrong");
    }

    void CheckDensityList() {
        auto raw = db_->ReadAt(ndb::kDensityListOffset, ndb::kPageSize);
        ndb::DLISTPAGE page;
        std::memcpy(&page, raw.data(), sizeof(page));
        // Outlook versions before 2007 SP2 write no density list: the page stays all zeros.
        if (std::all_of(raw.begin(), raw.end(), [](std::uint8_t b) { return b == 0; })) {
            Fail("DLIST_ABSENT", "no density list at 0x4200 (as written by Outlook 2003 and 2007)");
            return;
        }
        if (page.pageTrailer.ptype != ndb::kPtypeDL || page.pageTrailer.ptypeRepeat != ndb::kPtypeDL)
            Fail("DLIST_TYPE", "no density list at 0x4200");
        if (page.pageTrailer.dwCRC != ndb::ComputeCrc({raw.data(), ndb::kPageDataSize})) Fail("DLIST_CRC", "density list checksum");
        if (page.cEntDList > 119) {
            Fail("DLIST_COUNT", "density list entry count");
            return;
        }
        std::uint32_t prev = 0xFFFFFFFF;
        for (std::size_t i = 0; i < page.cEntDList; ++i) {
            const std::uint32_t amap = page.rgDListPageEnt[i] & 0xFFFFF;
            const std::uint32_t free_slots = page.rgDListPageEnt[i] >> 20;
            if (free_slots > prev) Fail("DLIST_ORDER", "density list not in descending order of free slots");
            prev = free_slots;
            if (amap >= db_->amap_count()) {
                Fail("DLIST_PAGE", "density list names AMap " + std::to_string(amap) + " past the end");
                continue;
            }
            std::uint32_t actual = 0;
            for (std::size_t s = 0; s < ndb::kPageDataSize * 8; ++s)
                if (!(amaps_[amap * ndb::kPageDataSize + s / 8] & (0x80 >> (s % 8)))) ++actual;
            if (actual != free_slots)
                Fail("DLIST_FREE", "density list says AMap " + std::to_string(amap) + " has " + std::to_string(free_slots) +
                                       " free slots, it has " + std::to_string(actual));
        }
    }

    ltp::PropMap ReadPc(std::uint64_t nid) {
        auto node = db_->FindNode(nid);
        if (!node) throw PstError("node " + Hex(nid) + " missing");
        ltp::NodeReader r(*db_, node->bid_data, node->bid_sub);
        return ltp::ReadPropertyContext(r);
    }

    ltp::Table ReadTc(std::uint64_t nid) {
        auto node = db_->FindNode(nid);
        if (!node) throw PstError("table " + Hex(nid) + " missing");
        ltp::NodeReader r(*db_, node->bid_data, node->bid_sub);
        return ltp::ReadTableContext(r);
    }

    // A large table's rows one at a time (a folder may hold a hundred thousand messages).
    void ForEachTcRow(std::uint64_t nid, const std::function<void(ltp::TableRow&&)>& visit) {
        auto node = db_->FindNode(nid);
        if (!node) throw PstError("table " + Hex(nid) + " missing");
        ltp::NodeReader r(*db_, node->bid_data, node->bid_sub);
        ltp::ForEachTableRow(r, visit);
    }

    static std::int64_t Int(const ltp::PropMap& m, std::uint32_t tag, std::int64_t fallback = -1) {
        auto it = m.find(tag);
        if (it == m.end() || it->second.empty()) return fallback;
        return static_cast<std::int64_t>(LoadLe(it->second));
    }

    // Bytes a node occupies with everything under it.
    std::uint64_t StoredSize(std::uint64_t bid_data, std::uint64_t bid_sub, int depth = 0) {
        std::uint64_t n = 0;
        for (const auto& b : db_->ReadDataTreeBlocks(bid_data)) n += b.size();
        if (depth < 64)
            for (const auto& s : db_->ReadSubnodeTree(bid_sub)) n += StoredSize(s.bid_data, s.bid_sub, depth + 1);
        return n;
    }

    void CheckMessage(std::uint64_t nid, const ltp::PropMap& row) {
        auto node = db_->FindNode(nid);
        if (!node) {
            Fail("CT_ROW_ORPHAN", "contents row " + Hex(nid) + " names no message");
            return;
        }
        ++report_.messages;
        auto props = ReadPc(nid);
        const auto size = Int(props, mapi::PR_MESSAGE_SIZE);
        const auto stored = static_cast<std::int64_t>(StoredSize(node->bid_data, node->bid_sub));
        if (size != stored)
            Fail("MSG_SIZE", "message " + Hex(nid) + " says " + std::to_string(size) + " bytes, stores " + std::to_string(stored));
        for (const auto& [tag, value] : row) {
            if (tag == messaging::tag::kLtpRowId || tag == messaging::tag::kLtpRowVer) continue;
            auto it = props.find(tag);
            if (it == props.end() || it->second != value)
                Fail("CT_ROW_STALE", "contents row " + Hex(nid) + " disagrees with the message on " + Hex(tag));
        }
        ltp::NodeReader reader(*db_, node->bid_data, node->bid_sub);
        if (const auto* at = reader.FindSubnode(messaging::nid::kAttachmentTable)) {
            ltp::NodeReader tc(*db_, at->bid_data, at->bid_sub);
            for (const auto& r : ltp::ReadTableContext(tc).rows) {
                const auto* sub = reader.FindSubnode(r.row_id);
                if (!sub) {
                    Fail("ATTACH_MISSING", "message " + Hex(nid) + " lists attachment " + Hex(r.row_id) + " it lacks");
                    continue;
                }
                ltp::NodeReader apc(*db_, sub->bid_data, sub->bid_sub);
                auto a = ltp::ReadPropertyContext(apc);
                // The size may count renderings and properties too, but never less than the data.
                auto data = a.find(mapi::PR_ATTACH_DATA_BIN);
                const std::int64_t least = data == a.end() ? 0 : static_cast<std::int64_t>(data->second.size());
                if (Int(a, mapi::PR_ATTACH_SIZE) < least)
                    Fail("ATTACH_SIZE", "attachment " + Hex(r.row_id) + " of message " + Hex(nid) + " has no size or one below its data");
                if (!a.count(mapi::PR_ATTACH_METHOD) || !a.count(mapi::PR_RENDERING_POSITION))
                    Fail("ATTACH_PROPS", "attachment " + Hex(r.row_id) + " lacks its method or rendering position");
            }
        }
    }

    void CheckFolders() {
        std::map<std::uint64_t, std::vector<std::uint64_t>> messages_by_parent;
        std::vector<ndb::NodeInfo> folders;
        db_->ForEachNode([&](const ndb::NodeInfo& n) {
            if (ndb::NidType(n.nid) == ndb::kNidTypeNormalMessage) messages_by_parent[n.nid_parent].push_back(n.nid);
            if (ndb::NidType(n.nid) == ndb::kNidTypeNormalFolder) folders.push_back(n);
        });
        for (std::uint32_t required : {messaging::nid::kMessageStore, messaging::nid::kNameToIdMap,
                                       messaging::nid::kRootFolder, messaging::nid::kHierarchyTableTemplate,
                                       messaging::nid::kContentsTableTemplate, messaging::nid::kAssocContentsTableTemplate,
                                       messaging::nid::kSearchContentsTableTemplate, messaging::nid::kAttachmentTable,
                                       messaging::nid::kRecipientTable, messaging::nid::kSearchManagementQueue,
                                       messaging::nid::kSearchActivityList, messaging::nid::kSearchDomainObject})
            if (!db_->FindNode(required)) Fail("MANDATORY_NODE", "node " + Hex(required) + " is missing");
        for (const auto& n : folders) {
            ++report_.folders;
            const std::uint32_t index = ndb::NidIndex(n.nid);
            try {
                auto props = ReadPc(n.nid);
                auto hierarchy = ReadTc(ndb::MakeNid(ndb::kNidTypeHierarchyTable, index));
                ReadTc(ndb::MakeNid(ndb::kNidTypeAssocContentsTable, index));
                const bool flag = Int(props, messaging::tag::kSubfolders, 0) != 0;
                if (flag != !hierarchy.rows.empty())
                    Fail("SUBFOLDER_FLAG", "folder " + Hex(n.nid) + " has-subfolders flag disagrees with its hierarchy table");
                for (const auto& row : hierarchy.rows) {
                    auto child = db_->FindNode(row.row_id);
                    if (!child) {
                        Fail("HT_ROW_ORPHAN", "folder " + Hex(n.nid) + " lists subfolder " + Hex(row.row_id) + " that is missing");
                        continue;
                    }
                    if (child->nid_parent != n.nid) Fail("HT_PARENT", "subfolder " + Hex(row.row_id) + " has another parent");
                    auto child_props = ReadPc(row.row_id);
                    for (auto t : {mapi::PR_DISPLAY_NAME_W, messaging::tag::kContentCount, messaging::tag::kSubfolders})
                        if (row.values.count(t) && child_props[t] != row.values.at(t))
                            Fail("HT_ROW_STALE", "hierarchy row " + Hex(row.row_id) + " disagrees with the folder on " + Hex(t));
                }
                std::set<std::uint64_t> listed;
                std::int64_t unread = 0, rows = 0;
                ForEachTcRow(ndb::MakeNid(ndb::kNidTypeContentsTable, index), [&](ltp::TableRow&& row) {
                    ++rows;
                    listed.insert(row.row_id);
                    if (!(Int(row.values, mapi::PR_MESSAGE_FLAGS, 0) & 1)) ++unread;
                    CheckMessage(row.row_id, row.values);
                });
                if (Int(props, messaging::tag::kContentCount, 0) != rows)
                    Fail("CONTENT_COUNT", "folder " + Hex(n.nid) + " count disagrees with its contents table");
                if (Int(props, messaging::tag::kContentUnreadCount, 0) != unread)
                    Fail("UNREAD_COUNT", "folder " + Hex(n.nid) + " unread count disagrees with its contents table");
                for (auto m : messages_by_parent[n.nid])
                    if (!listed.count(m)) Fail("MSG_UNLISTED", "message " + Hex(m) + " is missing from its folder's contents table");
            } catch (const std::exception& e) {
                Fail("FOLDER", "folder " + Hex(n.nid) + ": " + e.what());
            }
        }
    }

    CheckReport& report_;
    const std::function<void(const CheckFinding&)>* each_ = nullptr;  // sees every finding, past the cap too
    std::unique_ptr<Database> db_;
    std::vector<std::uint8_t> amaps_;
    std::vector<bool> used_;
};

}  // namespace

bool IsMinorInconsistency(const std::string& code) {
    static const char* const kMinor[] = {"BLOCK_LEAK",    "AMAP_LEAK",      "MSG_SIZE",     "CT_ROW_STALE",  "AMAP_FREE",
                                         "AMAP_LAST",     "DLIST_FREE",     "DLIST_ORDER",  "CT_ROW_ORPHAN", "SUBFOLDER_FLAG",
                                         "HT_ROW_STALE",  "CONTENT_COUNT",  "UNREAD_COUNT", "MSG_UNLISTED",  "ATTACH_SIZE",
                                         "ATTACH_PROPS",  "DLIST_ABSENT",   "DLIST_CRC",    "BLOCK_REFCOUNT_HIGH"};
    for (const char* minor : kMinor)
        if (code == minor) return true;
    return false;
}

std::string CheckReport::ToText() const {
    std::ostringstream out;
    for (const auto& e : errors) out << "ERROR " << e.code << ": " << e.detail << "\n";
    out << (ok() ? "OK" : "FAILED") << ": " << errors.size() << " errors, " << nodes << " nodes, " << blocks
        << " blocks, " << folders << " folders, " << messages << " messages\n";
    return out.str();
}

CheckReport CheckPstFile(const std::string& path) {
    CheckReport report;
    Checker(report, nullptr).Run(path);
    return report;
}

CheckReport CheckPstFile(const std::string& path, const std::function<void(const CheckFinding&)>& each) {
    CheckReport report;
    Checker(report, &each).Run(path);
    return report;
}

}  // namespace pst
