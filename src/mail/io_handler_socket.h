// The socket variant of the line I/O handler: a blocking IPv4 TCP client socket, optionally
// carrying TLS. Line reads, writes, work events and time-outs behave alike with and without.
#pragma once

#include <memory>

#include "mail/io_handler.h"
#include "mail/tls_options.h"

namespace tzn {

class TMxTLSSession;

class TMxIOHandlerStack : public TMxIOHandler {
public:
    TMxIOHandlerStack();
    ~TMxIOHandlerStack() override;

    bool Connected() const override { return FSocket >= 0; }
    // Resolves Host (a dotted IPv4 address is used as it is; otherwise status
    // "Resolving hostname %s."), raises "Connecting to %s." and connects, within
    // ConnectTimeout when it is not 0 (EMxConnectTimeout), then "Connected.".
    // Failures raise EMxSocketError with the original system's numbers.
    void Open() override;
    int Socket() const { return FSocket; }

    // Turns the open connection into a TLS one: handshake, certificate chain against
    // `options.CAFile` (or the system's store), names against `options.VerifyHost` (or Host).
    // Each wait of the handshake is bounded by ReadTimeout (EMxReadTimeout), the whole of it
    // by ConnectTimeout (EMxConnectTimeout). Bytes that arrived in clear text before it are
    // refused (a man in the middle could have put commands there). Any failure closes the
    // connection and raises (EMxTLSError names the reason).
    void StartTLS(const TMxTLSOptions& options);
    bool Encrypted() const { return FTLS != nullptr; }
    TMxTLSInfo TLSInfo() const;

protected:
    int RecvBytes(char* buffer, int size, int timeoutMs) override;
    size_t SendSome(const char* data, size_t size) override;
    size_t SendSomeGathered(std::string_view head, std::string_view tail) override;
    void CloseSource() override;

private:
    // Waits for what the TLS session wants; false when `timeoutMs` (< 0: no limit) passed.
    bool WaitForTLS(int want, int timeoutMs);

    int FSocket = -1;
    std::unique_ptr<TMxTLSSession> FTLS;
};

} // namespace tzn
