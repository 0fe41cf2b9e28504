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
    } catch (...) {
        io.Close();
        if (created)
            ReleaseIOHandler();
        throw;
    }
}

} // namespace tzn
