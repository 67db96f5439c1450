// A message turned into the nodes it is stored as: its property context, the recipient and
// attachment tables, and a subnode for each attachment and embedded message.
#include <algorithm>
#include <chrono>

#include "store/pst/messaging/store_internals.h"

namespace pst::messaging {

namespace {

constexpr std::uint32_t kMsgFlagHasAttach = 0x10;
constexpr std::int32_t kAttachByValue = 1;
constexpr std::int32_t kAttachEmbeddedMsg = 5;

const std::uint8_t kOneOffProvider[16] = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                          0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};

std::uint64_t NowFiletime() {
    using namespace std::chrono;
    auto since_epoch = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    return static_cast<std::uint64_t>(since_epoch) * 10 + 116444736000000000ull;
}

std::string ToUpperAscii(std::string s) {
    for (auto& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::uint64_t TotalSize(const std::vector<Bytes>& blocks, const std::vector<SubnodeBuild>& subs) {
    std::uint64_t n = 0;
    for (const auto& b : blocks) n += b.size();
    for (const auto& s : subs) n += TotalSize(s.blocks, s.children);
    return n;
}

// What a built node takes in the file: its heap and its values' subnodes. Counted where they
// are, since a large attachment must not be copied only to be measured.
std::uint64_t BuiltSize(const ltp::BuiltNode& built) {
    std::uint64_t n = 0;
    for (const auto& b : built.blocks) n += b.size();
    for (const auto& sub : built.subnodes)
        for (const auto& b : sub.second) n += b.size();
    return n;
}

}  // namespace

Store::BuiltMessage Store::BuildMessage(const mapi::Message& message, PropMap* row_values, int depth,
                                        const Bytes* search_key, const NamedIdSource& named_id) const {
    if (depth > kMaxEmbeddingDepth) throw PstError("embedded messages nested too deep");
    BuiltMessage out;
    std::uint32_t value_counter = 0x400;
    auto next_value_nid = [&] { return NidForSubnode(ndb::kNidTypeLtp, value_counter); };

    // Recipients: one row each in the recipient table.
    PropMap props;
    for (const auto& [t, v] : message.props.all()) {
        mapi::PropTag stored = 0;
        Bytes b = ltp::EncodeValue(t, v, &stored);
        props[stored] = std::move(b);
    }
    for (const auto& [name, v] : message.props.named()) {
        const std::uint32_t id = named_id(name);
        mapi::PropTag stored = 0;
        Bytes b = ltp::EncodeValue((id << 16) | static_cast<std::uint16_t>(name.type), v, &stored);
        props[stored] = std::move(b);
    }
    std::string to, cc, bcc;
    std::vector<ltp::TableRow> recipient_rows;
    std::vector<std::uint32_t> recipient_columns = kRecipientColumns;
    for (std::size_t i = 0; i < message.recipients.size(); ++i) {
        PropMap r;
        for (const auto& [t, v] : message.recipients[i].props.all()) {
            mapi::PropTag stored = 0;
            Bytes b = ltp::EncodeValue(t, v, &stored);
            r[stored] = std::move(b);
        }
        const std::string name = GetString(r, tag::kDisplayName);
        std::string email = GetString(r, tag::kEmailAddress);
        if (!r.count(tag::kRecipientType)) r[tag::kRecipientType] = Int32Bytes(1);
        if (!r.count(tag::kObjectType)) r[tag::kObjectType] = Int32Bytes(6);
        if (!r.count(tag::kDisplayType)) r[tag::kDisplayType] = Int32Bytes(0);
        if (!r.count(tag::kResponsibility)) r[tag::kResponsibility] = BoolBytes(false);
        if (!r.count(tag::kSendRichInfo)) r[tag::kSendRichInfo] = BoolBytes(false);
        if (!r.count(tag::kAddressType) && !email.empty()) r[tag::kAddressType] = StringBytes("SMTP");
        if (!r.count(tag::kTransmittableDisplayName) && !name.empty()) r[tag::kTransmittableDisplayName] = StringBytes(name);
        if (!r.count(tag::kEntryId)) {
            Bytes id(4, 0);
            id.insert(id.end(), std::begin(kOneOffProvider), std::end(kOneOffProvider));
            AppendLe(id, 0, 2);
            AppendLe(id, 0x8001, 2);  // Unicode one-off entry, no rich text
            for (const auto& s : {name, GetString(r, tag::kAddressType), email}) {
                Bytes w = ltp::Utf8ToUtf16(s);
                id.insert(id.end(), w.begin(), w.end());
                AppendLe(id, 0, 2);
            }
            r[tag::kEntryId] = id;
        }
        if (!r.count(tag::kSearchKey) && !email.empty()) {
            std::string key = ToUpperAscii(GetString(r, tag::kAddressType) + ":" + email);
            Bytes k(key.begin(), key.end());
            k.push_back(0);
            r[tag::kSearchKey] = k;
        }
        r[tag::kRowid] = Int32Bytes(static_cast<std::uint32_t>(i));
        const std::string shown = name.empty() ? email : name;
        std::string* list = nullptr;
        switch (GetInt32(r, tag::kRecipientType)) {
            case 2: list = &cc; break;
            case 3: list = &bcc; break;
            default: list = &to; break;
        }
        if (!shown.empty()) *list += (list->empty() ? "" : "; ") + shown;
        for (const auto& [t, v] : r)
            if (std::find(recipient_columns.begin(), recipient_columns.end(), t) == recipient_columns.end())
                recipient_columns.push_back(t);
        recipient_rows.push_back({static_cast<std::uint32_t>(i), std::move(r)});
    }
    {
        std::uint32_t counter = 0x400;
        auto tc = ltp::BuildTableContext(recipient_columns, recipient_rows,
                                         [&] { return NidForSubnode(ndb::kNidTypeLtp, counter); });
        out.subnodes.push_back({nid::kRecipientTable, std::move(tc.blocks), ValueSubnodes(std::move(tc))});
    }

    // Attachments: each its own property context in a subnode, listed in the attachment table.
    std::vector<ltp::TableRow> attachment_rows;
    std::uint32_t attach_counter = 0x400;
    for (std::size_t i = 0; i < message.attachments.size(); ++i) {
        const auto& att = message.attachments[i];
        PropMap a;
        for (const auto& [t, v] : att.props.all()) {
            mapi::PropTag stored = 0;
            Bytes b = ltp::EncodeValue(t, v, &stored);
            a[stored] = std::move(b);
        }
        for (const auto& [name, v] : att.props.named()) {
            const std::uint32_t id = named_id(name);
            mapi::PropTag stored = 0;
            Bytes b = ltp::EncodeValue((id << 16) | static_cast<std::uint16_t>(name.type), v, &stored);
            a[stored] = std::move(b);
        }
        const std::uint32_t attach_nid = NidForSubnode(ndb::kNidTypeAttachment, attach_counter);
        std::uint32_t sub_counter = 0x400;
        std::vector<SubnodeBuild> children;
        if (att.embedded) {
            BuiltMessage inner = BuildMessage(*att.embedded, nullptr, depth + 1, nullptr, named_id);
            const std::uint32_t inner_nid = ndb::MakeNid(ndb::kNidTypeNormalMessage, 0x400 + static_cast<std::uint32_t>(i));
            Bytes object;
            AppendLe(object, inner_nid, 4);
            AppendLe(object, inner.size, 4);
            a.erase(tag::kAttachDataBinary);
            a[tag::kAttachDataObject] = object;
            a[tag::kAttachMethod] = Int32Bytes(kAttachEmbeddedMsg);
            children.push_back({inner_nid, std::move(inner.pc.blocks), ValueSubnodes(std::move(inner.pc))});
            for (auto& s : inner.subnodes) children.back().children.push_back(std::move(s));
            sub_counter = 0x800;  // value subnodes must not collide with the embedded message's id
        }
        if (!a.count(tag::kAttachMethod)) a[tag::kAttachMethod] = Int32Bytes(kAttachByValue);
        if (!a.count(tag::kRenderingPosition)) a[tag::kRenderingPosition] = Int32Bytes(0xFFFFFFFFu);
        a[tag::kAttachNumber] = Int32Bytes(static_cast<std::uint32_t>(i));
        a[tag::kObjectType] = Int32Bytes(7);
        a[tag::kAttachSize] = Int32Bytes(0);
        auto build_attach = [&] {
            std::uint32_t c = sub_counter;
            return ltp::BuildPropertyContext(a, [&] { return NidForSubnode(ndb::kNidTypeLtp, c); });
        };
        // Built once to learn its size, and that build freed before the one that is kept.
        a[tag::kAttachSize] = Int32Bytes(static_cast<std::uint32_t>(BuiltSize(build_attach()) + TotalSize({}, children)));
        auto pc = build_attach();
        auto all_children = ValueSubnodes(std::move(pc));
        all_children.insert(all_children.end(), std::make_move_iterator(children.begin()),
                            std::make_move_iterator(children.end()));
        PropMap row;
        for (auto t : kAttachmentColumns)
            if (a.count(t)) row[t] = a[t];
        if (!row.count(tag::kAttachFilename) && a.count(tag::kAttachLongFilename))
            row[tag::kAttachFilename] = a[tag::kAttachLongFilename];
        attachment_rows.push_back({attach_nid, std::move(row)});
        a.clear();  // the attachment's bytes are in its subnodes now
        out.subnodes.push_back({attach_nid, std::move(pc.blocks), std::move(all_children)});
    }
    if (!message.attachments.empty()) {
        std::uint32_t counter = 0x400;
        auto tc = ltp::BuildTableContext(kAttachmentColumns, attachment_rows,
                                         [&] { return NidForSubnode(ndb::kNidTypeLtp, counter); });
        out.subnodes.push_back({nid::kAttachmentTable, std::move(tc.blocks), ValueSubnodes(std::move(tc))});
    }

    // The message's own properties, with what readers expect to find.
    const std::uint64_t now = NowFiletime();
    auto time_or = [&](std::uint32_t t, std::uint64_t fallback) {
        auto it = props.find(t);
        return it != props.end() && it->second.size() == 8 ? LoadLe(it->second) : fallback;
    };
    // A message that tells no time of its own keeps none as its delivery time (the time of the
    // conversion is no time the mail was delivered); the item itself is made now.
    const std::uint64_t delivered = time_or(tag::kMessageDeliveryTime, time_or(tag::kClientSubmitTime, 0));
    if (!props.count(tag::kMessageClass)) props[tag::kMessageClass] = StringBytes("IPM.Note");
    std::uint32_t flags = GetInt32(props, tag::kMessageFlags, kMsgFlagRead);
    flags = message.attachments.empty() ? (flags & ~kMsgFlagHasAttach) : (flags | kMsgFlagHasAttach);
    props[tag::kMessageFlags] = Int32Bytes(flags);
    props[tag::kHasAttachments] = BoolBytes(!message.attachments.empty());
    if (!props.count(tag::kMessageStatus)) props[tag::kMessageStatus] = Int32Bytes(0);
    if (!props.count(tag::kImportance)) props[tag::kImportance] = Int32Bytes(1);
    if (!props.count(tag::kSensitivity)) props[tag::kSensitivity] = Int32Bytes(0);
    for (auto t : {tag::kCreationTime, tag::kLastModificationTime}) {
        if (!props.count(t)) {
            Bytes b;
            AppendLe(b, delivered != 0 ? delivered : now, 8);
            props[t] = b;
        }
    }
    if (!props.count(tag::kMessageDeliveryTime) && delivered != 0) {
        Bytes b;
        AppendLe(b, delivered, 8);
        props[tag::kMessageDeliveryTime] = b;
    }
    if (!props.count(tag::kDisplayTo)) props[tag::kDisplayTo] = StringBytes(to);
    if (!props.count(tag::kDisplayCc)) props[tag::kDisplayCc] = StringBytes(cc);
    if (!props.count(tag::kDisplayBcc)) props[tag::kDisplayBcc] = StringBytes(bcc);
    if (search_key) {
        // The key the message is known by in its folder (SearchKeyFor), which may replace its own.
        props[tag::kSearchKey] = *search_key;
    } else if (!props.count(tag::kSearchKey)) {
        Bytes key(uid_.begin(), uid_.end());
        std::uint64_t seed = now ^ (static_cast<std::uint64_t>(names_.size()) << 32) ^ row_version_;
        for (int k = 0; k < 8; ++k) key[k] ^= static_cast<std::uint8_t>(seed >> (8 * k));
        props[tag::kSearchKey] = key;
    }
    if (!props.count(tag::kConversationTopic) && props.count(tag::kSubject))
        props[tag::kConversationTopic] = props[tag::kSubject];
    props[tag::kMessageSize] = Int32Bytes(0);
    auto build_pc = [&] {
        value_counter = 0x400;
        return ltp::BuildPropertyContext(props, next_value_nid);
    };
    // The size a message reports is what it occupies: its properties, tables and attachments.
    out.size = BuiltSize(build_pc()) + TotalSize({}, out.subnodes);
    props[tag::kMessageSize] = Int32Bytes(static_cast<std::uint32_t>(std::min<std::uint64_t>(out.size, 0x7FFFFFFF)));
    out.pc = build_pc();
    if (row_values) {
        for (auto t : kContentsColumns)
            if (props.count(t)) (*row_values)[t] = props[t];
    }
    return out;
}

}  // namespace pst::messaging
