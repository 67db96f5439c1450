#include "platform/text_encoding.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace platform {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Length of the well-formed UTF-8 sequence at the start of s, or 0 when it is not one.
std::size_t Utf8SequenceLength(std::string_view s, char32_t& code_point) {
    const auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 < 0x80) {
        code_point = b0;
        return 1;
    }
    std::size_t length;
    char32_t value;
    char32_t minimum;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2, value = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3, value = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4, value = b0 & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80) return 0;
        value = (value << 6) | (b & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    code_point = value;
    return length;
}

// The character of a surrogate pair written as two 3-byte sequences (ED A0-AF xx ED B0-BF xx)
// at the start of s, or 0 when there is none.
char32_t CesuPairAt(std::string_view s) {
    if (s.size() < 6) return 0;
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    if (b(0) != 0xED || (b(1) & 0xF0) != 0xA0 || (b(2) & 0xC0) != 0x80) return 0;
    if (b(3) != 0xED || (b(4) & 0xF0) != 0xB0 || (b(5) & 0xC0) != 0x80) return 0;
    const char32_t high = 0xD000 | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    const char32_t low = 0xD000 | ((b(4) & 0x3F) << 6) | (b(5) & 0x3F);
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

// One iconv descriptor per code page, opened once; conversions hold the lock, as a descriptor
// keeps shift state and must not be shared by two threads at once.
class ConverterCache {
public:
    static ConverterCache& Instance() {
        static ConverterCache cache;
        return cache;
    }
    template <typename Fn>
    bool With(const std::string& codepage, Fn&& fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = converters_.find(codepage);
        if (it == converters_.end()) {
            iconv_t cd = iconv_open("UTF-16LE", codepage.c_str());
            it = converters_.emplace(codepage, cd).first;
        }
        if (it->second == reinterpret_cast<iconv_t>(-1)) return false;
        iconv(it->second, nullptr, nullptr, nullptr, nullptr);
        fn(it->second);
        return true;
    }

private:
    ~ConverterCache() {
        for (auto& [name, cd] : converters_)
            if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
    std::mutex mutex_;
    std::map<std::string, iconv_t> converters_;
};

// Converts with iconv; a byte iconv refuses becomes the code point of its own value.
std::u16string ConvertWithFallback(iconv_t cd, std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    std::array<char, 1024> buffer;
    char* in = const_cast<char*>(bytes.data());
    std::size_t in_left = bytes.size();
    while (in_left > 0) {
        char* out_ptr = buffer.data();
        std::size_t out_left = buffer.size();
        const std::size_t rc = iconv(cd, &in, &in_left, &out_ptr, &out_left);
        const std::size_t produced = buffer.size() - out_left;
        for (std::size_t i = 0; i + 1 < produced; i += 2)
            out.push_back(static_cast<char16_t>(static_cast<unsigned char>(buffer[i]) |
                                                (static_cast<unsigned char>(buffer[i + 1]) << 8)));
        if (rc != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // EILSEQ or EINVAL (a lead byte at the end): take the byte as its own code point.
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*in)));
        ++in;
        --in_left;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

struct LanguageCodepage {
    const char* language;
    const char* codepage;
};

// Windows' ANSI code page by language (and, for Chinese, by territory).
constexpr LanguageCodepage kLanguageCodepages[] = {
    {"ru", "windows-1251"}, {"uk", "windows-1251"}, {"be", "windows-1251"}, {"bg", "windows-1251"},
    {"mk", "windows-1251"}, {"sr", "windows-1251"}, {"kk", "windows-1251"}, {"ky", "windows-1251"},
    {"tt", "windows-1251"}, {"mn", "windows-1251"}, {"cs", "windows-1250"}, {"pl", "windows-1250"},
    {"sk", "windows-1250"}, {"sl", "windows-1250"}, {"hu", "windows-1250"}, {"hr", "windows-1250"},
    {"ro", "windows-1250"}, {"bs", "windows-1250"}, {"sq", "windows-1250"}, {"el", "windows-1253"},
    {"tr", "windows-1254"}, {"az", "windows-1254"}, {"uz", "windows-1254"}, {"he", "windows-1255"},
    {"yi", "windows-1255"}, {"ar", "windows-1256"}, {"fa", "windows-1256"}, {"ur", "windows-1256"},
    {"et", "windows-1257"}, {"lv", "windows-1257"}, {"lt", "windows-1257"}, {"vi", "windows-1258"},
    {"th", "CP874"},        {"ja", "CP932"},        {"ko", "CP949"},
};

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    while (!utf8.empty()) {
        if (static_cast<unsigned char>(utf8[0]) < 0x80) {  // the common case, without the decoder
            out.push_back(static_cast<char16_t>(utf8[0]));
            utf8.remove_prefix(1);
            continue;
        }
        char32_t cp = 0;
        std::size_t length = Utf8SequenceLength(utf8, cp);
        if (length == 0) {
            out.push_back(kReplacement);
            length = 1;
        } else {
            AppendUtf16(out, cp);
        }
        utf8.remove_prefix(length);
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool IsWellFormedUtf8(std::string_view bytes) {
    while (!bytes.empty()) {
        char32_t cp = 0;
        const std::size_t length = Utf8SequenceLength(bytes, cp);
        if (length == 0) return false;
        bytes.remove_prefix(length);
    }
    return true;
}

bool LooksLikeMultibyteUtf8(std::string_view bytes) {
    bool multibyte = false;
    while (!bytes.empty()) {
        char32_t cp = 0;
        const std::size_t length = Utf8SequenceLength(bytes, cp);
        if (length == 0) return false;
        multibyte = multibyte || length > 1;
        bytes.remove_prefix(length);
    }
    return multibyte;
}

std::string LegacyCodepageForLocale(std::string_view locale) {
    const std::string_view language = locale.substr(0, std::min(locale.find_first_of("_.@"), locale.size()));
    if (language == "zh") {
        const bool traditional = locale.find("_TW") != std::string_view::npos ||
                                 locale.find("_HK") != std::string_view::npos ||
                                 locale.find("_MO") != std::string_view::npos;
        return traditional ? "CP950" : "CP936";
    }
    for (const auto& entry : kLanguageCodepages)
        if (language == entry.language) return entry.codepage;
    return "windows-1252";
}

std::string DefaultLegacyCodepage() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return LegacyCodepageForLocale(value);
    }
    return "windows-1252";
}

bool IsKnownCodepage(const std::string& codepage) {
    return ConverterCache::Instance().With(codepage, [](iconv_t) {});
}

std::size_t AsciiPrefixLength(std::string_view text) {
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {  // eight bytes at a time
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        if ((word & 0x8080808080808080ull) != 0) break;
    }
    while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
    return i;
}

std::u16string LegacyToUtf16(std::string_view bytes, const std::string& codepage) {
    if (HasIso2022JpRuns(bytes) && IsWellFormedUtf8(bytes)) return Utf8ToUtf16(DecodeIso2022JpRuns(bytes));
    if (LooksLikeMultibyteUtf8(bytes)) return Utf8ToUtf16(bytes);
    if (AsciiPrefixLength(bytes) == bytes.size()) return std::u16string(bytes.begin(), bytes.end());
    const std::string chosen = codepage.empty() ? DefaultLegacyCodepage() : codepage;
    std::u16string out;
    const bool converted = ConverterCache::Instance().With(chosen, [&](iconv_t cd) { out = ConvertWithFallback(cd, bytes); });
    if (!converted) {
        // An unknown code page: Latin-1 keeps every byte readable rather than dropping the text.
        out.assign(bytes.begin(), bytes.end());
        std::transform(bytes.begin(), bytes.end(), out.begin(),
                       [](char c) { return static_cast<char16_t>(static_cast<unsigned char>(c)); });
    }
    return out;
}

std::string LegacyToUtf8(std::string_view bytes, const std::string& codepage) {
    if (LooksLikeMultibyteUtf8(bytes) && !HasIso2022JpRuns(bytes)) return std::string(bytes);
    return Utf16ToUtf8(LegacyToUtf16(bytes, codepage));
}

bool DecodeCodepage(std::string_view bytes, const std::string& codepage, std::string& utf8) {
    std::u16string out;
    if (!ConverterCache::Instance().With(codepage, [&](iconv_t cd) { out = ConvertWithFallback(cd, bytes); }))
        return false;
    utf8 = Utf16ToUtf8(out);
    return true;
}

std::string DecodeUtf8Leniently(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        char32_t cp = 0;
        std::size_t length = Utf8SequenceLength(bytes, cp);
        if (length > 0) {
            out.append(bytes.data(), length);
        } else if (const char32_t pair = CesuPairAt(bytes); pair != 0) {
            AppendUtf8(out, pair);
            length = 6;
        } else {
            AppendUtf8(out, kReplacement);
            length = 1;
        }
        bytes.remove_prefix(length);
    }
    return out;
}

bool HasIso2022JpRuns(std::string_view text) {
    return text.find("\x1B$B") != std::string_view::npos || text.find("\x1B$@") != std::string_view::npos;
}

std::string DecodeIso2022JpRuns(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        std::size_t start = std::min(text.find("\x1B$B"), text.find("\x1B$@"));
        if (start == std::string_view::npos) break;
        out.append(text.substr(0, start));
        text.remove_prefix(start);
        // A run ends where the text switches back to ASCII or JIS-Roman, or at the end.
        std::size_t end = std::min(text.find("\x1B(B"), text.find("\x1B(J"));
        end = end == std::string_view::npos ? text.size() : end + 3;
        const std::string_view run = text.substr(0, end);
        std::u16string decoded;
        ConverterCache::Instance().With("ISO-2022-JP", [&](iconv_t cd) { decoded = ConvertWithFallback(cd, run); });
        out += Utf16ToUtf8(decoded);
        text.remove_prefix(end);
    }
    out.append(text);
    return out;
}

}  // namespace platform
