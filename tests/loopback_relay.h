// A relay on loopback in front of a server, for one connection: it passes the bytes both
// ways as a line would, keeps what the client sent (as anyone on the path sees it), and can
// cut both sides when the client has sent a given thing, as a line breaking down would.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "loopback.h"

namespace tzn::test {

class TLoopbackRelay {
public:
    // Told everything the client sent so far before each piece goes on; true cuts instead.
    using TCutWhen = std::function<bool(const std::string& sentSoFar)>;

    explicit TLoopbackRelay(uint16_t upstream, TCutWhen cutWhen = {})
        : FUpstream(upstream), FCutWhen(std::move(cutWhen)) {
        FListen = OpenLoopbackListener(FPort, 1);
        FThread = std::thread([this] { Run(); });
    }
    ~TLoopbackRelay() {
        FStop = true;
        FThread.join();
        ::close(FListen);
    }
    TLoopbackRelay(const TLoopbackRelay&) = delete;
    TLoopbackRelay& operator=(const TLoopbackRelay&) = delete;

    uint16_t Port() const { return FPort; }
    bool Cut() const { return FCut; }
    std::string Sent() {
        std::lock_guard<std::mutex> lock(FMutex);
        return FSent;
    }

private:
    void Run() {
        pollfd p{FListen, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0)
            return;
        const int client = ::accept(FListen, nullptr, nullptr);
        const int server = ConnectLoopback(FUpstream);
        if (server >= 0)
            Pass(client, server);
        ::close(server);
        ::close(client);
    }

    void Pass(int client, int server) {
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        char buf[65536];
        while (!FStop && ::poll(fds, 2, 50) >= 0) {
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP)))
                    continue;
                const ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, 0);
                if (n <= 0)
                    return;
                if (i == 0 && TakeFromClient(buf, static_cast<size_t>(n))) {
                    FCut = true;
                    return;
                }
                ::send(fds[1 - i].fd, buf, static_cast<size_t>(n), MSG_NOSIGNAL);
            }
        }
    }

    // Keeps the client's bytes; whether to cut now.
    bool TakeFromClient(const char* bytes, size_t size) {
        std::lock_guard<std::mutex> lock(FMutex);
        FSent.append(bytes, size);
        return FCutWhen && FCutWhen(FSent);
    }

    uint16_t FUpstream;
    TCutWhen FCutWhen;
    uint16_t FPort = 0;
    int FListen = -1;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FCut{false};
    std::thread FThread;
    std::mutex FMutex;
    std::string FSent;
};

} // namespace tzn::test
