// A relay on loopback in front of a real server that holds every answer back for a fixed time,
// as a slow line to a provider does: what the server sends reaches the client `delay` after it
// was sent, in order, however many answers are under way; what the client sends passes at
// once. One connection at a time (sessions connect one after another).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "loopback.h"

namespace tzn::test {

class TLatencyRelay {
public:
    TLatencyRelay(uint16_t upstreamPort, std::chrono::milliseconds delay)
        : FUpstream(upstreamPort), FDelay(delay) {
        FListen = OpenLoopbackListener(FPort, 8);
        FAcceptor = std::thread([this] { Accept(); });
    }
    ~TLatencyRelay() {
        FStop = true;
        ::shutdown(FListen, SHUT_RDWR);
        ::close(FListen);
        FAcceptor.join();
    }
    TLatencyRelay(const TLatencyRelay&) = delete;
    TLatencyRelay& operator=(const TLatencyRelay&) = delete;

    uint16_t Port() const { return FPort; }

private:
    using Clock = std::chrono::steady_clock;
    struct TChunk {
        Clock::time_point Due;
        std::string Bytes;
    };

    void Accept() {
        while (!FStop) {
            const int client = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                return;
            Relay(client);
        }
    }

    // One connection: the client's bytes go up at once; the server's wait in a queue that a
    // second thread empties, each chunk at its due time.
    void Relay(int client) {
        const int server = ConnectLoopback(FUpstream);
        if (server < 0) {
            ::close(client);
            return;
        }
        // The relay itself adds nothing but the delay: no waiting for acknowledgements.
        int one = 1;
        ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::mutex lock;
        std::condition_variable changed;
        std::deque<TChunk> queue;
        bool serverDone = false;
        std::thread down([&] {
            std::unique_lock<std::mutex> l(lock);
            for (;;) {
                changed.wait(l, [&] { return !queue.empty() || serverDone; });
                if (queue.empty())
                    break;
                TChunk chunk = std::move(queue.front());
                queue.pop_front();
                l.unlock();
                std::this_thread::sleep_until(chunk.Due);
                WriteAll(client, chunk.Bytes);
                l.lock();
            }
            ::shutdown(client, SHUT_WR);
        });
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        char buf[65536];
        bool open = true;
        while (open && !FStop) {
            if (::poll(fds, 2, 200) <= 0)
                continue;
            for (int i = 0; i < 2 && open; ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
                if (n <= 0) {
                    open = false;
                } else if (i == 0) {
                    WriteAll(server, std::string(buf, static_cast<size_t>(n)));
                } else {
                    std::lock_guard<std::mutex> l(lock);
                    queue.push_back(
                        {Clock::now() + FDelay, std::string(buf, static_cast<size_t>(n))});
                    changed.notify_one();
                }
            }
        }
        {
            std::lock_guard<std::mutex> l(lock);
            serverDone = true;
            changed.notify_one();
        }
        down.join();
        ::close(server);
        ::close(client);
    }

    static void WriteAll(int fd, const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }

    uint16_t FUpstream;
    std::chrono::milliseconds FDelay;
    int FListen = -1;
    uint16_t FPort = 0;
    std::atomic<bool> FStop{false};
    std::thread FAcceptor;
};

} // namespace tzn::test
