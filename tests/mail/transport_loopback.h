// A loopback peer for the transport tests: listens on 127.0.0.1 (ephemeral port), accepts
// one connection and runs a script on its own thread, line by line.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>

namespace tzn::test {

class LoopPeer {
public:
    explicit LoopPeer(int fd) : FFd(fd) {}
    void Send(const std::string& s) {
        size_t off = 0;
        while (off < s.size()) {
            ssize_t n = ::send(FFd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            off += static_cast<size_t>(n);
        }
    }
    // One received line without CR LF; "<EOF>" when the client closed or 10 s passed.
    std::string ReadLine() {
        for (;;) {
            size_t lf = FBuf.find('\n');
            if (lf != std::string::npos) {
                std::string l = FBuf.substr(0, lf);
                FBuf.erase(0, lf + 1);
                if (!l.empty() && l.back() == '\r')
                    l.pop_back();
                return l;
            }
            std::string c = RecvOnce(10000);
            if (c.empty())
                return "<EOF>";
            FBuf += c;
        }
    }
    // The bytes of one single receive call ("" on close or time-out).
    std::string RecvOnce(int timeoutMs = 10000) {
        pollfd p{FFd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return {};
        char buf[65536];
        ssize_t n = ::recv(FFd, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }
    void Close() {
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
    }
    // Resets the connection instead of closing it cleanly.
    void Abort() {
        linger l{1, 0};
        ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        Close();
    }
    int Fd() const { return FFd; }

private:
    int FFd;
    std::string FBuf;
};

class LoopServer {
public:
    explicit LoopServer(std::function<void(LoopPeer&)> script) {
        FListen = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(FListen, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        ::listen(FListen, 4);
        socklen_t len = sizeof sa;
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&sa), &len);
        FPort = ntohs(sa.sin_port);
        FThread = std::thread([this, script = std::move(script)] {
            pollfd p{FListen, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0)
                return;
            int fd = ::accept(FListen, nullptr, nullptr);
            if (fd < 0)
                return;
            LoopPeer peer(fd);
            script(peer);
            peer.Close();
        });
    }
    ~LoopServer() {
        if (FThread.joinable())
            FThread.join();
        ::close(FListen);
    }
    void Join() {
        if (FThread.joinable())
            FThread.join();
    }
    uint16_t Port() const { return FPort; }

private:
    int FListen = -1;
    uint16_t FPort = 0;
    std::thread FThread;
};

} // namespace tzn::test
