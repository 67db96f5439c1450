#include "store/render/render.h"

#include <cctype>
#include <cstdio>
#include <ctime>

#include "platform/local_time.h"
#include "store/mapi/prop_tags.h"
#include "store/mime/charsets.h"
#include "store/mime/html_text.h"
#include "store/mime/mime_import.h"

namespace render {
namespace {

std::string EscapeHtml(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

// Decodes one UTF-8 sequence at text[i]; advances i. Invalid bytes give U+FFFD.
char32_t NextCodePoint(const std::string& text, std::size_t& i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (extra == 0) {
        ++i;
        return c;
    }
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) {
        ++i;
        return 0xFFFD;
    }
    char32_t cp = c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        const auto cc = static_cast<unsigned char>(text[i + k]);
        if ((cc & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    i += 1 + extra;
    return cp;
}

// RTF text: specials escaped, non-ASCII as \uN? (one fallback character).
void AppendRtfText(std::string& out, const std::string& text, bool line_breaks) {
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t cp = NextCodePoint(text, i);
        if (cp == '\\' || cp == '{' || cp == '}') {
            out.push_back('\\');
            out.push_back(static_cast<char>(cp));
        } else if (cp == '\n') {
            out += line_breaks ? "\\par\n" : " ";
        } else if (cp == '\r') {
            continue;
        } else if (cp == '\t') {
            out += "\\tab ";
        } else if (cp < 0x20) {
            continue;
        } else if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else {
            auto unit = [&out](std::uint32_t u) {
                out += "\\u" + std::to_string(static_cast<std::int16_t>(static_cast<std::uint16_t>(u))) + "?";
            };
            if (cp >= 0x10000) {
                cp -= 0x10000;
                unit(0xD800 + (cp >> 10));
                unit(0xDC00 + (cp & 0x3FF));
            } else {
                unit(cp);
            }
        }
    }
}

std::string Base64(const mapi::Binary& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        std::uint32_t v = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
        out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63], kAlphabet[v & 63]};
    }
    if (i + 1 == bytes.size()) {
        std::uint32_t v = bytes[i] << 16;
        out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        std::uint32_t v = bytes[i] << 16 | bytes[i + 1] << 8;
        out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63], '='};
    }
    return out;
}

std::string Mailbox(const std::string& name, const std::string& address) {
    if (name.empty() || name == address) return address;
    if (address.empty()) return name;
    return name + " <" + address + ">";
}

struct HeaderBlock {
    std::string from, sent, to, cc, bcc, subject, attachments;
};

// attachments: what the reader is shown as the message's attachments.
HeaderBlock MakeHeaderBlock(const mapi::Message& message, const std::vector<mapi::Attachment>& attachments) {
    const mapi::PropertyBag& p = message.props;
    HeaderBlock h;
    h.from = Mailbox(p.GetString(mapi::PR_SENT_REPRESENTING_NAME_W).value_or(p.GetString(mapi::PR_SENDER_NAME_W).value_or("")),
                     p.GetString(mapi::PR_SENT_REPRESENTING_EMAIL_ADDRESS_W)
                         .value_or(p.GetString(mapi::PR_SENDER_EMAIL_ADDRESS_W).value_or("")));
    if (auto sent = p.GetTime(mapi::PR_CLIENT_SUBMIT_TIME)) h.sent = FormatFiletime(*sent);
    else if (auto received = p.GetTime(mapi::PR_MESSAGE_DELIVERY_TIME)) h.sent = FormatFiletime(*received);
    for (const mapi::Recipient& r : message.recipients) {
        const std::int32_t type = r.props.GetInt32(mapi::PR_RECIPIENT_TYPE).value_or(mapi::MAPI_TO);
        // The blind copies are shown too: the file is the sender's or a recipient's own copy,
        // and Outlook's own header block shows the Bcc line of a message that has one.
        std::string* list = type == mapi::MAPI_TO    ? &h.to
                            : type == mapi::MAPI_CC  ? &h.cc
                            : type == mapi::MAPI_BCC ? &h.bcc
                                                     : nullptr;
        if (list == nullptr) continue;
        if (!list->empty()) *list += "; ";
        *list += Mailbox(r.props.GetString(mapi::PR_DISPLAY_NAME_W).value_or(""),
                         r.props.GetString(mapi::PR_SMTP_ADDRESS_W).value_or(r.props.GetString(mapi::PR_EMAIL_ADDRESS_W).value_or("")));
    }
    h.subject = p.GetString(mapi::PR_SUBJECT_W).value_or("");
    for (const mapi::Attachment& a : attachments) {
        if (a.props.GetBool(mapi::PR_ATTACHMENT_HIDDEN).value_or(false)) continue;
        std::string name = a.props.GetString(mapi::PR_ATTACH_LONG_FILENAME_W)
                               .value_or(a.props.GetString(mapi::PR_DISPLAY_NAME_W).value_or("attachment"));
        if (!h.attachments.empty()) h.attachments += "; ";
        h.attachments += name;
    }
    return h;
}

std::string CidDataUrl(const std::string& content_id, const void* context) {
    const auto& message = *static_cast<const mapi::Message*>(context);
    std::string wanted = content_id;
    if (wanted.size() >= 2 && wanted.front() == '<' && wanted.back() == '>') wanted = wanted.substr(1, wanted.size() - 2);
    for (const mapi::Attachment& a : message.attachments) {
        std::string id = a.props.GetString(mapi::PR_ATTACH_CONTENT_ID_W).value_or("");
        if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
        if (id.empty() || id != wanted) continue;
        const mapi::Binary* bytes = a.props.GetBinary(mapi::PR_ATTACH_DATA_BIN);
        if (bytes == nullptr) return {};
        std::string type = a.props.GetString(mapi::PR_ATTACH_MIME_TAG_W).value_or("application/octet-stream");
        if (type.rfind("image/", 0) != 0 || type.find("svg") != std::string::npos) return {};
        for (char c : type) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '/' && c != '-' && c != '+' && c != '.') return {};
        }
        return "data:" + type + ";base64," + Base64(*bytes);
    }
    return {};
}

// The part of a document between <body ...> and </body>, and its <style> elements from <head>.
std::string BodyOfDocument(const std::string& html, std::string& styles) {
    std::string lower = html;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t body = lower.find("<body");
    std::size_t search = 0;
    while ((search = lower.find("<style", search)) != std::string::npos && (body == std::string::npos || search < body)) {
        std::size_t end = lower.find("</style>", search);
        if (end == std::string::npos) break;
        styles += html.substr(search, end + 8 - search);
        search = end + 8;
    }
    if (body == std::string::npos) return html;
    std::size_t open_end = lower.find('>', body);
    if (open_end == std::string::npos) return html;
    std::size_t close = lower.rfind("</body");
    if (close == std::string::npos || close < open_end) close = html.size();
    return html.substr(open_end + 1, close - open_end - 1);
}

// The parts a reader of a rendering is shown: for clear-signed S/MIME mail, those its signed
// entity holds (its attachments, its inline images, the signature), not the entity itself.
struct ShownParts {
    explicit ShownParts(const mapi::Message& message) : signed_content(mime::SignedContentOf(message)) {}
    const mapi::Message& Of(const mapi::Message& message) const { return signed_content ? *signed_content : message; }
    std::optional<mapi::Message> signed_content;
};

}  // namespace

std::string FormatFiletime(const mapi::Filetime& time) {
    const std::int64_t seconds = static_cast<std::int64_t>(time.ticks / 10000000ULL) - 11644473600LL;
    std::tm tm{};
    if (!platform::ToUniversalTime(seconds, tm)) return {};
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S UTC", &tm);
    return buffer;
}

std::string RenderHtml(const mapi::Message& message) {
    const ShownParts shown(message);
    const mapi::Message& parts = shown.Of(message);
    const HeaderBlock h = MakeHeaderBlock(message, parts.attachments);
    std::string out;
    out += "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n";
    // Even if something slipped through the sanitizer, the browser runs nothing and sends nothing.
    out += "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src data:; "
           "style-src 'unsafe-inline'; font-src data:\">\n";
    out += "<meta http-equiv=\"x-dns-prefetch-control\" content=\"off\">\n";
    out += "<title>" + EscapeHtml(h.subject) + "</title>\n";
    std::string styles, body;
    const std::string html = mime::HtmlBodyUtf8(message);
    if (!html.empty()) {
        body = SanitizeHtml(BodyOfDocument(html, styles), CidDataUrl, &parts);
        styles = SanitizeHtml(styles);
    } else {
        body = "<div style=\"white-space: pre-wrap; font-family: monospace\">" +
               EscapeHtml(message.props.GetString(mapi::PR_BODY_W).value_or("")) + "</div>";
    }
    out += styles;
    out += "</head>\n<body>\n<table class=\"ombrik-header\" style=\"font-family: sans-serif; font-size: 10pt\">\n";
    auto row = [&out](const char* label, const std::string& value, bool always) {
        if (!always && value.empty()) return;
        out += "<tr><th style=\"text-align: left; vertical-align: top; padding-right: 1em\">";
        out += label;
        out += "</th><td>" + EscapeHtml(value) + "</td></tr>\n";
    };
    row("From:", h.from, true);
    row("Sent:", h.sent, true);
    row("To:", h.to, true);
    row("Cc:", h.cc, false);
    row("Bcc:", h.bcc, false);
    row("Subject:", h.subject, true);
    row("Attachments:", h.attachments, false);
    out += "</table>\n<hr>\n";
    out += body;
    out += "\n</body>\n</html>\n";
    return out;
}

std::string RenderRtf(const mapi::Message& message) {
    const ShownParts shown(message);
    const HeaderBlock h = MakeHeaderBlock(message, shown.Of(message).attachments);
    std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\fmodern Courier New;}}\n"
                      "\\pard\\plain\\tx1800\\f0\\fs20\n";
    auto row = [&out](const char* label, const std::string& value, bool always) {
        if (!always && value.empty()) return;
        out += "{\\b ";
        out += label;
        out += "}\\tab ";
        AppendRtfText(out, value, false);
        out += "\\par\n";
    };
    row("From:", h.from, true);
    row("Sent:", h.sent, true);
    row("To:", h.to, true);
    row("Cc:", h.cc, false);
    row("Bcc:", h.bcc, false);
    row("Subject:", h.subject, true);
    row("Attachments:", h.attachments, false);
    out += "\\par\n";
    std::string body = message.props.GetString(mapi::PR_BODY_W).value_or("");
    if (body.empty()) body = mime::HtmlToText(mime::HtmlBodyUtf8(message));
    AppendRtfText(out, body, true);
    out += "\\par\n}\n";
    return out;
}

std::string EncapsulateHtmlInRtf(const std::string& html_utf8) {
    // A byte order mark the HTML began with would become a character before <!DOCTYPE> in the
    // HTML that readers rebuild from this RTF, and put browsers into quirks mode.
    const std::string html = html_utf8.rfind("\xEF\xBB\xBF", 0) == 0 ? html_utf8.substr(3) : html_utf8;
    std::string out =
        "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}"
        "{\\f1\\fmodern Courier New;}{\\f2\\fnil\\fcharset2 Symbol;}}\n"
        "{\\colortbl\\red0\\green0\\blue0;\\red0\\green0\\blue255;}\n\\uc1\\pard\\plain\\deftab360 \\f0\\fs24 \n";
    auto htmltag = [&out](const std::string& text) {
        out += "{\\*\\htmltag64 ";
        std::size_t i = 0;
        while (i < text.size()) {
            char32_t cp = NextCodePoint(text, i);
            if (cp == '\\' || cp == '{' || cp == '}') {
                out.push_back('\\');
                out.push_back(static_cast<char>(cp));
            } else if (cp == '\n') {
                out += "\\par ";
            } else if (cp == '\r') {
                continue;
            } else if (cp == '\t') {
                out += "\\tab ";
            } else if (cp < 0x80) {
                out.push_back(static_cast<char>(cp));
            } else {
                out += "&#" + std::to_string(static_cast<std::uint32_t>(cp)) + ";";
            }
        }
        out += "}";
    };
    auto rtf_only = [&out](const std::string& utf8, bool breaks) {
        out += "\\htmlrtf ";
        AppendRtfText(out, utf8, breaks);
        out += "\\htmlrtf0 ";
    };
    std::size_t i = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '<') {
            std::size_t end = html.find('>', i);
            if (html.compare(i, 4, "<!--") == 0) {
                std::size_t close = html.find("-->", i + 4);
                end = close == std::string::npos ? std::string::npos : close + 2;
            }
            if (end == std::string::npos) end = html.size() - 1;
            std::string tag = html.substr(i, end + 1 - i);
            std::string name;
            for (std::size_t k = 1; k < tag.size() && (std::isalnum(static_cast<unsigned char>(tag[k])) || tag[k] == '/'); ++k) {
                name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(tag[k]))));
            }
            // Text that is not shown (head, scripts, styles) travels inside the tag group.
            for (const char* hidden : {"head", "style", "script", "title"}) {
                if (name == hidden) {
                    const std::size_t after = html.find('>', i);
                    end = after == std::string::npos ? html.size() - 1
                                                     : mime::HiddenContentEnd(html, after + 1, hidden) - 1;
                    tag = html.substr(i, end + 1 - i);
                    break;
                }
            }
            htmltag(tag);
            if (name == "br" || name == "/p" || name == "/div" || name == "/tr" || name == "/li" || name == "/h1" ||
                name == "/h2" || name == "/h3" || name == "/table" || name == "hr") {
                out += "\\htmlrtf \\par\\htmlrtf0\n";
            } else if (name == "/td" || name == "/th") {
                out += "\\htmlrtf \\tab\\htmlrtf0 ";
            }
            i = end + 1;
        } else if (c == '&') {
            std::size_t semi = mime::FindReferenceEnd(html, i);
            if (semi != std::string::npos) {
                char32_t cp = mime::DecodeCharacterReference(html.substr(i + 1, semi - i - 1));
                if (cp != 0) {
                    htmltag(html.substr(i, semi + 1 - i));
                    std::string ch;
                    mime::AppendUtf8(ch, cp == 0xA0 ? U' ' : cp);
                    rtf_only(ch, false);
                    i = semi + 1;
                    continue;
                }
            }
            out += "&";
            ++i;
        } else if (c == '\r' || c == '\n') {
            std::size_t k = i;
            while (k < html.size() && (html[k] == '\r' || html[k] == '\n')) ++k;
            htmltag(html.substr(i, k - i));
            rtf_only(" ", false);
            i = k;
        } else {
            std::size_t k = i;
            while (k < html.size() && html[k] != '<' && html[k] != '&' && html[k] != '\r' && html[k] != '\n') ++k;
            const std::string run = html.substr(i, k - i);
            bool ascii = true;
            for (unsigned char b : run) ascii = ascii && b < 0x80;
            if (ascii) {
                AppendRtfText(out, run, false);
            } else {
                // Each non-ASCII character goes to HTML as a reference and to RTF as \uN.
                std::size_t m = 0;
                while (m < run.size()) {
                    std::size_t start = m;
                    char32_t cp = NextCodePoint(run, m);
                    if (cp < 0x80) {
                        AppendRtfText(out, run.substr(start, m - start), false);
                    } else {
                        htmltag("&#" + std::to_string(static_cast<std::uint32_t>(cp)) + ";");
                        rtf_only(run.substr(start, m - start), false);
                    }
                }
            }
            i = k;
        }
    }
    out += "}\n";
    return out;
}

}  // namespace render
