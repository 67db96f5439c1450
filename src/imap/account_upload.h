// The upload's connection to one account, kept for the whole job: logs in once, makes the
// folders, and when the connection breaks makes it again after growing pauses (a bounded number
// of times) so that the work resumes where it was.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "conversion/mail_server_settings.h"
#include "imap/imap_session.h"

namespace imap {

// What the upload needs from whoever runs it.
struct UploadHooks {
    std::function<void(const std::string&)> status;  // a line for the status bar
    std::function<bool()> stop_requested;            // the user asked to stop
};

// The pauses before each new try after the connection broke: the whole wait stays under a minute.
inline constexpr std::chrono::seconds kReconnectPauses[] = {std::chrono::seconds(1), std::chrono::seconds(2),
                                                            std::chrono::seconds(4), std::chrono::seconds(8),
                                                            std::chrono::seconds(16)};

// A folder's display name as one level of a mailbox name: the separator and control characters
// cannot be part of a level, and blanks at the ends are lost by some servers.
std::string MailboxLevelName(const std::string& display_name, char separator);

// The full mailbox name (modified UTF-7) of levels below the namespace's prefix, joined by its
// separator; a server without hierarchy gets one flat name with "/" between the levels.
std::string MailboxName(const PersonalNamespace& space, const std::vector<std::string>& levels);

class AccountUpload {
public:
    AccountUpload(const MailServerSettings& settings, std::string secret, bool oauth, UploadHooks hooks);

    // Connects and logs in, learns the namespace. Throws Failure: a refused certificate, login or
    // plain connection at once; a connection that cannot be made after the pauses.
    void Open();
    // The mailbox for a folder (its levels below the prefix), made when missing with every parent
    // above it, top down, each one subscribed; a folder that is there already is used as it is.
    std::string MakeMailbox(const std::vector<std::string>& levels);

    // Runs command on the session; when the connection breaks (or cannot be made), connects again
    // after the next pause, calls reconnected() and runs command once more, until the pauses are
    // used up. Other failures go to the caller at once.
    void Retrying(const std::function<void(Session&)>& command, const std::function<void(Session&)>& reconnected = {});

    Session& session() { return *session_; }
    const MailServerSettings& settings() const { return settings_; }
    const std::string& account_text() const { return account_text_; }
    const UploadHooks& hooks() const { return hooks_; }
    const PersonalNamespace& space() const { return space_; }

    // The upload cannot go on (the account is full, the connection is lost, the journal cannot be
    // written): the job stops at the next message; why, in words.
    void Stop(const std::string& why) {
        if (stop_reason_.empty()) stop_reason_ = why;
    }
    bool stopped() const { return !stop_reason_.empty(); }
    const std::string& stop_reason() const { return stop_reason_; }

    // What the whole job put on the server, for the final words of a stop.
    std::size_t uploaded() const { return uploaded_; }
    void CountUploaded(std::size_t count) { uploaded_ += count; }

private:
    // Waits before the next try, telling the user; throws when the user asks to stop meanwhile.
    void Pause(std::chrono::seconds pause, const std::string& why);

    MailServerSettings settings_;
    std::string secret_;
    bool oauth_;
    UploadHooks hooks_;
    std::string account_text_;
    std::unique_ptr<Session> session_;
    PersonalNamespace space_;
    std::set<std::string> made_;  // mailboxes known to be there
    std::size_t uploaded_ = 0;
    std::string stop_reason_;
};

}  // namespace imap
