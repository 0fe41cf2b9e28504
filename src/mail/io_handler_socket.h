// The socket variant of the line I/O handler: a blocking IPv4 TCP client socket.
#pragma once

#include "mail/io_handler.h"

namespace tzn {

class TMxIOHandlerStack : public TMxIOHandler {
public:
    TMxIOHandlerStack() = default;
    ~TMxIOHandlerStack() override;

    bool Connected() const override { return FSocket >= 0; }
    // Resolves Host (a dotted IPv4 address is used as it is; otherwise status
    // "Resolving hostname %s."), raises "Connecting to %s." and connects, within
    // ConnectTimeout when it is not 0 (EMxConnectTimeout), then "Connected.".
    // Failures raise EMxSocketError with the original system's numbers.
    void Open() override;
    int Socket() const { return FSocket; }

protected:
    int RecvBytes(char* buffer, int size, int timeoutMs) override;
    size_t SendSome(const char* data, size_t size) override;
    void CloseSource() override;

private:
    int FSocket = -1;
};

} // namespace tzn
