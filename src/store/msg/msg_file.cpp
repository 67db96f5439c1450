#include "store/msg/msg_file.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>

#include "platform/text_encoding.h"
#include "store/mapi/prop_tags.h"

namespace msg {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kPropAttrReadable = 0x2;
constexpr std::uint32_t kPropAttrWritable = 0x4;
constexpr std::uint32_t kNamedIdBase = 0x8000;
constexpr std::uint32_t kNameBuckets = 0x1F;
constexpr int kMaxEmbeddingDepth = 64;

enum class ObjectKind { TopMessage, EmbeddedMessage, Recipient, Attachment };

// Sizes of the header in front of the property entries of each kind of object.
std::size_t PropertyHeaderSize(ObjectKind kind) {
    switch (kind) {
        case ObjectKind::TopMessage: return 32;
        case ObjectKind::EmbeddedMessage: return 24;
        default: return 8;
    }
}

// Little-endian values appended in one piece: these run for every property of every message.
static_assert(std::endian::native == std::endian::little, "values are stored as they lie in memory");
template <typename T>
void PutLittleEndian(Bytes& out, T v) {
    const std::size_t at = out.size();
    out.resize(at + sizeof(T));
    std::memcpy(out.data() + at, &v, sizeof(T));
}
void PutU32(Bytes& out, std::uint32_t v) { PutLittleEndian(out, v); }
void PutU64(Bytes& out, std::uint64_t v) { PutLittleEndian(out, v); }

// Widens n ASCII bytes to UTF-16LE at out (2n bytes), four at a time: the bodies are the
// longest texts of a message and nearly always ASCII.
void WidenAscii(const char* in, std::size_t n, std::uint8_t* out) {
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4, out += 8) {
        std::uint32_t four;
        std::memcpy(&four, in + i, 4);
        std::uint64_t wide = four;
        wide = (wide | (wide << 16)) & 0x0000FFFF0000FFFFull;
        wide = (wide | (wide << 8)) & 0x00FF00FF00FF00FFull;
        std::memcpy(out, &wide, 8);
    }
    for (; i < n; ++i, out += 2) {
        out[0] = static_cast<std::uint8_t>(in[i]);
        out[1] = 0;
    }
}

// UTF-16LE bytes of a UTF-8 text. Most property text is ASCII, which is widened byte by byte;
// only the rest goes through the general conversion.
Bytes Utf16Bytes(const std::string& text, bool with_terminator) {
    const std::size_t ascii = platform::AsciiPrefixLength(text);
    const std::u16string rest = ascii < text.size() ? Utf8ToUtf16(text.substr(ascii)) : std::u16string();
    Bytes out((ascii + rest.size() + (with_terminator ? 1 : 0)) * 2, 0);
    std::uint8_t* p = out.data();
    WidenAscii(text.data(), ascii, p);
    p += ascii * 2;
    for (char16_t c : rest) {
        *p++ = static_cast<std::uint8_t>(c);
        *p++ = static_cast<std::uint8_t>(c >> 8);
    }
    return out;
}

// Upper-case hexadecimal of the low `digits` nibbles of value (every stream name has some).
std::string Hex(std::uint32_t value, int digits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4) out[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    return out;
}

std::string ValueStreamName(mapi::PropTag tag) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string name = "__substg1.0_00000000";  // one allocation per stream name, not two
    for (std::size_t i = name.size(); tag != 0; tag >>= 4) name[--i] = kDigits[tag & 0xF];
    return name;
}

// The named properties of a whole message tree, numbered in order of first appearance.
class NameMap {
public:
    std::uint16_t IdFor(const mapi::NamedProperty& name) {
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if (names_[i].property_set == name.property_set && names_[i].lid == name.lid &&
                names_[i].name == name.name)
                return static_cast<std::uint16_t>(kNamedIdBase + i);
        }
        if (names_.size() >= 0x7FFF) throw std::invalid_argument("too many named properties");
        names_.push_back(name);
        return static_cast<std::uint16_t>(kNamedIdBase + names_.size() - 1);
    }
    void WriteStorage(cfb::Storage& root) const;

private:
    std::vector<mapi::NamedProperty> names_;
};

// The hash of string names in the mapping streams: CRC-32 with a zero start and no final inversion.
std::uint32_t NameCrc32(const Bytes& data) {
    std::uint32_t crc = 0;
    for (std::uint8_t b : data) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc;
}

void NameMap::WriteStorage(cfb::Storage& root) const {
    cfb::Storage& storage = root.AddStorage("__nameid_version1.0");
    Bytes guids, entries, strings;
    std::map<std::uint32_t, Bytes> buckets;
    std::vector<mapi::Guid> custom_guids;
    for (std::size_t i = 0; i < names_.size(); ++i) {
        const mapi::NamedProperty& name = names_[i];
        std::uint32_t guid_index;
        if (name.property_set == mapi::PS_MAPI) {
            guid_index = 1;
        } else if (name.property_set == mapi::PS_PUBLIC_STRINGS) {
            guid_index = 2;
        } else {
            std::size_t k = 0;
            while (k < custom_guids.size() && custom_guids[k] != name.property_set) ++k;
            if (k == custom_guids.size()) {
                custom_guids.push_back(name.property_set);
                guids.insert(guids.end(), name.property_set.begin(), name.property_set.end());
            }
            guid_index = static_cast<std::uint32_t>(3 + k);
        }
        const bool is_string = !name.lid.has_value();
        std::uint32_t index_and_kind = (static_cast<std::uint32_t>(i) << 16) | (guid_index << 1) | (is_string ? 1u : 0u);
        std::uint32_t key;
        std::uint32_t hash_id;
        if (is_string) {
            key = static_cast<std::uint32_t>(strings.size());
            Bytes name_bytes = Utf16Bytes(name.name, false);
            PutU32(strings, static_cast<std::uint32_t>(name_bytes.size()));
            strings.insert(strings.end(), name_bytes.begin(), name_bytes.end());
            while (strings.size() % 4 != 0) strings.push_back(0);
            hash_id = NameCrc32(name_bytes);
        } else {
            key = *name.lid;
            hash_id = *name.lid;
        }
        PutU32(entries, key);
        PutU32(entries, index_and_kind);
        std::uint32_t bucket = (hash_id ^ ((guid_index << 1) | (is_string ? 1u : 0u))) % kNameBuckets;
        Bytes& b = buckets[bucket];
        PutU32(b, hash_id);
        PutU32(b, index_and_kind);
    }
    storage.AddStream("__substg1.0_00020102", std::move(guids));
    storage.AddStream("__substg1.0_00030102", std::move(entries));
    storage.AddStream("__substg1.0_00040102", std::move(strings));
    for (auto& [bucket, bytes] : buckets) {
        storage.AddStream("__substg1.0_" + Hex(0x1000 + bucket, 4) + "0102", std::move(bytes));
    }
}

bool IsFixedSize(mapi::PropType type) {
    switch (type) {
        case mapi::PropType::Int16:
        case mapi::PropType::Int32:
        case mapi::PropType::Boolean:
        case mapi::PropType::Int64:
        case mapi::PropType::SysTime: return true;
        default: return false;
    }
}

// The 8 value bytes of a fixed-size property, zero-padded.
std::uint64_t FixedValue(const mapi::PropValue& value) {
    return std::visit(
        [](const auto& v) -> std::uint64_t {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::int16_t>) return static_cast<std::uint16_t>(v);
            else if constexpr (std::is_same_v<T, std::int32_t>) return static_cast<std::uint32_t>(v);
            else if constexpr (std::is_same_v<T, bool>) return v ? 1 : 0;
            else if constexpr (std::is_same_v<T, std::int64_t>) return static_cast<std::uint64_t>(v);
            else if constexpr (std::is_same_v<T, mapi::Filetime>) return v.ticks;
            else throw std::invalid_argument("property value does not match its type");
        },
        value);
}

// Strings are always written as PT_UNICODE.
mapi::PropTag UnicodeTag(mapi::PropTag tag) {
    if (mapi::TagType(tag) == mapi::PropType::String8) return mapi::MakeTag(mapi::TagId(tag), mapi::PropType::Unicode);
    if (static_cast<std::uint16_t>(mapi::TagType(tag)) == 0x101E) return mapi::MakeTag(mapi::TagId(tag), mapi::PropType::MvUnicode);
    return tag;
}

template <typename T>
const T& ValueAs(const mapi::PropValue& value) {
    if (const T* typed = std::get_if<T>(&value)) return *typed;
    throw std::invalid_argument("property value does not match its type");
}

class PropertyStreamWriter {
public:
    PropertyStreamWriter(cfb::Storage& storage, ObjectKind kind) : storage_(storage) {
        stream_.assign(PropertyHeaderSize(kind), 0);
    }
    Bytes& header() { return stream_; }
    // Room for count more entries of 16 bytes, so the stream is not grown entry by entry.
    void Reserve(std::size_t count) { stream_.reserve(stream_.size() + 16 * count); }

    void Add(mapi::PropTag tag, const mapi::PropValue& value) {
        tag = UnicodeTag(tag);
        const mapi::PropType type = mapi::TagType(tag);
        PutU32(stream_, tag);
        PutU32(stream_, kPropAttrReadable | kPropAttrWritable);
        if (IsFixedSize(type)) {
            PutU64(stream_, FixedValue(value));
            return;
        }
        std::uint32_t size = 0;
        switch (type) {
            case mapi::PropType::Unicode: {
                Bytes bytes = Utf16Bytes(ValueAs<std::string>(value), false);
                size = static_cast<std::uint32_t>(bytes.size() + 2);
                storage_.AddStream(ValueStreamName(tag), std::move(bytes));
                break;
            }
            case mapi::PropType::Binary: {
                const Bytes& bytes = ValueAs<mapi::Binary>(value);
                size = static_cast<std::uint32_t>(bytes.size());
                // Borrowed from the message: an attachment's bytes are not copied.
                storage_.AddBorrowedStream(ValueStreamName(tag), bytes);
                break;
            }
            case mapi::PropType::Guid: {
                const mapi::Guid& guid = ValueAs<mapi::Guid>(value);
                size = 16;
                storage_.AddStream(ValueStreamName(tag), Bytes(guid.begin(), guid.end()));
                break;
            }
            case mapi::PropType::MvInt32: {
                Bytes bytes;
                for (std::int32_t v : ValueAs<std::vector<std::int32_t>>(value)) PutU32(bytes, static_cast<std::uint32_t>(v));
                size = static_cast<std::uint32_t>(bytes.size());
                storage_.AddStream(ValueStreamName(tag), std::move(bytes));
                break;
            }
            case mapi::PropType::MvUnicode: {
                const auto& values = ValueAs<std::vector<std::string>>(value);
                Bytes lengths;
                for (std::size_t i = 0; i < values.size(); ++i) {
                    Bytes bytes = Utf16Bytes(values[i], true);
                    PutU32(lengths, static_cast<std::uint32_t>(bytes.size()));
                    storage_.AddStream(ValueStreamName(tag) + "-" + Hex(static_cast<std::uint32_t>(i), 8), std::move(bytes));
                }
                size = static_cast<std::uint32_t>(lengths.size());
                storage_.AddStream(ValueStreamName(tag), std::move(lengths));
                break;
            }
            case mapi::PropType::MvBinary: {
                const auto& values = ValueAs<std::vector<mapi::Binary>>(value);
                Bytes lengths;
                for (std::size_t i = 0; i < values.size(); ++i) {
                    PutU32(lengths, static_cast<std::uint32_t>(values[i].size()));
                    PutU32(lengths, 0);
                    storage_.AddBorrowedStream(ValueStreamName(tag) + "-" + Hex(static_cast<std::uint32_t>(i), 8), values[i]);
                }
                size = static_cast<std::uint32_t>(lengths.size());
                storage_.AddStream(ValueStreamName(tag), std::move(lengths));
                break;
            }
            default: throw std::invalid_argument("property type not supported in MSG files: " + Hex(tag, 8));
        }
        PutU32(stream_, size);
        PutU32(stream_, 0);
    }

    // The embedded message of an attachment: its value lives in a sub-storage.
    void AddObject(mapi::PropTag tag) {
        PutU32(stream_, tag);
        PutU32(stream_, kPropAttrReadable | kPropAttrWritable);
        PutU32(stream_, 0xFFFFFFFFu);
        PutU32(stream_, 0);
    }

    void Finish() { storage_.AddStream("__properties_version1.0", std::move(stream_)); }

private:
    cfb::Storage& storage_;
    Bytes stream_;
};

// Values the writer sets over an object's own, in tag order; the bag itself is never copied,
// since it holds the bodies.
// Never binary values: those are borrowed from the message, which outlives the storage, and
// an override lives only while its bag is written.
using Overrides = std::map<mapi::PropTag, mapi::PropValue>;

void WriteBag(const mapi::PropertyBag& bag, PropertyStreamWriter& writer, NameMap& names, const Overrides& overrides = {},
              std::optional<mapi::PropTag> removed = std::nullopt) {
    writer.Reserve(bag.all().size() + overrides.size() + bag.named().size());
    // The union of both in tag order, the override winning: what a copy of the bag with the
    // overrides set would list.
    auto own = bag.all().begin();
    const auto own_end = bag.all().end();
    auto over = overrides.begin();
    while (own != own_end || over != overrides.end()) {
        const bool take_override = own == own_end || (over != overrides.end() && over->first <= own->first);
        const mapi::PropTag tag = take_override ? over->first : own->first;
        const mapi::PropValue& value = take_override ? over->second : own->second;
        if (own != own_end && own->first == tag) ++own;
        if (take_override) ++over;
        if (removed && *removed == tag) continue;
        if (mapi::TagId(tag) >= kNamedIdBase) throw std::invalid_argument("named property ids are assigned by the writer");
        writer.Add(tag, value);
    }
    // Named properties follow in id order, which may differ from the bag's order.
    std::map<mapi::PropTag, const mapi::PropValue*> named;
    for (const auto& [name, value] : bag.named()) named[mapi::MakeTag(names.IdFor(name), name.type)] = &value;
    for (const auto& [tag, value] : named) writer.Add(tag, *value);
}

void WriteMessageObject(const mapi::Message& message, cfb::Storage& storage, ObjectKind kind, NameMap& names, int depth);

void WriteRecipient(const mapi::Recipient& recipient, std::uint32_t index, cfb::Storage& parent, NameMap& names) {
    cfb::Storage& storage = parent.AddStorage("__recip_version1.0_#" + Hex(index, 8));
    PropertyStreamWriter writer(storage, ObjectKind::Recipient);
    const mapi::PropertyBag& bag = recipient.props;
    Overrides overrides;
    if (!bag.Has(mapi::PR_ROWID)) overrides[mapi::PR_ROWID] = static_cast<std::int32_t>(index);
    if (!bag.Has(mapi::PR_OBJECT_TYPE)) overrides[mapi::PR_OBJECT_TYPE] = mapi::MAPI_MAILUSER;
    WriteBag(bag, writer, names, overrides);
    writer.Finish();
}

void WriteAttachment(const mapi::Attachment& attachment, std::uint32_t index, cfb::Storage& parent, NameMap& names,
                     int depth) {
    cfb::Storage& storage = parent.AddStorage("__attach_version1.0_#" + Hex(index, 8));
    PropertyStreamWriter writer(storage, ObjectKind::Attachment);
    const mapi::PropertyBag& bag = attachment.props;
    Overrides overrides;
    overrides[mapi::PR_ATTACH_NUM] = static_cast<std::int32_t>(index);
    if (!bag.Has(mapi::PR_OBJECT_TYPE)) overrides[mapi::PR_OBJECT_TYPE] = mapi::MAPI_ATTACH;
    std::optional<mapi::PropTag> removed;
    if (attachment.embedded) {
        overrides[mapi::PR_ATTACH_METHOD] = mapi::ATTACH_EMBEDDED_MSG;
        removed = mapi::PR_ATTACH_DATA_BIN;
    }
    WriteBag(bag, writer, names, overrides, removed);
    if (attachment.embedded) {
        if (depth >= kMaxEmbeddingDepth) throw std::invalid_argument("embedded messages nested too deeply");
        writer.AddObject(mapi::PR_ATTACH_DATA_OBJ);
        cfb::Storage& inner = storage.AddStorage(ValueStreamName(mapi::PR_ATTACH_DATA_OBJ));
        WriteMessageObject(*attachment.embedded, inner, ObjectKind::EmbeddedMessage, names, depth + 1);
    }
    writer.Finish();
}

void WriteMessageObject(const mapi::Message& message, cfb::Storage& storage, ObjectKind kind, NameMap& names, int depth) {
    PropertyStreamWriter writer(storage, kind);
    const mapi::PropertyBag& bag = message.props;
    Overrides overrides;
    if (!bag.Has(mapi::PR_MESSAGE_CLASS_W)) overrides[mapi::PR_MESSAGE_CLASS_W] = std::string("IPM.Note");
    std::int32_t mask = bag.GetInt32(mapi::PR_STORE_SUPPORT_MASK).value_or(0);
    overrides[mapi::PR_STORE_SUPPORT_MASK] = mask | mapi::STORE_UNICODE_OK;
    std::int32_t flags = bag.GetInt32(mapi::PR_MESSAGE_FLAGS).value_or(mapi::MSGFLAG_READ);
    flags = message.attachments.empty() ? (flags & ~mapi::MSGFLAG_HASATTACH) : (flags | mapi::MSGFLAG_HASATTACH);
    overrides[mapi::PR_MESSAGE_FLAGS] = flags;
    WriteBag(bag, writer, names, overrides);

    // Header: reserved (8), next recipient id, next attachment id, recipient count, attachment count.
    Bytes& header = writer.header();
    auto put_at = [&header](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) header[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    const auto recipients = static_cast<std::uint32_t>(message.recipients.size());
    const auto attachments = static_cast<std::uint32_t>(message.attachments.size());
    put_at(8, recipients);
    put_at(12, attachments);
    put_at(16, recipients);
    put_at(20, attachments);
    writer.Finish();

    for (std::uint32_t i = 0; i < recipients; ++i) WriteRecipient(message.recipients[i], i, storage, names);
    for (std::uint32_t i = 0; i < attachments; ++i) WriteAttachment(message.attachments[i], i, storage, names, depth);
}

}  // namespace

std::u16string Utf8ToUtf16(const std::string& text) { return platform::Utf8ToUtf16(text); }

void BuildMsgStorage(const mapi::Message& message, cfb::Storage& root) {
    NameMap names;
    WriteMessageObject(message, root, ObjectKind::TopMessage, names, 0);
    names.WriteStorage(root);
}

std::string MsgFileBytes(const mapi::Message& message) {
    cfb::Storage root = cfb::MakeRootStorage();
    BuildMsgStorage(message, root);
    return cfb::CompoundFileBytes(root);
}

void WriteMsgFile(const mapi::Message& message, const std::string& path) {
    cfb::Storage root = cfb::MakeRootStorage();
    BuildMsgStorage(message, root);
    cfb::WriteCompoundFile(root, path);
}

}  // namespace msg
