#include "store/mime/html_text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace mime {
namespace {

struct NamedReference {
    const char* name;
    char32_t cp;
};
constexpr NamedReference kNamed[] = {
    {"amp", '&'},      {"lt", '<'},       {"gt", '>'},       {"quot", '"'},     {"apos", '\''},
    {"nbsp", 0xA0},    {"copy", 0xA9},    {"reg", 0xAE},     {"trade", 0x2122}, {"euro", 0x20AC},
    {"hellip", 0x2026}, {"mdash", 0x2014}, {"ndash", 0x2013}, {"lsquo", 0x2018}, {"rsquo", 0x2019},
    {"ldquo", 0x201C}, {"rdquo", 0x201D}, {"bull", 0x2022},  {"middot", 0xB7},  {"laquo", 0xAB},
    {"raquo", 0xBB},   {"auml", 0xE4},    {"ouml", 0xF6},    {"uuml", 0xFC},    {"Auml", 0xC4},
    {"Ouml", 0xD6},    {"Uuml", 0xDC},    {"szlig", 0xDF},   {"eacute", 0xE9},  {"egrave", 0xE8},
    {"agrave", 0xE0},  {"aacute", 0xE1},  {"ccedil", 0xE7},  {"ecirc", 0xEA},   {"oacute", 0xF3},
    {"iacute", 0xED},  {"uacute", 0xFA},  {"ntilde", 0xF1},  {"deg", 0xB0},     {"pound", 0xA3},
    {"yen", 0xA5},     {"cent", 0xA2},    {"sect", 0xA7},    {"times", 0xD7},   {"shy", 0xAD},
    // The names of ASCII punctuation and blanks: rare in mail, but they spell addresses
    // ("javascript&colon;") as well as any other form does.
    {"Tab", '\t'},     {"NewLine", '\n'},  {"excl", '!'},     {"num", '#'},      {"dollar", '$'},
    {"percnt", '%'},   {"lpar", '('},     {"rpar", ')'},     {"ast", '*'},      {"midast", '*'},
    {"plus", '+'},     {"comma", ','},    {"period", '.'},   {"sol", '/'},      {"colon", ':'},
    {"semi", ';'},     {"equals", '='},   {"quest", '?'},    {"commat", '@'},   {"lsqb", '['},
    {"lbrack", '['},   {"bsol", '\\'},    {"rsqb", ']'},     {"rbrack", ']'},   {"Hat", '^'},
    {"lowbar", '_'},   {"UnderBar", '_'}, {"grave", '`'},    {"lcub", '{'},     {"lbrace", '{'},
    {"verbar", '|'},   {"vert", '|'},     {"rcub", '}'},     {"rbrace", '}'},   {"QUOT", '"'},
    {"AMP", '&'},      {"LT", '<'},       {"GT", '>'},
};

std::string LowerTagName(const std::string& html, std::size_t at) {
    std::string name;
    while (at < html.size() && (std::isalnum(static_cast<unsigned char>(html[at])) || html[at] == '!')) {
        name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(html[at]))));
        ++at;
    }
    return name;
}

bool IsBlockTag(const std::string& name) {
    static const char* const kBlocks[] = {"br", "p", "div", "tr", "li", "h1", "h2", "h3", "h4", "h5", "h6",
                                          "table", "ul", "ol", "blockquote", "pre", "hr", "dd", "dt"};
    return std::any_of(std::begin(kBlocks), std::end(kBlocks), [&](const char* b) { return name == b; });
}

}  // namespace

std::size_t HiddenContentEnd(const std::string& html, std::size_t from, const std::string& name) {
    for (std::size_t k = html.find('<', from); k != std::string::npos; k = html.find('<', k + 1)) {
        const bool closing = k + 1 < html.size() && html[k + 1] == '/';
        const std::string tag = LowerTagName(html, k + (closing ? 2 : 1));
        if (closing && tag == name) {
            const std::size_t gt = html.find('>', k);
            return gt == std::string::npos ? html.size() : gt + 1;
        }
        // A head that is never closed ends where the body begins, as browsers read it.
        if (!closing && name == "head" && tag == "body") return k;
    }
    return html.size();
}

std::size_t FindReferenceEnd(const std::string& text, std::size_t at) {
    constexpr std::size_t kLongestReference = 12;  // "&#x0010FFFF;" and the longest names we know
    const std::size_t stop = std::min(text.size(), at + kLongestReference);
    for (std::size_t i = at + 1; i < stop; ++i) {
        if (text[i] == ';') return i;
    }
    return std::string::npos;
}

char32_t DecodeCharacterReference(const std::string& body) {
    if (body.size() > 1 && body[0] == '#') {
        const bool hex = body[1] == 'x' || body[1] == 'X';
        const std::string digits = body.substr(hex ? 2 : 1);
        if (digits.empty() || digits.size() > 8) return 0;
        for (char c : digits) {
            if (hex ? !std::isxdigit(static_cast<unsigned char>(c)) : !std::isdigit(static_cast<unsigned char>(c))) return 0;
        }
        unsigned long value = std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
        if (value == 0 || value > 0x10FFFF) return 0xFFFD;
        return static_cast<char32_t>(value);
    }
    for (const auto& entry : kNamed) {
        if (body == entry.name) return entry.cp;
    }
    return 0;
}

// Layout HTML (spacer rows, runs of <br>, cells holding only &nbsp;) turns into long runs of
// empty lines; a reader of the text wants at most one blank line between paragraphs.
std::string CollapseBlankLines(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    int blank_run = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        const bool blank = line.find_first_not_of(" \t") == std::string_view::npos;
        if (blank) {
            ++blank_run;
        } else {
            if (!out.empty()) out += blank_run > 0 ? "\n\n" : "\n";
            out += line;
            blank_run = 0;
        }
        start = end + 1;
    }
    return out;
}

std::string HtmlToText(const std::string& html) {
    std::string out;
    out.reserve(html.size() / 2);
    bool pending_space = false;
    int pre_depth = 0;
    auto emit = [&](const std::string& text) {
        if (pending_space && !out.empty() && out.back() != '\n') out.push_back(' ');
        pending_space = false;
        out += text;
    };
    std::size_t i = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '<') {
            if (html.compare(i, 4, "<!--") == 0) {
                std::size_t end = html.find("-->", i + 4);
                i = end == std::string::npos ? html.size() : end + 3;
                continue;
            }
            const bool closing = i + 1 < html.size() && html[i + 1] == '/';
            const std::string name = LowerTagName(html, i + (closing ? 2 : 1));
            std::size_t end = html.find('>', i);
            if (end == std::string::npos) break;
            i = end + 1;
            if (!closing && (name == "script" || name == "style" || name == "head" || name == "title")) {
                i = HiddenContentEnd(html, i, name);
                continue;
            }
            if (name == "pre") pre_depth = std::max(0, pre_depth + (closing ? -1 : 1));
            if (IsBlockTag(name)) {
                while (!out.empty() && out.back() == ' ') out.pop_back();
                if (name == "br" || (!out.empty() && out.back() != '\n')) out.push_back('\n');
                pending_space = false;
            } else if (name == "td" || name == "th") {
                pending_space = true;
            }
            continue;
        }
        if (c == '&') {
            std::size_t semi = FindReferenceEnd(html, i);
            if (semi != std::string::npos) {
                char32_t cp = DecodeCharacterReference(html.substr(i + 1, semi - i - 1));
                if (cp != 0) {
                    std::string ch;
                    AppendUtf8(ch, cp == 0xA0 ? U' ' : cp);
                    emit(ch);
                    i = semi + 1;
                    continue;
                }
            }
            emit("&");
            ++i;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f') {
            if (pre_depth > 0) {
                if (c != '\r') out.push_back(c);
            } else {
                pending_space = true;
            }
            ++i;
            continue;
        }
        std::size_t run = i;
        while (run < html.size() && html[run] != '<' && html[run] != '&' && html[run] != ' ' && html[run] != '\t' &&
               html[run] != '\r' && html[run] != '\n' && html[run] != '\f')
            ++run;
        emit(html.substr(i, run - i));
        i = run;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '\n')) out.pop_back();
    return CollapseBlankLines(out);
}

}  // namespace mime
