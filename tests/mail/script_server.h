// A small scripted server on 127.0.0.1 (ephemeral port) for the faults a real mail server will
// not produce: odd replies, refusals at chosen steps, silence, a connection cut or reset
// half-way. The script runs on the server's own thread against one accepted connection; every
// line the client sent is kept in the transcript for the test to check afterwards.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"

namespace tzn::test {

class ScriptConn {
public:
    explicit ScriptConn(int fd) : FFd(fd) {}

    void Send(const std::string& bytes) {
        size_t off = 0;
        while (off < bytes.size()) {
            ssize_t n = ::send(FFd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            off += static_cast<size_t>(n);
        }
    }
    void Reply(const std::string& line) { Send(line + "\r\n"); }
    // Reads the client's next command and gives it `reply`.
    void Answer(const std::string& reply) {
        ReadLine();
        Reply(reply);
    }

    // One line without CR LF; "<EOF>" when the client closed (or nothing came in 10 s).
    std::string ReadLine() {
        for (;;) {
            size_t lf = FBuf.find('\n');
            if (lf != std::string::npos) {
                std::string line = FBuf.substr(0, lf);
                FBuf.erase(0, lf + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                Record(line);
                return line;
            }
            if (!Fill(10000)) {
                Record("<EOF>");
                return "<EOF>";
            }
        }
    }
    // The bytes of the next single receive (what one client write delivered), after
    // whatever is still buffered; lines are recorded.
    std::string ReadChunk() {
        if (FBuf.empty())
            Fill(10000);
        std::string chunk;
        chunk.swap(FBuf);
        size_t start = 0;
        for (size_t lf; (lf = chunk.find('\n', start)) != std::string::npos; start = lf + 1) {
            std::string line = chunk.substr(start, lf - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            Record(line);
        }
        return chunk;
    }
    // The letter after DATA: lines up to ".", the "." line included in the transcript.
    std::vector<std::string> ReadData() {
        std::vector<std::string> lines;
        for (;;) {
            std::string l = ReadLine();
            if (l == "." || l == "<EOF>")
                return lines;
            lines.push_back(l);
        }
    }
    // True when the client closed the connection within `ms`.
    bool WaitForClose(int ms) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) {
            if (!Fill(50) && FClosed)
                return true;
            FBuf.clear();
        }
        return false;
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
    void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    std::vector<std::string> Transcript() {
        std::lock_guard<std::mutex> lock(FMutex);
        return FLines;
    }

private:
    bool Fill(int timeoutMs) {
        if (FFd < 0)
            return false;
        pollfd p{FFd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return false;
        char buf[65536];
        ssize_t n = ::recv(FFd, buf, sizeof buf, 0);
        if (n <= 0) {
            FClosed = true;
            return false;
        }
        FBuf.append(buf, static_cast<size_t>(n));
        return true;
    }
    void Record(const std::string& line) {
        std::lock_guard<std::mutex> lock(FMutex);
        FLines.push_back(line);
    }

    int FFd;
    bool FClosed = false;
    std::string FBuf;
    std::mutex FMutex;
    std::vector<std::string> FLines;
};

class ScriptServer {
public:
    using Script = std::function<void(ScriptConn&)>;

    explicit ScriptServer(Script script) : FScript(std::move(script)) {
        FListen = OpenLoopbackListener(FPort, 4);
        FThread = std::thread([this] { Run(); });
    }
    ~ScriptServer() { Join(); }
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    uint16_t Port() const { return FPort; }
    // Waits for the script to end; then the transcript is complete.
    void Join() {
        if (FThread.joinable())
            FThread.join();
        if (FListen >= 0)
            ::close(FListen);
        FListen = -1;
    }
    std::vector<std::string> Transcript() {
        Join();
        return FConn ? FConn->Transcript() : std::vector<std::string>{};
    }

private:
    void Run() {
        pollfd p{FListen, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0)
            return;
        int fd = ::accept(FListen, nullptr, nullptr);
        if (fd < 0)
            return;
        FConn = std::make_unique<ScriptConn>(fd);
        FScript(*FConn);
        FConn->Close();
    }

    Script FScript;
    int FListen = -1;
    uint16_t FPort = 0;
    std::thread FThread;
    std::unique_ptr<ScriptConn> FConn;
};

// A POP3 server's greeting, its CAPA answer (refused when `capa` is empty), USER and PASS
// accepted.
inline void Pop3Welcome(ScriptConn& s, const std::string& greeting = "+OK ready",
                        const std::vector<std::string>& capa = {"TOP", "UIDL", "USER"}) {
    s.Reply(greeting);
    s.ReadLine();
    if (capa.empty()) {
        s.Reply("-ERR unknown command");
    } else {
        s.Reply("+OK capabilities follow");
        for (const auto& c : capa)
            s.Reply(c);
        s.Reply(".");
    }
    s.Answer("+OK");
    s.Answer("+OK logged in");
}

// A POP3 farewell, answered when it comes.
inline void Pop3AcceptQuit(ScriptConn& s) {
    if (s.ReadLine() == "QUIT")
        s.Reply("+OK bye");
}

// Whether `lines` holds `line`.
inline bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
    for (const auto& l : lines)
        if (l == line)
            return true;
    return false;
}

} // namespace tzn::test
