// A loopback proxy in front of the real SMTP or POP3 server that breaks the dialogue on
// purpose: it reads the client's commands line by line and the server's replies reply by
// reply, so that a fault lands at an exact step of the dialogue. It cuts the connection
// before a command reaches the server, or after the server has it but before its answer
// reaches the client, or after a number of bytes; it delays an answer, or answers a command
// with an error of its own. One thread per connection; only the first connection after
// Arm() meets the fault, later ones pass through untouched.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tzn::test {

enum class TFaultProtocol { Smtp, Pop3 };

enum class TFaultAction {
    None,
    CutBeforeCommand, // the command never reaches the server
    CutBeforeReply,   // the server has the command; its answer never reaches the client
    CutAfterBytes,    // after Bytes bytes towards the server (ToServer) or the client
    DelayReply,       // the answer to the command is held back for Delay
    ErrorReply,       // the proxy answers with Error; the server never sees the command, but
                      // for a letter's end ".", which it takes while the client hears Error
};

struct TFaultPlan {
    TFaultAction Action = TFaultAction::None;
    int Command = 0;  // 1 = the first command of the connection (the greeting is not one)
    std::string Verb; // instead of Command: the first command that begins with it ("RETR")
    size_t Bytes = 0;
    bool ToServer = false;
    std::chrono::milliseconds Delay{0};
    std::string Error; // the whole reply line, without CR LF
};

// One client command and what became of it on the faulty connection.
struct TFaultCommand {
    std::string Line;          // as sent, e.g. "RETR 2"; a letter's data lines are not commands
    std::string ServerReply;   // the first line of the server's answer ("" when it had none)
    size_t ToServerBefore = 0; // bytes relayed to the server before the command
    size_t ToClientBefore = 0; // bytes relayed to the client before its answer
};

class TFaultProxy {
public:
    TFaultProxy(uint16_t upstreamPort, TFaultProtocol protocol);
    ~TFaultProxy();
    TFaultProxy(const TFaultProxy&) = delete;
    TFaultProxy& operator=(const TFaultProxy&) = delete;

    uint16_t Port() const { return FPort; }
    // The fault for the next connection; the connections after it run clean.
    void Arm(const TFaultPlan& plan);
    // Whether the armed fault happened.
    bool Fired() const { return FFired; }
    // The commands of the connection accepted last.
    std::vector<TFaultCommand> Commands() const;
    // Data ends (".") that the server accepted with 250 over every connection so far:
    // letters it took, whether or not the client heard of it.
    int AcceptedLetters() const { return FAccepted; }

private:
    class Connection;
    void Accept();

    uint16_t FUpstream;
    TFaultProtocol FProtocol;
    uint16_t FPort = 0;
    int FListen = -1;
    int FWake[2] = {-1, -1};
    std::thread FAcceptor;
    mutable std::mutex FLock;
    TFaultPlan FPlan;
    bool FArmed = false;
    std::vector<TFaultCommand> FCommands;
    std::vector<std::thread> FConnections;
    std::atomic<bool> FFired{false};
    std::atomic<int> FAccepted{0};
};

} // namespace tzn::test
