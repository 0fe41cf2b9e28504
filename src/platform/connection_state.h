// Whether this computer is on the network, in place of the system's connected-state query.
// A point-to-point interface (a dial-up link) that is up with an address counts as a modem
// connection; any other non-loopback interface up with an address counts as LAN. The
// connection's name is that interface's name, a dial-up link's in preference.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tzn {

// Connection state flags; other bits carry no meaning here.
inline constexpr uint32_t kConnectionModem = 0x01;
inline constexpr uint32_t kConnectionLan = 0x02;
inline constexpr uint32_t kConnectionProxy = 0x04;

// The form of the query the session uses, so that tests can put a fake in its place: true when
// the query itself succeeded; flags and the connection name come back through the arguments.
using TConnectionStateQuery = std::function<bool(uint32_t& flags, std::string& name)>;

// The platform's answer, from the interfaces of this computer (getifaddrs). False only when
// the interfaces cannot be listed.
bool InternetGetConnectedStateEx(uint32_t& flags, std::string& name);

// One network interface as the query sees it.
struct TNetworkInterface {
    std::string Name;
    bool Up = false;
    bool Loopback = false;
    bool PointToPoint = false;
    bool HasAddress = false; // an IPv4 or IPv6 address
};

// The classification above applied to a list of interfaces; returns the flags.
uint32_t ConnectionStateOf(const std::vector<TNetworkInterface>& interfaces, std::string& name);

} // namespace tzn
