// Adding messages to folders (once each, by their identity) and reading them back.
#include <map>

#include "store/mapi/prop_tags.h"
#include "store/pst/messaging/store_internals.h"

namespace pst::messaging {

namespace {

// The search key a message is stored with: its own when it has an Internet Message-ID, else its
// content digest. The key the MIME import gives a message without a Message-ID comes from its
// date and subject alone; kept, it would take two different messages of one subject and date
// for the same one, and the second would never reach the store.
Bytes SearchKeyFor(const mapi::Message& message) {
    const auto message_id = message.props.GetString(mapi::PR_INTERNET_MESSAGE_ID_W);
    if (message_id && !message_id->empty())
        if (const auto* own = message.props.GetBinary(mapi::PR_SEARCH_KEY); own && !own->empty()) return *own;
    return ContentDigest(message);
}

// The identity of a message about to be stored with this search key.
std::optional<MessageIdentity> IdentityOfNew(const mapi::Message& message, const Bytes& search_key) {
    PropMap props;
    for (const auto& [t, v] : message.props.all()) {
        // Only the few identity values are encoded, never the bodies: 8-bit strings are
        // stored as Unicode, so that is the tag they are known by.
        const mapi::PropTag as_stored = mapi::TagType(t) == mapi::PropType::String8
                                            ? ((t & 0xFFFF0000u) | static_cast<std::uint16_t>(mapi::PropType::Unicode))
                                            : t;
        if (!IsIdentityTag(as_stored)) continue;
        mapi::PropTag stored = 0;
        Bytes b = ltp::EncodeValue(t, v, &stored);
        props[stored] = std::move(b);
    }
    props[mapi::PR_SEARCH_KEY] = search_key;
    return IdentityOfStored(props);
}

}  // namespace

void Store::LoadIdentities(Folder& f) {
    if (f.identities) return;
    LoadContents(f);
    MessageIdentitySet set;
    set.reserve(f.contents.count);
    ContentsCursor cursor(Spool(), f.contents);
    for (std::size_t i = 0; i < f.contents.count; ++i) {
        const std::uint32_t message_nid = cursor.Next().row_id;
        // Only the few identity values are read, not the bodies and attachments. A message that
        // cannot be read is no reason to refuse new ones: it simply matches nothing.
        try {
            auto node = db_->FindNode(message_nid);
            if (!node || node->bid_data == 0) continue;
            ltp::NodeReader reader(*db_, node->bid_data, node->bid_sub);
            if (reader.heap().client_sig() != ltp::kClientSigPc) continue;
            PropMap props;
            ltp::ForEachBthRecord(reader.heap(), reader.heap().user_root(),
                                  [&](std::span<const std::uint8_t> key, std::span<const std::uint8_t> data) {
                                      if (key.size() != 2 || data.size() != 6) throw PstError("property context record size");
                                      const auto stored = static_cast<std::uint32_t>((LoadLe(key) << 16) | LoadLe(data.subspan(0, 2)));
                                      if (!IsIdentityTag(stored)) return;
                                      const auto hnid = static_cast<std::uint32_t>(LoadLe(data.subspan(2, 4)));
                                      props[stored] = reader.Resolve(hnid);
                                  });
            if (auto identity = IdentityOfStored(props)) set.insert(*identity);
        } catch (const PstError&) {
        }
    }
    f.identities = std::move(set);
}

void Store::PreparedDeleter::operator()(PreparedMessage* prepared) const { delete prepared; }

Store::Prepared Store::Prepare(const mapi::Message& message) const {
    Prepared prepared(new PreparedMessage);
    prepared->search_key = SearchKeyFor(message);
    prepared->identity = IdentityOfNew(message, prepared->search_key);
    std::map<mapi::NamedProperty, std::uint32_t> known;
    auto all_known = [&](const mapi::PropertyBag& bag) {
        for (const auto& [name, value] : bag.named()) {
            const auto id = KnownNamedId(name);
            if (!id) return false;
            known[name] = *id;
        }
        return true;
    };
    bool buildable = all_known(message.props);
    for (const auto& attachment : message.attachments)
        buildable = buildable && !attachment.embedded && all_known(attachment.props);
    if (buildable) {
        // Ids known now stay the same: the map only ever grows, and only the adding thread
        // grows it. BuildMessage reads nothing else of the store for a message without embedded ones.
        prepared->built = BuildMessage(
            message, &prepared->row, 0, &prepared->search_key,
            [&known](const mapi::NamedProperty& name) { return known.at(name); });
    }
    return prepared;
}

Store::AddOutcome Store::AddMessageUnlessPresent(std::uint32_t folder_nid, const mapi::Message& message) {
    return AddPreparedUnlessPresent(folder_nid, message, Prepare(message));
}

Store::AddOutcome Store::AddPreparedUnlessPresent(std::uint32_t folder_nid, const mapi::Message& message,
                                                  Prepared prepared) {
    if (!db_->writable()) throw PstError("store opened read-only");
    if (!prepared) throw PstError("no prepared message");
    auto& folder = LoadFolder(folder_nid);
    LoadIdentities(folder);
    if (prepared->identity && folder.identities->count(*prepared->identity)) return {0, true};
    return {StoreMessage(folder, message, *prepared), false};
}

std::uint32_t Store::AddMessage(std::uint32_t folder_nid, const mapi::Message& message) {
    if (!db_->writable()) throw PstError("store opened read-only");
    auto& folder = LoadFolder(folder_nid);
    PreparedMessage prepared;
    prepared.search_key = SearchKeyFor(message);
    if (folder.identities) prepared.identity = IdentityOfNew(message, prepared.search_key);
    return StoreMessage(folder, message, prepared);
}

std::uint32_t Store::StoreMessage(Folder& folder, const mapi::Message& message, PreparedMessage& prepared) {
    const std::uint32_t folder_nid = folder.nid;
    LoadContents(folder);
    if (!prepared.built)
        prepared.built = BuildMessage(message, &prepared.row, 0, &prepared.search_key,
                                      [this](const mapi::NamedProperty& name) { return NamedId(name); });
    BuiltMessage& built = *prepared.built;
    PropMap& row = prepared.row;
    const auto& identity = prepared.identity;
    const std::uint32_t message_nid = db_->NewNid(ndb::kNidTypeNormalMessage);
    ndb::NodeInfo info;
    info.nid = message_nid;
    info.nid_parent = folder_nid;
    info.bid_data = db_->WriteDataTreeBlocks(built.pc.blocks);
    auto subs = ValueSubnodes(std::move(built.pc));
    subs.insert(subs.end(), std::make_move_iterator(built.subnodes.begin()), std::make_move_iterator(built.subnodes.end()));
    info.bid_sub = WriteSubnodes(subs);
    db_->SetNode(info);

    row[tag::kLtpRowVer] = Int32Bytes(row_version_++);
    AppendContentsRow(folder, message_nid, ltp::PackValues(row));
    folder.contents_dirty = true;
    folder.props[tag::kContentCount] = Int32Bytes(GetInt32(folder.props, tag::kContentCount) + 1);
    if (!(GetInt32(row, mapi::PR_MESSAGE_FLAGS) & kMsgFlagRead))
        folder.props[tag::kContentUnreadCount] = Int32Bytes(GetInt32(folder.props, tag::kContentUnreadCount) + 1);
    folder.props_dirty = true;
    if (folder.parent != folder.nid) {
        auto& parent = LoadFolder(folder.parent);
        for (auto& r : parent.hierarchy)
            if (r.row_id == folder.nid) r.values = FolderHierarchyRow(folder);
        parent.hierarchy_dirty = true;
    }
    if (folder.identities && identity) folder.identities->insert(*identity);
    return message_nid;
}

std::vector<std::uint32_t> Store::Messages(std::uint32_t folder_nid) {
    auto& f = LoadFolder(folder_nid);
    LoadContents(f);
    std::vector<std::uint32_t> out;
    ContentsCursor cursor(Spool(), f.contents);
    for (std::size_t i = 0; i < f.contents.count; ++i) out.push_back(cursor.Next().row_id);
    return out;
}

mapi::Message Store::ReadMessageNode(const ltp::NodeReader& node, int depth) {
    if (depth > kMaxEmbeddingDepth) throw PstError("embedded messages nested too deep");
    mapi::Message msg;
    auto put = [&](mapi::PropertyBag& bag, const PropMap& props) {
        for (const auto& [t, v] : props) {
            if ((t >> 16) >= 0x8000) {
                const std::size_t index = (t >> 16) - 0x8000;
                if (index < names_.size()) {
                    auto np = names_[index];
                    np.type = mapi::TagType(t);
                    if (auto value = ltp::DecodeValue(t, v)) bag.SetNamed(np, *value);
                }
                continue;
            }
            if (auto value = ltp::DecodeValue(t, v)) bag.Set(t, *value);
        }
    };
    put(msg.props, ltp::ReadPropertyContext(node));
    if (const auto* rt = node.FindSubnode(nid::kRecipientTable)) {
        ltp::NodeReader tc(*db_, rt->bid_data, rt->bid_sub);
        for (const auto& row : ltp::ReadTableContext(tc).rows) {
            mapi::Recipient r;
            auto values = row.values;
            values.erase(tag::kLtpRowId);
            values.erase(tag::kLtpRowVer);
            put(r.props, values);
            msg.recipients.push_back(std::move(r));
        }
    }
    if (const auto* at = node.FindSubnode(nid::kAttachmentTable)) {
        ltp::NodeReader tc(*db_, at->bid_data, at->bid_sub);
        for (const auto& row : ltp::ReadTableContext(tc).rows) {
            const auto* sub = node.FindSubnode(row.row_id);
            if (!sub) throw PstError("attachment listed but missing");
            ltp::NodeReader apc(*db_, sub->bid_data, sub->bid_sub);
            auto props = ltp::ReadPropertyContext(apc);
            mapi::Attachment a;
            auto obj = props.find(mapi::PR_ATTACH_DATA_OBJ);
            if (obj != props.end() && obj->second.size() >= 4) {
                const auto inner_nid = static_cast<std::uint32_t>(LoadLe({obj->second.data(), 4}));
                const auto* inner = apc.FindSubnode(inner_nid);
                if (!inner) throw PstError("embedded message missing");
                ltp::NodeReader inner_reader(*db_, inner->bid_data, inner->bid_sub);
                a.embedded = std::make_unique<mapi::Message>(ReadMessageNode(inner_reader, depth + 1));
            }
            put(a.props, props);
            msg.attachments.push_back(std::move(a));
        }
    }
    return msg;
}

mapi::Message Store::ReadMessage(std::uint32_t message_nid) {
    auto node = db_->FindNode(message_nid);
    if (!node) throw PstError("message not found");
    ltp::NodeReader reader(*db_, node->bid_data, node->bid_sub);
    return ReadMessageNode(reader, 0);
}

}  // namespace pst::messaging
