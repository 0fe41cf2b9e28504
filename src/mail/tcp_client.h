// A TCP client connection: host, port, time-outs and the connect itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mail/tcp_connection.h"
#include "mail/tls_options.h"

namespace tzn {

// Time-outs the mail session uses (milliseconds). The client's own defaults keep their
// classic meaning (connect 0 = no separate limit, read -1 = without limit); a session sets
// these so that a silent or unreachable server ends in an error instead of a hang.
// 600 s is the longest wait RFC 5321 recommends for a server's answer.
inline constexpr int kMxSessionConnectTimeoutMs = 60 * 1000;
inline constexpr int kMxSessionReadTimeoutMs = 600 * 1000;

class TMxTCPClient : public TMxTCPConnection {
public:
    using TMxTCPConnection::TMxTCPConnection;

    std::string Host;
    uint16_t Port = 0;
    int ConnectTimeout = 0; // ms; 0 = the operating system's own limit
    int ReadTimeout = -1;   // ms; -1 and 0 = without limit
    TMxTLSOptions UseTLS;   // plain text unless set

    // Opens the TCP connection to Host:Port: EMxAlreadyConnected, EMxHostRequired,
    // EMxPortRequired; creates an owned socket handler when none is set (passing OnStatus
    // on); copies host, port and time-outs into it; connects. On failure the handler is
    // closed (and released when the client made it) and the error re-raised. The protocol
    // clients extend this with their greeting.
    // With UseTLS Implicit the TLS handshake follows the connect at once.
    virtual void ConnectToServer();

    // What the connection is now: encrypted or not, and with what.
    TMxTLSInfo TLSInfo() const;

protected:
    // Whether the protocol client should send its STARTTLS/STLS `command` now, given whether
    // the server `offered` it: never in the modes None and Implicit, when offered in Auto.
    // In StartTLS mode a server that does not offer it is an EMxTLSError.
    bool WantsStartTLS(bool offered, std::string_view command) const;
    // The handshake after the server agreed to STARTTLS/STLS (see TMxIOHandlerStack).
    void StartTLS();
};

} // namespace tzn
