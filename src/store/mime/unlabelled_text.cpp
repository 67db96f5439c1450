#include "store/mime/unlabelled_text.h"

#include <algorithm>
#include <cctype>

#include "platform/text_encoding.h"

namespace mime {
namespace {

// A multipart nested deeper than this, or with more parts, is not searched further: the first
// text part of any real message sits near the top.
constexpr int kMaxDepth = 16;
constexpr int kMaxParts = 256;

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

std::string_view TrimView(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

struct Entity {
    std::string_view headers;
    std::string_view body;
};

// Headers end at the first empty line; an entity that starts with one has none.
Entity SplitEntity(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) return {text, {}};
        std::string_view line = text.substr(pos, end - pos);
        if (line.empty() || line == "\r") return {text.substr(0, pos), text.substr(end + 1)};
        pos = end + 1;
    }
    return {text, {}};
}

// The unfolded value of the first header of that name (lower case), or empty.
std::string HeaderValue(std::string_view headers, std::string_view name) {
    std::size_t pos = 0;
    while (pos < headers.size()) {
        std::size_t end = headers.find('\n', pos);
        if (end == std::string_view::npos) end = headers.size();
        std::string_view line = headers.substr(pos, end - pos);
        pos = end + 1;
        if (line.size() <= name.size() || line[name.size()] != ':' || Lower(line.substr(0, name.size())) != name) continue;
        std::string value(line.substr(name.size() + 1));
        while (pos < headers.size() && (headers[pos] == ' ' || headers[pos] == '\t')) {
            end = headers.find('\n', pos);
            if (end == std::string_view::npos) end = headers.size();
            value += ' ';
            value += headers.substr(pos, end - pos);
            pos = end + 1;
        }
        return value;
    }
    return {};
}

struct ContentType {
    std::string type = "text/plain";  // what a part without the header is
    std::string charset;
    std::string boundary;
};

ContentType ParseContentType(const std::string& value) {
    ContentType out;
    if (TrimView(value).empty()) return out;
    std::size_t semi = value.find(';');
    out.type = Lower(TrimView(std::string_view(value).substr(0, semi)));
    while (semi != std::string::npos) {
        std::size_t start = semi + 1;
        std::size_t eq = value.find('=', start);
        if (eq == std::string::npos) break;
        const std::string key = Lower(TrimView(std::string_view(value).substr(start, eq - start)));
        std::size_t p = eq + 1;
        while (p < value.size() && (value[p] == ' ' || value[p] == '\t')) ++p;
        std::string param;
        if (p < value.size() && value[p] == '"') {
            std::size_t close = value.find('"', p + 1);
            if (close == std::string::npos) close = value.size();
            param = value.substr(p + 1, close - p - 1);
            semi = value.find(';', close);
        } else {
            semi = value.find(';', p);
            param = std::string(TrimView(std::string_view(value).substr(p, semi == std::string::npos ? std::string::npos : semi - p)));
        }
        if (key == "charset") out.charset = Lower(TrimView(param));
        if (key == "boundary") out.boundary = param;
    }
    return out;
}

// The body parts of a multipart body: the text between delimiter lines, up to the close one.
template <typename Visit>
bool ForEachBodyPart(std::string_view body, const std::string& boundary, Visit&& visit) {
    const std::string delimiter = "--" + boundary;
    std::size_t pos = 0;
    std::size_t part_start = std::string_view::npos;
    for (int parts = 0; parts <= kMaxParts; ++parts) {
        std::size_t found = body.find(delimiter, pos);
        while (found != std::string_view::npos && found != 0 && body[found - 1] != '\n')
            found = body.find(delimiter, found + 1);
        if (found == std::string_view::npos) {
            if (part_start != std::string_view::npos) return visit(body.substr(part_start));
            return false;
        }
        if (part_start != std::string_view::npos) {
            std::size_t part_end = found;
            if (part_end > part_start && body[part_end - 1] == '\n') --part_end;
            if (part_end > part_start && body[part_end - 1] == '\r') --part_end;
            if (visit(body.substr(part_start, part_end - part_start))) return true;
        }
        if (body.compare(found + delimiter.size(), 2, "--") == 0) return false;
        const std::size_t line_end = body.find('\n', found);
        if (line_end == std::string_view::npos) return false;
        part_start = pos = line_end + 1;
    }
    return false;
}

// The charset of the first text part that declares one, found depth first.
std::string FirstDeclaredCharset(std::string_view entity, int depth) {
    const Entity split = SplitEntity(entity);
    const ContentType type = ParseContentType(HeaderValue(split.headers, "content-type"));
    if (type.type.rfind("text/", 0) == 0) return type.charset;
    if (type.type.rfind("multipart/", 0) != 0 || type.boundary.empty() || depth >= kMaxDepth) return {};
    std::string found;
    ForEachBodyPart(split.body, type.boundary, [&](std::string_view part) {
        found = FirstDeclaredCharset(part, depth + 1);
        return !found.empty();
    });
    return found;
}

struct CharsetAlias {
    const char* charset;
    const char* code_page;
};

// The national standards and the Windows code pages that extend them (Outlook reads the one as
// the other), and the names of Latin-1 that are windows-1252 in practice.
constexpr CharsetAlias kAliases[] = {
    {"shift_jis", "CP932"},        {"shift-jis", "CP932"},   {"sjis", "CP932"},        {"x-sjis", "CP932"},
    {"ms_kanji", "CP932"},         {"csshiftjis", "CP932"},  {"windows-31j", "CP932"}, {"cp932", "CP932"},
    {"gb2312", "CP936"},           {"gbk", "CP936"},         {"x-gbk", "CP936"},       {"cp936", "CP936"},
    {"csgb2312", "CP936"},         {"euc-cn", "CP936"},      {"x-euc-cn", "CP936"},    {"gb_2312-80", "CP936"},
    {"big5", "CP950"},             {"x-x-big5", "CP950"},    {"cp950", "CP950"},       {"csbig5", "CP950"},
    {"ks_c_5601-1987", "CP949"},   {"ks_c_5601", "CP949"},   {"ks_c_5601-1989", "CP949"}, {"euc-kr", "CP949"},
    {"cp949", "CP949"},            {"korean", "CP949"},
    {"iso-8859-1", "windows-1252"}, {"iso_8859-1", "windows-1252"}, {"latin1", "windows-1252"},
    {"cp1252", "windows-1252"},    {"windows-1252", "windows-1252"},
    {"tis-620", "CP874"},          {"iso-8859-11", "CP874"}, {"windows-874", "CP874"},
};

// Seven-bit stateful charsets cannot hold 8-bit bytes: a message that declares one and still
// carries raw 8-bit header text wrote it in the Windows code page of the same language.
constexpr CharsetAlias kEightBitOf[] = {
    {"ISO-2022-JP", "CP932"}, {"ISO-2022-KR", "CP949"}, {"HZ-GB-2312", "CP936"},
};

}  // namespace

std::string WindowsCodepageOf(const std::string& charset) {
    const std::string name = Lower(TrimView(charset));
    if (name.empty()) return {};
    for (const auto& alias : kAliases)
        if (name == alias.charset) return alias.code_page;
    if (name.rfind("iso-2022-jp", 0) == 0) return "ISO-2022-JP";
    if (name == "iso-2022-kr") return "ISO-2022-KR";
    if (name == "hz-gb-2312") return "HZ-GB-2312";
    if (name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_.:") != std::string::npos) return {};
    return platform::IsKnownCodepage(name) ? name : std::string();
}

bool IsLegacyCharset(const std::string& charset) {
    const std::string name = Lower(TrimView(charset));
    for (const char* unicode : {"utf", "ucs", "unicode", "us-ascii", "ascii", "ansi_x3.4"})
        if (name.rfind(unicode, 0) == 0) return false;
    return !WindowsCodepageOf(name).empty();
}

std::string DeclaredLegacyCodepage(std::string_view message_text) {
    const std::string charset = FirstDeclaredCharset(message_text, 0);
    if (!IsLegacyCharset(charset)) return {};
    std::string code_page = WindowsCodepageOf(charset);
    for (const auto& stateful : kEightBitOf)
        if (code_page == stateful.charset) code_page = stateful.code_page;
    return code_page;
}

std::string SubjectLabelCodepage(std::string_view message_text) {
    const std::string subject = HeaderValue(SplitEntity(message_text).headers, "subject");
    const std::size_t open = subject.find("=?");
    if (open == std::string::npos) return {};
    const std::size_t close = subject.find('?', open + 2);
    if (close == std::string::npos) return {};
    std::string charset = subject.substr(open + 2, close - open - 2);
    charset = charset.substr(0, charset.find('*'));  // RFC 2231 language: "iso-8859-1*es"
    if (!IsLegacyCharset(charset)) return {};
    std::string code_page = WindowsCodepageOf(charset);
    for (const auto& stateful : kEightBitOf)
        if (code_page == stateful.charset) code_page = stateful.code_page;
    return code_page;
}

std::string CodepageForUnlabelledText(std::string_view message_text, const std::string& job_codepage) {
    std::string code_page = DeclaredLegacyCodepage(message_text);
    if (code_page.empty()) code_page = job_codepage;
    if (code_page.empty()) code_page = platform::DefaultLegacyCodepage();
    return code_page;
}

std::string DecodeUnlabelled(std::string_view bytes, const std::string& code_page) {
    // Plain ASCII without escape sequences reads the same in every code page this takes: the
    // commonest case (most header fields, most whole header blocks) skips the conversion.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return c != '\x1B' && static_cast<unsigned char>(c) < 0x80; }))
        return std::string(bytes);
    return platform::LegacyToUtf8(bytes, code_page);
}

}  // namespace mime
