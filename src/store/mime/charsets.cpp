#include "store/mime/charsets.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>
#include <glib.h>

#include "platform/text_encoding.h"
#include "store/mapi/prop_tags.h"
#include "store/mime/unlabelled_text.h"

namespace mime {
namespace {

struct CharsetCodePage {
    const char* charset;  // lower case
    std::int32_t code_page;
};

// The first entry of each code page is the name written back.
constexpr CharsetCodePage kCharsets[] = {
    {"utf-8", 65001},        {"utf8", 65001},         {"us-ascii", 20127},    {"ascii", 20127},
    {"windows-1250", 1250},  {"windows-1251", 1251},  {"windows-1252", 1252}, {"windows-1253", 1253},
    {"windows-1254", 1254},  {"windows-1255", 1255},  {"windows-1256", 1256}, {"windows-1257", 1257},
    {"windows-1258", 1258},  {"cp1250", 1250},        {"cp1251", 1251},       {"cp1252", 1252},
    {"windows-874", 874},    {"tis-620", 874},
    {"iso-8859-1", 28591},   {"latin1", 28591},       {"iso-8859-2", 28592},  {"iso-8859-3", 28593},
    {"iso-8859-4", 28594},   {"iso-8859-5", 28595},   {"iso-8859-6", 28596},  {"iso-8859-7", 28597},
    {"iso-8859-8", 28598},   {"iso-8859-9", 28599},   {"iso-8859-13", 28603}, {"iso-8859-15", 28605},
    {"koi8-r", 20866},       {"koi8-u", 21866},
    {"shift_jis", 932},      {"shift-jis", 932},      {"sjis", 932},          {"cp932", 932},
    {"iso-2022-jp", 50220},  {"euc-jp", 51932},
    {"gb2312", 936},         {"gbk", 936},            {"cp936", 936},         {"gb18030", 54936},
    {"hz-gb-2312", 52936},   {"big5", 950},           {"cp950", 950},
    {"ks_c_5601-1987", 949}, {"euc-kr", 949},         {"cp949", 949},         {"iso-2022-kr", 50225},
    {"utf-16", 1200},        {"utf-16le", 1200},      {"utf-16be", 1201},
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string Windows1252ToUtf8(const std::string& bytes) {
    // The five holes of windows-1252 are taken as the C1 controls, so every byte converts.
    static const char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                       0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    // The ASCII run it starts with (mostly the whole text) is copied as it is; for the rest, at
    // most three bytes out for each byte in: the buffer is sized once and filled through a
    // pointer, since every body of the commonest charset comes through here.
    const std::size_t ascii = platform::AsciiPrefixLength(bytes);
    if (ascii == bytes.size()) return bytes;
    std::string out(ascii + (bytes.size() - ascii) * 3, '\0');
    std::memcpy(out.data(), bytes.data(), ascii);
    char* p = out.data() + ascii;
    for (unsigned char c : std::string_view(bytes).substr(ascii)) {
        char32_t cp = (c >= 0x80 && c < 0xA0) ? kHigh[c - 0x80] : c;
        if (cp < 0x80) {
            *p++ = static_cast<char>(cp);
        } else if (cp < 0x800) {
            *p++ = static_cast<char>(0xC0 | (cp >> 6));
            *p++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *p++ = static_cast<char>(0xE0 | (cp >> 12));
            *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *p++ = static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
    return out;
}

}  // namespace

std::optional<std::int32_t> CodePageOfCharset(const std::string& charset) {
    const std::string name = Lower(charset);
    for (const auto& entry : kCharsets) {
        if (name == entry.charset) return entry.code_page;
    }
    return std::nullopt;
}

std::optional<std::string> CharsetOfCodePage(std::int32_t code_page) {
    for (const auto& entry : kCharsets) {
        if (entry.code_page == code_page) return std::string(entry.charset);
    }
    return std::nullopt;
}

std::string EnsureUtf8(const std::string& bytes) {
    if (g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)) return bytes;
    return Windows1252ToUtf8(bytes);
}

bool IsKnownCharset(const std::string& charset) {
    const std::string name = Lower(charset);
    return name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii" || !WindowsCodepageOf(name).empty();
}

std::string WithoutByteOrderMark(std::string utf8) {
    if (utf8.rfind("\xEF\xBB\xBF", 0) == 0) utf8.erase(0, 3);
    return utf8;
}

std::string ToUtf8(const std::string& bytes, const std::string& charset) {
    const std::string name = Lower(charset);
    if (name.empty() || name == "us-ascii" || name == "ascii") return EnsureUtf8(bytes);
    if (name == "utf-8" || name == "utf8") return platform::DecodeUtf8Leniently(bytes);
    if (name == "windows-1252" || name == "cp1252" || name == "iso-8859-1" || name == "latin1") {
        return Windows1252ToUtf8(bytes);  // what senders labelled latin1 is in practice windows-1252
    }
    // The Windows code page of a national charset reads what Windows senders wrote under its
    // name (NEC and IBM characters under shift_jis, GBK under gb2312); a byte it cannot read
    // costs that byte, never the whole text.
    const std::string code_page = WindowsCodepageOf(name);
    std::string decoded;
    if (!code_page.empty() && code_page.rfind("ISO-2022", 0) != 0 && code_page != "HZ-GB-2312" &&
        platform::DecodeCodepage(bytes, code_page, decoded)) {
        return decoded;
    }
    gsize written = 0;
    GError* error = nullptr;
    gchar* converted = g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", name.c_str(), nullptr,
                                 &written, &error);
    if (converted == nullptr) {
        g_clear_error(&error);
        return EnsureUtf8(bytes);
    }
    std::string out(converted, written);
    g_free(converted);
    return EnsureUtf8(out);
}

std::string HtmlBodyUtf8(const mapi::Message& message) {
    const mapi::Binary* html = message.props.GetBinary(mapi::PR_HTML);
    if (html == nullptr) return {};
    std::string bytes(html->begin(), html->end());
    std::int32_t code_page = message.props.GetInt32(mapi::PR_INTERNET_CPID).value_or(mapi::CP_UTF8);
    return ToUtf8(bytes, CharsetOfCodePage(code_page).value_or("utf-8"));
}

}  // namespace mime
