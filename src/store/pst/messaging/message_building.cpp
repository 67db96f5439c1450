// A message turned into the nodes it is stored as: its property context, the recipient and
// attachment tables, and a subnode for each attachment and embedded message.
#include <algorithm>
#include <chrono>
#include <functional>
#include <variant>

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
    for (const auto& s : subs) n += s.borrowed.size() + TotalSize(s.blocks, s.children);
    return n;
}

// What a built node takes in the file: its heap and its values' subnodes. Counted where they
// are, since a large attachment must not be copied only to be measured.
std::uint64_t BuiltSize(const ltp::BuiltNode& built) {
    std::uint64_t n = 0;
    for (const auto& b : built.blocks) n += b.size();
    for (const auto& sub : built.subnodes)
        for (const auto& b : sub.second) n += b.size();
    for (const auto& sub : built.borrowed_subnodes) n += sub.second.size();
    return n;
}

using NamedIdSource = std::function<std::uint32_t(const mapi::NamedProperty&)>;

bool Listed(const std::vector<std::uint32_t>& tags, std::uint32_t tag) {
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

// A property bag as the values it is stored with; named properties get their ids from
// named_id, or are left out without one (recipients carry none). Given lent, a large binary
// value (an attachment's data above all) is lent to its node where it is, unless keep_here
// names it: values the builder looks at or copies into rows are encoded.
PropMap Encoded(const mapi::PropertyBag& bag, const NamedIdSource* named_id, ltp::BorrowedValues* lent = nullptr,
                const std::vector<std::uint32_t>& keep_here = {}) {
    PropMap out;
    auto put = [&](mapi::PropTag tag, const mapi::PropValue& value) {
        const auto* binary = std::get_if<mapi::Binary>(&value);
        if (lent && binary && mapi::TagType(tag) == mapi::PropType::Binary && binary->size() > ltp::kMaxHeapAlloc &&
            !Listed(keep_here, tag)) {
            (*lent)[tag] = *binary;
            return;
        }
        mapi::PropTag stored = 0;
        Bytes bytes = ltp::EncodeValue(tag, value, &stored);
        out[stored] = std::move(bytes);
    };
    for (const auto& [tag, value] : bag.all()) put(tag, value);
    if (named_id)
        for (const auto& [name, value] : bag.named())
            put(((*named_id)(name) << 16) | static_cast<std::uint16_t>(name.type), value);
    return out;
}

// Moves the large values of props (but those named in keep_here) into kept and lends them to
// the node through borrowed: the node is then built and written without another copy of them.
// Moving a value keeps its bytes where they are, so kept may grow later.
void LendLargeValues(PropMap& props, const std::vector<std::uint32_t>& keep_here, std::vector<Bytes>& kept,
                     ltp::BorrowedValues& borrowed) {
    for (auto it = props.begin(); it != props.end();) {
        if (it->second.size() <= ltp::kMaxHeapAlloc || Listed(keep_here, it->first)) {
            ++it;
            continue;
        }
        kept.push_back(std::move(it->second));
        borrowed[it->first] = kept.back();
        it = props.erase(it);
    }
}

void SetIfMissing(PropMap& props, std::uint32_t tag, Bytes value) {
    if (!props.count(tag)) props[tag] = std::move(value);
}

// A table context as the subnode it is stored in.
SubnodeBuild TableSubnode(std::uint32_t nid, const std::vector<std::uint32_t>& columns,
                          const std::vector<ltp::TableRow>& rows) {
    std::uint32_t counter = 0x400;
    auto tc = ltp::BuildTableContext(columns, rows, [&] { return NidForSubnode(ndb::kNidTypeLtp, counter); });
    return {nid, std::move(tc.blocks), ValueSubnodes(std::move(tc)), {}};
}

// The one-off entry id of a recipient who is in no address book: name, address type and
// address as Unicode, no rich text.
Bytes OneOffEntryId(const std::string& name, const std::string& address_type, const std::string& email) {
    Bytes id(4 + sizeof(kOneOffProvider), 0);
    std::copy(std::begin(kOneOffProvider), std::end(kOneOffProvider), id.begin() + 4);
    AppendLe(id, 0, 2);
    AppendLe(id, 0x8001, 2);
    for (const auto& s : {name, address_type, email}) {
        Bytes w = ltp::Utf8ToUtf16(s);
        id.insert(id.end(), w.begin(), w.end());
        AppendLe(id, 0, 2);
    }
    return id;
}

// A recipient's row with what readers expect of one.
PropMap RecipientRow(const mapi::Recipient& recipient, std::size_t index) {
    PropMap r = Encoded(recipient.props, nullptr);
    const std::string name = GetString(r, mapi::PR_DISPLAY_NAME_W);
    const std::string email = GetString(r, mapi::PR_EMAIL_ADDRESS_W);
    SetIfMissing(r, mapi::PR_RECIPIENT_TYPE, Int32Bytes(1));
    SetIfMissing(r, mapi::PR_OBJECT_TYPE, Int32Bytes(6));
    SetIfMissing(r, mapi::PR_DISPLAY_TYPE, Int32Bytes(0));
    SetIfMissing(r, tag::kResponsibility, BoolBytes(false));
    SetIfMissing(r, tag::kSendRichInfo, BoolBytes(false));
    if (!email.empty()) SetIfMissing(r, mapi::PR_ADDRTYPE_W, StringBytes("SMTP"));
    if (!name.empty()) SetIfMissing(r, tag::kTransmittableDisplayName, StringBytes(name));
    if (!r.count(tag::kEntryId)) r[tag::kEntryId] = OneOffEntryId(name, GetString(r, mapi::PR_ADDRTYPE_W), email);
    if (!r.count(mapi::PR_SEARCH_KEY) && !email.empty()) {
        const std::string key = ToUpperAscii(GetString(r, mapi::PR_ADDRTYPE_W) + ":" + email);
        Bytes k(key.begin(), key.end());
        k.push_back(0);
        r[mapi::PR_SEARCH_KEY] = k;
    }
    r[mapi::PR_ROWID] = Int32Bytes(static_cast<std::uint32_t>(index));
    return r;
}

// The names shown for the To, Cc and Bcc lines.
struct DisplayLists {
    std::string to, cc, bcc;
    void Add(const PropMap& recipient) {
        const std::string name = GetString(recipient, mapi::PR_DISPLAY_NAME_W);
        const std::string shown = name.empty() ? GetString(recipient, mapi::PR_EMAIL_ADDRESS_W) : name;
        if (shown.empty()) return;
        std::string& list = GetInt32(recipient, mapi::PR_RECIPIENT_TYPE) == 2   ? cc
                            : GetInt32(recipient, mapi::PR_RECIPIENT_TYPE) == 3 ? bcc
                                                                            : to;
        list += (list.empty() ? "" : "; ") + shown;
    }
};

// The recipient table: a row per recipient, and a column for every value any of them carries.
SubnodeBuild RecipientTable(const mapi::Message& message, DisplayLists& lists) {
    std::vector<ltp::TableRow> rows;
    std::vector<std::uint32_t> columns = kRecipientColumns;
    for (std::size_t i = 0; i < message.recipients.size(); ++i) {
        PropMap r = RecipientRow(message.recipients[i], i);
        lists.Add(r);
        for (const auto& [t, v] : r)
            if (std::find(columns.begin(), columns.end(), t) == columns.end()) columns.push_back(t);
        rows.push_back({static_cast<std::uint32_t>(i), std::move(r)});
    }
    return TableSubnode(nid::kRecipientTable, columns, rows);
}

// Makes the attachment's property context hold an embedded message, whose nodes go into children.
void EmbedMessage(PropMap& a, ltp::BorrowedValues& a_lent, BuiltMessage&& inner, std::size_t index,
                  std::vector<SubnodeBuild>& children, std::vector<Bytes>& kept) {
    const std::uint32_t inner_nid = ndb::MakeNid(ndb::kNidTypeNormalMessage, 0x400 + static_cast<std::uint32_t>(index));
    Bytes object;
    AppendLe(object, inner_nid, 4);
    AppendLe(object, inner.size, 4);
    a.erase(mapi::PR_ATTACH_DATA_BIN);
    a_lent.erase(mapi::PR_ATTACH_DATA_BIN);
    a[mapi::PR_ATTACH_DATA_OBJ] = object;
    a[mapi::PR_ATTACH_METHOD] = Int32Bytes(kAttachEmbeddedMsg);
    children.push_back({inner_nid, std::move(inner.pc.blocks), ValueSubnodes(std::move(inner.pc)), {}});
    for (auto& s : inner.subnodes) children.back().children.push_back(std::move(s));
    kept.insert(kept.end(), std::make_move_iterator(inner.kept.begin()), std::make_move_iterator(inner.kept.end()));
}

// An attachment as its subnode, and its row of the attachment table.
SubnodeBuild AttachmentSubnode(const mapi::Attachment& att, std::size_t index, std::uint32_t attach_nid,
                               const NamedIdSource& named_id,
                               const std::function<BuiltMessage(const mapi::Message&)>& build_embedded,
                               std::vector<ltp::TableRow>& rows, std::vector<Bytes>& kept) {
    std::vector<std::uint32_t> keep_here = kAttachmentColumns;
    keep_here.push_back(mapi::PR_ATTACH_LONG_FILENAME_W);
    ltp::BorrowedValues a_lent;
    PropMap a = Encoded(att.props, &named_id, &a_lent, keep_here);
    std::uint32_t first_value_nid = 0x400;
    std::vector<SubnodeBuild> children;
    if (att.embedded) {
        EmbedMessage(a, a_lent, build_embedded(*att.embedded), index, children, kept);
        first_value_nid = 0x800;  // value subnodes must not collide with the embedded message's id
    }
    SetIfMissing(a, mapi::PR_ATTACH_METHOD, Int32Bytes(kAttachByValue));
    SetIfMissing(a, mapi::PR_RENDERING_POSITION, Int32Bytes(0xFFFFFFFFu));
    a[mapi::PR_ATTACH_NUM] = Int32Bytes(static_cast<std::uint32_t>(index));
    a[mapi::PR_OBJECT_TYPE] = Int32Bytes(7);
    a[mapi::PR_ATTACH_SIZE] = Int32Bytes(0);
    LendLargeValues(a, keep_here, kept, a_lent);
    auto build_attach = [&] {
        std::uint32_t c = first_value_nid;
        return ltp::BuildPropertyContext(a, a_lent, [&] { return NidForSubnode(ndb::kNidTypeLtp, c); });
    };
    // Built once to learn its size, and that build freed before the one that is kept.
    a[mapi::PR_ATTACH_SIZE] = Int32Bytes(static_cast<std::uint32_t>(BuiltSize(build_attach()) + TotalSize({}, children)));
    auto pc = build_attach();
    auto all_children = ValueSubnodes(std::move(pc));
    all_children.insert(all_children.end(), std::make_move_iterator(children.begin()),
                        std::make_move_iterator(children.end()));
    PropMap row;
    for (auto t : kAttachmentColumns)
        if (a.count(t)) row[t] = a[t];
    if (!row.count(mapi::PR_ATTACH_FILENAME_W) && a.count(mapi::PR_ATTACH_LONG_FILENAME_W))
        row[mapi::PR_ATTACH_FILENAME_W] = a[mapi::PR_ATTACH_LONG_FILENAME_W];
    rows.push_back({attach_nid, std::move(row)});
    a.clear();  // the attachment's bytes are in its subnodes (or lent to them) now
    return {attach_nid, std::move(pc.blocks), std::move(all_children), {}};
}

Bytes FiletimeBytes(std::uint64_t filetime) {
    Bytes b;
    AppendLe(b, filetime, 8);
    return b;
}

// The message's own properties, with what readers expect to find.
void CompleteMessageProps(PropMap& props, const mapi::Message& message, const DisplayLists& lists, std::uint64_t now) {
    auto time_or = [&](std::uint32_t t, std::uint64_t fallback) {
        auto it = props.find(t);
        return it != props.end() && it->second.size() == 8 ? LoadLe(it->second) : fallback;
    };
    // A message that tells no time of its own keeps none as its delivery time (the time of the
    // conversion is no time the mail was delivered); the item itself is made now.
    const std::uint64_t delivered = time_or(mapi::PR_MESSAGE_DELIVERY_TIME, time_or(mapi::PR_CLIENT_SUBMIT_TIME, 0));
    SetIfMissing(props, mapi::PR_MESSAGE_CLASS_W, StringBytes("IPM.Note"));
    std::uint32_t flags = GetInt32(props, mapi::PR_MESSAGE_FLAGS, kMsgFlagRead);
    flags = message.attachments.empty() ? (flags & ~kMsgFlagHasAttach) : (flags | kMsgFlagHasAttach);
    props[mapi::PR_MESSAGE_FLAGS] = Int32Bytes(flags);
    props[mapi::PR_HASATTACH] = BoolBytes(!message.attachments.empty());
    SetIfMissing(props, tag::kMessageStatus, Int32Bytes(0));
    SetIfMissing(props, mapi::PR_IMPORTANCE, Int32Bytes(1));
    SetIfMissing(props, mapi::PR_SENSITIVITY, Int32Bytes(0));
    for (auto t : {mapi::PR_CREATION_TIME, mapi::PR_LAST_MODIFICATION_TIME})
        SetIfMissing(props, t, FiletimeBytes(delivered != 0 ? delivered : now));
    if (delivered != 0) SetIfMissing(props, mapi::PR_MESSAGE_DELIVERY_TIME, FiletimeBytes(delivered));
    SetIfMissing(props, mapi::PR_DISPLAY_TO_W, StringBytes(lists.to));
    SetIfMissing(props, mapi::PR_DISPLAY_CC_W, StringBytes(lists.cc));
    SetIfMissing(props, mapi::PR_DISPLAY_BCC_W, StringBytes(lists.bcc));
    if (!props.count(mapi::PR_CONVERSATION_TOPIC_W) && props.count(mapi::PR_SUBJECT_W))
        props[mapi::PR_CONVERSATION_TOPIC_W] = props[mapi::PR_SUBJECT_W];
}

}  // namespace

BuiltMessage Store::BuildMessage(const mapi::Message& message, PropMap* row_values, int depth,
                                 const Bytes* search_key, const NamedIdSource& named_id) const {
    if (depth > kMaxEmbeddingDepth) throw PstError("embedded messages nested too deep");
    BuiltMessage out;
    std::vector<std::uint32_t> keep_here = kContentsColumns;
    keep_here.push_back(mapi::PR_SEARCH_KEY);
    ltp::BorrowedValues lent;
    PropMap props = Encoded(message.props, &named_id, &lent, keep_here);
    DisplayLists lists;
    out.subnodes.push_back(RecipientTable(message, lists));

    // Attachments: each its own property context in a subnode, listed in the attachment table.
    std::vector<ltp::TableRow> attachment_rows;
    std::uint32_t attach_counter = 0x400;
    const auto build_embedded = [&](const mapi::Message& inner) {
        return BuildMessage(inner, nullptr, depth + 1, nullptr, named_id);
    };
    for (std::size_t i = 0; i < message.attachments.size(); ++i) {
        const std::uint32_t attach_nid = NidForSubnode(ndb::kNidTypeAttachment, attach_counter);
        out.subnodes.push_back(
            AttachmentSubnode(message.attachments[i], i, attach_nid, named_id, build_embedded, attachment_rows, out.kept));
    }
    if (!message.attachments.empty())
        out.subnodes.push_back(TableSubnode(nid::kAttachmentTable, kAttachmentColumns, attachment_rows));

    const std::uint64_t now = NowFiletime();
    CompleteMessageProps(props, message, lists, now);
    if (search_key) {
        // The key the message is known by in its folder (SearchKeyFor), which may replace its own.
        props[mapi::PR_SEARCH_KEY] = *search_key;
    } else if (!props.count(mapi::PR_SEARCH_KEY)) {
        Bytes key(uid_.begin(), uid_.end());
        std::uint64_t seed = now ^ (static_cast<std::uint64_t>(names_.size()) << 32) ^ row_version_;
        for (int k = 0; k < 8; ++k) key[k] ^= static_cast<std::uint8_t>(seed >> (8 * k));
        props[mapi::PR_SEARCH_KEY] = key;
    }
    props[mapi::PR_MESSAGE_SIZE] = Int32Bytes(0);
    LendLargeValues(props, kContentsColumns, out.kept, lent);
    auto build_pc = [&] {
        std::uint32_t value_counter = 0x400;
        return ltp::BuildPropertyContext(props, lent, [&] { return NidForSubnode(ndb::kNidTypeLtp, value_counter); });
    };
    // The size a message reports is what it occupies: its properties, tables and attachments.
    out.size = BuiltSize(build_pc()) + TotalSize({}, out.subnodes);
    props[mapi::PR_MESSAGE_SIZE] = Int32Bytes(static_cast<std::uint32_t>(std::min<std::uint64_t>(out.size, 0x7FFFFFFF)));
    out.pc = build_pc();
    if (row_values) {
        for (auto t : kContentsColumns)
            if (props.count(t)) (*row_values)[t] = props[t];
    }
    return out;
}

}  // namespace pst::messaging
