#include "imap/mailbox_name.h"

#include <cstdint>
#include <vector>

#include "platform/text_encoding.h"

namespace imap {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
constexpr char32_t kReplacement = 0xFFFD;

bool StandsForItself(char32_t c) { return c >= 0x20 && c <= 0x7E && c != '&'; }

// The next code point of text at `at`, moving `at` past it; U+FFFD for a byte that does not
// begin a well-formed sequence (overlong forms and surrogates included), which then costs one byte.
char32_t NextCodePoint(std::string_view text, std::size_t& at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        ++at;
        return lead;
    }
    std::size_t length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07, minimum = 0x10000;
    } else {
        ++at;
        return kReplacement;
    }
    if (at + length > text.size()) {
        ++at;
        return kReplacement;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            ++at;
            return kReplacement;
        }
        c = (c << 6) | (byte(at + i) & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++at;
        return kReplacement;
    }
    at += length;
    return c;
}

// A run of UTF-16 code units in the modified base64, without padding.
void AppendBase64(std::string& out, const std::vector<std::uint16_t>& units) {
    std::uint32_t bits = 0;
    int bit_count = 0;
    for (std::uint16_t unit : units) {
        bits = (bits << 16) | unit;
        bit_count += 16;
        while (bit_count >= 6) {
            bit_count -= 6;
            out += kAlphabet[(bits >> bit_count) & 0x3F];
        }
        bits &= (1u << bit_count) - 1;
    }
    if (bit_count > 0) out += kAlphabet[(bits << (6 - bit_count)) & 0x3F];
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == ',') return 63;
    return -1;
}

}  // namespace

std::string EncodeMailboxName(std::string_view utf8) {
    std::string out;
    std::vector<std::uint16_t> run;
    const auto end_run = [&] {
        if (run.empty()) return;
        out += '&';
        AppendBase64(out, run);
        out += '-';
        run.clear();
    };
    for (std::size_t at = 0; at < utf8.size();) {
        const char32_t c = NextCodePoint(utf8, at);
        if (StandsForItself(c)) {
            end_run();
            out += static_cast<char>(c);
        } else if (c == '&') {
            end_run();
            out += "&-";
        } else if (c >= 0x10000) {
            run.push_back(static_cast<std::uint16_t>(0xD800 + ((c - 0x10000) >> 10)));
            run.push_back(static_cast<std::uint16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            run.push_back(static_cast<std::uint16_t>(c));
        }
    }
    end_run();
    return out;
}

std::optional<std::string> DecodeMailboxName(std::string_view name) {
    std::string out;
    for (std::size_t at = 0; at < name.size();) {
        const char c = name[at];
        if (c != '&') {
            if (!StandsForItself(static_cast<unsigned char>(c))) return std::nullopt;
            out += c;
            ++at;
            continue;
        }
        const std::size_t close = name.find('-', at + 1);
        if (close == std::string_view::npos) return std::nullopt;
        if (close == at + 1) {
            out += '&';
            at = close + 1;
            continue;
        }
        std::uint32_t bits = 0;
        int bit_count = 0;
        std::vector<std::uint16_t> units;
        for (std::size_t i = at + 1; i < close; ++i) {
            const int value = Base64Value(name[i]);
            if (value < 0) return std::nullopt;
            bits = (bits << 6) | static_cast<std::uint32_t>(value);
            bit_count += 6;
            if (bit_count >= 16) {
                bit_count -= 16;
                units.push_back(static_cast<std::uint16_t>(bits >> bit_count));
                bits &= (1u << bit_count) - 1;
            }
        }
        // What is left over must be padding zeros, fewer than one base64 digit's worth beyond a unit.
        if (bit_count >= 6 || bits != 0 || units.empty()) return std::nullopt;
        for (std::size_t i = 0; i < units.size(); ++i) {
            const std::uint16_t unit = units[i];
            char32_t code = unit;
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return std::nullopt;
                code = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
                ++i;
            } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                return std::nullopt;
            }
            // A character that could stand for itself must not be encoded.
            if (StandsForItself(code) || code == '&') return std::nullopt;
            platform::AppendUtf8(out, code);
        }
        at = close + 1;
    }
    return out;
}

}  // namespace imap
