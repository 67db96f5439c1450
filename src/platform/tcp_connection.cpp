#include "platform/tcp_connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/output_file.h"

namespace platform {

namespace {

std::string SecondsText(std::chrono::milliseconds timeout) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout).count();
    return "no answer within " + std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

// Waits until fd is ready for events or the time is up; 1 ready, 0 time up, -1 failure. A
// signal (the user's first Ctrl-C) does not cut the wait short: the job stops at a message
// boundary, not in the middle of a command.
int WaitFor(int fd, short events, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready >= 0) return ready > 0 ? 1 : 0;
        if (errno != EINTR) return -1;
    }
}

}  // namespace

TcpConnection::~TcpConnection() { Close(); }

void TcpConnection::Close() {
    if (socket_ >= 0) ::close(static_cast<int>(socket_));
    socket_ = -1;
}

bool TcpConnection::Connect(const std::string& host, unsigned port, std::chrono::milliseconds timeout) {
    Close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int lookup = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (lookup != 0) {
        error_ = lookup == EAI_NONAME ? "no such host" : std::string("the name cannot be looked up (") + gai_strerror(lookup) + ")";
        return false;
    }
    error_ = "no address to connect to";
    for (addrinfo* address = found; address != nullptr; address = address->ai_next) {
        const int fd = ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
        if (fd < 0) {
            error_ = ErrorText(errno);
            continue;
        }
        const int flags = ::fcntl(fd, F_GETFL);
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        int result = ::connect(fd, address->ai_addr, address->ai_addrlen);
        if (result != 0 && errno == EINPROGRESS) {
            const int ready = WaitFor(fd, POLLOUT, timeout);
            if (ready <= 0) {
                error_ = ready == 0 ? SecondsText(timeout) : ErrorText(errno);
                ::close(fd);
                continue;
            }
            int failure = 0;
            socklen_t length = sizeof failure;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length);
            result = failure == 0 ? 0 : -1;
            errno = failure;
        }
        if (result != 0) {
            error_ = errno == ECONNREFUSED ? "connection refused" : ErrorText(errno);
            ::close(fd);
            continue;
        }
        // Commands are small and answered one by one: sending each at once saves a round trip.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        socket_ = fd;
        error_.clear();
        break;
    }
    ::freeaddrinfo(found);
    return socket_ >= 0;
}

std::int64_t TcpConnection::Receive(void* data, std::size_t size, std::chrono::milliseconds timeout) {
    if (socket_ < 0) {
        error_ = "not connected";
        return -1;
    }
    const int fd = static_cast<int>(socket_);
    for (;;) {
        const ssize_t count = ::recv(fd, data, size, 0);
        if (count >= 0) return count;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            error_ = errno == ECONNRESET ? "the server closed the connection" : ErrorText(errno);
            return -1;
        }
        const int ready = WaitFor(fd, POLLIN, timeout);
        if (ready <= 0) {
            error_ = ready == 0 ? SecondsText(timeout) : ErrorText(errno);
            return -1;
        }
    }
}

bool TcpConnection::Send(const void* data, std::size_t size, std::chrono::milliseconds timeout) {
    if (socket_ < 0) {
        error_ = "not connected";
        return false;
    }
    const int fd = static_cast<int>(socket_);
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t count = ::send(fd, next, size, MSG_NOSIGNAL);
        if (count > 0) {
            next += count;
            size -= static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            error_ = errno == EPIPE || errno == ECONNRESET ? "the server closed the connection" : ErrorText(errno);
            return false;
        }
        const int ready = WaitFor(fd, POLLOUT, timeout);
        if (ready <= 0) {
            error_ = ready == 0 ? SecondsText(timeout) : ErrorText(errno);
            return false;
        }
    }
    return true;
}

}  // namespace platform
