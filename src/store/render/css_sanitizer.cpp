#include "store/render/css_sanitizer.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "platform/text_encoding.h"

namespace render {
namespace {

bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }
bool IsCssBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// The text lower-cased with every blank removed: the form the checks look at, so that
// "URL (", "Url\t(" and "url(" are all seen alike.
std::string Folded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (!IsCssBlank(c)) out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return out;
}

// A function that can name another resource to load, or run script; vendor prefixes removed.
bool FetchesOrRuns(std::string name) {
    if (name.size() > 1 && name[0] == '-') {
        const std::size_t dash = name.find('-', 1);
        if (dash != std::string::npos) name = name.substr(dash + 1);
    }
    static const char* const kNames[] = {"url", "src", "image", "image-set", "cross-fade", "element", "expression", "paint"};
    return std::any_of(std::begin(kNames), std::end(kNames), [&](const char* n) { return name == n; });
}

// An image the declaration brings along in itself: url(data:image/...) of a raster type.
bool IsEmbeddedImageArgument(std::string_view folded_argument) {
    if (!folded_argument.empty() && (folded_argument[0] == '"' || folded_argument[0] == '\'')) folded_argument.remove_prefix(1);
    for (std::string_view type : {"data:image/png", "data:image/gif", "data:image/jpeg", "data:image/jpg", "data:image/bmp",
                                  "data:image/webp"}) {
        if (folded_argument.substr(0, type.size()) == type && folded_argument.size() > type.size() &&
            (folded_argument[type.size()] == ';' || folded_argument[type.size()] == ','))
            return true;
    }
    return false;
}

// Whether decoded CSS text (a declaration, a selector, a media query) is free of everything that
// fetches, runs or could end the <style> element it is written into.
bool IsHarmless(std::string_view decoded) {
    const std::string folded = Folded(decoded);
    for (const char* word : {"@import", "javascript:", "vbscript:", "behavior", "binding", "<", "\\"})
        if (folded.find(word) != std::string::npos) return false;
    for (std::size_t open = folded.find('('); open != std::string::npos; open = folded.find('(', open + 1)) {
        std::size_t start = open;
        while (start > 0 && (std::isalnum(static_cast<unsigned char>(folded[start - 1])) || folded[start - 1] == '-' ||
                             folded[start - 1] == '_'))
            --start;
        const std::string name = folded.substr(start, open - start);
        if (!FetchesOrRuns(name)) continue;
        if (name == "url" && IsEmbeddedImageArgument(std::string_view(folded).substr(open + 1))) continue;
        return false;
    }
    return true;
}

// The end of the block whose '{' is at text[open] (the index after its '}', or the end).
std::size_t BlockEnd(std::string_view text, std::size_t open) {
    int depth = 0;
    char quote = 0;
    for (std::size_t i = open; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '{') {
            ++depth;
        } else if (c == '}' && --depth == 0) {
            return i + 1;
        }
    }
    return text.size();
}

// Where a scan of CSS stands: inside a quoted string or not, and how deep in parentheses, so that
// a ';' or '{' in a string or a url(...) does not end a statement.
struct QuotesAndParentheses {
    char quote = 0;
    int parens = 0;
    // Takes the next character; true when it is neither inside a string nor one that opens or
    // closes a string or a parenthesis.
    bool Plain(char c) {
        if (quote != 0) {
            if (c == quote) quote = 0;
            return false;
        }
        if (c == '"' || c == '\'') {
            quote = c;
            return false;
        }
        if (c == '(') {
            ++parens;
            return false;
        }
        if (c == ')' && parens > 0) {
            --parens;
            return false;
        }
        return true;
    }
};

// Where the statement starting at text[from] ends: after its ';' at the top level, or after its
// block; and where its block opens (npos: none).
std::size_t StatementEnd(std::string_view text, std::size_t from, std::size_t& block_open) {
    QuotesAndParentheses nesting;
    block_open = std::string_view::npos;
    for (std::size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (!nesting.Plain(c)) continue;
        if (c == ';' && nesting.parens == 0) {
            return i + 1;
        } else if (c == '{') {
            block_open = i;
            return BlockEnd(text, i);
        }
    }
    return text.size();
}

std::string DeclarationsOf(std::string_view decoded) {
    std::string out;
    auto take = [&out](std::string_view declaration) {
        if (std::all_of(declaration.begin(), declaration.end(), IsCssBlank)) return;
        if (declaration.find(':') == std::string_view::npos || !IsHarmless(declaration)) return;
        if (!out.empty()) out += ';';
        out += declaration;
    };
    std::size_t start = 0;
    QuotesAndParentheses nesting;
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        const char c = decoded[i];
        if (nesting.Plain(c) && c == ';' && nesting.parens == 0) {
            take(decoded.substr(start, i - start));
            start = i + 1;
        }
    }
    take(decoded.substr(start));
    return out;
}

std::string RulesOf(std::string_view decoded, int depth) {
    std::string out;
    std::size_t i = 0;
    while (i < decoded.size()) {
        if (IsCssBlank(decoded[i])) {
            out.push_back(decoded[i++]);
            continue;
        }
        if (decoded[i] == '}' || decoded[i] == ';') {  // left over from a damaged rule
            ++i;
            continue;
        }
        std::size_t block_open = 0;
        const std::size_t end = StatementEnd(decoded, i, block_open);
        if (block_open == std::string_view::npos) {  // a statement without a block: an at-rule such as @import
            i = end;
            continue;
        }
        const std::string_view prelude = decoded.substr(i, block_open - i);
        const std::size_t close = end > block_open + 1 && decoded[end - 1] == '}' ? end - 1 : end;
        const std::string_view block = decoded.substr(block_open + 1, close - block_open - 1);
        i = end;
        if (prelude.empty() || !IsHarmless(prelude)) continue;
        if (prelude[0] == '@') {
            const std::string folded = Folded(prelude);
            if (folded.rfind("@media", 0) != 0 || depth >= 8) continue;  // @font-face, @page, @keyframes, ...
            const std::string inner = RulesOf(block, depth + 1);
            if (!inner.empty()) out += std::string(prelude) + "{" + inner + "}";
            continue;
        }
        out += std::string(prelude) + "{" + DeclarationsOf(block) + "}";
    }
    return out;
}

}  // namespace

std::string DecodeCss(const std::string& css) {
    std::string out;
    out.reserve(css.size());
    std::size_t i = 0;
    while (i < css.size()) {
        const char c = css[i];
        if (c == '/' && i + 1 < css.size() && css[i + 1] == '*') {
            const std::size_t end = css.find("*/", i + 2);
            i = end == std::string::npos ? css.size() : end + 2;
            continue;
        }
        if (c != '\\') {
            out.push_back(c);
            ++i;
            continue;
        }
        ++i;
        if (i >= css.size()) break;
        if (css[i] == '\n' || css[i] == '\r' || css[i] == '\f') {  // a line continued: nothing
            if (css[i] == '\r' && i + 1 < css.size() && css[i + 1] == '\n') ++i;
            ++i;
            continue;
        }
        if (!IsHex(css[i])) {
            if (css[i] != '\\') out.push_back(css[i]);
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < css.size() && end - i < 6 && IsHex(css[end])) ++end;
        unsigned long cp = std::stoul(css.substr(i, end - i), nullptr, 16);
        if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        if (cp != '\\') platform::AppendUtf8(out, static_cast<char32_t>(cp));
        i = end;
        if (i < css.size() && css[i] == '\r' && i + 1 < css.size() && css[i + 1] == '\n') i += 2;
        else if (i < css.size() && IsCssBlank(css[i])) ++i;
    }
    return out;
}

std::string SanitizeCssDeclarations(const std::string& css) { return DeclarationsOf(DecodeCss(css)); }

std::string SanitizeStyleSheet(const std::string& css) { return RulesOf(DecodeCss(css), 0); }

}  // namespace render
