// One logged-in connection to an IMAP server, through libetpan: the commands an upload needs,
// each failure thrown as an imap::Failure that says what the upload should do about it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "conversion/mail_server_settings.h"
#include "imap/secure_channel.h"
#include "imap/upload_message.h"

struct mailimap;

namespace imap {

// Where the user's own folders live on the server, and what separates the levels of a name.
struct PersonalNamespace {
    std::string prefix;   // "" on most servers, "INBOX." on some
    char separator = 0;   // 0: the server keeps no hierarchy
};

struct SelectedMailbox {
    std::uint32_t uid_validity = 0;
    std::uint32_t exists = 0;
    bool keywords_allowed = false;  // $Forwarded may be set
};

// A message on the server, as much as the duplicate check needs of it.
struct ServerMessage {
    std::uint32_t uid = 0;
    std::uint64_t size = 0;
    std::string message_id;
};

// What the server said to an APPEND.
struct AppendOutcome {
    enum class Result { kAppended, kOverQuota, kTooBig, kNoMailbox, kRefused } result = Result::kAppended;
    std::uint32_t uid_validity = 0;
    std::vector<std::uint32_t> uids;  // in the order sent; empty when the server does not say
    std::string server_text;          // the server's own words, for a refusal
};

class Session {
public:
    // timeout: the longest wait for any answer.
    Session(const MailServerSettings& settings, std::chrono::milliseconds timeout);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Connects, turns to TLS (checking the certificate) and logs in with the password, or with
    // the token through XOAUTH2 when oauth is true. Throws Failure; nothing that the user typed
    // is sent before the certificate check has passed.
    void Open(const std::string& secret, bool oauth);
    // Logs out politely when it can, and closes the connection.
    void Close();

    bool Offers(const std::string& capability) const;
    // The largest message the server takes (APPENDLIMIT), 0 when it does not say.
    std::uint64_t append_limit() const { return append_limit_; }
    // Whether several messages may go in one APPEND without a round trip each (MULTIAPPEND with
    // LITERAL+).
    bool batches_appends() const;

    PersonalNamespace Namespace();
    // The mailbox of exactly this name is there (LIST).
    bool MailboxExists(const std::string& name);
    // CREATE; a mailbox that is there by now is no failure.
    void Create(const std::string& name);
    void Subscribe(const std::string& name);
    SelectedMailbox Select(const std::string& name);

    // The UIDs of the selected mailbox's messages whose Message-ID header holds id.
    std::vector<std::uint32_t> SearchMessageId(const std::string& id);
    // The UIDs of the messages of exactly this size.
    std::vector<std::uint32_t> SearchSize(std::uint64_t size);
    // UID, size and Message-ID of the messages with sequence numbers first..last.
    std::vector<ServerMessage> FetchIndex(std::uint32_t first, std::uint32_t last);
    // Size and Message-ID of the messages with these UIDs (those still there).
    std::vector<ServerMessage> FetchByUid(const std::vector<std::uint32_t>& uids);
    // The whole message (BODY.PEEK[], leaving \Seen alone); nullopt when it is gone.
    std::optional<std::string> FetchMessage(std::uint32_t uid);

    // Appends messages to mailbox: in one command when the server batches appends, else one
    // at a time (then only one message may be given), without waiting for the server's go-ahead
    // when it offers LITERAL+.
    AppendOutcome Append(const std::string& mailbox, const std::vector<const UploadMessage*>& messages);

private:
    void Connect();
    void ReadCapabilities();
    // Throws the Failure that the libetpan result code r of a command stands for.
    [[noreturn]] void Fail(int r, const std::string& doing);
    AppendOutcome AppendOne(const std::string& mailbox, const UploadMessage& message);
    AppendOutcome AppendBatch(const std::string& mailbox, const std::vector<const UploadMessage*>& messages);

    MailServerSettings settings_;
    SecureChannel channel_;
    mailimap* imap_ = nullptr;
    std::set<std::string> capabilities_;  // upper case
    std::uint64_t append_limit_ = 0;
};

}  // namespace imap
