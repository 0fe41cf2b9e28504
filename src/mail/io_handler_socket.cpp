#include "mail/io_handler_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <chrono>

#include "mail/exceptions.h"
#include "mail/socket_errors.h"
#include "mail/tls_session.h"

namespace tzn {

namespace {

// Waits for `events` on `fd`; true when ready, false on time-out (waitMs < 0: no limit).
bool WaitFor(int fd, short events, int waitMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        int rc = ::poll(&p, 1, waitMs);
        if (rc > 0)
            return true;
        if (rc == 0)
            return false;
        if (errno != EINTR)
            RaiseSocketError(errno);
    }
}

in_addr Resolve(TMxIOHandler& h) {
    in_addr addr{};
    if (::inet_pton(AF_INET, h.Host.c_str(), &addr) == 1)
        return addr;
    h.DoStatus(TMxStatus::Resolving, "Resolving hostname " + h.Host + ".");
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    int rc = ::getaddrinfo(h.Host.c_str(), nullptr, &hints, &res);
    if (rc != 0 || !res)
        RaiseSocketErrorCode(SocketErrorFromResolver(rc != 0 ? rc : EAI_NONAME));
    addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
    ::freeaddrinfo(res);
    return addr;
}

// Connects `fd` within `timeoutMs` (non-blocking connect, then a wait for writability).
void ConnectWithin(int fd, const sockaddr_in& sa, int timeoutMs) {
    int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        if (errno != EINPROGRESS)
            RaiseSocketError(errno);
        if (!WaitFor(fd, POLLOUT, timeoutMs))
            throw EMxConnectTimeout();
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            RaiseSocketError(errno);
        if (err != 0)
            RaiseSocketError(err);
    }
    ::fcntl(fd, F_SETFL, flags);
}

// What is left of `limitMs` (< 0: no limit) since `start`.
int Remaining(std::chrono::steady_clock::time_point start, int limitMs) {
    if (limitMs < 0)
        return -1;
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    return spent >= limitMs ? 0 : static_cast<int>(limitMs - spent);
}

} // namespace

TMxIOHandlerStack::TMxIOHandlerStack() = default;

TMxIOHandlerStack::~TMxIOHandlerStack() {
    FTLS.reset();
    if (FSocket >= 0)
        ::close(FSocket);
}

void TMxIOHandlerStack::Open() {
    TMxIOHandler::Open();
    CloseSource();
    in_addr addr = Resolve(*this);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr, text, sizeof text);
    DoStatus(TMxStatus::Connecting, std::string("Connecting to ") + text + ".");

    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(Port);
    sa.sin_addr = addr;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        RaiseSocketError(errno);
    try {
        if (ConnectTimeout > 0) {
            ConnectWithin(fd, sa, ConnectTimeout);
        } else {
            while (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
                if (errno == EINTR)
                    continue;
                RaiseSocketError(errno);
            }
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
    FSocket = fd;
    DoStatus(TMxStatus::Connected, "Connected.");
}

bool TMxIOHandlerStack::WaitForTLS(int want, int timeoutMs) {
    return WaitFor(FSocket, want == TMxTLSSession::WantWrite ? POLLOUT : POLLIN, timeoutMs);
}

void TMxIOHandlerStack::StartTLS(const TMxTLSOptions& options) {
    if (FSocket < 0)
        throw EMxException("Not Connected");
    try {
        if (FTLS)
            throw EMxTLSError("The connection is encrypted already.");
        if (InputBufferSize() > 0) {
            // The answer to STARTTLS/STLS must be the last thing said in clear text; more
            // bytes behind it were sent before the handshake and would be read as if they
            // had come through it. They are dropped unread.
            const size_t injected = InputBufferSize();
            ResetState();
            throw EMxTLSError("The server sent clear text after agreeing to TLS (" +
                              std::to_string(injected) +
                              " bytes); the connection is refused as tampered with.");
        }
        const std::string host = options.VerifyHost.empty() ? Host : options.VerifyHost;
        auto session = std::make_unique<TMxTLSSession>(FSocket, host, options.CAFile);
        const auto start = std::chrono::steady_clock::now();
        const int total = ConnectTimeout > 0 ? ConnectTimeout : -1;
        const int each = ReadTimeout > 0 ? ReadTimeout : -1;
        for (int want; (want = session->Handshake()) != TMxTLSSession::Done;) {
            const int left = Remaining(start, total);
            const bool totalBinds = left >= 0 && (each < 0 || left <= each);
            if (!WaitForTLS(want, totalBinds ? left : each)) {
                if (totalBinds)
                    throw EMxConnectTimeout();
                throw EMxReadTimeout();
            }
        }
        FTLS = std::move(session);
    } catch (...) {
        // Nothing may follow in clear text: the connection ends here.
        Close();
        throw;
    }
}

TMxTLSInfo TMxIOHandlerStack::TLSInfo() const {
    return FTLS ? FTLS->Info() : TMxTLSInfo{};
}

int TMxIOHandlerStack::RecvBytes(char* buffer, int size, int timeoutMs) {
    if (FSocket < 0)
        throw EMxException("Not Connected");
    if (FTLS) {
        // Records already decrypted or buffered inside the session come before any wait.
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            const int n = FTLS->Read(buffer, size);
            if (n >= 0)
                return n;
            if (!WaitForTLS(n, Remaining(start, timeoutMs < 0 ? -1 : timeoutMs)))
                return -1;
        }
    }
    // Bytes already waiting are taken without asking poll first: on a letter's transfer they
    // nearly always are, and the extra call per read is a measurable share of a collection.
    for (bool waited = false;;) {
        ssize_t n = ::recv(FSocket, buffer, static_cast<size_t>(size), MSG_DONTWAIT);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            RaiseSocketError(errno);
        if (waited || !WaitFor(FSocket, POLLIN, timeoutMs < 0 ? -1 : timeoutMs))
            return -1;
        waited = true;
    }
}

size_t TMxIOHandlerStack::SendSome(const char* data, size_t size) {
    if (FTLS) {
        for (;;) {
            const long n = FTLS->Write(data, size);
            if (n >= 0)
                return static_cast<size_t>(n);
            WaitForTLS(static_cast<int>(n), -1);
        }
    }
    for (;;) {
        ssize_t n = ::send(FSocket, data, size, MSG_NOSIGNAL);
        if (n >= 0)
            return static_cast<size_t>(n);
        if (errno == EINTR)
            continue;
        RaiseSocketError(errno);
    }
}

size_t TMxIOHandlerStack::SendSomeGathered(std::string_view head, std::string_view tail) {
    // TLS cuts its own records: the two pieces go one after the other.
    if (FTLS)
        return SendSome(head.data(), head.size());
    iovec parts[2] = {{const_cast<char*>(head.data()), head.size()},
                      {const_cast<char*>(tail.data()), tail.size()}};
    msghdr msg{};
    msg.msg_iov = parts;
    msg.msg_iovlen = tail.empty() ? 1 : 2;
    for (;;) {
        ssize_t n = ::sendmsg(FSocket, &msg, MSG_NOSIGNAL);
        if (n >= 0)
            return static_cast<size_t>(n);
        if (errno == EINTR)
            continue;
        RaiseSocketError(errno);
    }
}

void TMxIOHandlerStack::CloseSource() {
    if (FTLS) {
        try {
            FTLS->Shutdown();
        } catch (...) {
            // A broken connection cannot take the close_notify; closing goes on.
        }
        FTLS.reset();
    }
    if (FSocket >= 0) {
        ::close(FSocket);
        FSocket = -1;
    }
}

} // namespace tzn
