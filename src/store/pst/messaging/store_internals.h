// What the parts of the store share: the value helpers, the columns of the tables every store
// carries, and the in-memory shapes of folders and messages on their way to the file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "store/pst/ltp/value_codec.h"
#include "store/pst/messaging/message_identity.h"
#include "store/pst/messaging/row_spool.h"
#include "store/pst/messaging/store.h"
#include "store/pst/messaging/tags.h"

namespace pst::messaging {

using ltp::AppendLe;
using ltp::Bytes;
using ltp::LoadLe;
using ltp::PropMap;

constexpr int kMaxEmbeddingDepth = 32;
constexpr std::uint32_t kMsgFlagRead = 0x01;

inline const mapi::Guid kPsMapi = {0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                   0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
inline const mapi::Guid kPsPublicStrings = {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                            0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// Columns of the tables every store carries, as Outlook lays them out.
inline const std::vector<std::uint32_t> kHierarchyColumns = {0x0E300102, 0x0E330014, 0x0E340102, 0x0E380003, 0x3001001F,
                                                      0x36020003, 0x36030003, 0x360A000B, 0x3613001F, 0x66350003,
                                                      0x66360003};
inline const std::vector<std::uint32_t> kContentsColumns = {
    0x00170003, 0x001A001F, 0x00360003, 0x0037001F, 0x00390040, 0x0042001F, 0x0057000B, 0x0058000B,
    0x0070001F, 0x00710102, 0x0E03001F, 0x0E04001F, 0x0E060040, 0x0E070003, 0x0E080003, 0x0E170003,
    0x0E300102, 0x0E330014, 0x0E340102, 0x0E380003, 0x0E3C0102, 0x0E3D0102, 0x10970003, 0x30080040,
    0x30130102, 0x65C60003};
inline const std::vector<std::uint32_t> kAssocContentsColumns = {0x001A001F, 0x0E070003, 0x0E170003, 0x3001001F,
                                                          0x6800001F, 0x6803000B, 0x68051003, 0x682F001F,
                                                          0x70030003, 0x70040102, 0x70050102, 0x7006001F,
                                                          0x70070003};
inline const std::vector<std::uint32_t> kSearchContentsColumns = {
    0x00170003, 0x001A001F, 0x00360003, 0x0037001F, 0x0042001F, 0x0057000B, 0x0058000B,
    0x0E03001F, 0x0E04001F, 0x0E05001F, 0x0E060040, 0x0E070003, 0x0E080003, 0x0E170003,
    0x0E2A000B, 0x30080040, 0x67F10003};
inline const std::vector<std::uint32_t> kAttachmentColumns = {0x0E200003, 0x3704001F, 0x37050003, 0x370B0003};
inline const std::vector<std::uint32_t> kRecipientColumns = {0x0C150003, 0x0E0F000B, 0x0FF90102, 0x0FFE0003,
                                                      0x0FFF0102, 0x3001001F, 0x3002001F, 0x3003001F,
                                                      0x300B0102, 0x39000003, 0x39FF001F, 0x3A40000B};

inline Bytes Int32Bytes(std::uint32_t v) {
    Bytes b;
    AppendLe(b, v, 4);
    return b;
}
inline Bytes BoolBytes(bool v) { return Bytes{static_cast<std::uint8_t>(v ? 1 : 0)}; }
inline Bytes StringBytes(const std::string& s) { return ltp::Utf8ToUtf16(s); }

inline std::uint32_t GetInt32(const PropMap& m, std::uint32_t tag, std::uint32_t fallback = 0) {
    auto it = m.find(tag);
    return it != m.end() && it->second.size() == 4 ? static_cast<std::uint32_t>(LoadLe(it->second)) : fallback;
}

inline std::string GetString(const PropMap& m, std::uint32_t tag) {
    auto it = m.find(tag);
    return it == m.end() ? std::string() : ltp::Utf16ToUtf8(it->second);
}

inline std::uint32_t NidForSubnode(std::uint32_t type, std::uint32_t& counter) { return ndb::MakeNid(type, counter++); }

// A subnode as built for one message: its data blocks and its own subnodes.
struct SubnodeBuild {
    std::uint32_t nid = 0;
    std::vector<Bytes> blocks;
    std::vector<SubnodeBuild> children;
    // Or the value it holds, borrowed from the message (see ltp::BorrowedValues).
    std::span<const std::uint8_t> borrowed = {};
};

// Takes the blocks of the values' subnodes out of built.
inline std::vector<SubnodeBuild> ValueSubnodes(ltp::BuiltNode&& built) {
    std::vector<SubnodeBuild> out;
    out.reserve(built.subnodes.size() + built.borrowed_subnodes.size());
    for (auto& [nid, blocks] : built.subnodes) out.push_back({nid, std::move(blocks), {}, {}});
    for (const auto& [nid, value] : built.borrowed_subnodes) out.push_back({nid, {}, {}, value});
    built.subnodes.clear();
    built.borrowed_subnodes.clear();
    return out;
}

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

// A message as the nodes it is stored as, with the size it reports.
struct BuiltMessage {
    ltp::BuiltNode pc;
    std::vector<SubnodeBuild> subnodes;
    std::uint64_t size = 0;
    // Large values in their stored form that the nodes above refer to; the model's own binary
    // values are referred to where they are.
    std::vector<Bytes> kept;
};

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

}  // namespace pst::messaging
