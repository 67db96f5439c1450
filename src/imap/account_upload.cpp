#include "imap/account_upload.h"

#include <thread>

#include "imap/imap_failure.h"
#include "imap/mailbox_name.h"
#include "imap/server_url.h"

namespace imap {

namespace {

// The longest wait for any one answer: a batch of messages may take the server a while to store.
constexpr std::chrono::seconds kAnswerTimeout{120};

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::string MailboxLevelName(const std::string& display_name, char separator) {
    std::string name;
    for (char c : display_name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) continue;
        name += (separator != 0 && c == separator) ? '_' : c;
    }
    name = Trimmed(name);
    return name.empty() ? std::string("Folder") : name;
}

std::string MailboxName(const PersonalNamespace& space, const std::vector<std::string>& levels) {
    const char separator = space.separator != 0 ? space.separator : '/';
    std::string name;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        if (i != 0) name += separator;
        name += MailboxLevelName(levels[i], space.separator);
    }
    // The prefix is the server's own, already in its encoding.
    return space.prefix + EncodeMailboxName(name);
}

AccountUpload::AccountUpload(const MailServerSettings& settings, std::string secret, bool oauth, UploadHooks hooks)
    : settings_(settings), secret_(std::move(secret)), oauth_(oauth), hooks_(std::move(hooks)),
      account_text_(AccountText(settings)) {}

void AccountUpload::Open() {
    session_.reset();
    Retrying([](Session&) {});
    space_ = session_->Namespace();
}

void AccountUpload::Pause(std::chrono::seconds pause, const std::string& why) {
    if (hooks_.status)
        hooks_.status("The connection to " + settings_.host + " failed (" + why + "); trying again in " +
                      std::to_string(pause.count()) + (pause.count() == 1 ? " second" : " seconds") + " ...");
    const auto until = std::chrono::steady_clock::now() + pause;
    while (std::chrono::steady_clock::now() < until) {
        if (hooks_.stop_requested && hooks_.stop_requested())
            throw Failure(Failure::Kind::kConnection, "the connection to " + settings_.host + " failed (" + why + ")");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void AccountUpload::Retrying(const std::function<void(Session&)>& command, const std::function<void(Session&)>& reconnected) {
    std::string last;
    std::size_t tries = 0;
    for (;;) {
        try {
            if (session_ == nullptr) {
                auto session = std::make_unique<Session>(settings_, kAnswerTimeout);
                session->Open(secret_, oauth_);
                session_ = std::move(session);
                if (reconnected) reconnected(*session_);
            }
            command(*session_);
            return;
        } catch (const Failure& failure) {
            // A refused certificate, password or plain connection is not mended by waiting.
            if (failure.kind() != Failure::Kind::kConnection) throw;
            last = failure.what();
            session_.reset();
        }
        if (tries == std::size(kReconnectPauses))
            throw Failure(Failure::Kind::kConnection, "the connection to " + settings_.host + " failed and could not be made again (" +
                                                          std::to_string(tries) + " tries in a minute): " + last);
        Pause(kReconnectPauses[tries++], last);
    }
}

std::string AccountUpload::MakeMailbox(const std::vector<std::string>& levels) {
    std::vector<std::string> path;
    std::string name;
    for (const std::string& level : levels) {
        path.push_back(level);
        name = MailboxName(space_, path);
        // A server without hierarchy has no parents to make.
        if (space_.separator == 0 && path.size() != levels.size()) continue;
        if (made_.count(name) != 0) continue;
        Retrying([&](Session& session) {
            if (!session.MailboxExists(name)) session.Create(name);
            session.Subscribe(name);
        });
        made_.insert(name);
    }
    return name;
}

}  // namespace imap
