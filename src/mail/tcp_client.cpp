#include "mail/tcp_client.h"

#include "mail/exceptions.h"
#include "mail/io_handler_socket.h"

namespace tzn {

void TMxTCPClient::ConnectToServer() {
    if (IOHandler() && IOHandler()->Connected())
        throw EMxAlreadyConnected();
    if (Host.empty())
        throw EMxHostRequired();
    if (Port == 0)
        throw EMxPortRequired();
    bool created = false;
    if (!IOHandler()) {
        auto* h = new TMxIOHandlerStack();
        h->OnStatus = OnStatus;
        SetIOHandler(h, true);
        created = true;
    }
    TMxIOHandler& io = *IOHandler();
    io.Port = Port;
    io.Host = Host;
    io.ConnectTimeout = ConnectTimeout;
    io.ReadTimeout = ReadTimeout;
    try {
        io.Open();
        if (UseTLS.Mode == TMxTLSMode::Implicit)
            StartTLS();
    } catch (...) {
        io.Close();
        if (created)
            ReleaseIOHandler();
        throw;
    }
}

TMxTLSInfo TMxTCPClient::TLSInfo() const {
    auto* stack = dynamic_cast<const TMxIOHandlerStack*>(IOHandler());
    return stack ? stack->TLSInfo() : TMxTLSInfo{};
}

bool TMxTCPClient::WantsStartTLS(bool offered, std::string_view command) const {
    switch (UseTLS.Mode) {
    case TMxTLSMode::None:
    case TMxTLSMode::Implicit:
        return false;
    case TMxTLSMode::Auto:
        return offered;
    case TMxTLSMode::StartTLS:
        if (!offered)
            throw EMxTLSError("The server " + Host + " does not offer " + std::string(command) +
                              ", which the settings require; no password was sent.");
        return true;
    }
    return false;
}

void TMxTCPClient::StartTLS() {
    auto* stack = dynamic_cast<TMxIOHandlerStack*>(IOHandler());
    if (!stack)
        throw EMxTLSError("TLS needs a socket connection.");
    stack->StartTLS(UseTLS);
}

} // namespace tzn
