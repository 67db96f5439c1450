#include "store/pst/ltp/value_codec.h"

#include <bit>
#include <cstring>

namespace pst::ltp {
namespace {

using mapi::PropType;

static_assert(std::endian::native == std::endian::little, "UTF-16LE units are stored as they lie in memory");

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

Bytes EncodeMulti(const std::vector<Bytes>& items) {
    Bytes out;
    AppendLe(out, items.size(), 4);
    std::size_t offset = 4 + 4 * items.size();
    for (const auto& i : items) {
        AppendLe(out, offset, 4);
        offset += i.size();
    }
    for (const auto& i : items) out.insert(out.end(), i.begin(), i.end());
    return out;
}

std::vector<Bytes> DecodeMulti(std::span<const std::uint8_t> b) {
    std::vector<Bytes> out;
    if (b.size() < 4) return out;
    std::size_t n = LoadLe(b.subspan(0, 4));
    if (n > (b.size() - 4) / 4) throw PstError("multi-value count past its data");
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t begin = LoadLe(b.subspan(4 + i * 4, 4));
        std::size_t end = i + 1 < n ? LoadLe(b.subspan(8 + i * 4, 4)) : b.size();
        if (begin > end || end > b.size()) throw PstError("multi-value offsets");
        out.emplace_back(b.begin() + begin, b.begin() + end);
    }
    return out;
}

}  // namespace

Bytes Utf8ToUtf16(const std::string& s) {
    // Every input byte yields at most two output bytes (a four-byte sequence yields four), so
    // the buffer is sized once and filled through a pointer: this runs for every string
    // property of every message.
    Bytes out(s.size() * 2);
    std::uint8_t* p = out.data();
    auto put = [&p](char32_t unit) {
        *p++ = static_cast<std::uint8_t>(unit & 0xFF);
        *p++ = static_cast<std::uint8_t>(unit >> 8);
    };
    for (std::size_t i = 0; i < s.size();) {
        // Runs of ASCII four bytes at a time: nearly all the text of a message is ASCII, and a
        // byte at a time made this conversion a twentieth of a PST export.
        while (i + 4 <= s.size()) {
            std::uint32_t four;
            std::memcpy(&four, s.data() + i, 4);
            if ((four & 0x80808080u) != 0) break;
            std::uint64_t wide = four;
            wide = (wide | (wide << 16)) & 0x0000FFFF0000FFFFull;
            wide = (wide | (wide << 8)) & 0x00FF00FF00FF00FFull;
            std::memcpy(p, &wide, 8);
            p += 8;
            i += 4;
        }
        if (i == s.size()) break;
        auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            *p++ = c;  // one byte, one code unit
            *p++ = 0;
            ++i;
            continue;
        }
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if ((c >> 5) == 6 && i + 1 < s.size()) {
            cp = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F);
            len = 2;
        } else if ((c >> 4) == 14 && i + 2 < s.size()) {
            cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
            len = 3;
        } else if ((c >> 3) == 30 && i + 3 < s.size()) {
            cp = ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
            len = 4;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
        i += len;
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
    return out;
}

std::string Utf16ToUtf8(std::span<const std::uint8_t> b) {
    std::string out;
    out.reserve(b.size() / 2);
    for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
        char32_t c = b[i] | (b[i + 1] << 8);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < b.size()) {
            char32_t lo = b[i + 2] | (b[i + 3] << 8);
            if (lo >= 0xDC00 && lo < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                i += 2;
            }
        }
        AppendUtf8(out, c);
    }
    return out;
}

Bytes EncodeValue(mapi::PropTag tag, const mapi::PropValue& value, mapi::PropTag* stored_tag) {
    *stored_tag = tag;
    Bytes out;
    const auto type = mapi::TagType(tag);
    auto fail = [&]() -> Bytes { throw PstError("property value does not match its tag type"); };
    switch (type) {
        case PropType::Int16:
            if (auto* v = std::get_if<std::int16_t>(&value)) AppendLe(out, static_cast<std::uint16_t>(*v), 2);
            else if (auto* w = std::get_if<std::int32_t>(&value)) AppendLe(out, static_cast<std::uint16_t>(*w), 2);
            else return fail();
            return out;
        case PropType::Int32:
            if (auto* v = std::get_if<std::int32_t>(&value)) AppendLe(out, static_cast<std::uint32_t>(*v), 4);
            else return fail();
            return out;
        case PropType::Boolean:
            if (auto* v = std::get_if<bool>(&value)) out.push_back(*v ? 1 : 0);
            else return fail();
            return out;
        case PropType::Int64:
            if (auto* v = std::get_if<std::int64_t>(&value)) AppendLe(out, static_cast<std::uint64_t>(*v), 8);
            else return fail();
            return out;
        case PropType::SysTime:
            if (auto* v = std::get_if<mapi::Filetime>(&value)) AppendLe(out, v->ticks, 8);
            else return fail();
            return out;
        case PropType::String8:
        case PropType::Unicode:
            if (auto* v = std::get_if<std::string>(&value)) out = Utf8ToUtf16(*v);
            else return fail();
            *stored_tag = (tag & 0xFFFF0000u) | static_cast<std::uint16_t>(PropType::Unicode);
            return out;
        case PropType::Binary:
            if (auto* v = std::get_if<mapi::Binary>(&value)) out = *v;
            else return fail();
            return out;
        case PropType::Guid:
            if (auto* v = std::get_if<mapi::Guid>(&value)) out.assign(v->begin(), v->end());
            else return fail();
            return out;
        case PropType::MvInt32:
            if (auto* v = std::get_if<std::vector<std::int32_t>>(&value)) {
                for (auto i : *v) AppendLe(out, static_cast<std::uint32_t>(i), 4);
            } else {
                return fail();
            }
            return out;
        case PropType::MvUnicode:
            if (auto* v = std::get_if<std::vector<std::string>>(&value)) {
                std::vector<Bytes> items;
                for (const auto& s : *v) items.push_back(Utf8ToUtf16(s));
                return EncodeMulti(items);
            }
            return fail();
        case PropType::MvBinary:
            if (auto* v = std::get_if<std::vector<mapi::Binary>>(&value)) return EncodeMulti(*v);
            return fail();
        default:
            throw PstError("property type not supported by the PST writer");
    }
}

std::optional<mapi::PropValue> DecodeValue(mapi::PropTag tag, std::span<const std::uint8_t> b) {
    auto need = [&](std::size_t n) {
        if (b.size() != n) throw PstError("stored property of the wrong size");
    };
    switch (mapi::TagType(tag)) {
        case PropType::Int16: need(2); return static_cast<std::int16_t>(LoadLe(b));
        case PropType::Int32: need(4); return static_cast<std::int32_t>(LoadLe(b));
        case PropType::Boolean: need(1); return b[0] != 0;
        case PropType::Int64: need(8); return static_cast<std::int64_t>(LoadLe(b));
        case PropType::SysTime: need(8); return mapi::Filetime{LoadLe(b)};
        case PropType::Unicode: return Utf16ToUtf8(b);
        case PropType::String8: return std::string(b.begin(), b.end());
        case PropType::Binary: return mapi::Binary(b.begin(), b.end());
        case PropType::Guid: {
            need(16);
            mapi::Guid g{};
            std::copy(b.begin(), b.end(), g.begin());
            return g;
        }
        case PropType::MvInt32: {
            if (b.size() % 4) throw PstError("stored multi-value size");
            std::vector<std::int32_t> v;
            for (std::size_t i = 0; i < b.size(); i += 4) v.push_back(static_cast<std::int32_t>(LoadLe(b.subspan(i, 4))));
            return v;
        }
        case PropType::MvUnicode: {
            std::vector<std::string> v;
            for (const auto& item : DecodeMulti(b)) v.push_back(Utf16ToUtf8(item));
            return v;
        }
        case PropType::MvBinary: return DecodeMulti(b);
        default: return std::nullopt;
    }
}

}  // namespace pst::ltp
