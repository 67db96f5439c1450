// Making mail HTML safe to open in a browser: whatever can run code, send data or fetch anything
// from elsewhere is dropped, the layout stays. The page is rebuilt from what was read here:
// elements and attributes from a list of known harmless ones, addresses and style sheets
// written out as they were understood (references and escapes decoded), so that the browser
// never reads anything other than what was judged. The Content-Security-Policy line of the
// rendering is a second wall behind this one, not the first.
#include <algorithm>
#include <cctype>
#include <string_view>
#include <unordered_set>

#include "store/mime/html_text.h"
#include "store/render/css_sanitizer.h"
#include "store/render/render.h"

namespace render {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// Elements dropped together with everything inside them: what runs or embeds another document,
// foreign content (SVG, MathML), and what browsers read as raw text, so that their content is
// never taken for markup here and for text there. (A head goes as a tag: what it holds is
// judged one element at a time, and a stray one in a body hides nothing after it.)
bool DropsContent(const std::string& name) {
    static const std::unordered_set<std::string_view> kNames = {
        "script", "iframe", "frame", "frameset", "object", "applet", "select", "textarea", "button", "noembed", "noframes",
        "noscript", "template", "svg", "math", "xmp", "title", "style", "audio", "video", "canvas", "xml"};
    return kNames.count(name) != 0;
}

// Elements kept as they are (with the attributes below); any other tag goes, its content stays.
bool KeepsTag(const std::string& name) {
    static const std::unordered_set<std::string_view> kNames = {
        "a",      "abbr",    "acronym", "address", "article", "aside",  "b",       "bdi",     "bdo",    "big",
        "blockquote", "br",  "caption", "center",  "cite",    "code",   "col",     "colgroup", "dd",    "del",
        "details", "dfn",    "dir",     "div",     "dl",      "dt",     "em",      "fieldset", "figcaption",
        "figure", "font",    "footer",  "h1",      "h2",      "h3",     "h4",      "h5",      "h6",     "header",
        "hr",     "i",       "img",     "ins",     "kbd",     "label",  "legend",  "li",      "main",   "mark",
        "menu",   "nav",     "nobr",    "ol",      "p",       "pre",    "q",       "rp",      "rt",     "ruby",
        "s",      "samp",    "section", "small",   "span",    "strike", "strong",  "sub",     "summary", "sup",
        "table",  "tbody",   "td",      "tfoot",   "th",      "thead",  "time",    "tr",      "tt",     "u",
        "ul",     "var",     "wbr"};
    return kNames.count(name) != 0;
}

// Attributes that only describe layout or text. Everything else goes (event handlers, srcset,
// lowsrc, ping, xlink:href, formaction, data-*, ...), except the addresses and styles below.
bool IsPlainAttribute(const std::string& name) {
    static const std::unordered_set<std::string_view> kNames = {
        "abbr",   "align",  "alt",    "axis",        "bgcolor", "border", "bordercolor", "cellpadding", "cellspacing",
        "char",   "charoff", "class", "clear",       "color",   "cols",   "colspan",     "compact",     "datetime",
        "dir",    "face",   "frame",  "headers",     "height",  "hspace", "id",          "lang",        "name",
        "noshade", "nowrap", "open",  "rowspan",     "rules",   "scope",  "size",        "span",        "start",
        "summary", "target", "title", "type",        "valign",  "value",  "vspace",      "width"};
    return kNames.count(name) != 0;
}

struct Attribute {
    std::string name;   // lower case
    std::string value;  // as written, references not decoded
    bool has_value = false;
};

// An attribute's value as the browser reads it: character references decoded. A reference the
// table does not know stays as written (and so keeps its '&').
std::string DecodeAttribute(const std::string& value) {
    std::string decoded;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '&') {
            std::size_t stop = mime::FindReferenceEnd(value, i);
            if (stop == std::string::npos) {
                // Numeric references need no ';'; nor do some named ones.
                stop = i + 1;
                if (stop < value.size() && value[stop] == '#') {
                    ++stop;
                    const bool hex = stop < value.size() && (value[stop] == 'x' || value[stop] == 'X');
                    if (hex) ++stop;
                    while (stop < value.size() && (hex ? std::isxdigit(static_cast<unsigned char>(value[stop]))
                                                       : std::isdigit(static_cast<unsigned char>(value[stop]))))
                        ++stop;
                } else {
                    while (stop < value.size() && std::isalnum(static_cast<unsigned char>(value[stop]))) ++stop;
                }
            }
            const char32_t cp = mime::DecodeCharacterReference(value.substr(i + 1, stop - i - 1));
            if (cp != 0) {
                mime::AppendUtf8(decoded, cp);
                i = (stop < value.size() && value[stop] == ';') ? stop : stop - 1;
                continue;
            }
        }
        decoded.push_back(value[i]);
    }
    return decoded;
}

// An address as a browser's URL parser takes it: blanks and controls at the ends dropped, tabs
// and line breaks inside removed.
std::string CleanUrl(const std::string& decoded) {
    std::size_t first = 0, last = decoded.size();
    while (first < last && static_cast<unsigned char>(decoded[first]) <= 0x20) ++first;
    while (last > first && static_cast<unsigned char>(decoded[last - 1]) <= 0x20) --last;
    std::string out;
    for (std::size_t i = first; i < last; ++i)
        if (decoded[i] != '\t' && decoded[i] != '\n' && decoded[i] != '\r') out.push_back(decoded[i]);
    return out;
}

// The scheme of an address in lower case ("" for one without, such as "#top" or "//host/x"), or
// "?" when a reference that was not decoded or a control character stands where it would be.
std::string SchemeOf(const std::string& url) {
    const std::size_t end = url.find_first_of(":/?#");
    if (end == std::string::npos || url[end] != ':') return url.find('&') == std::string::npos ? "" : "?";
    std::string scheme;
    for (std::size_t i = 0; i < end; ++i) {
        const auto c = static_cast<unsigned char>(url[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return "?";
        scheme.push_back(static_cast<char>(std::tolower(c)));
    }
    return scheme;
}

// A link a reader may follow by hand: to the web, to mail, or within the page.
bool IsFollowableLink(const std::string& url) {
    const std::string scheme = SchemeOf(url);
    if (scheme.empty()) return !url.empty() && url[0] == '#';
    return scheme == "http" || scheme == "https" || scheme == "mailto" || scheme == "ftp" || scheme == "news";
}

// An image that comes with the page: a data: address of a raster image.
bool IsEmbeddedImage(const std::string& url) {
    if (SchemeOf(url) != "data") return false;
    const std::string head = Lower(url.substr(0, 40));
    for (const char* type : {"data:image/png", "data:image/gif", "data:image/jpeg", "data:image/jpg", "data:image/bmp",
                             "data:image/webp", "data:image/x-icon", "data:image/vnd.microsoft.icon"}) {
        const std::size_t n = std::char_traits<char>::length(type);
        if (head.compare(0, n, type) == 0 && head.size() > n && (head[n] == ';' || head[n] == ',')) return true;
    }
    return false;
}

// For every attribute written out: the value as judged, with everything that could be read
// again as markup or as a reference escaped.
std::string EscapeDecodedAttribute(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '&') out += "&amp;";
        else if (c == '"') out += "&quot;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out.push_back(c);
    }
    return out;
}

// A plain attribute keeps its references for the browser to show; only what could end the value
// or start a tag is escaped.
std::string EscapeAttribute(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '"') out += "&quot;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out.push_back(c);
    }
    return out;
}

struct Tag {
    std::string name;  // lower case
    bool closing = false;
    bool self_closing = false;
    std::vector<Attribute> attributes;
    std::size_t end = 0;  // index after '>'
};

enum class TagParse { kTag, kNotATag, kUnterminated };

// Parses the tag starting at html[at] == '<'. A tag that never ends (no '>', or a quote that is
// never closed) takes the rest of the text with it, as in a browser.
TagParse ParseTag(const std::string& html, std::size_t at, Tag& tag) {
    std::size_t i = at + 1;
    if (i < html.size() && html[i] == '/') {
        tag.closing = true;
        ++i;
    }
    std::size_t name_start = i;
    while (i < html.size() && (std::isalnum(static_cast<unsigned char>(html[i])) || html[i] == '-' || html[i] == ':' || html[i] == '_')) ++i;
    if (i == name_start || !std::isalpha(static_cast<unsigned char>(html[name_start]))) return TagParse::kNotATag;
    tag.name = Lower(html.substr(name_start, i - name_start));
    for (;;) {
        while (i < html.size() && (std::isspace(static_cast<unsigned char>(html[i])) || html[i] == '/')) {
            if (html[i] == '/') tag.self_closing = true;
            ++i;
        }
        if (i >= html.size()) return TagParse::kUnterminated;
        if (html[i] == '>') {
            tag.end = i + 1;
            return TagParse::kTag;
        }
        tag.self_closing = false;
        Attribute attribute;
        std::size_t an = i;
        while (i < html.size() && !std::isspace(static_cast<unsigned char>(html[i])) && html[i] != '>' && html[i] != '=' &&
               !(html[i] == '/' && i + 1 < html.size() && html[i + 1] == '>'))
            ++i;
        if (i == an) ++i;  // a stray '=' or similar: skip it
        attribute.name = Lower(html.substr(an, i - an));
        while (i < html.size() && std::isspace(static_cast<unsigned char>(html[i]))) ++i;
        if (i < html.size() && html[i] == '=') {
            ++i;
            while (i < html.size() && std::isspace(static_cast<unsigned char>(html[i]))) ++i;
            attribute.has_value = true;
            if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
                const char quote = html[i];
                std::size_t close = html.find(quote, i + 1);
                if (close == std::string::npos) return TagParse::kUnterminated;
                attribute.value = html.substr(i + 1, close - i - 1);
                i = close + 1;
            } else {
                std::size_t vs = i;
                while (i < html.size() && !std::isspace(static_cast<unsigned char>(html[i])) && html[i] != '>') ++i;
                attribute.value = html.substr(vs, i - vs);
            }
        }
        if (!attribute.name.empty()) tag.attributes.push_back(std::move(attribute));
    }
}

std::size_t FindClosing(const std::string& html, std::size_t from, const std::string& name) {
    std::size_t k = from;
    while ((k = html.find("</", k)) != std::string::npos) {
        Tag tag;
        const TagParse parsed = ParseTag(html, k, tag);
        if (parsed == TagParse::kUnterminated) return html.size();
        if (parsed == TagParse::kTag && tag.name == name) return tag.end;
        k += 2;
    }
    return html.size();
}

class Sanitizer {
public:
    Sanitizer(CidResolver resolve_cid, const void* context) : resolve_cid_(resolve_cid), context_(context) {}

    // The attributes of a kept start tag, as written out (with a leading blank), or "".
    std::string Attributes(const Tag& tag) const {
        std::string out;
        for (const Attribute& attribute : tag.attributes) {
            const std::string& name = attribute.name;
            if (IsPlainAttribute(name)) {
                out += " " + name;
                if (attribute.has_value) out += "=\"" + EscapeAttribute(attribute.value) + "\"";
                continue;
            }
            std::string value;
            if (name == "style") {
                value = SanitizeCssDeclarations(DecodeAttribute(attribute.value));
            } else if (name == "href" && tag.name == "a") {
                value = CleanUrl(DecodeAttribute(attribute.value));
                if (!IsFollowableLink(value)) value.clear();
            } else if ((name == "src" && tag.name == "img") || name == "background") {
                value = PageImage(CleanUrl(DecodeAttribute(attribute.value)));
            }
            if (!value.empty()) out += " " + name + "=\"" + EscapeDecodedAttribute(value) + "\"";
        }
        return out;
    }

private:
    // What an image address becomes in the page: itself when the page holds the image, the
    // message's own image for a cid: address, else nothing (the image is not fetched).
    std::string PageImage(const std::string& url) const {
        if (IsEmbeddedImage(url)) return url;
        if (SchemeOf(url) == "cid" && resolve_cid_ != nullptr) {
            const std::string resolved = resolve_cid_(url.substr(url.find(':') + 1), context_);
            if (IsEmbeddedImage(resolved)) return resolved;
        }
        return {};
    }

    CidResolver resolve_cid_;
    const void* context_;
};

}  // namespace

std::string SanitizeHtml(const std::string& html, CidResolver resolve_cid, const void* context) {
    const Sanitizer sanitizer(resolve_cid, context);
    std::string out;
    out.reserve(html.size());
    std::size_t i = 0;
    while (i < html.size()) {
        const std::size_t lt = html.find('<', i);
        if (lt == std::string::npos) {
            out.append(html, i, std::string::npos);
            break;
        }
        out.append(html, i, lt - i);
        i = lt;
        if (html.compare(i, 4, "<!--") == 0) {  // comments go: old browsers ran what conditional ones held
            std::size_t end = html.find("-->", i + 4);
            i = end == std::string::npos ? html.size() : end + 3;
            continue;
        }
        if (html.compare(i, 2, "<!") == 0 || html.compare(i, 2, "<?") == 0) {  // doctype, processing instructions
            std::size_t end = html.find('>', i);
            i = end == std::string::npos ? html.size() : end + 1;
            continue;
        }
        Tag tag;
        const TagParse parsed = ParseTag(html, i, tag);
        if (parsed == TagParse::kUnterminated) break;
        if (parsed == TagParse::kNotATag) {
            out += "&lt;";
            ++i;
            continue;
        }
        i = tag.end;
        if (tag.name == "plaintext") break;  // the rest of the page would be shown as text
        if (tag.name == "style" && !tag.closing) {
            const std::size_t close_end = FindClosing(html, i, "style");
            const std::size_t close_start = std::min(html.rfind("</", close_end), close_end);
            const std::string css = SanitizeStyleSheet(html.substr(i, (close_start > i ? close_start : i) - i));
            if (!css.empty()) out += "<style>" + css + "</style>";
            i = close_end;
            continue;
        }
        if (DropsContent(tag.name)) {
            if (!tag.closing && !tag.self_closing) i = FindClosing(html, i, tag.name);
            continue;
        }
        if (!KeepsTag(tag.name)) continue;
        out += tag.closing ? "</" : "<";
        out += tag.name;
        if (!tag.closing) {
            out += sanitizer.Attributes(tag);
            if (tag.self_closing) out += " /";
        }
        out += '>';
    }
    return out;
}

}  // namespace render
