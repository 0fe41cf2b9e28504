#include "fault_proxy.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <stdexcept>

#include "loopback.h"

namespace tzn::test {

namespace {

bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string Upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Takes one line (with its LF) off the front of `buffer`; false when none is complete.
bool TakeLine(std::string& buffer, size_t& from, std::string& line) {
    const size_t lf = buffer.find('\n', from);
    if (lf == std::string::npos)
        return false;
    line = buffer.substr(from, lf + 1 - from);
    from = lf + 1;
    return true;
}

std::string Bare(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

} // namespace

// One relayed connection. Every command the client sends opens a slot for its answer; the
// server's answers fill the slots in order (SMTP pipelining sends several commands before
// the first answer), and an injected answer takes its place in that order too.
class TFaultProxy::Connection {
public:
    Connection(TFaultProxy& owner, int client, int server, TFaultPlan plan)
        : FOwner(owner), FClient(client), FServer(server), FPlan(std::move(plan)) {
        FSlots.push_back({}); // the greeting
    }
    ~Connection() {
        ::close(FClient);
        ::close(FServer);
    }

    void Run() {
        char buf[65536];
        while (!FCut) {
            pollfd fds[3] = {
                {FClient, POLLIN, 0}, {FServer, POLLIN, 0}, {FOwner.FWake[0], POLLIN, 0}};
            if (::poll(fds, 3, 60000) <= 0 || fds[2].revents)
                return;
            if (fds[0].revents) {
                const ssize_t n = ::recv(FClient, buf, sizeof buf, 0);
                if (n <= 0)
                    return;
                FFromClient.append(buf, static_cast<size_t>(n));
                if (!ClientLines())
                    return;
            }
            if (!FCut && fds[1].revents) {
                const ssize_t n = ::recv(FServer, buf, sizeof buf, 0);
                if (n <= 0) {
                    // The server said goodbye: whatever it sent last still goes out.
                    ToClient(FFromServer);
                    return;
                }
                FFromServer.append(buf, static_cast<size_t>(n));
                if (!ServerReplies())
                    return;
            }
        }
    }

private:
    struct Slot {
        int Command = 0; // 0: the greeting
        bool MultiLine = false;
        bool Data = false;     // SMTP DATA: a 354 opens the letter's lines
        bool DataEnd = false;  // SMTP "."
        bool Injected = false; // answered by the proxy, the server never saw the command
        bool CutHere = false;
        std::chrono::milliseconds Delay{0};
        std::string Replace; // the proxy's answer instead of the server's
    };

    void Cut() {
        FCut = true;
        FOwner.FFired = true;
    }

    bool ToServer(const std::string& bytes) {
        if (FPlan.Action == TFaultAction::CutAfterBytes && FPlan.ToServer) {
            const size_t room = FPlan.Bytes > FToServer ? FPlan.Bytes - FToServer : 0;
            if (bytes.size() >= room) {
                SendAll(FServer, bytes.data(), room);
                Cut();
                return false;
            }
        }
        FToServer += bytes.size();
        return SendAll(FServer, bytes.data(), bytes.size());
    }

    bool ToClient(const std::string& bytes) {
        if (FPlan.Action == TFaultAction::CutAfterBytes && !FPlan.ToServer) {
            const size_t room = FPlan.Bytes > FToClient ? FPlan.Bytes - FToClient : 0;
            if (bytes.size() >= room) {
                SendAll(FClient, bytes.data(), room);
                Cut();
                return false;
            }
        }
        FToClient += bytes.size();
        return SendAll(FClient, bytes.data(), bytes.size());
    }

    // Answers the proxy gives itself go out as soon as every answer before them has.
    bool SendInjected() {
        while (!FSlots.empty() && FSlots.front().Injected) {
            if (!ToClient(FSlots.front().Replace + "\r\n"))
                return false;
            FSlots.pop_front();
        }
        return true;
    }

    Slot NewSlot(const std::string& command) {
        Slot s;
        s.Command = ++FCommandCount;
        const std::string upper = Upper(command);
        const size_t blank = upper.find(' ');
        const std::string verb = upper.substr(0, blank);
        const bool argument = blank != std::string::npos;
        if (FOwner.FProtocol == TFaultProtocol::Pop3)
            s.MultiLine = verb == "CAPA" || verb == "RETR" || verb == "TOP" ||
                          ((verb == "UIDL" || verb == "LIST") && !argument);
        else
            s.Data = upper == "DATA";
        return s;
    }

    bool ClientLines() {
        size_t from = 0;
        std::string line;
        bool ok = true;
        while (ok && TakeLine(FFromClient, from, line)) {
            const std::string bare = Bare(line);
            if (FInLetter && bare != ".") {
                ok = ToServer(line);
                continue;
            }
            Slot slot = NewSlot(bare);
            if (FInLetter) {
                slot.DataEnd = true;
                FInLetter = false;
            }
            {
                std::lock_guard<std::mutex> lock(FOwner.FLock);
                FOwner.FCommands.push_back({bare, {}, FToServer, 0});
            }
            bool here = slot.Command == FPlan.Command;
            if (!FPlan.Verb.empty()) {
                here = !FVerbMet && Upper(bare).rfind(Upper(FPlan.Verb), 0) == 0;
                FVerbMet = FVerbMet || here;
            }
            switch (here ? FPlan.Action : TFaultAction::None) {
            case TFaultAction::CutBeforeCommand:
                Cut();
                return false;
            case TFaultAction::CutBeforeReply:
                slot.CutHere = true;
                break;
            case TFaultAction::DelayReply:
                slot.Delay = FPlan.Delay;
                break;
            case TFaultAction::ErrorReply:
                slot.Replace = FPlan.Error;
                // The server is left out, except at a letter's end: it is in the middle of
                // the letter and would take the next command as more of it. There it takes
                // the letter and the client hears of a failure.
                slot.Injected = !slot.DataEnd;
                FOwner.FFired = true;
                break;
            default:
                break;
            }
            const bool forward = !slot.Injected;
            FSlots.push_back(slot);
            ok = forward ? ToServer(line) : SendInjected();
        }
        FFromClient.erase(0, from);
        return ok;
    }

    // A complete answer for the first slot the server owes, as its length in FFromServer.
    size_t CompleteReply(const Slot& slot) const {
        size_t from = 0;
        std::string line;
        bool first = true;
        while (TakeLine(const_cast<std::string&>(FFromServer), from, line)) {
            const std::string bare = Bare(line);
            if (FOwner.FProtocol == TFaultProtocol::Smtp) {
                if (bare.size() < 4 || bare[3] != '-')
                    return from;
            } else {
                if (first && (!slot.MultiLine || bare.rfind("+OK", 0) != 0))
                    return from;
                if (!first && bare == ".")
                    return from;
            }
            first = false;
        }
        return 0;
    }

    bool ServerReplies() {
        for (;;) {
            if (!SendInjected())
                return false;
            if (FSlots.empty())
                return true; // an answer nobody asked for waits for its command
            Slot& slot = FSlots.front();
            const size_t length = CompleteReply(slot);
            if (length == 0)
                return true;
            const std::string reply = FFromServer.substr(0, length);
            FFromServer.erase(0, length);
            const std::string firstLine = Bare(reply.substr(0, reply.find('\n') + 1));
            if (slot.Command > 0) {
                std::lock_guard<std::mutex> lock(FOwner.FLock);
                const size_t i = static_cast<size_t>(slot.Command) - 1;
                if (i < FOwner.FCommands.size()) {
                    FOwner.FCommands[i].ServerReply = firstLine;
                    FOwner.FCommands[i].ToClientBefore = FToClient;
                }
            }
            if (slot.DataEnd && firstLine.rfind("250", 0) == 0)
                ++FOwner.FAccepted;
            if (slot.CutHere) {
                Cut();
                return false;
            }
            if (slot.Delay.count() > 0) {
                FOwner.FFired = true; // already while the answer is held back
                // Held back, unless the proxy is being closed.
                pollfd wake{FOwner.FWake[0], POLLIN, 0};
                if (::poll(&wake, 1, static_cast<int>(slot.Delay.count())) != 0)
                    return false;
            }
            const bool opensLetter = slot.Data && firstLine.rfind("354", 0) == 0;
            const std::string out = slot.Replace.empty() ? reply : slot.Replace + "\r\n";
            FSlots.pop_front();
            if (!ToClient(out))
                return false;
            if (opensLetter)
                FInLetter = true;
        }
    }

    TFaultProxy& FOwner;
    int FClient, FServer;
    TFaultPlan FPlan;
    std::deque<Slot> FSlots;
    std::string FFromClient, FFromServer;
    int FCommandCount = 0;
    bool FInLetter = false;
    bool FVerbMet = false;
    bool FCut = false;
    size_t FToServer = 0, FToClient = 0;
};

TFaultProxy::TFaultProxy(uint16_t upstreamPort, TFaultProtocol protocol)
    : FUpstream(upstreamPort), FProtocol(protocol) {
    FListen = test::OpenLoopbackListener(FPort, 8);
    if (::pipe(FWake) != 0) {
        ::close(FListen);
        throw std::runtime_error("fault proxy: no wake-up pipe");
    }
    FAcceptor = std::thread([this] { Accept(); });
}

TFaultProxy::~TFaultProxy() {
    ::close(FWake[1]);
    FAcceptor.join();
    for (std::thread& t : FConnections)
        t.join();
    ::close(FWake[0]);
    ::close(FListen);
}

void TFaultProxy::Arm(const TFaultPlan& plan) {
    std::lock_guard<std::mutex> lock(FLock);
    FPlan = plan;
    FArmed = true;
    FFired = false;
}

std::vector<TFaultCommand> TFaultProxy::Commands() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FCommands;
}

void TFaultProxy::Accept() {
    for (;;) {
        pollfd fds[2] = {{FListen, POLLIN, 0}, {FWake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) <= 0 || fds[1].revents)
            return;
        const int client = ::accept(FListen, nullptr, nullptr);
        if (client < 0)
            continue;
        const int server = ConnectLoopback(FUpstream);
        if (server < 0) {
            ::close(client);
            continue;
        }
        TFaultPlan plan;
        {
            std::lock_guard<std::mutex> lock(FLock);
            if (FArmed)
                plan = FPlan;
            FArmed = false;
            FCommands.clear();
        }
        FConnections.emplace_back([this, client, server, plan] {
            Connection c(*this, client, server, plan);
            c.Run();
        });
    }
}

} // namespace tzn::test
