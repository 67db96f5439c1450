// A connection that breaks in the middle of an upload: the upload connects again and goes on,
// and every message arrives exactly once.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "imap/upload_support.h"

using namespace uploadtest;

namespace {

int ListenOnFreePort(unsigned& port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd, 8);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

int ConnectTo(unsigned port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Passes connections through to the server; the first one is cut once the client has sent
// cut_after bytes: at once, in the middle of what it sends, or once it has sent all it had and
// waits for the answer (the server then does the command, and its answer never arrives).
class CuttingProxy {
public:
    CuttingProxy(unsigned server_port, std::size_t cut_after, bool when_idle)
        : server_port_(server_port), cut_after_(cut_after), when_idle_(when_idle) {
        listener_ = ListenOnFreePort(port_);
        thread_ = std::thread([this] { Run(); });
    }
    ~CuttingProxy() {
        stop_ = true;
        thread_.join();
        close(listener_);
    }
    unsigned port() const { return port_; }
    int connections() const { return connections_; }

private:
    void Run() {
        std::vector<std::thread> relays;
        while (!stop_) {
            pollfd entry{listener_, POLLIN, 0};
            if (poll(&entry, 1, 50) <= 0) continue;
            const int client = accept(listener_, nullptr, nullptr);
            if (client < 0) continue;
            const bool cut = connections_++ == 0;
            relays.emplace_back([this, client, cut] { Relay(client, cut); });
        }
        for (auto& relay : relays) relay.join();
    }
    void Relay(int client, bool cut) {
        const int server = ConnectTo(server_port_);
        std::size_t sent = 0;
        char buffer[16384];
        while (server >= 0 && !stop_) {
            const bool cutting = cut && sent >= cut_after_;
            pollfd entries[2] = {{client, POLLIN, 0}, {server, static_cast<short>(cutting ? 0 : POLLIN), 0}};
            const int ready = poll(entries, 2, 50);
            if (ready == 0 && cutting) break;  // the client waits for an answer: cut now
            if (ready <= 0) continue;
            if (entries[0].revents != 0) {
                std::size_t want = sizeof buffer;
                if (cut && !when_idle_) want = std::min(want, cut_after_ - sent);
                const ssize_t n = read(client, buffer, want);
                if (n <= 0 || write(server, buffer, static_cast<std::size_t>(n)) != n) break;
                sent += static_cast<std::size_t>(n);
                if (cut && !when_idle_ && sent >= cut_after_) break;
            }
            if (!cutting && entries[1].revents != 0) {
                const ssize_t n = read(server, buffer, sizeof buffer);
                if (n <= 0 || write(client, buffer, static_cast<std::size_t>(n)) != n) break;
            }
        }
        if (client >= 0) close(client);
        if (cut) usleep(300000);  // the server takes what it got; its answer goes nowhere
        if (server >= 0) close(server);
    }

    unsigned server_port_;
    std::size_t cut_after_;
    bool when_idle_;
    unsigned port_ = 0;
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

}  // namespace

TEST_F(UploadTest, CutConnectionIsMadeAgainAndNothingArrivesTwice) {
    START_DOVECOT();
    constexpr int kMessages = 200;
    // Cut during the login, in the middle of a batch, and after a batch went, before its answer.
    const std::pair<std::size_t, bool> cuts[] = {{300, false}, {100000, false}, {100000, true}};
    for (const auto& [cut_after, when_idle] : cuts) {
        SCOPED_TRACE("cut after " + std::to_string(cut_after) + " bytes" + (when_idle ? ", once sent" : ""));
        const std::string name = "Cut" + std::to_string(cut_after) + (when_idle ? "idle" : "");
        WriteFolder(dir / (name + ".dbx"), name, kMessages, 1500);
        CuttingProxy proxy(server->imaps_port(), cut_after, when_idle);
        const CliRun run = Shell("XDG_STATE_HOME=" + Quote(state()) + " timeout 300 " + std::string(OMBRIK_CLI) +
                                 " --verbose --format imap --imap-url " +
                                 Quote("imaps://anna@127.0.0.1:" + std::to_string(proxy.port()) + "/Outlook%20Express") +
                                 " --imap-password-file " + Quote(server->PasswordFile()) + " --imap-ca-file " +
                                 Quote(server->certificate()) + " " + Quote(dir / (name + ".dbx")));
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_NE(run.out.find("trying again in 1 second"), std::string::npos) << run.out;
        EXPECT_GE(proxy.connections(), 2);
        const std::multiset<std::string> digests = ReadAccount(*server).Digests("Outlook Express." + name);
        EXPECT_EQ(digests.size(), static_cast<std::size_t>(kMessages));
        EXPECT_EQ(std::set<std::string>(digests.begin(), digests.end()).size(), static_cast<std::size_t>(kMessages));
    }
}
