#include "platform/tcp_connection.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <mutex>

#include "platform/win32/win32_support.h"

namespace platform {

namespace {

std::string SecondsText(std::chrono::milliseconds timeout) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout).count();
    return "no answer within " + std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

// Winsock's error codes in the words the POSIX side uses for the same failures.
std::string SocketErrorText(int error) {
    switch (error) {
    case WSAECONNREFUSED: return "connection refused";
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAESHUTDOWN: return "the server closed the connection";
    case WSAENETUNREACH:
    case WSAENETDOWN: return "Network is unreachable";
    case WSAEHOSTUNREACH: return "No route to host";
    case WSAETIMEDOUT: return "Connection timed out";
    case WSAEADDRNOTAVAIL: return "Cannot assign requested address";
    default: return "network error " + std::to_string(error);
    }
}

// Winsock is started once for the program, and stays until it ends.
bool StartWinsock() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data{};
        started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

// Waits until the socket is ready for events or the time is up; 1 ready, 0 time up, -1 failure.
int WaitFor(SOCKET socket, short events, std::chrono::milliseconds timeout) {
    WSAPOLLFD entry{};
    entry.fd = socket;
    entry.events = events;
    const int ready = ::WSAPoll(&entry, 1, static_cast<int>(std::max<long long>(timeout.count(), 0)));
    if (ready < 0) return -1;
    return ready > 0 ? 1 : 0;
}

SOCKET SocketOf(long long value) { return static_cast<SOCKET>(value); }

}  // namespace

TcpConnection::~TcpConnection() { Close(); }

void TcpConnection::Close() {
    if (socket_ >= 0) ::closesocket(SocketOf(socket_));
    socket_ = -1;
}

bool TcpConnection::Connect(const std::string& host, unsigned port, std::chrono::milliseconds timeout) {
    Close();
    if (!StartWinsock()) {
        error_ = "the system's network layer (Winsock) cannot be started";
        return false;
    }
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* found = nullptr;
    const std::wstring service = std::to_wstring(port);
    const int lookup = ::GetAddrInfoW(win32::WideText(host).c_str(), service.c_str(), &hints, &found);
    if (lookup != 0) {
        error_ = lookup == WSAHOST_NOT_FOUND || lookup == WSANO_DATA
                     ? "no such host"
                     : "the name cannot be looked up (" + SocketErrorText(lookup) + ")";
        return false;
    }
    error_ = "no address to connect to";
    for (ADDRINFOW* address = found; address != nullptr; address = address->ai_next) {
        // Not inherited by programs this one starts.
        const SOCKET s = ::WSASocketW(address->ai_family, address->ai_socktype, address->ai_protocol, nullptr, 0,
                                      WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
        if (s == INVALID_SOCKET) {
            error_ = SocketErrorText(::WSAGetLastError());
            continue;
        }
        u_long non_blocking = 1;
        ::ioctlsocket(s, FIONBIO, &non_blocking);
        int result = ::connect(s, address->ai_addr, static_cast<int>(address->ai_addrlen));
        int failure = result == 0 ? 0 : ::WSAGetLastError();
        if (result != 0 && failure == WSAEWOULDBLOCK) {
            const int ready = WaitFor(s, POLLWRNORM, timeout);
            if (ready <= 0) {
                error_ = ready == 0 ? SecondsText(timeout) : SocketErrorText(::WSAGetLastError());
                ::closesocket(s);
                continue;
            }
            int length = sizeof failure;
            failure = 0;
            ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &length);
            result = failure == 0 ? 0 : -1;
        }
        if (result != 0) {
            error_ = SocketErrorText(failure);
            ::closesocket(s);
            continue;
        }
        // Commands are small and answered one by one: sending each at once saves a round trip.
        const BOOL on = TRUE;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        socket_ = static_cast<long long>(s);
        error_.clear();
        break;
    }
    ::FreeAddrInfoW(found);
    return socket_ >= 0;
}

std::int64_t TcpConnection::Receive(void* data, std::size_t size, std::chrono::milliseconds timeout) {
    if (socket_ < 0) {
        error_ = "not connected";
        return -1;
    }
    const SOCKET s = SocketOf(socket_);
    const int part = static_cast<int>(std::min<std::size_t>(size, 1 << 30));
    for (;;) {
        const int count = ::recv(s, static_cast<char*>(data), part, 0);
        if (count >= 0) return count;
        const int error = ::WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            error_ = SocketErrorText(error);
            return -1;
        }
        const int ready = WaitFor(s, POLLRDNORM, timeout);
        if (ready <= 0) {
            error_ = ready == 0 ? SecondsText(timeout) : SocketErrorText(::WSAGetLastError());
            return -1;
        }
    }
}

bool TcpConnection::Send(const void* data, std::size_t size, std::chrono::milliseconds timeout) {
    if (socket_ < 0) {
        error_ = "not connected";
        return false;
    }
    const SOCKET s = SocketOf(socket_);
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const int count = ::send(s, next, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
        if (count > 0) {
            next += count;
            size -= static_cast<std::size_t>(count);
            continue;
        }
        const int error = count < 0 ? ::WSAGetLastError() : WSAEWOULDBLOCK;
        if (error != WSAEWOULDBLOCK) {
            error_ = SocketErrorText(error);
            return false;
        }
        const int ready = WaitFor(s, POLLWRNORM, timeout);
        if (ready <= 0) {
            error_ = ready == 0 ? SecondsText(timeout) : SocketErrorText(::WSAGetLastError());
            return false;
        }
    }
    return true;
}

}  // namespace platform
