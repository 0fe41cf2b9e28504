// Sockets on 127.0.0.1 for the stand-in servers and relays of the tests: a listener at a port
// the system picks, a connection to a local port, and a port nobody listens on. A listener
// that cannot be had is an error of the test run, never a test that silently waits on
// nothing.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace tzn::test {

inline sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// A socket bound to a free loopback port, listening with `backlog`; its port in `port`.
// Raises std::runtime_error naming the call that failed.
inline int OpenLoopbackListener(uint16_t& port, int backlog = 8) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = LoopbackAddress(0);
    socklen_t len = sizeof a;
    const char* failed = s < 0                                                       ? "socket"
                         : ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ? "bind"
                         : ::listen(s, backlog) != 0                                 ? "listen"
                         : ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0
                             ? "getsockname"
                             : nullptr;
    if (failed) {
        const int err = errno;
        if (s >= 0)
            ::close(s);
        throw std::runtime_error(std::string("loopback listener: ") + failed + ": " +
                                 std::strerror(err));
    }
    port = ntohs(a.sin_port);
    return s;
}

// A blocking connection to the loopback port; -1 when refused.
inline int ConnectLoopback(uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = LoopbackAddress(port);
    if (s >= 0 && ::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0)
        return s;
    if (s >= 0)
        ::close(s);
    return -1;
}

// A loopback port nothing listens on: listened on once, then released.
inline uint16_t ClosedLoopbackPort() {
    uint16_t port = 0;
    ::close(OpenLoopbackListener(port, 1));
    return port;
}

} // namespace tzn::test
