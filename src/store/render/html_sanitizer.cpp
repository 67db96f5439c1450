// Making mail HTML safe to open in a browser: whatever can run code or send data is dropped,
// the layout stays.
#include <algorithm>
#include <cctype>

#include "store/mime/html_text.h"
#include "store/render/render.h"

namespace render {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// Elements dropped together with everything inside them.
bool DropsContent(const std::string& name) {
    static const char* const kNames[] = {"script", "iframe", "frame",  "frameset", "object",   "applet",
                                         "select", "textarea", "button", "noembed", "template"};
    return std::any_of(std::begin(kNames), std::end(kNames), [&](const char* n) { return name == n; });
}

// Elements dropped as tags, their content kept.
bool DropsTag(const std::string& name) {
    static const char* const kNames[] = {"form", "input", "option", "optgroup", "meta", "base", "link", "embed",
                                         "keygen", "param", "isindex", "portal"};
    return std::any_of(std::begin(kNames), std::end(kNames), [&](const char* n) { return name == n; });
}

struct Attribute {
    std::string name;   // lower case
    std::string value;  // as written, entities not decoded
    bool has_value = false;
};

// Character references decoded and blanks/controls dropped, so "jav&#x61;script:" and
// "java\tscript:" are seen for what they are.
std::string NormalizedUrl(const std::string& value) {
    std::string decoded;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '&') {
            std::size_t semi = mime::FindReferenceEnd(value, i);
            std::size_t stop = semi;
            if (semi == std::string::npos) {
                // References without ';' count too in URLs: take the longest run of name characters.
                stop = i + 1;
                while (stop < value.size() && (std::isalnum(static_cast<unsigned char>(value[stop])) || value[stop] == '#')) ++stop;
            }
            char32_t cp = mime::DecodeCharacterReference(value.substr(i + 1, stop - i - 1));
            if (cp != 0) {
                mime::AppendUtf8(decoded, cp);
                i = (stop < value.size() && value[stop] == ';') ? stop : stop - 1;
                continue;
            }
        }
        decoded.push_back(value[i]);
    }
    std::string out;
    for (unsigned char c : decoded) {
        if (c <= 0x20) continue;
        out.push_back(static_cast<char>(std::tolower(c)));
    }
    return out;
}

bool IsDangerousUrl(const std::string& value) {
    const std::string url = NormalizedUrl(value);
    return url.rfind("javascript:", 0) == 0 || url.rfind("vbscript:", 0) == 0 || url.rfind("livescript:", 0) == 0 ||
           url.rfind("data:text/html", 0) == 0 || url.rfind("data:application", 0) == 0 ||
           url.rfind("data:image/svg", 0) == 0 || url.rfind("data:text/xml", 0) == 0;
}

bool IsDangerousStyle(const std::string& value) {
    const std::string style = NormalizedUrl(value);
    return style.find("expression(") != std::string::npos || style.find("javascript:") != std::string::npos ||
           style.find("vbscript:") != std::string::npos || style.find("behavior:") != std::string::npos ||
           style.find("-moz-binding") != std::string::npos || style.find("@import") != std::string::npos;
}

bool IsUrlAttribute(const std::string& name) {
    static const char* const kNames[] = {"href", "src", "action", "formaction", "background", "lowsrc", "dynsrc",
                                         "xlink:href", "poster", "data", "codebase", "cite", "longdesc", "usemap",
                                         "ping", "srcset", "content"};
    return std::any_of(std::begin(kNames), std::end(kNames), [&](const char* n) { return name == n; });
}

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

}  // namespace

std::string SanitizeHtml(const std::string& html, CidResolver resolve_cid, const void* context) {
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
        if (DropsContent(tag.name)) {
            if (!tag.closing && !tag.self_closing) i = FindClosing(html, i, tag.name);
            continue;
        }
        if (DropsTag(tag.name) || tag.name == "svg" || tag.name == "math") {
            if (tag.name == "svg" || tag.name == "math") {  // foreign content can hide script in many ways
                if (!tag.closing && !tag.self_closing) i = FindClosing(html, i, tag.name);
            }
            continue;
        }
        if (tag.name == "style" && !tag.closing) {
            const std::size_t close_end = FindClosing(html, i, "style");
            const std::size_t close_start = std::min(html.rfind("</", close_end), close_end);
            const std::string css = html.substr(i, (close_start > i ? close_start : i) - i);
            if (!IsDangerousStyle(css) && css.find("</") == std::string::npos) out += "<style>" + css + "</style>";
            i = close_end;
            continue;
        }
        out += tag.closing ? "</" : "<";
        out += tag.name;
        if (!tag.closing) {
            for (const Attribute& attribute : tag.attributes) {
                const std::string& name = attribute.name;
                if (name.rfind("on", 0) == 0 || name == "srcdoc" || name == "formaction" || name == "http-equiv" ||
                    name.find('<') != std::string::npos || name.find('"') != std::string::npos ||
                    name.find('\'') != std::string::npos)
                    continue;
                std::string value = attribute.value;
                if (IsUrlAttribute(name) && IsDangerousUrl(value)) continue;
                if (name == "style" && IsDangerousStyle(value)) continue;
                if (name == "src" && resolve_cid != nullptr && NormalizedUrl(value).rfind("cid:", 0) == 0) {
                    std::string resolved = resolve_cid(value.substr(value.find(':') + 1), context);
                    if (!resolved.empty()) value = resolved;
                }
                out += ' ';
                out += name;
                if (attribute.has_value) out += "=\"" + EscapeAttribute(value) + "\"";
            }
            if (tag.self_closing) out += " /";
        }
        out += '>';
    }
    return out;
}

}  // namespace render
