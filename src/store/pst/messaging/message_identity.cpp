#include "store/pst/messaging/message_identity.h"

#include <cstring>

#include "store/pst/ltp/value_codec.h"
#include "store/pst/messaging/tags.h"

namespace pst::messaging {
namespace {

constexpr std::uint32_t kInternetMessageId = 0x1035001F;
constexpr std::uint32_t kInternetMessageId8 = 0x1035001E;
constexpr std::uint32_t kSubject8 = 0x0037001E;

std::uint64_t Rotl(std::uint64_t v, int n) { return (v << n) | (v >> (64 - n)); }

// A streaming 128-bit hash: two lanes fed eight bytes at a time with multiply-rotate mixing and
// crossed at the end. Fast enough to digest every imported message.
class Hash128 {
public:
    void Add(const void* data, std::size_t size) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        total_ += size;
        while (size > 0) {
            const std::size_t take = std::min(size, 8 - pending_size_);
            std::memcpy(pending_ + pending_size_, p, take);
            pending_size_ += take;
            p += take;
            size -= take;
            if (pending_size_ == 8) Mix();
        }
    }
    void AddNumber(std::uint64_t v) { Add(&v, sizeof v); }
    // A length first, so that two fields can never run into each other.
    void AddField(std::span<const std::uint8_t> bytes) {
        AddNumber(bytes.size());
        Add(bytes.data(), bytes.size());
    }
    MessageIdentity Finish() {
        AddNumber(total_);
        while (pending_size_ != 0) Add("", 1);
        std::uint64_t a = a_ ^ Rotl(b_, 17), b = b_ ^ Rotl(a_, 43);
        for (int round = 0; round < 3; ++round) {
            a = (a ^ (a >> 31)) * 0xBF58476D1CE4E5B9ull + b;
            b = (b ^ (b >> 29)) * 0x94D049BB133111EBull + a;
        }
        return {a, b};
    }

private:
    void Mix() {
        std::uint64_t w;
        std::memcpy(&w, pending_, 8);
        pending_size_ = 0;
        a_ = Rotl(a_ ^ (w * 0x87C37B91114253D5ull), 31) * 0x4CF5AD432745937Full + b_;
        b_ = Rotl(b_ ^ (w * 0x4CF5AD432745937Full), 33) * 0x87C37B91114253D5ull + 0x52DCE729;
    }
    std::uint64_t a_ = 0x6A09E667F3BCC908ull, b_ = 0xBB67AE8584CAA73Bull, total_ = 0;
    std::uint8_t pending_[8] = {};
    std::size_t pending_size_ = 0;
};

void AddValue(Hash128& h, mapi::PropTag tag, const mapi::PropValue& value) {
    mapi::PropTag stored = 0;
    const ltp::Bytes bytes = ltp::EncodeValue(tag, value, &stored);
    h.AddNumber(stored);
    h.AddField(bytes);
}

void AddBag(Hash128& h, const mapi::PropertyBag& bag) {
    h.AddNumber(bag.all().size());
    for (const auto& [tag, value] : bag.all())
        if (tag != mapi::PR_SEARCH_KEY) AddValue(h, tag, value);
    h.AddNumber(bag.named().size());
    for (const auto& [name, value] : bag.named()) {
        h.Add(name.property_set.data(), name.property_set.size());
        h.AddNumber(name.lid ? 1 + std::uint64_t{*name.lid} : 0);
        h.AddField({reinterpret_cast<const std::uint8_t*>(name.name.data()), name.name.size()});
        AddValue(h, static_cast<std::uint16_t>(name.type), value);
    }
}

void AddMessage(Hash128& h, const mapi::Message& m, int depth) {
    if (depth > 32) throw PstError("embedded messages nested too deep");
    AddBag(h, m.props);
    h.AddNumber(m.recipients.size());
    for (const auto& r : m.recipients) AddBag(h, r.props);
    h.AddNumber(m.attachments.size());
    for (const auto& a : m.attachments) {
        AddBag(h, a.props);
        h.AddNumber(a.embedded ? 1 : 0);
        if (a.embedded) AddMessage(h, *a.embedded, depth + 1);
    }
}

const ltp::Bytes* Find(const ltp::PropMap& props, std::uint32_t tag) {
    auto it = props.find(tag);
    return it == props.end() ? nullptr : &it->second;
}

std::span<const std::uint8_t> Or(const ltp::Bytes* value) { return value ? std::span<const std::uint8_t>(*value) : std::span<const std::uint8_t>(); }

}  // namespace

ltp::Bytes ContentDigest(const mapi::Message& message) {
    Hash128 h;
    AddMessage(h, message, 0);
    const MessageIdentity d = h.Finish();
    ltp::Bytes out;
    ltp::AppendLe(out, d.high, 8);
    ltp::AppendLe(out, d.low, 8);
    return out;
}

bool IsIdentityTag(std::uint32_t tag) {
    return tag == kInternetMessageId || tag == kInternetMessageId8 || tag == mapi::PR_SUBJECT_W || tag == kSubject8 ||
           tag == mapi::PR_CLIENT_SUBMIT_TIME || tag == mapi::PR_SEARCH_KEY;
}

std::optional<MessageIdentity> IdentityOfStored(const ltp::PropMap& props) {
    const ltp::Bytes* id = Find(props, kInternetMessageId);
    if (!id || id->empty()) id = Find(props, kInternetMessageId8);
    Hash128 h;
    if (id && !id->empty()) {
        const ltp::Bytes* subject = Find(props, mapi::PR_SUBJECT_W);
        if (!subject) subject = Find(props, kSubject8);
        h.AddNumber(1);
        h.AddField(*id);
        h.AddField(Or(Find(props, mapi::PR_CLIENT_SUBMIT_TIME)));
        h.AddField(Or(subject));
        return h.Finish();
    }
    const ltp::Bytes* key = Find(props, mapi::PR_SEARCH_KEY);
    if (!key || key->empty()) return std::nullopt;
    h.AddNumber(2);
    h.AddField(*key);
    return h.Finish();
}

}  // namespace pst::messaging
