#include "imap/imap_session.h"

#include <libetpan/libetpan.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "imap/imap_failure.h"
#include "imap/server_url.h"

namespace imap {

namespace {

// The stream below libetpan's parser is our channel: TCP and TLS are ours, so that the
// certificate is checked our way and every wait has its limit.
ssize_t ChannelRead(mailstream_low* low, void* data, size_t size) {
    return static_cast<ssize_t>(static_cast<SecureChannel*>(low->data)->Read(data, size));
}
ssize_t ChannelWrite(mailstream_low* low, const void* data, size_t size) {
    return static_cast<ssize_t>(static_cast<SecureChannel*>(low->data)->Write(data, size));
}
int ChannelClose(mailstream_low*) { return 0; }  // the session closes its channel itself
int ChannelDescriptor(mailstream_low*) { return -1; }
void ChannelFree(mailstream_low* low) { std::free(low); }
void ChannelCancel(mailstream_low*) {}
struct mailstream_cancel* ChannelGetCancel(mailstream_low*) { return nullptr; }
carray* ChannelCertificates(mailstream_low*) { return nullptr; }

mailstream_low_driver channel_driver = {ChannelRead,   ChannelWrite,     ChannelClose,       ChannelDescriptor,
                                        ChannelFree,   ChannelCancel,    ChannelGetCancel,   ChannelCertificates,
                                        nullptr,       nullptr,          nullptr};

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

bool SameMailbox(const std::string& a, const std::string& b) {
    // INBOX is the one name IMAP compares without regard to case.
    return a == b || (Upper(a) == "INBOX" && Upper(b) == "INBOX");
}

char* Copy(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// A quoted string of the protocol; names and dates carry no line ends.
std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string FlagListText(const std::vector<std::string>& flags) {
    std::string text = "(";
    for (std::size_t i = 0; i < flags.size(); ++i) text += (i == 0 ? "" : " ") + flags[i];
    return text + ")";
}

mailimap_flag_list* FlagList(const std::vector<std::string>& flags) {
    mailimap_flag_list* list = mailimap_flag_list_new_empty();
    for (const std::string& flag : flags) {
        mailimap_flag* made = nullptr;
        if (flag == "\\Seen") made = mailimap_flag_new_seen();
        else if (flag == "\\Flagged") made = mailimap_flag_new_flagged();
        else if (flag == "\\Answered") made = mailimap_flag_new_answered();
        else if (flag == "\\Draft") made = mailimap_flag_new_draft();
        else made = mailimap_flag_new_flag_keyword(Copy(flag));
        mailimap_flag_list_add(list, made);
    }
    return list;
}

// The UIDs a uid-set names, at most `limit` of them.
std::vector<std::uint32_t> UidsOf(const mailimap_set* set, std::size_t limit) {
    std::vector<std::uint32_t> uids;
    if (set == nullptr) return uids;
    for (clistiter* at = clist_begin(set->set_list); at != nullptr; at = clist_next(at)) {
        const auto* item = static_cast<const mailimap_set_item*>(clist_content(at));
        for (std::uint64_t uid = item->set_first; uid <= item->set_last && uids.size() < limit; ++uid)
            uids.push_back(static_cast<std::uint32_t>(uid));
    }
    return uids;
}

std::vector<std::uint32_t> SearchResult(clist* result) {
    std::vector<std::uint32_t> uids;
    for (clistiter* at = clist_begin(result); at != nullptr; at = clist_next(at))
        uids.push_back(*static_cast<std::uint32_t*>(clist_content(at)));
    mailimap_search_result_free(result);
    return uids;
}

// UID, size, and the Message-ID of a HEADER.FIELDS section, of each message of a FETCH.
std::vector<ServerMessage> IndexOf(clist* fetched) {
    std::vector<ServerMessage> messages;
    for (clistiter* at = clist_begin(fetched); at != nullptr; at = clist_next(at)) {
        const auto* attributes = static_cast<const mailimap_msg_att*>(clist_content(at));
        ServerMessage message;
        for (clistiter* item_at = clist_begin(attributes->att_list); item_at != nullptr; item_at = clist_next(item_at)) {
            const auto* item = static_cast<const mailimap_msg_att_item*>(clist_content(item_at));
            if (item->att_type != MAILIMAP_MSG_ATT_ITEM_STATIC) continue;
            const mailimap_msg_att_static* value = item->att_data.att_static;
            if (value->att_type == MAILIMAP_MSG_ATT_UID) message.uid = value->att_data.att_uid;
            if (value->att_type == MAILIMAP_MSG_ATT_RFC822_SIZE) message.size = value->att_data.att_rfc822_size;
            if (value->att_type == MAILIMAP_MSG_ATT_BODY_SECTION && value->att_data.att_body_section != nullptr &&
                value->att_data.att_body_section->sec_body_part != nullptr) {
                const auto* section = value->att_data.att_body_section;
                message.message_id = MessageIdOf(std::string_view(section->sec_body_part, section->sec_length));
            }
        }
        if (message.uid != 0) messages.push_back(std::move(message));
    }
    mailimap_fetch_list_free(fetched);
    return messages;
}

mailimap_fetch_type* IndexFetchType() {
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_rfc822_size());
    clist* headers = clist_new();
    clist_append(headers, Copy("Message-ID"));
    mailimap_section* section = mailimap_section_new_header_fields(mailimap_header_list_new(headers));
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_body_peek_section(section));
    return type;
}

// A name that only stands in the hierarchy (\Noselect, \NonExistent) is no mailbox yet: it can
// be made one.
bool Selectable(const mailimap_mbx_list_flags* flags) {
    if (flags == nullptr) return true;
    if (flags->mbf_type == MAILIMAP_MBX_LIST_FLAGS_SFLAG && flags->mbf_sflag == MAILIMAP_MBX_LIST_SFLAG_NOSELECT) return false;
    for (clistiter* at = flags->mbf_oflags == nullptr ? nullptr : clist_begin(flags->mbf_oflags); at != nullptr; at = clist_next(at)) {
        const auto* flag = static_cast<const mailimap_mbx_list_oflag*>(clist_content(at));
        if (flag->of_type == MAILIMAP_MBX_LIST_OFLAG_FLAG_EXT && flag->of_flag_ext != nullptr &&
            (Upper(flag->of_flag_ext) == "NONEXISTENT" || Upper(flag->of_flag_ext) == "NOSELECT"))
            return false;
    }
    return true;
}

// "1796699750 3:5" of an APPENDUID code the parser left as text.
bool ReadAppendUid(const std::string& value, std::uint32_t& uid_validity, std::vector<std::uint32_t>& uids, std::size_t limit) {
    const std::size_t blank = value.find(' ');
    if (blank == std::string::npos || blank == 0 || blank > 10) return false;
    uid_validity = static_cast<std::uint32_t>(std::strtoul(value.substr(0, blank).c_str(), nullptr, 10));
    std::size_t at = blank + 1;
    while (at < value.size() && uids.size() <= limit) {
        std::size_t end = value.find(',', at);
        if (end == std::string::npos) end = value.size();
        const std::string range = value.substr(at, end - at);
        const std::size_t colon = range.find(':');
        const unsigned long first = std::strtoul(range.c_str(), nullptr, 10);
        const unsigned long last = colon == std::string::npos ? first : std::strtoul(range.c_str() + colon + 1, nullptr, 10);
        if (first == 0 || last < first || last > 0xFFFFFFFFul) return false;
        for (unsigned long uid = first; uid <= last && uids.size() <= limit; ++uid) uids.push_back(static_cast<std::uint32_t>(uid));
        at = end + 1;
    }
    return uids.size() == limit;
}

bool MentionsQuota(const char* text) {
    if (text == nullptr) return false;
    const std::string upper = Upper(text);
    return upper.find("QUOTA") != std::string::npos || upper.find("LIMIT") != std::string::npos;
}

// What a refused APPEND's response code says: a full account or a provider's limit (stop and
// resume later), a message too big, a mailbox that is not there.
AppendOutcome::Result RefusalOf(const std::string& code, const char* alert) {
    if (code == "OVERQUOTA" || code == "LIMIT" || (alert != nullptr && MentionsQuota(alert)))
        return AppendOutcome::Result::kOverQuota;
    if (code == "TOOBIG") return AppendOutcome::Result::kTooBig;
    if (code == "TRYCREATE" || code == "NONEXISTENT") return AppendOutcome::Result::kNoMailbox;
    return AppendOutcome::Result::kRefused;
}

}  // namespace

Session::Session(const MailServerSettings& settings, std::chrono::milliseconds timeout)
    : settings_(settings), channel_(timeout) {}

Session::~Session() { Close(); }

void Session::Close() {
    if (imap_ != nullptr) {
        if (channel_.tcp().is_open()) mailimap_logout(imap_);
        mailimap_free(imap_);
        imap_ = nullptr;
    }
    channel_.Close();
}

bool Session::Offers(const std::string& capability) const { return capabilities_.count(Upper(capability)) != 0; }

bool Session::batches_appends() const { return Offers("MULTIAPPEND") && Offers("LITERAL+"); }

void Session::Fail(int r, const std::string& doing) {
    const std::string server = imap_ != nullptr && imap_->imap_response != nullptr ? imap_->imap_response : "";
    if (r == MAILIMAP_ERROR_STREAM || r == MAILIMAP_ERROR_CONNECTION_REFUSED || r == MAILIMAP_ERROR_DONT_ACCEPT_CONNECTION) {
        const std::string why = channel_.error().empty() ? "the connection broke" : channel_.error();
        throw Failure(Failure::Kind::kConnection, doing + ": " + why);
    }
    if (r == MAILIMAP_ERROR_PARSE) throw Failure(Failure::Kind::kProtocol, doing + ": the server's answer cannot be read");
    throw Failure(Failure::Kind::kRefused, doing + ": the server refused" + (server.empty() ? "" : " (" + server + ")"));
}

void Session::Connect() {
    Close();
    const unsigned port = EffectivePort(settings_);
    channel_.Connect(settings_.host, port);
    if (settings_.security == MailServerSecurity::kImplicitTls) channel_.StartTls(settings_.host, settings_.ca_file);
    mailstream_low* low = mailstream_low_new(&channel_, &channel_driver);
    mailstream* stream = low == nullptr ? nullptr : mailstream_new(low, 64 * 1024);
    imap_ = mailimap_new(0, nullptr);
    if (stream == nullptr || imap_ == nullptr) throw Failure(Failure::Kind::kConnection, "out of memory");
    const int greeting = mailimap_connect(imap_, stream);
    if (greeting != MAILIMAP_NO_ERROR_NON_AUTHENTICATED && greeting != MAILIMAP_NO_ERROR_AUTHENTICATED)
        Fail(greeting, "the server's greeting");
    if (settings_.security != MailServerSecurity::kStartTls) return;
    ReadCapabilities();
    if (!Offers("STARTTLS"))
        throw Failure(Failure::Kind::kPlaintext,
                      settings_.host + " offers no encryption (STARTTLS): a password would cross the network readable "
                      "by anyone on the way, so nothing was sent. Use imaps:// (port 993) if the server has it.");
    const int started = mailimap_starttls(imap_);
    if (started == MAILIMAP_ERROR_STREAM) Fail(started, "STARTTLS");
    if (started != MAILIMAP_NO_ERROR)
        throw Failure(Failure::Kind::kPlaintext, settings_.host + " refused to turn the connection to TLS (STARTTLS); nothing was sent");
    // Bytes that came after the reply but before TLS would be read as if the server had sent
    // them over TLS: someone on the way can put them there, so such a server is refused.
    if (imap_->imap_stream != nullptr && imap_->imap_stream->read_buffer_len != 0)
        throw Failure(Failure::Kind::kPlaintext, settings_.host + " sent unencrypted data after agreeing to STARTTLS; nothing was sent");
    channel_.StartTls(settings_.host, settings_.ca_file);
}

void Session::Open(const std::string& secret, bool oauth) {
    Connect();
    const int r = oauth ? mailimap_oauth2_authenticate(imap_, settings_.user.c_str(), secret.c_str())
                        : mailimap_login(imap_, settings_.user.c_str(), secret.c_str());
    if (r == MAILIMAP_ERROR_STREAM) Fail(r, "logging in");
    if (r != MAILIMAP_NO_ERROR) {
        const std::string server = imap_->imap_response != nullptr ? imap_->imap_response : "";
        throw Failure(Failure::Kind::kLogin, std::string("the server refused the ") + (oauth ? "token" : "password") +
                                                 " of " + settings_.user + (server.empty() ? "" : " (" + server + ")"));
    }
    ReadCapabilities();
}

void Session::ReadCapabilities() {
    mailimap_capability_data* data = nullptr;
    const int r = mailimap_capability(imap_, &data);
    if (r != MAILIMAP_NO_ERROR) Fail(r, "asking what the server offers");
    capabilities_.clear();
    append_limit_ = 0;
    for (clistiter* at = clist_begin(data->cap_list); at != nullptr; at = clist_next(at)) {
        const auto* capability = static_cast<const struct mailimap_capability*>(clist_content(at));
        if (capability->cap_type == MAILIMAP_CAPABILITY_AUTH_TYPE && capability->cap_data.cap_auth_type != nullptr)
            capabilities_.insert("AUTH=" + Upper(capability->cap_data.cap_auth_type));
        if (capability->cap_type != MAILIMAP_CAPABILITY_NAME || capability->cap_data.cap_name == nullptr) continue;
        const std::string name = Upper(capability->cap_data.cap_name);
        capabilities_.insert(name);
        if (name.rfind("APPENDLIMIT=", 0) == 0) {
            const std::string digits = name.substr(12);
            if (!digits.empty() && digits.size() < 19 && std::all_of(digits.begin(), digits.end(), ::isdigit))
                append_limit_ = std::stoull(digits);
        }
    }
    mailimap_capability_data_free(data);
}

PersonalNamespace Session::Namespace() {
    PersonalNamespace space;
    if (Offers("NAMESPACE")) {
        mailimap_namespace_data* data = nullptr;
        const int r = mailimap_namespace(imap_, &data);
        if (r == MAILIMAP_NO_ERROR && data != nullptr) {
            if (data->ns_personal != nullptr && clist_begin(data->ns_personal->ns_data_list) != nullptr) {
                const auto* info = static_cast<const mailimap_namespace_info*>(clist_content(clist_begin(data->ns_personal->ns_data_list)));
                space.prefix = info->ns_prefix != nullptr ? info->ns_prefix : "";
                space.separator = info->ns_delimiter;
                mailimap_namespace_data_free(data);
                return space;
            }
            mailimap_namespace_data_free(data);
        } else if (r == MAILIMAP_ERROR_STREAM) {
            Fail(r, "NAMESPACE");
        }
    }
    // Without NAMESPACE the separator comes from LIST "" "".
    clist* list = nullptr;
    const int r = mailimap_list(imap_, "", "", &list);
    if (r != MAILIMAP_NO_ERROR) Fail(r, "asking for the folder separator");
    if (list != nullptr && clist_begin(list) != nullptr)
        space.separator = static_cast<const mailimap_mailbox_list*>(clist_content(clist_begin(list)))->mb_delimiter;
    mailimap_list_result_free(list);
    return space;
}

bool Session::MailboxExists(const std::string& name) {
    clist* list = nullptr;
    const int r = mailimap_list(imap_, "", name.c_str(), &list);
    if (r != MAILIMAP_NO_ERROR) Fail(r, "LIST " + name);
    bool found = false;
    for (clistiter* at = clist_begin(list); at != nullptr && !found; at = clist_next(at)) {
        const auto* mailbox = static_cast<const mailimap_mailbox_list*>(clist_content(at));
        found = mailbox->mb_name != nullptr && SameMailbox(mailbox->mb_name, name) && Selectable(mailbox->mb_flag);
    }
    mailimap_list_result_free(list);
    return found;
}

void Session::Create(const std::string& name) {
    const int r = mailimap_create(imap_, name.c_str());
    if (r == MAILIMAP_NO_ERROR) return;
    if (r == MAILIMAP_ERROR_STREAM || !MailboxExists(name)) Fail(r, "making the folder " + name);
}

void Session::Subscribe(const std::string& name) {
    // A folder not subscribed is still there: only a broken connection counts.
    const int r = mailimap_subscribe(imap_, name.c_str());
    if (r == MAILIMAP_ERROR_STREAM) Fail(r, "subscribing to " + name);
}

SelectedMailbox Session::Select(const std::string& name) {
    const int r = mailimap_select(imap_, name.c_str());
    if (r != MAILIMAP_NO_ERROR) Fail(r, "opening the folder " + name);
    SelectedMailbox selected;
    const mailimap_selection_info* info = imap_->imap_selection_info;
    if (info == nullptr) return selected;
    selected.uid_validity = info->sel_uidvalidity;
    selected.exists = info->sel_exists;
    for (clistiter* at = info->sel_perm_flags == nullptr ? nullptr : clist_begin(info->sel_perm_flags); at != nullptr;
         at = clist_next(at)) {
        const auto* permitted = static_cast<const mailimap_flag_perm*>(clist_content(at));
        if (permitted->fl_type == MAILIMAP_FLAG_PERM_ALL) selected.keywords_allowed = true;
        const mailimap_flag* flag = permitted->fl_flag;
        if (flag != nullptr && flag->fl_type == MAILIMAP_FLAG_KEYWORD && flag->fl_data.fl_keyword != nullptr &&
            Upper(flag->fl_data.fl_keyword) == "$FORWARDED")
            selected.keywords_allowed = true;
    }
    return selected;
}

std::vector<std::uint32_t> Session::SearchMessageId(const std::string& id) {
    mailimap_search_key* key = mailimap_search_key_new_header(Copy("Message-ID"), Copy(id));
    clist* result = nullptr;
    const int r = mailimap_uid_search(imap_, nullptr, key, &result);
    mailimap_search_key_free(key);
    if (r != MAILIMAP_NO_ERROR) Fail(r, "searching for a Message-ID");
    return SearchResult(result);
}

std::vector<std::uint32_t> Session::SearchSize(std::uint64_t size) {
    if (size == 0 || size >= 0xFFFFFFFFu) return {};
    mailimap_search_key* key = mailimap_search_key_new_multiple_empty();
    mailimap_search_key_multiple_add(key, mailimap_search_key_new_larger(static_cast<std::uint32_t>(size - 1)));
    mailimap_search_key_multiple_add(key, mailimap_search_key_new_smaller(static_cast<std::uint32_t>(size + 1)));
    clist* result = nullptr;
    const int r = mailimap_uid_search(imap_, nullptr, key, &result);
    mailimap_search_key_free(key);
    if (r != MAILIMAP_NO_ERROR) Fail(r, "searching by size");
    return SearchResult(result);
}

std::vector<ServerMessage> Session::FetchIndex(std::uint32_t first, std::uint32_t last) {
    mailimap_set* set = mailimap_set_new_interval(first, last);
    mailimap_fetch_type* type = IndexFetchType();
    clist* fetched = nullptr;
    const int r = mailimap_fetch(imap_, set, type, &fetched);
    mailimap_fetch_type_free(type);
    mailimap_set_free(set);
    if (r != MAILIMAP_NO_ERROR) Fail(r, "reading which messages the folder holds");
    return IndexOf(fetched);
}

std::vector<ServerMessage> Session::FetchByUid(const std::vector<std::uint32_t>& uids) {
    if (uids.empty()) return {};
    mailimap_set* set = mailimap_set_new_empty();
    for (std::uint32_t uid : uids) mailimap_set_add_single(set, uid);
    mailimap_fetch_type* type = IndexFetchType();
    clist* fetched = nullptr;
    const int r = mailimap_uid_fetch(imap_, set, type, &fetched);
    mailimap_fetch_type_free(type);
    mailimap_set_free(set);
    if (r != MAILIMAP_NO_ERROR) Fail(r, "reading messages of the folder");
    return IndexOf(fetched);
}

std::optional<std::string> Session::FetchMessage(std::uint32_t uid) {
    mailimap_set* set = mailimap_set_new_single(uid);
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_body_peek_section(mailimap_section_new(nullptr)));
    clist* fetched = nullptr;
    const int r = mailimap_uid_fetch(imap_, set, type, &fetched);
    mailimap_fetch_type_free(type);
    mailimap_set_free(set);
    if (r != MAILIMAP_NO_ERROR) Fail(r, "reading a message of the folder");
    std::optional<std::string> body;
    for (clistiter* at = clist_begin(fetched); at != nullptr && !body; at = clist_next(at)) {
        const auto* attributes = static_cast<const mailimap_msg_att*>(clist_content(at));
        for (clistiter* item_at = clist_begin(attributes->att_list); item_at != nullptr; item_at = clist_next(item_at)) {
            const auto* item = static_cast<const mailimap_msg_att_item*>(clist_content(item_at));
            if (item->att_type != MAILIMAP_MSG_ATT_ITEM_STATIC) continue;
            const mailimap_msg_att_static* value = item->att_data.att_static;
            if (value->att_type == MAILIMAP_MSG_ATT_BODY_SECTION && value->att_data.att_body_section != nullptr &&
                value->att_data.att_body_section->sec_body_part != nullptr)
                body = std::string(value->att_data.att_body_section->sec_body_part, value->att_data.att_body_section->sec_length);
        }
    }
    mailimap_fetch_list_free(fetched);
    return body;
}

AppendOutcome Session::Append(const std::string& mailbox, const std::vector<const UploadMessage*>& messages) {
    // With LITERAL+ a message goes without waiting for the server's go-ahead, one round trip
    // less; several in one command need MULTIAPPEND too.
    if (messages.size() == 1 && !Offers("LITERAL+")) return AppendOne(mailbox, *messages.front());
    return AppendBatch(mailbox, messages);
}

AppendOutcome Session::AppendOne(const std::string& mailbox, const UploadMessage& message) {
    mailimap_flag_list* flags = FlagList(message.flags);
    mailimap_date_time* date = nullptr;
    if (message.internal_date) {
        const InternalDate& when = *message.internal_date;
        date = mailimap_date_time_new(when.day, when.month, when.year, when.hour, when.minute, when.second, 0);
    }
    std::uint32_t uid_validity = 0, uid = 0;
    const int r = mailimap_uidplus_append(imap_, mailbox.c_str(), flags, date, message.bytes.data(), message.bytes.size(),
                                          &uid_validity, &uid);
    mailimap_flag_list_free(flags);
    if (date != nullptr) mailimap_date_time_free(date);
    AppendOutcome outcome;
    if (r == MAILIMAP_NO_ERROR) {
        outcome.uid_validity = uid_validity;
        if (uid != 0) outcome.uids.push_back(uid);
        return outcome;
    }
    if (r == MAILIMAP_ERROR_STREAM || r == MAILIMAP_ERROR_PARSE) Fail(r, "uploading a message");
    const mailimap_response_info* info = imap_->imap_response_info;
    std::string code = info != nullptr && info->rsp_atom != nullptr ? Upper(info->rsp_atom) : "";
    if (info != nullptr && info->rsp_trycreate) code = "TRYCREATE";
    outcome.result = RefusalOf(code, info != nullptr ? info->rsp_alert : nullptr);
    outcome.server_text = imap_->imap_response != nullptr ? imap_->imap_response : "";
    return outcome;
}

AppendOutcome Session::AppendBatch(const std::string& mailbox, const std::vector<const UploadMessage*>& messages) {
    // One APPEND with a literal per message, none waiting for the server's go-ahead (LITERAL+):
    // the server stores all of them or none (MULTIAPPEND), with a single answer.
    std::string command = "APPEND " + Quoted(mailbox);
    if (mailimap_send_current_tag(imap_) != MAILIMAP_NO_ERROR) Fail(MAILIMAP_ERROR_STREAM, "uploading messages");
    for (const UploadMessage* message : messages) {
        command += " " + FlagListText(message->flags);
        if (message->internal_date) command += " " + Quoted(InternalDateText(*message->internal_date));
        command += " {" + std::to_string(message->bytes.size()) + "+}\r\n";
        if (mailstream_write(imap_->imap_stream, command.data(), command.size()) < 0 ||
            mailstream_write(imap_->imap_stream, message->bytes.data(), message->bytes.size()) < 0)
            Fail(MAILIMAP_ERROR_STREAM, "uploading messages");
        command.clear();
    }
    if (mailstream_write(imap_->imap_stream, "\r\n", 2) < 0 || mailstream_flush(imap_->imap_stream) < 0)
        Fail(MAILIMAP_ERROR_STREAM, "uploading messages");
    if (mailimap_read_line(imap_) == nullptr) Fail(MAILIMAP_ERROR_STREAM, "uploading messages");
    mailimap_response* response = nullptr;
    const int r = mailimap_parse_response(imap_, &response);
    if (r != MAILIMAP_NO_ERROR) Fail(r, "uploading messages");
    AppendOutcome outcome;
    const mailimap_response_done* done = response->rsp_resp_done;
    if (done->rsp_type != MAILIMAP_RESP_DONE_TYPE_TAGGED || done->rsp_data.rsp_tagged == nullptr) {
        mailimap_response_free(response);
        Fail(MAILIMAP_ERROR_STREAM, "uploading messages");  // BYE: the server is going away
    }
    const mailimap_resp_cond_state* state = done->rsp_data.rsp_tagged->rsp_cond_state;
    const mailimap_resp_text* text = state->rsp_text;
    outcome.server_text = text != nullptr && text->rsp_text != nullptr ? text->rsp_text : "";
    // The parser keeps what the response codes said with the session: an extension's data
    // (APPENDUID), the name and value of a code it does not know, TRYCREATE and ALERT.
    const mailimap_response_info* info = imap_->imap_response_info;
    for (clistiter* at = info != nullptr && info->rsp_extension_list != nullptr ? clist_begin(info->rsp_extension_list) : nullptr;
         at != nullptr; at = clist_next(at)) {
        const auto* data = static_cast<const mailimap_extension_data*>(clist_content(at));
        if (data->ext_extension != &mailimap_extension_uidplus || data->ext_type != MAILIMAP_UIDPLUS_RESP_CODE_APND) continue;
        const auto* appended = static_cast<const mailimap_uidplus_resp_code_apnd*>(data->ext_data);
        outcome.uid_validity = appended->uid_uidvalidity;
        outcome.uids = UidsOf(appended->uid_set, messages.size());
    }
    std::string code_name = info != nullptr && info->rsp_atom != nullptr ? Upper(info->rsp_atom) : "";
    if (code_name == "APPENDUID" && info->rsp_value != nullptr &&
        !ReadAppendUid(info->rsp_value, outcome.uid_validity, outcome.uids, messages.size()))
        outcome.uids.clear();
    if (info != nullptr && info->rsp_trycreate) code_name = "TRYCREATE";
    if (state->rsp_type != MAILIMAP_RESP_COND_STATE_OK)
        outcome.result = RefusalOf(code_name, info != nullptr ? info->rsp_alert : nullptr);
    if (outcome.uids.size() != messages.size()) outcome.uids.clear();
    mailimap_response_free(response);
    return outcome;
}

}  // namespace imap
