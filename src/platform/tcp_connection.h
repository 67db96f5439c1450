// A TCP connection to a server, with a time limit on every wait: a server that stops answering
// costs a bounded wait, never a hung job.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class TcpConnection {
public:
    TcpConnection() = default;
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Connects to host (a name, or an IPv4 or IPv6 address) on port, trying each address the
    // name has until one answers within timeout. False with error() set ("no such host",
    // "connection refused", "no answer within 30 seconds", ...).
    bool Connect(const std::string& host, unsigned port, std::chrono::milliseconds timeout);
    // Reads what has arrived, up to size bytes, waiting at most timeout for the first byte: the
    // count, 0 when the server closed the connection, -1 on a failure or when the time is up.
    std::int64_t Receive(void* data, std::size_t size, std::chrono::milliseconds timeout);
    // Sends every byte, each wait for room limited by timeout; false on a failure. A connection
    // the server closed fails here, and never ends the program with a signal.
    bool Send(const void* data, std::size_t size, std::chrono::milliseconds timeout);
    void Close();

    bool is_open() const { return socket_ >= 0; }
    // Why the last call failed, in words.
    const std::string& error() const { return error_; }

private:
    long long socket_ = -1;  // wide enough for a Windows SOCKET
    std::string error_;
};

}  // namespace platform
