// A mail session's network handling: before the session talks to the mail server it makes sure
// the computer is on the Internet, and at its end it may take the connection down again.
// Either the host suite's connection library does both (when it is loaded), or the session
// asks the platform for the connection state and, without one, dials the configured phonebook
// entry with its own dialer, which it hangs up at the end when DisconnectOnEnd is on.
//
// One object per session, used on the session's thread only: the dialer it creates delivers
// its events on that thread while DialInternet waits. Every step reports through the session's
// log writer; the settings are read at the moment each value is needed.
#pragma once

#include "platform/connection_state.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tzn {

class TRasDialer;

// How a session finds the connection state and how long it waits for a dial.
struct TSessionNetworkOptions {
    // The platform's connection state (tests put a fake in its place).
    TConnectionStateQuery StateQuery = InternetGetConnectedStateEx;
    // A dial that neither connects nor fails is given up after this long: longer than a
    // modem dial with its log-in takes, short enough that a session does not hang.
    std::chrono::milliseconds DialWaitLimit = std::chrono::seconds(120);
};

class TSessionNetwork {
public:
    using LogWriter = std::function<void(const std::string& line)>;

    explicit TSessionNetwork(LogWriter addSessionLog, TSessionNetworkOptions options = {});
    // A dialer still held is released without hanging up, as End leaves it.
    ~TSessionNetwork();
    TSessionNetwork(const TSessionNetwork&) = delete;
    TSessionNetwork& operator=(const TSessionNetwork&) = delete;

    // The session's start: with the connection library loaded, its Connect(1); otherwise
    // CheckInternet. True when the session may go on to the mail server.
    bool Start();
    // The session's end (before its closing line): with the library loaded and both its
    // GetConnectState(2) and AutoDisconnectValue(2) true, its Disconnect(2); otherwise, with
    // DisconnectOnEnd on, HangUpInternet. A connection left up stays up. Never throws.
    void End();

    // True when a connection (modem, LAN or proxy) exists, or a dial made one (modem or proxy;
    // LAN does not count after a dial).
    bool CheckInternet();
    // Dials the phonebook entry and waits for the outcome; errors are logged, not thrown.
    void DialInternet();
    // Hangs up and releases the dialer, when this session dialed; errors are logged.
    void HangUpInternet();

    // Whether this session holds a dialer (it dialed and has not hung up).
    bool HasDialer() const { return FRasDialer != nullptr; }

private:
    void RasDialerConnected(TRasDialer* sender);
    void RasDialerDialError(TRasDialer* sender, int error);
    void ReleaseDialer();

    LogWriter FLog;
    TSessionNetworkOptions FOptions;
    bool FDialFailed = false;
    int32_t FDialErrorCode = 0;
    bool FDialConnected = false;
    std::unique_ptr<TRasDialer> FRasDialer;
};

} // namespace tzn
