// The connection an IMAP session runs over: TCP, then TLS, with the server's certificate chain
// and host name checked before anything the user typed crosses it. The one place that decides
// whether a server is trusted.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/tcp_connection.h"

struct ssl_ctx_st;
struct ssl_st;

namespace imap {

class SecureChannel {
public:
    explicit SecureChannel(std::chrono::milliseconds timeout);
    ~SecureChannel();
    SecureChannel(const SecureChannel&) = delete;
    SecureChannel& operator=(const SecureChannel&) = delete;

    // Throws Failure (kConnection) when the server cannot be reached.
    void Connect(const std::string& host, unsigned port);
    // Turns the connection to TLS and checks the server's certificate against the system's
    // trusted authorities and those in ca_file (when given), and that it is for host. Throws
    // Failure: kCertificate with why the server is refused and how to trust it, or kConnection.
    void StartTls(const std::string& host, const std::string& ca_file);

    // As the stream below the IMAP parser wants them: a count, 0 at the end, -1 on a failure.
    std::int64_t Read(void* data, std::size_t size);
    std::int64_t Write(const void* data, std::size_t size);
    void Close();

    bool secure() const { return ssl_ != nullptr; }
    // Why the last read or write failed.
    const std::string& error() const;

    // For the TLS layer's own calls: the TCP connection beneath.
    platform::TcpConnection& tcp() { return tcp_; }
    std::chrono::milliseconds timeout() const { return timeout_; }

    struct Peer;  // what the certificate check learnt, for the refusal's words

private:
    std::chrono::milliseconds timeout_;
    platform::TcpConnection tcp_;
    ssl_ctx_st* context_ = nullptr;
    ssl_st* ssl_ = nullptr;
    std::unique_ptr<Peer> peer_;
    std::string error_;
};

}  // namespace imap
