// The mail-server session of a build made without the TLS and IMAP libraries (the Windows build
// until they are built for it): every attempt fails at once, in words, and nothing is sent
// anywhere. The journal and the rest of the upload's bookkeeping are built as everywhere.
#include "imap/imap_failure.h"
#include "imap/imap_session.h"
#include "imap/secure_channel.h"

namespace imap {

namespace {

[[noreturn]] void Unavailable() {
    throw Failure(Failure::Kind::kUnavailable,
                  "uploading to a mail server is not available in this build of Ombrik (the Windows build has no "
                  "TLS library yet); convert to MBOX or EML instead");
}

}  // namespace

struct SecureChannel::Peer {};

SecureChannel::SecureChannel(std::chrono::milliseconds timeout) : timeout_(timeout) {}
SecureChannel::~SecureChannel() = default;

Session::Session(const MailServerSettings& settings, std::chrono::milliseconds timeout)
    : settings_(settings), channel_(timeout) {}
Session::~Session() = default;

void Session::Open(const std::string&, bool) { Unavailable(); }
void Session::Close() {}
bool Session::Offers(const std::string&) const { return false; }
bool Session::batches_appends() const { return false; }
PersonalNamespace Session::Namespace() { Unavailable(); }
bool Session::MailboxExists(const std::string&) { Unavailable(); }
void Session::Create(const std::string&) { Unavailable(); }
void Session::Subscribe(const std::string&) { Unavailable(); }
SelectedMailbox Session::Select(const std::string&) { Unavailable(); }
std::vector<std::uint32_t> Session::SearchMessageId(const std::string&) { Unavailable(); }
std::vector<std::uint32_t> Session::SearchSize(std::uint64_t) { Unavailable(); }
std::vector<ServerMessage> Session::FetchIndex(std::uint32_t, std::uint32_t) { Unavailable(); }
std::vector<ServerMessage> Session::FetchByUid(const std::vector<std::uint32_t>&) { Unavailable(); }
std::optional<std::string> Session::FetchMessage(std::uint32_t) { Unavailable(); }
AppendOutcome Session::Append(const std::string&, const std::vector<const UploadMessage*>&) { Unavailable(); }

}  // namespace imap
