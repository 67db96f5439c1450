// What can go wrong between us and a mail server, by what the upload does about it.
#pragma once

#include <stdexcept>
#include <string>

namespace imap {

class Failure : public std::runtime_error {
public:
    enum class Kind {
        kConnection,   // no connection, or it broke: worth another try after a pause
        kCertificate,  // the server could not prove who it is: nothing was sent to it
        kPlaintext,    // the server offers no TLS: nothing was sent to it
        kLogin,        // the user name, password or token was refused
        kQuota,        // the account is full, or a provider's limit was reached: stop, resume later
        kRefused,      // the server said no to one command
        kProtocol,     // an answer we could not read
        kJournal,      // our record of what was uploaded cannot be kept
        kUnavailable,  // this build of the program has no mail-server client
    };
    Failure(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

}  // namespace imap
