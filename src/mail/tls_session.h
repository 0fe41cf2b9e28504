// One TLS client session over a connected TCP socket (OpenSSL): the handshake with the
// certificate checks, and record-level reads and writes that never block, so the socket
// handler keeps its own waits and time-outs.
#pragma once

#include <memory>
#include <string>

#include "mail/tls_options.h"

namespace tzn {

class TMxTLSSession {
public:
    // What a read or write needs before it can go on.
    enum TMxWant { Done = 0, WantRead = -1, WantWrite = -2 };

    // Prepares a session on `fd` (switched to non-blocking): TLS 1.2 or newer, the
    // certificate chain checked against `caFile` (empty: the system's store) and its names
    // against `host` (a DNS name or an IP address). Raises EMxTLSError when the CA file
    // cannot be read.
    TMxTLSSession(int fd, const std::string& host, const std::string& caFile);
    ~TMxTLSSession();
    TMxTLSSession(const TMxTLSSession&) = delete;
    TMxTLSSession& operator=(const TMxTLSSession&) = delete;

    // One step of the handshake: Done when finished, else what to wait for. A refused
    // certificate or a protocol failure raises EMxTLSError naming the reason.
    int Handshake();
    // Decrypted bytes into `buffer`: the count, 0 when the peer ended the session, or a
    // TMxWant. Transport failures raise EMxSocketError, protocol failures EMxTLSError.
    int Read(char* buffer, int size);
    // Encrypts and sends part of `data`: the count of bytes taken, or a TMxWant.
    long Write(const char* data, size_t size);
    // Sends close_notify without waiting for the peer's.
    void Shutdown();

    TMxTLSInfo Info() const;

private:
    [[noreturn]] void RaiseFailure(int sslError, const char* what);
    // What a read or write that did not complete means: WantRead, WantWrite, 0 for the
    // peer's close_notify; anything else raises.
    int Unfinished(const char* what);

    struct TMxImpl;
    std::unique_ptr<TMxImpl> FImpl;
    std::string FHost;
};

} // namespace tzn
