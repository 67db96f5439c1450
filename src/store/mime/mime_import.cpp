#include "store/mime/mime_import.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <gmime/gmime.h>

#include "platform/text_encoding.h"
#include "store/mapi/prop_tags.h"
#include "store/mime/byte_streams.h"
#include "store/mime/charsets.h"
#include "store/mime/flowed.h"
#include "store/mime/html_text.h"
#include "store/mime/unlabelled_text.h"

namespace mime {
namespace {

void InitGmimeOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_mime_init();
        static const char* fallback[] = {"utf-8", "windows-1252", nullptr};
        g_mime_parser_options_set_fallback_charsets(g_mime_parser_options_get_default(), fallback);
    });
}

// Owns one GObject reference.
template <typename T>
class Ref {
public:
    explicit Ref(T* object = nullptr) : object_(object) {}
    ~Ref() {
        if (object_ != nullptr) g_object_unref(object_);
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_;
};

// GMime has decoded encoded words and read raw 8-bit words with the message's code page; what
// it hands back still undecoded (RFC 2231 values without a charset, ISO-2022-JP escapes) goes
// through the same decision here.
std::string Str(const char* text, const std::string& code_page) {
    return text == nullptr ? std::string() : DecodeUnlabelled(text, code_page);
}

// A parser that reads raw 8-bit header words as UTF-8 when they are, else in the message's code page.
class MessageParserOptions {
public:
    explicit MessageParserOptions(const std::string& code_page) : options_(g_mime_parser_options_new()) {
        const char* fallback[] = {"utf-8", code_page.c_str(), nullptr};
        g_mime_parser_options_set_fallback_charsets(options_, fallback);
    }
    ~MessageParserOptions() { g_mime_parser_options_free(options_); }
    MessageParserOptions(const MessageParserOptions&) = delete;
    MessageParserOptions& operator=(const MessageParserOptions&) = delete;
    GMimeParserOptions* get() const { return options_; }

private:
    GMimeParserOptions* options_;
};

std::string Trim(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    return text.substr(b, e - b);
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The bytes of a part as GMime writes it; with crlf, every line ends in CR LF (as the mail it
// came in did), else in LF.
template <typename Bytes = std::string>
Bytes ObjectBytes(GMimeObject* object, bool crlf = false) {
    Bytes out;
    Ref<GMimeStream> stream(NewAppendStream(out));
    GMimeFormatOptions* format = nullptr;
    if (crlf) {
        format = g_mime_format_options_new();
        g_mime_format_options_set_newline_format(format, GMIME_NEWLINE_FORMAT_DOS);
    }
    g_mime_object_write_to_stream(object, format, stream.get());
    if (format != nullptr) g_mime_format_options_free(format);
    return out;
}

// The content of a leaf part with its transfer encoding undone, written straight into the
// container that keeps it: room for it is made once, from the encoded size, so that a large
// attachment is neither copied nor grown step by step.
template <typename Bytes = std::string>
Bytes DecodedContent(GMimePart* part) {
    Bytes out;
    GMimeDataWrapper* wrapper = g_mime_part_get_content(part);
    if (wrapper == nullptr) return out;
    if (GMimeStream* encoded = g_mime_data_wrapper_get_stream(wrapper)) {
        const gint64 length = g_mime_stream_length(encoded);
        if (length > 0) {
            const bool base64 = g_mime_data_wrapper_get_encoding(wrapper) == GMIME_CONTENT_ENCODING_BASE64;
            out.reserve(static_cast<std::size_t>(base64 ? length / 4 * 3 + 3 : length));
        }
    }
    Ref<GMimeStream> stream(NewAppendStream(out));
    g_mime_data_wrapper_write_to_stream(wrapper, stream.get());
    return out;
}

std::string MimeType(GMimeObject* object) {
    GMimeContentType* type = g_mime_object_get_content_type(object);
    if (type == nullptr) return "application/octet-stream";
    // Asked several times of every part: joined here rather than formatted by GMime.
    const char* media = g_mime_content_type_get_media_type(type);
    const char* subtype = g_mime_content_type_get_media_subtype(type);
    if (media != nullptr && subtype != nullptr) return Lower(std::string(media) + '/' + subtype);
    gchar* text = g_mime_content_type_get_mime_type(type);
    std::string out = text == nullptr ? "application/octet-stream" : Lower(text);
    g_free(text);
    return out;
}

bool IsAttachmentDisposition(GMimeObject* object) {
    GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(object);
    return disposition != nullptr && g_mime_content_disposition_is_attachment(disposition);
}

void SetString(mapi::PropertyBag& bag, mapi::PropTag tag, const std::string& value) {
    if (!value.empty()) bag.Set(tag, value);
}

struct Mailbox {
    std::string name;
    std::string address;
};

// Outlook Express wrote a recipient it had no address for as a quoted name alone
// ("New Outlook Express User"), which parses as an address without '@': that is a name.
Mailbox MailboxOf(std::string name, std::string address) {
    if (name.empty() && address.find('@') == std::string::npos &&
        address.find_first_of("\" ") != std::string::npos) {
        name.clear();
        for (char c : address)
            if (c != '"') name.push_back(c);
        return {Trim(name), {}};
    }
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = Trim(name.substr(1, name.size() - 2));
    return {std::move(name), std::move(address)};
}

// The elements of an address header split at its top-level commas; false when it holds a group
// (a top-level colon), which GMime reads as it is.
bool SplitAddressList(const std::string& raw, std::vector<std::string>& out) {
    std::string current;
    bool quoted = false;
    int angle = 0, comment = 0;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (quoted) {
            if (c == '\\' && i + 1 < raw.size()) current += raw[i++];
            else if (c == '"') quoted = false;
        } else if (comment > 0) {
            if (c == '(') ++comment;
            else if (c == ')') --comment;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '(') {
            ++comment;
        } else if (c == '<') {
            ++angle;
        } else if (c == '>' && angle > 0) {
            --angle;
        } else if (c == ':' && angle == 0) {
            return false;
        } else if (c == ',' && angle == 0) {
            if (!Trim(current).empty()) out.push_back(Trim(current));
            current.clear();
            continue;
        }
        current += c;
    }
    if (!Trim(current).empty()) out.push_back(Trim(current));
    return true;
}

// Whether GMime's reading of one element of an address list is an address: one with a domain,
// or one without ("Charlie Root <root>", a local user) written in angle brackets, as mail
// programs take it. A bare word without them is the name Outlook Express wrote for a recipient
// it had no address for.
bool IsAddressOf(const Mailbox& box, const std::string& element) {
    if (box.address.find('@') != std::string::npos) return true;
    const std::size_t close = element.find_last_not_of(" \t\r\n");
    if (box.address.empty() || close == std::string::npos || element[close] != '>') return false;
    const std::size_t open = element.rfind('<', close);
    return open != std::string::npos && open + 1 < close;
}

void CollectMailboxes(InternetAddressList* list, std::vector<Mailbox>& out, const std::string& code_page, int depth = 0) {
    if (list == nullptr || depth > 4) return;
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count && out.size() < 10000; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(address)) {
            CollectMailboxes(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), out, code_page, depth + 1);
        } else if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
            Mailbox box = MailboxOf(Trim(Str(internet_address_get_name(address), code_page)),
                                    Trim(Str(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)), code_page)));
            if (!box.name.empty() || !box.address.empty()) out.push_back(std::move(box));
        }
    }
}

// A zero byte ends a string for most MAPI readers (and for the checkers' eyes it is damage), so
// a body with one stray zero byte would be cut there. It carries no character, and browsers drop
// it from HTML text as well: it goes from every text property, and from the HTML body. The
// message's own bytes (EML, MBOX) keep it.
void DropZeroCharacters(mapi::PropertyBag& bag) {
    std::vector<std::pair<mapi::PropTag, mapi::PropValue>> changed;
    for (const auto& [tag, value] : bag.all()) {
        if (const auto* text = std::get_if<std::string>(&value); text != nullptr && text->find('\0') != std::string::npos) {
            std::string clean = *text;
            clean.erase(std::remove(clean.begin(), clean.end(), '\0'), clean.end());
            changed.emplace_back(tag, std::move(clean));
        } else if (const auto* texts = std::get_if<std::vector<std::string>>(&value)) {
            std::vector<std::string> clean = *texts;
            bool any = false;
            for (std::string& t : clean) {
                const std::size_t before = t.size();
                t.erase(std::remove(t.begin(), t.end(), '\0'), t.end());
                any = any || t.size() != before;
            }
            if (any) changed.emplace_back(tag, std::move(clean));
        }
    }
    if (const mapi::Binary* html = bag.GetBinary(mapi::PR_HTML);
        html != nullptr && std::find(html->begin(), html->end(), 0) != html->end()) {
        mapi::Binary clean = *html;
        clean.erase(std::remove(clean.begin(), clean.end(), 0), clean.end());
        changed.emplace_back(mapi::PR_HTML, std::move(clean));
    }
    for (auto& [tag, value] : changed) bag.Set(tag, std::move(value));
}

// A header's value as it stands in the message (folded lines, encoded words and all), or null.
const char* RawHeaderValue(GMimeObject* object, const char* name) {
    GMimeHeaderList* headers = g_mime_object_get_header_list(object);
    GMimeHeader* header = headers == nullptr ? nullptr : g_mime_header_list_get_header(headers, name);
    return header == nullptr ? nullptr : g_mime_header_get_raw_value(header);
}

std::optional<mapi::Filetime> ToFiletime(GDateTime* date) {
    if (date == nullptr) return std::nullopt;
    const std::int64_t seconds = g_date_time_to_unix(date);
    if (seconds < -11644473600LL) return std::nullopt;
    return FiletimeFromUnix(seconds);
}

// The date of the first (newest) Received header: the text after its last ';'.
std::optional<mapi::Filetime> ReceivedDate(GMimeObject* message) {
    GMimeHeaderList* headers = g_mime_object_get_header_list(message);
    const int count = headers == nullptr ? 0 : g_mime_header_list_get_count(headers);
    for (int i = 0; i < count; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
        const char* name = g_mime_header_get_name(header);
        if (name == nullptr || g_ascii_strcasecmp(name, "Received") != 0) continue;
        const char* raw = g_mime_header_get_raw_value(header);
        if (raw == nullptr) return std::nullopt;
        std::string value(raw);
        std::size_t semi = value.rfind(';');
        if (semi == std::string::npos) return std::nullopt;
        GDateTime* date = g_mime_utils_header_decode_date(value.c_str() + semi + 1);
        auto result = ToFiletime(date);
        if (date != nullptr) g_date_time_unref(date);
        return result;
    }
    return std::nullopt;
}

void SetPartyProps(mapi::PropertyBag& bag, const Mailbox& who, mapi::PropTag name_tag, mapi::PropTag address_tag,
                   mapi::PropTag type_tag, mapi::PropTag smtp_tag) {
    SetString(bag, name_tag, who.name.empty() ? who.address : who.name);
    SetString(bag, address_tag, who.address);  // a name alone gets no made-up address
    if (!who.address.empty()) bag.Set(type_tag, std::string("SMTP"));
    SetString(bag, smtp_tag, who.address);
}

void SetImportance(mapi::PropertyBag& bag, GMimeObject* object) {
    std::int32_t importance = mapi::IMPORTANCE_NORMAL;
    std::int32_t priority = 0;
    if (const char* value = g_mime_object_get_header(object, "Importance")) {
        std::string v = Lower(Trim(value));
        if (v == "high") importance = mapi::IMPORTANCE_HIGH;
        else if (v == "low") importance = mapi::IMPORTANCE_LOW;
    } else if (const char* xp = g_mime_object_get_header(object, "X-Priority")) {
        std::string v = Trim(xp);
        if (!v.empty() && (v[0] == '1' || v[0] == '2')) importance = mapi::IMPORTANCE_HIGH;
        else if (!v.empty() && (v[0] == '4' || v[0] == '5')) importance = mapi::IMPORTANCE_LOW;
    }
    if (const char* value = g_mime_object_get_header(object, "Priority")) {
        std::string v = Lower(Trim(value));
        if (v == "urgent") priority = 1;
        else if (v == "non-urgent") priority = -1;
    }
    bag.Set(mapi::PR_IMPORTANCE, importance);
    bag.Set(mapi::PR_PRIORITY, priority);

    std::int32_t sensitivity = mapi::SENSITIVITY_NONE;
    if (const char* value = g_mime_object_get_header(object, "Sensitivity")) {
        std::string v = Lower(Trim(value));
        if (v == "personal") sensitivity = mapi::SENSITIVITY_PERSONAL;
        else if (v == "private") sensitivity = mapi::SENSITIVITY_PRIVATE;
        else if (v == "company-confidential") sensitivity = mapi::SENSITIVITY_COMPANY_CONFIDENTIAL;
    }
    bag.Set(mapi::PR_SENSITIVITY, sensitivity);
}

mapi::Binary Md5(const std::string& text) {
    mapi::Binary digest(16);
    gsize length = digest.size();
    GChecksum* checksum = g_checksum_new(G_CHECKSUM_MD5);
    g_checksum_update(checksum, reinterpret_cast<const guchar*>(text.data()), static_cast<gssize>(text.size()));
    g_checksum_get_digest(checksum, digest.data(), &length);
    g_checksum_free(checksum);
    return digest;
}

// The thread a message belongs to: Outlook's Thread-Index header when there is one, else a
// header block made from the sent time and a GUID taken from the thread's first message id, so
// the same mail always converts to the same value.
void SetConversationKeys(mapi::PropertyBag& bag, GMimeObject* object, const std::optional<mapi::Filetime>& sent) {
    const std::string message_id = bag.GetString(mapi::PR_INTERNET_MESSAGE_ID_W).value_or("");
    bag.Set(mapi::PR_SEARCH_KEY, Md5("search:" + message_id + std::to_string(sent ? sent->ticks : 0) +
                                     bag.GetString(mapi::PR_SUBJECT_W).value_or("")));
    if (const char* thread_index = g_mime_object_get_header(object, "Thread-Index")) {
        gsize length = 0;
        guchar* decoded = g_base64_decode(Trim(thread_index).c_str(), &length);
        if (decoded != nullptr && length >= 22 && (length - 22) % 5 == 0) {
            bag.Set(mapi::PR_CONVERSATION_INDEX, mapi::Binary(decoded, decoded + length));
            g_free(decoded);
            return;
        }
        g_free(decoded);
    }
    std::string root = bag.GetString(mapi::PR_INTERNET_REFERENCES_W).value_or("");
    root = root.substr(0, root.find_first_of(" \t\r\n"));
    if (root.empty()) root = message_id;
    if (root.empty()) root = bag.GetString(mapi::PR_NORMALIZED_SUBJECT_W).value_or("");
    mapi::Binary index{0x01};
    const std::uint64_t ticks = sent ? sent->ticks : 0;
    for (int shift = 56; shift >= 24; shift -= 8) index.push_back(static_cast<std::uint8_t>(ticks >> shift));
    const mapi::Binary guid = Md5("thread:" + root);
    index.insert(index.end(), guid.begin(), guid.end());
    bag.Set(mapi::PR_CONVERSATION_INDEX, index);
}

// Receipts asked for by the sender, and the flags Outlook sets on every received message.
void SetReceiptFlags(mapi::PropertyBag& bag, GMimeObject* object) {
    bag.Set(mapi::PR_ALTERNATE_RECIPIENT_ALLOWED, true);
    bag.Set(mapi::PR_READ_RECEIPT_REQUESTED, g_mime_object_get_header(object, "Disposition-Notification-To") != nullptr);
    bag.Set(mapi::PR_ORIGINATOR_DELIVERY_REPORT_REQUESTED, g_mime_object_get_header(object, "Return-Receipt-To") != nullptr);
    bag.Set(mapi::PR_ICON_INDEX, static_cast<std::int32_t>(-1));
}

// "RE: " style prefixes: up to three letters, a colon and a blank.
void SetSubject(mapi::PropertyBag& bag, const std::string& subject) {
    bag.Set(mapi::PR_SUBJECT_W, subject);
    std::string prefix;
    std::size_t colon = subject.find(':');
    if (colon != std::string::npos && colon >= 1 && colon <= 3 && colon + 1 < subject.size() && subject[colon + 1] == ' ' &&
        std::all_of(subject.begin(), subject.begin() + static_cast<std::ptrdiff_t>(colon),
                    [](unsigned char c) { return std::isalpha(c); })) {
        prefix = subject.substr(0, colon + 2);
    }
    bag.Set(mapi::PR_SUBJECT_PREFIX_W, prefix);
    bag.Set(mapi::PR_NORMALIZED_SUBJECT_W, subject.substr(prefix.size()));
    bag.Set(mapi::PR_CONVERSATION_TOPIC_W, subject.substr(prefix.size()));
}

void AppendUtf16z(mapi::Binary& out, const std::string& utf8) {
    for (char16_t unit : platform::Utf8ToUtf16(utf8)) {
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    out.push_back(0);
    out.push_back(0);
}

void AppendUint32(mapi::Binary& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// Where replies go, as Outlook keeps it: a list of one-off entry identifiers (an SMTP address
// and its display name, in Unicode, without rich text), each padded to four bytes.
mapi::Binary ReplyRecipientEntries(const std::vector<Mailbox>& boxes) {
    static const std::uint8_t kOneOffProvider[16] = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                                     0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
    mapi::Binary entries;
    for (const Mailbox& box : boxes) {
        mapi::Binary entry(4, 0);  // flags
        entry.insert(entry.end(), std::begin(kOneOffProvider), std::end(kOneOffProvider));
        entry.insert(entry.end(), {0x00, 0x00, 0x01, 0x90});  // version 0; Unicode, no rich text
        AppendUtf16z(entry, box.name.empty() ? box.address : box.name);
        AppendUtf16z(entry, "SMTP");
        AppendUtf16z(entry, box.address);
        AppendUint32(entries, static_cast<std::uint32_t>(entry.size()));
        entries.insert(entries.end(), entry.begin(), entry.end());
        while (entries.size() % 4 != 0) entries.push_back(0);
    }
    mapi::Binary out;
    AppendUint32(out, static_cast<std::uint32_t>(boxes.size()));
    AppendUint32(out, static_cast<std::uint32_t>(entries.size()));
    out.insert(out.end(), entries.begin(), entries.end());
    return out;
}

std::string JoinDisplayNames(const std::vector<Mailbox>& boxes) {
    std::string out;
    for (const Mailbox& m : boxes) {
        if (!out.empty()) out += "; ";
        out += m.name.empty() ? m.address : m.name;
    }
    return out;
}

std::string ExtensionOf(const std::string& name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.size() - dot > 16) return {};
    return name.substr(dot);
}

std::string GuessExtension(const std::string& mime_type) {
    if (mime_type == "text/plain") return ".txt";
    if (mime_type == "text/html") return ".html";
    if (mime_type == "message/rfc822") return ".eml";
    if (mime_type == "image/jpeg") return ".jpg";
    if (mime_type == "image/png") return ".png";
    if (mime_type == "image/gif") return ".gif";
    if (mime_type == "application/pdf") return ".pdf";
    return ".bin";
}

bool ImportBytes(std::string_view bytes, const std::string& job_codepage, int embedded_depth, mapi::Message& out,
                 bool signed_whole = true);

// The first body part of a multipart body with that boundary: from after its delimiter line to
// the line end before the next delimiter, as RFC 2046 draws it. Empty when there is none.
std::string_view FirstBodyPart(std::string_view body, const std::string& boundary) {
    const std::string delimiter = "--" + boundary;
    std::size_t at = 0;
    while (at < body.size()) {
        if (body.compare(at, delimiter.size(), delimiter) == 0) break;
        const std::size_t newline = body.find('\n', at);
        if (newline == std::string_view::npos) return {};
        at = newline + 1;
    }
    const std::size_t newline = body.find('\n', at);
    if (at >= body.size() || newline == std::string_view::npos) return {};
    const std::size_t start = newline + 1;
    const std::size_t next = body.find("\n" + delimiter, start - 1);
    if (next == std::string_view::npos) return {};
    std::size_t end = next;
    if (end > start && body[end - 1] == '\r') --end;
    return body.substr(start, end >= start ? end - start : 0);
}

// A line that may stand in a header block: a field name (printable, no blank, before the colon)
// or the continuation of the field above.
bool IsHeaderLine(std::string_view line) {
    if (line.front() == ' ' || line.front() == '\t') return true;
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    while (colon > 0 && (line[colon - 1] == ' ' || line[colon - 1] == '\t')) --colon;  // "Subject :"
    if (colon == 0) return false;
    return std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon),
                       [](char c) { return c > ' ' && c < 0x7F; });
}

// The message's header block as it came, up to the blank line (or the first line that is no
// header) where its body starts. Outlook keeps this whole block as the transport headers, the
// MIME headers included; GMime's own list of the message's headers leaves those to the body part.
std::string_view HeaderBlock(std::string_view bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t newline = bytes.find('\n', pos);
        const std::size_t next = newline == std::string_view::npos ? bytes.size() : newline + 1;
        std::string_view line = bytes.substr(pos, next - pos);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        if (line.empty() || !IsHeaderLine(line)) break;
        pos = next;
    }
    return bytes.substr(0, pos);
}

class Importer {
public:
    // job_codepage: the code page the user chose for old messages (empty: this system's).
    // source: the message's bytes as they came (empty: none known). signed_whole: signed and
    // encrypted S/MIME mail is kept as Outlook keeps it (see ImportSecureMessage); false reads a
    // signed message's content as any other message's.
    Importer(int embedded_depth, std::string job_codepage, std::string code_page, GMimeParserOptions* options,
             std::string_view source = {}, bool signed_whole = true)
        : source_(source),
          header_block_(HeaderBlock(source)),
          crlf_(header_block_.find("\r\n") != std::string_view::npos),
          signed_whole_(signed_whole),
          embedded_depth_(embedded_depth),
          job_codepage_(std::move(job_codepage)),
          code_page_(std::move(code_page)),
          options_(options) {}

    void ImportMessage(GMimeMessage* message, mapi::Message& out) {
        FillEnvelope(message, out.props);
        if (GMimeObject* body = g_mime_message_get_mime_part(message)) {
            if (!signed_whole_ || !ImportSecureMessage(body, out)) Walk(body, out, 0, false);
            KeepPgpSignedPart(body, out);
        }
        FinishBodies(out);
        DropZeroCharacters(out.props);
        for (mapi::Recipient& recipient : out.recipients) DropZeroCharacters(recipient.props);
        for (mapi::Attachment& attachment : out.attachments) DropZeroCharacters(attachment.props);
    }

    // The whole input could not be parsed: keep it as one attachment.
    static void KeepRawMessage(const std::string& raw, mapi::Message& out) {
        mapi::Attachment attachment;
        FillFileAttachment(attachment, "message.eml", "message/rfc822", raw);
        out.attachments.push_back(std::move(attachment));
    }

private:
    std::string Text(const char* text) const { return Str(text, code_page_); }

    // The message's body as it came (after its header block and the blank line), or empty when
    // the bytes are not known.
    std::string_view SourceBody() const {
        if (source_.empty()) return {};
        std::string_view body = source_.substr(header_block_.size());
        if (body.substr(0, 2) == "\r\n") body.remove_prefix(2);
        else if (body.substr(0, 1) == "\n") body.remove_prefix(1);
        return body;
    }

    // Signed and encrypted S/MIME mail, stored as Outlook stores it so that Outlook can verify
    // and open it. Clear-signed (multipart/signed): the class IPM.Note.SMIME.MultipartSigned, the
    // bodies of the signed content, and one attachment holding the whole multipart/signed entity,
    // its Content-Type header and its body byte for byte as the mail brought them (a single
    // changed byte breaks the signature). Opaque-signed or encrypted (application/pkcs7-mime, or
    // a .p7m file as the whole message): the class IPM.Note.SMIME, no body, and the protected
    // content as the one attachment, with the message's Content-Type kept as a named property.
    // False for any other message.
    bool ImportSecureMessage(GMimeObject* body, mapi::Message& out) {
        const std::string type = MimeType(body);
        if (type == "multipart/signed" && GMIME_IS_MULTIPART(body)) {
            const std::string protocol = Lower(Trim(Text(g_mime_object_get_content_type_parameter(body, "protocol"))));
            if (protocol != "application/pkcs7-signature" && protocol != "application/x-pkcs7-signature") return false;
            GMimeObject* content = g_mime_multipart_get_part(GMIME_MULTIPART(body), 0);
            if (content == nullptr) return false;
            mapi::Message inner;  // the content's own attachments travel inside the entity
            Walk(content, inner, 1, false);
            out.props.Set(mapi::PR_MESSAGE_CLASS_W, std::string("IPM.Note.SMIME.MultipartSigned"));
            const char* line_end = crlf_ ? "\r\n" : "\n";
            std::string entity = "Content-Type:";
            const char* raw_type = RawHeaderValue(body, "Content-Type");
            entity += raw_type != nullptr ? raw_type : " multipart/signed";
            if (entity.back() != '\n') entity += line_end;
            entity += line_end;
            const std::string_view source_body = SourceBody();
            if (!source_body.empty()) {
                entity += source_body;
            } else {
                const std::string whole = ObjectBytes(body, crlf_);
                const std::size_t blank = whole.find(crlf_ ? "\r\n\r\n" : "\n\n");
                entity += blank == std::string::npos ? whole : whole.substr(blank + (crlf_ ? 4 : 2));
            }
            mapi::Attachment attachment;
            FillFileAttachment(attachment, "smime.p7m", "multipart/signed", entity);
            out.attachments.push_back(std::move(attachment));
            return true;
        }
        const bool p7m_file = type == "application/octet-stream" && GMIME_IS_PART(body) &&
                              Lower(ExtensionOf(AttachmentName(body, type))) == ".p7m";
        if ((type != "application/pkcs7-mime" && type != "application/x-pkcs7-mime" && !p7m_file) || !GMIME_IS_PART(body))
            return false;
        out.props.Set(mapi::PR_MESSAGE_CLASS_W, std::string("IPM.Note.SMIME"));
        if (const char* raw_type = RawHeaderValue(body, "Content-Type")) {
            mapi::NamedProperty content_type;
            content_type.property_set = mapi::PS_INTERNET_HEADERS;
            content_type.name = "Content-Type";
            content_type.type = mapi::PropType::Unicode;
            out.props.SetNamed(content_type, Trim(raw_type));
        }
        GMimePart* part = GMIME_PART(body);
        const std::string name = g_mime_part_get_filename(part) != nullptr ? AttachmentName(body, type) : "smime.p7m";
        mapi::Attachment attachment;
        FillFileAttachment(attachment, name, type, DecodedContent<mapi::Binary>(part));
        out.attachments.push_back(std::move(attachment));
        return true;
    }

    // PGP/MIME signs the first part of a multipart/signed message byte for byte, its MIME
    // headers included; the part is kept so, beside the signature, for anyone who wants to
    // verify it. The bodies and attachments come from it as from any other message.
    void KeepPgpSignedPart(GMimeObject* body, mapi::Message& out) {
        if (MimeType(body) != "multipart/signed" || !GMIME_IS_MULTIPART(body)) return;
        const std::string protocol = Lower(Trim(Text(g_mime_object_get_content_type_parameter(body, "protocol"))));
        if (protocol != "application/pgp-signature") return;
        const char* boundary = g_mime_multipart_get_boundary(GMIME_MULTIPART(body));
        const std::string_view signed_part = boundary == nullptr ? std::string_view() : FirstBodyPart(SourceBody(), boundary);
        if (signed_part.empty()) return;
        mapi::Attachment attachment;
        FillFileAttachment(attachment, "signed-part.eml", "message/rfc822", std::string(signed_part));
        out.attachments.push_back(std::move(attachment));
    }

    // The mailboxes of an address header. GMime drops what is no address at all, but Outlook
    // Express wrote a recipient it had no address for as a bare name ("New Outlook Express
    // User", quoted or not, at times with empty angle brackets): such an element is a name.
    // The list is split in its raw form, before any encoded word is decoded: a comma inside
    // one ("Doe, Jane" encoded) belongs to the name, not to the list.
    std::vector<Mailbox> Mailboxes(GMimeObject* object, InternetAddressList* parsed, const char* header) const {
        std::vector<Mailbox> boxes;
        CollectMailboxes(parsed, boxes, code_page_);
        const char* raw = RawHeaderValue(object, header);
        std::vector<std::string> elements;
        if (raw == nullptr || !SplitAddressList(raw, elements)) return boxes;
        bool all_addresses = boxes.size() == elements.size();
        for (std::size_t i = 0; all_addresses && i < boxes.size(); ++i) all_addresses = IsAddressOf(boxes[i], elements[i]);
        if (all_addresses) return boxes;
        std::vector<Mailbox> out;
        for (std::size_t i = 0; i < elements.size() && i < 10000; ++i) {
            std::string element = elements[i];
            std::vector<Mailbox> one;
            InternetAddressList* list = internet_address_list_parse(options_, element.c_str());
            CollectMailboxes(list, one, code_page_);
            if (list != nullptr) g_object_unref(list);
            if (one.size() == 1 && IsAddressOf(one.front(), element)) {
                out.push_back(std::move(one.front()));
                continue;
            }
            if (element.size() >= 2 && element.compare(element.size() - 2, 2, "<>") == 0) element = Trim(element.substr(0, element.size() - 2));
            gchar* decoded = g_mime_utils_header_decode_phrase(options_, element.c_str());
            Mailbox box = MailboxOf(Trim(Text(decoded)), {});
            g_free(decoded);
            if (!box.name.empty()) out.push_back(std::move(box));
        }
        return out;
    }

    void FillEnvelope(GMimeMessage* message, mapi::PropertyBag& bag) {
        GMimeObject* object = GMIME_OBJECT(message);
        bag.Set(mapi::PR_MESSAGE_CLASS_W, std::string("IPM.Note"));
        SetSubject(bag, Text(g_mime_message_get_subject(message)));

        std::vector<Mailbox> from, sender;
        from = Mailboxes(object, g_mime_message_get_from(message), "From");
        sender = Mailboxes(object, g_mime_message_get_sender(message), "Sender");
        if (!from.empty()) {
            SetPartyProps(bag, from.front(), mapi::PR_SENT_REPRESENTING_NAME_W, mapi::PR_SENT_REPRESENTING_EMAIL_ADDRESS_W,
                          mapi::PR_SENT_REPRESENTING_ADDRTYPE_W, mapi::PR_SENT_REPRESENTING_SMTP_ADDRESS_W);
        }
        const std::vector<Mailbox>& actual = sender.empty() ? from : sender;
        if (!actual.empty()) {
            SetPartyProps(bag, actual.front(), mapi::PR_SENDER_NAME_W, mapi::PR_SENDER_EMAIL_ADDRESS_W,
                          mapi::PR_SENDER_ADDRTYPE_W, mapi::PR_SENDER_SMTP_ADDRESS_W);
        }

        std::vector<Mailbox> reply_to = Mailboxes(object, g_mime_message_get_reply_to(message), "Reply-To");
        reply_to.erase(std::remove_if(reply_to.begin(), reply_to.end(), [](const Mailbox& box) { return box.address.empty(); }),
                       reply_to.end());  // a reply cannot go to a name
        if (!reply_to.empty()) {
            bag.Set(mapi::PR_REPLY_RECIPIENT_NAMES_W, JoinDisplayNames(reply_to));
            bag.Set(mapi::PR_REPLY_RECIPIENT_ENTRIES, ReplyRecipientEntries(reply_to));
        }

        GDateTime* date = g_mime_message_get_date(message);
        std::optional<mapi::Filetime> sent = ToFiletime(date);
        std::optional<mapi::Filetime> received = ReceivedDate(object);
        if (!received) received = sent;
        if (sent) bag.Set(mapi::PR_CLIENT_SUBMIT_TIME, *sent);
        if (received) bag.Set(mapi::PR_MESSAGE_DELIVERY_TIME, *received);
        if (sent) {
            bag.Set(mapi::PR_CREATION_TIME, *sent);
            bag.Set(mapi::PR_LAST_MODIFICATION_TIME, *sent);
        }

        if (const char* id = g_mime_message_get_message_id(message)) {
            SetString(bag, mapi::PR_INTERNET_MESSAGE_ID_W, "<" + Text(id) + ">");
        }
        if (const char* v = g_mime_object_get_header(object, "In-Reply-To")) SetString(bag, mapi::PR_IN_REPLY_TO_ID_W, Trim(Text(v)));
        if (const char* v = g_mime_object_get_header(object, "References")) SetString(bag, mapi::PR_INTERNET_REFERENCES_W, Trim(Text(v)));
        SetImportance(bag, object);
        SetReceiptFlags(bag, object);
        SetConversationKeys(bag, object, sent);

        if (!header_block_.empty()) {
            SetString(bag, mapi::PR_TRANSPORT_MESSAGE_HEADERS_W, DecodeUnlabelled(header_block_, code_page_));
        } else if (GMimeHeaderList* headers = g_mime_object_get_header_list(object)) {
            gchar* text = g_mime_header_list_to_string(headers, nullptr);
            if (text != nullptr) {
                SetString(bag, mapi::PR_TRANSPORT_MESSAGE_HEADERS_W, DecodeUnlabelled(text, code_page_));
                g_free(text);
            }
        }

        static const struct {
            GMimeAddressType type;
            const char* header;
            std::int32_t recipient_type;
            mapi::PropTag display_tag;
        } kKinds[] = {{GMIME_ADDRESS_TYPE_TO, "To", mapi::MAPI_TO, mapi::PR_DISPLAY_TO_W},
                      {GMIME_ADDRESS_TYPE_CC, "Cc", mapi::MAPI_CC, mapi::PR_DISPLAY_CC_W},
                      {GMIME_ADDRESS_TYPE_BCC, "Bcc", mapi::MAPI_BCC, mapi::PR_DISPLAY_BCC_W}};
        for (const auto& kind : kKinds) {
            const std::vector<Mailbox> boxes = Mailboxes(object, g_mime_message_get_addresses(message, kind.type), kind.header);
            bag.Set(kind.display_tag, JoinDisplayNames(boxes));
            for (const Mailbox& box : boxes) recipients_.push_back({box, kind.recipient_type});
        }
    }

    static void FillFileAttachment(mapi::Attachment& attachment, const std::string& name, const std::string& mime_type,
                                   const std::string& bytes) {
        FillFileAttachment(attachment, name, mime_type, mapi::Binary(bytes.begin(), bytes.end()));
    }
    static void FillFileAttachment(mapi::Attachment& attachment, const std::string& name, const std::string& mime_type,
                                   mapi::Binary bytes) {
        mapi::PropertyBag& bag = attachment.props;
        bag.Set(mapi::PR_ATTACH_METHOD, mapi::ATTACH_BY_VALUE);
        bag.Set(mapi::PR_ATTACH_SIZE, static_cast<std::int32_t>(std::min<std::size_t>(bytes.size(), 0x7FFFFFFF)));
        bag.Set(mapi::PR_ATTACH_DATA_BIN, std::move(bytes));
        bag.Set(mapi::PR_DISPLAY_NAME_W, name);
        bag.Set(mapi::PR_ATTACH_FILENAME_W, name);
        bag.Set(mapi::PR_ATTACH_LONG_FILENAME_W, name);
        SetString(bag, mapi::PR_ATTACH_EXTENSION_W, ExtensionOf(name));
        bag.Set(mapi::PR_ATTACH_MIME_TAG_W, mime_type);
        bag.Set(mapi::PR_RENDERING_POSITION, static_cast<std::int32_t>(-1));
    }

    std::string AttachmentName(GMimeObject* object, const std::string& mime_type) {
        std::string name;
        if (GMIME_IS_PART(object)) name = Trim(Text(g_mime_part_get_filename(GMIME_PART(object))));
        if (name.empty()) {
            if (const char* n = g_mime_object_get_content_type_parameter(object, "name")) name = Trim(Text(n));
        }
        // A name is a file name here, never a path.
        for (char& c : name) {
            if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
        }
        if (name.empty()) name = "attachment" + std::to_string(++unnamed_) + GuessExtension(mime_type);
        return name;
    }

    void AddRawAttachment(GMimeObject* object, mapi::Message& out) {
        const std::string mime_type = MimeType(object);
        mapi::Attachment attachment;
        FillFileAttachment(attachment, AttachmentName(object, mime_type), mime_type, ObjectBytes<mapi::Binary>(object, crlf_));
        out.attachments.push_back(std::move(attachment));
    }

    void AddPartAttachment(GMimePart* part, mapi::Message& out) {
        GMimeObject* object = GMIME_OBJECT(part);
        const std::string mime_type = MimeType(object);
        mapi::Attachment attachment;
        FillFileAttachment(attachment, AttachmentName(object, mime_type), mime_type, DecodedContent<mapi::Binary>(part));
        mapi::PropertyBag& bag = attachment.props;
        std::string content_id = Trim(Text(g_mime_object_get_content_id(object)));
        SetString(bag, mapi::PR_ATTACH_CONTENT_ID_W, content_id);
        SetString(bag, mapi::PR_ATTACH_CONTENT_LOCATION_W, Trim(Text(g_mime_part_get_content_location(part))));
        if (!content_id.empty() && !IsAttachmentDisposition(object)) {
            bag.Set(mapi::PR_ATTACH_FLAGS, mapi::ATTACH_MHTML_REF);
            bag.Set(mapi::PR_ATTACHMENT_HIDDEN, true);
        }
        out.attachments.push_back(std::move(attachment));
    }

    void AddEmbeddedMessage(GMimeMessagePart* part, mapi::Message& out) {
        GMimeObject* object = GMIME_OBJECT(part);
        GMimeMessage* inner = g_mime_message_part_get_message(part);
        if (inner == nullptr || embedded_depth_ + 1 >= kMaxEmbeddedDepth) {
            mapi::Attachment attachment;
            std::string bytes = inner != nullptr ? ObjectBytes(GMIME_OBJECT(inner), crlf_) : ObjectBytes(object, crlf_);
            FillFileAttachment(attachment, AttachmentName(object, "message/rfc822"), "message/rfc822", bytes);
            out.attachments.push_back(std::move(attachment));
            return;
        }
        mapi::Attachment attachment;
        attachment.embedded = std::make_unique<mapi::Message>();
        // The inner message is parsed again on its own: its headers follow its own charset,
        // not the one of the message that forwards it.
        const std::string inner_bytes = ObjectBytes(GMIME_OBJECT(inner), crlf_);
        if (!ImportBytes(inner_bytes, job_codepage_, embedded_depth_ + 1, *attachment.embedded)) {
            Importer nested(embedded_depth_ + 1, job_codepage_, code_page_, options_);
            nested.ImportMessage(inner, *attachment.embedded);
        }
        mapi::PropertyBag& bag = attachment.props;
        bag.Set(mapi::PR_ATTACH_METHOD, mapi::ATTACH_EMBEDDED_MSG);
        std::string subject = attachment.embedded->props.GetString(mapi::PR_SUBJECT_W).value_or("");
        bag.Set(mapi::PR_DISPLAY_NAME_W, subject.empty() ? std::string("Untitled message") : subject);
        bag.Set(mapi::PR_ATTACH_MIME_TAG_W, std::string("message/rfc822"));
        bag.Set(mapi::PR_RENDERING_POSITION, static_cast<std::int32_t>(-1));
        out.attachments.push_back(std::move(attachment));
    }

    void TakeTextBody(GMimePart* part, bool html) {
        GMimeObject* object = GMIME_OBJECT(part);
        std::string raw = DecodedContent(part);
        const char* charset_param = g_mime_object_get_content_type_parameter(object, "charset");
        std::string charset = charset_param == nullptr ? "" : Lower(Trim(charset_param));
        if (!charset.empty()) {
            if (const char* canonical = g_mime_charset_iconv_name(charset.c_str())) {
                if (CodePageOfCharset(charset) == std::nullopt) charset = Lower(canonical);
            }
        }
        if (charset.empty() || charset == "us-ascii" || charset == "ascii" || !IsKnownCharset(charset)) {
            // No label, one nobody knows, or ASCII (which 8-bit text cannot be, whatever the
            // sender's program claimed): the message's decision, as for its headers.
            raw = DecodeUnlabelled(raw, code_page_);
            charset = "utf-8";
        }
        if (html) {
            std::optional<std::int32_t> cp = CodePageOfCharset(charset);
            if (cp && *cp != 1200 && *cp != 1201 && (*cp != mapi::CP_UTF8 ||
                                                     g_utf8_validate(raw.data(), static_cast<gssize>(raw.size()), nullptr))) {
                html_body_ = *cp == mapi::CP_UTF8 ? WithoutByteOrderMark(raw) : raw;  // kept in its own code page, as the HTML's own declarations say
                html_code_page_ = *cp;
            } else {
                html_body_ = WithoutByteOrderMark(ToUtf8(raw, charset));
                html_code_page_ = mapi::CP_UTF8;
            }
            has_html_ = true;
        } else {
            text_body_ = WithoutByteOrderMark(ToUtf8(raw, charset));
            if (FormatIsFlowed(object)) text_body_ = UnwrapFlowed(text_body_, DeletesSpace(object));
            has_text_ = true;
            if (auto cp = CodePageOfCharset(charset)) text_code_page_ = *cp;
        }
    }

    void Walk(GMimeObject* object, mapi::Message& out, int depth, bool in_alternative) {
        if (depth > kMaxMultipartDepth) {
            AddRawAttachment(object, out);
            return;
        }
        if (GMIME_IS_MESSAGE_PART(object)) {
            AddEmbeddedMessage(GMIME_MESSAGE_PART(object), out);
            return;
        }
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            const std::string type = MimeType(object);
            const bool alternative = type == "multipart/alternative";
            const int count = g_mime_multipart_get_count(multipart);
            for (int i = 0; i < count; ++i) {
                if (GMimeObject* child = g_mime_multipart_get_part(multipart, i)) {
                    Walk(child, out, depth + 1, alternative || in_alternative);
                }
            }
            return;
        }
        if (GMIME_IS_PART(object)) {
            GMimePart* part = GMIME_PART(object);
            const std::string type = MimeType(object);
            const bool attachment = IsAttachmentDisposition(object);
            if (!attachment && type == "text/plain" && !has_text_) {
                TakeTextBody(part, false);
                return;
            }
            if (!attachment && type == "text/html" && !has_html_) {
                TakeTextBody(part, true);
                return;
            }
            if (in_alternative && !attachment && (type == "text/plain" || type == "text/html")) {
                return;  // a further rendering of a body already taken
            }
            AddPartAttachment(part, out);
            return;
        }
        AddRawAttachment(object, out);  // a part kind GMime gives no content for
    }

    void FinishBodies(mapi::Message& out) {
        mapi::PropertyBag& bag = out.props;
        if (has_html_) {
            bag.Set(mapi::PR_HTML, mapi::Binary(html_body_.begin(), html_body_.end()));
            bag.Set(mapi::PR_INTERNET_CPID, html_code_page_);
        } else {
            bag.Set(mapi::PR_INTERNET_CPID, text_code_page_);
        }
        if (has_text_) {
            bag.Set(mapi::PR_BODY_W, text_body_);
        } else if (has_html_) {
            bag.Set(mapi::PR_BODY_W, HtmlToText(HtmlBodyUtf8(out)));
        }
        for (std::size_t i = 0; i < recipients_.size(); ++i) {
            mapi::Recipient recipient;
            mapi::PropertyBag& r = recipient.props;
            const Mailbox& box = recipients_[i].box;
            r.Set(mapi::PR_RECIPIENT_TYPE, recipients_[i].type);
            SetString(r, mapi::PR_DISPLAY_NAME_W, box.name.empty() ? box.address : box.name);
            SetString(r, mapi::PR_RECIPIENT_DISPLAY_NAME_W, box.name.empty() ? box.address : box.name);
            SetString(r, mapi::PR_EMAIL_ADDRESS_W, box.address);
            SetString(r, mapi::PR_SMTP_ADDRESS_W, box.address);
            // A name without an address stays unresolved, as Outlook keeps one typed by hand.
            if (!box.address.empty()) r.Set(mapi::PR_ADDRTYPE_W, std::string("SMTP"));
            r.Set(mapi::PR_DISPLAY_TYPE, mapi::DT_MAILUSER);
            r.Set(mapi::PR_OBJECT_TYPE, mapi::MAPI_MAILUSER);
            r.Set(mapi::PR_ROWID, static_cast<std::int32_t>(i));
            out.recipients.push_back(std::move(recipient));
        }
        bag.Set(mapi::PR_HASATTACH, !out.attachments.empty());
        std::int32_t flags = mapi::MSGFLAG_READ | (out.attachments.empty() ? 0 : mapi::MSGFLAG_HASATTACH);
        bag.Set(mapi::PR_MESSAGE_FLAGS, flags);
    }

    struct PendingRecipient {
        Mailbox box;
        std::int32_t type;
    };

    static bool FormatIsFlowed(GMimeObject* object) {
        const char* format = g_mime_object_get_content_type_parameter(object, "format");
        return format != nullptr && Lower(Trim(format)) == "flowed";
    }
    static bool DeletesSpace(GMimeObject* object) {
        const char* delsp = g_mime_object_get_content_type_parameter(object, "delsp");
        return delsp != nullptr && Lower(Trim(delsp)) == "yes";
    }

    std::string_view source_;
    std::string_view header_block_;
    bool crlf_;  // the message's lines end in CR LF: so do those of its embedded messages
    bool signed_whole_;
    int embedded_depth_;
    std::string job_codepage_;
    std::string code_page_;  // for this message's unlabelled 8-bit text
    GMimeParserOptions* options_;
    int unnamed_ = 0;
    std::vector<PendingRecipient> recipients_;
    bool has_text_ = false, has_html_ = false;
    std::string text_body_, html_body_;
    std::int32_t html_code_page_ = mapi::CP_UTF8;
    std::int32_t text_code_page_ = mapi::CP_UTF8;
};

// Parses bytes as one message and fills out; false when GMime finds no message in them.
bool ImportBytes(std::string_view bytes, const std::string& job_codepage, int embedded_depth, mapi::Message& out,
                 bool signed_whole) {
    const std::string code_page = CodepageForUnlabelledText(bytes, job_codepage);
    MessageParserOptions options(code_page);
    // The parser reads the bytes where they are; they outlive every GMime object made here.
    Ref<GMimeStream> stream(NewBorrowedStream(bytes));
    Ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    Ref<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), options.get()));
    if (!message) return false;
    Importer importer(embedded_depth, job_codepage, code_page, options.get(), bytes, signed_whole);
    importer.ImportMessage(message.get(), out);
    return true;
}

// The parts of a message a user would save as files, in the order the mail holds them: every
// leaf part that is no body text (the first plain and the first HTML text without an attachment
// disposition, and the other renderings of a multipart/alternative) and no signature, named or
// not, inline or not; every embedded message whole, as the bytes of a message file. A signed
// message's content is walked as any other; its signature is proof, not a file of the sender's.
class AttachedFileWalk {
public:
    AttachedFileWalk(std::string code_page, bool crlf) : code_page_(std::move(code_page)), crlf_(crlf) {}

    void Walk(GMimeObject* object, int depth, bool in_alternative) {
        if (depth > kMaxMultipartDepth) {
            Add(object, ObjectBytes(object, crlf_));
            return;
        }
        if (GMIME_IS_MESSAGE_PART(object)) {
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            std::string name = PartName(object);
            if (name.empty() && inner != nullptr) name = Trim(Str(g_mime_message_get_subject(inner), code_page_));
            if (Lower(ExtensionOf(name)) != ".eml") name += ".eml";
            files_.push_back({std::move(name), "message/rfc822",
                              inner != nullptr ? ObjectBytes(GMIME_OBJECT(inner), crlf_) : ObjectBytes(object, crlf_)});
            return;
        }
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            const bool alternative = in_alternative || MimeType(object) == "multipart/alternative";
            const int count = g_mime_multipart_get_count(multipart);
            for (int i = 0; i < count; ++i)
                if (GMimeObject* child = g_mime_multipart_get_part(multipart, i)) Walk(child, depth + 1, alternative);
            return;
        }
        if (!GMIME_IS_PART(object)) {
            Add(object, ObjectBytes(object, crlf_));
            return;
        }
        const std::string type = MimeType(object);
        if (IsSignature(type)) return;
        const bool text = type == "text/plain" || type == "text/html";
        if (text && !IsAttachmentDisposition(object)) {
            bool& taken = type == "text/plain" ? has_text_ : has_html_;
            if (!taken || in_alternative) {
                taken = true;
                return;
            }
        }
        Add(object, DecodedContent(GMIME_PART(object)));
    }

    std::vector<AttachedFile> Take() { return std::move(files_); }

private:
    static bool IsSignature(const std::string& type) {
        return type == "application/pkcs7-signature" || type == "application/x-pkcs7-signature" ||
               type == "application/pgp-signature";
    }
    // The name the part gives itself, decoded (RFC 2231 and encoded words), as the sender wrote
    // it: the caller makes a safe file name of it.
    std::string PartName(GMimeObject* object) const {
        std::string name;
        if (GMIME_IS_PART(object)) name = Trim(Str(g_mime_part_get_filename(GMIME_PART(object)), code_page_));
        if (name.empty()) {
            GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(object);
            if (const char* n = disposition == nullptr ? nullptr : g_mime_content_disposition_get_parameter(disposition, "filename"))
                name = Trim(Str(n, code_page_));
        }
        if (name.empty())
            if (const char* n = g_mime_object_get_content_type_parameter(object, "name")) name = Trim(Str(n, code_page_));
        return name;
    }
    void Add(GMimeObject* object, std::string bytes) {
        files_.push_back({PartName(object), MimeType(object), std::move(bytes)});
    }

    std::string code_page_;
    bool crlf_;
    bool has_text_ = false, has_html_ = false;
    std::vector<AttachedFile> files_;
};

}  // namespace

std::string DecodeHeaderText(const std::string& raw, const std::string& code_page) {
    InitGmimeOnce();
    MessageParserOptions options(code_page);
    gchar* decoded = g_mime_utils_header_decode_text(options.get(), raw.c_str());
    std::string text = Str(decoded, code_page);
    g_free(decoded);
    return text;
}

mapi::Filetime FiletimeFromUnix(std::int64_t seconds) {
    return mapi::Filetime{static_cast<std::uint64_t>(seconds + 11644473600LL) * 10000000ULL};
}

mapi::Message ImportMessage(const char* data, std::size_t size, const std::string& job_codepage) {
    InitGmimeOnce();
    mapi::Message out;
    if (!ImportBytes(std::string_view(data, size), job_codepage, 0, out)) {
        out.props.Set(mapi::PR_MESSAGE_CLASS_W, std::string("IPM.Note"));
        Importer::KeepRawMessage(std::string(data, size), out);
        out.props.Set(mapi::PR_HASATTACH, true);
        out.props.Set(mapi::PR_MESSAGE_FLAGS, mapi::MSGFLAG_READ | mapi::MSGFLAG_HASATTACH);
        return out;
    }
    return out;
}

std::optional<mapi::Message> SignedContentOf(const mapi::Message& message) {
    if (message.props.GetString(mapi::PR_MESSAGE_CLASS_W).value_or("") != "IPM.Note.SMIME.MultipartSigned" ||
        message.attachments.size() != 1)
        return std::nullopt;
    const mapi::Attachment& entity = message.attachments.front();
    const mapi::Binary* bytes = entity.props.GetBinary(mapi::PR_ATTACH_DATA_BIN);
    if (bytes == nullptr || entity.props.GetString(mapi::PR_ATTACH_MIME_TAG_W).value_or("") != "multipart/signed")
        return std::nullopt;
    InitGmimeOnce();
    mapi::Message content;
    const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    if (!ImportBytes(text, std::string(), 0, content, false)) return std::nullopt;
    return content;
}

mapi::Message ImportMessageFile(const std::string& path, const std::string& job_codepage) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ImportError("cannot open " + path + ": " + std::strerror(errno));
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw ImportError("cannot read " + path);
    return ImportMessage(bytes.data(), bytes.size(), job_codepage);
}

std::vector<AttachedFile> AttachedFilesOf(std::string_view message, const std::string& job_codepage) {
    InitGmimeOnce();
    const std::string code_page = CodepageForUnlabelledText(message, job_codepage);
    MessageParserOptions options(code_page);
    Ref<GMimeStream> stream(NewBorrowedStream(message));
    Ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    Ref<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), options.get()));
    if (!parsed) return {};
    GMimeObject* body = g_mime_message_get_mime_part(parsed.get());
    if (body == nullptr) return {};
    AttachedFileWalk walk(code_page, HeaderBlock(message).find("\r\n") != std::string_view::npos);
    walk.Walk(body, 0, false);
    return walk.Take();
}

}  // namespace mime
