// The name-to-id map: which named property each id from 0x8000 up stands for, with the
// streams and hash buckets readers look names up in.
#include <algorithm>
#include <mutex>

#include "store/pst/messaging/store_internals.h"
#include "store/pst/ndb/crc.h"

namespace pst::messaging {

namespace {
constexpr std::uint32_t kBucketCount = 251;

std::uint16_t GuidIndex(const mapi::Guid& g, std::vector<mapi::Guid>& guids, bool add) {
    if (g == kPsMapi) return 1;
    if (g == kPsPublicStrings) return 2;
    for (std::size_t i = 0; i < guids.size(); ++i)
        if (guids[i] == g) return static_cast<std::uint16_t>(3 + i);
    if (!add) return 0;
    guids.push_back(g);
    return static_cast<std::uint16_t>(3 + guids.size() - 1);
}
}  // namespace

std::optional<std::uint32_t> Store::KnownNamedId(const mapi::NamedProperty& name) const {
    mapi::NamedProperty key = name;
    key.type = mapi::PropType::Unicode;
    std::lock_guard<std::mutex> lock(names_mutex_);
    auto it = name_ids_.find(key);
    if (it == name_ids_.end()) return std::nullopt;
    return it->second;
}

std::uint32_t Store::NamedId(const mapi::NamedProperty& name) {
    mapi::NamedProperty key = name;
    key.type = mapi::PropType::Unicode;  // the map names a property whatever its type
    std::lock_guard<std::mutex> lock(names_mutex_);
    auto it = name_ids_.find(key);
    if (it != name_ids_.end()) return it->second;
    if (names_.size() >= 0x7FFF) throw PstError("too many named properties");
    const auto id = static_cast<std::uint32_t>(0x8000 + names_.size());
    names_.push_back(key);
    name_ids_[key] = id;
    names_dirty_ = true;
    return id;
}

void Store::LoadNameMap() {
    auto node = db_->FindNode(nid::kNameToIdMap);
    if (!node) return;
    ltp::NodeReader reader(*db_, node->bid_data, node->bid_sub);
    auto props = ltp::ReadPropertyContext(reader);
    const Bytes& guid_stream = props[tag::kNameidStreamGuid];
    const Bytes& entries = props[tag::kNameidStreamEntry];
    const Bytes& strings = props[tag::kNameidStreamString];
    std::lock_guard<std::mutex> lock(names_mutex_);
    names_.clear();
    name_ids_.clear();
    for (std::size_t off = 0; off + 8 <= entries.size(); off += 8) {
        auto value = static_cast<std::uint32_t>(LoadLe({entries.data() + off, 4}));
        auto guid_field = static_cast<std::uint16_t>(LoadLe({entries.data() + off + 4, 2}));
        auto index = static_cast<std::uint16_t>(LoadLe({entries.data() + off + 6, 2}));
        mapi::NamedProperty np;
        const std::uint16_t guid_index = guid_field >> 1;
        if (guid_index == 1) {
            np.property_set = kPsMapi;
        } else if (guid_index == 2) {
            np.property_set = kPsPublicStrings;
        } else if (guid_index >= 3 && (guid_index - 3u + 1) * 16 <= guid_stream.size()) {
            std::copy_n(guid_stream.begin() + (guid_index - 3) * 16, 16, np.property_set.begin());
        }
        if (guid_field & 1) {
            if (value + 4ull > strings.size()) throw PstError("named property string outside its stream");
            std::size_t len = LoadLe({strings.data() + value, 4});
            if (len > strings.size() - value - 4) throw PstError("named property string too long");
            np.name = ltp::Utf16ToUtf8({strings.data() + value + 4, len});
        } else {
            np.lid = value;
        }
        if (index != names_.size()) throw PstError("named property entries out of order");
        names_.push_back(np);
        name_ids_[np] = 0x8000 + index;
    }
}

void Store::WriteNameMap() {
    std::vector<mapi::Guid> guids;
    Bytes entry_stream, string_stream;
    std::vector<Bytes> buckets(kBucketCount);
    for (std::size_t i = 0; i < names_.size(); ++i) {
        const auto& np = names_[i];
        const std::uint16_t guid_index = GuidIndex(np.property_set, guids, true);
        const bool is_string = !np.lid.has_value();
        const auto guid_field = static_cast<std::uint16_t>((guid_index << 1) | (is_string ? 1 : 0));
        std::uint32_t value = 0, hash_key = 0;
        if (is_string) {
            Bytes name16 = ltp::Utf8ToUtf16(np.name);
            value = static_cast<std::uint32_t>(string_stream.size());
            AppendLe(string_stream, name16.size(), 4);
            string_stream.insert(string_stream.end(), name16.begin(), name16.end());
            while (string_stream.size() % 4) string_stream.push_back(0);
            hash_key = ndb::ComputeCrc(name16);
        } else {
            value = *np.lid;
            hash_key = value;
        }
        AppendLe(entry_stream, value, 4);
        AppendLe(entry_stream, guid_field, 2);
        AppendLe(entry_stream, i, 2);
        Bytes& bucket = buckets[(hash_key ^ guid_field) % kBucketCount];
        AppendLe(bucket, hash_key, 4);
        AppendLe(bucket, guid_field, 2);
        AppendLe(bucket, i, 2);
    }
    PropMap props;
    props[tag::kNameidBucketCount] = Int32Bytes(kBucketCount);
    Bytes guid_stream;
    for (const auto& g : guids) guid_stream.insert(guid_stream.end(), g.begin(), g.end());
    props[tag::kNameidStreamGuid] = guid_stream;
    props[tag::kNameidStreamEntry] = entry_stream;
    props[tag::kNameidStreamString] = string_stream;
    for (std::uint32_t b = 0; b < kBucketCount; ++b)
        if (!buckets[b].empty()) props[tag::kNameidBucketBase + (b << 16)] = buckets[b];
    std::uint32_t counter = 0x400;
    WriteNode(nid::kNameToIdMap, ltp::BuildPropertyContext(props, [&] { return NidForSubnode(ndb::kNidTypeLtp, counter); }),
              0);
    names_dirty_ = false;
}

}  // namespace pst::messaging
