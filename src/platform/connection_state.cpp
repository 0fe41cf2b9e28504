#include "platform/connection_state.h"

#include <ifaddrs.h>
#include <map>
#include <net/if.h>
#include <sys/socket.h>

namespace tzn {

uint32_t ConnectionStateOf(const std::vector<TNetworkInterface>& interfaces, std::string& name) {
    uint32_t flags = 0;
    std::string lanName, modemName;
    for (const TNetworkInterface& i : interfaces) {
        if (!i.Up || i.Loopback || !i.HasAddress)
            continue;
        std::string& slot = i.PointToPoint ? modemName : lanName;
        flags |= i.PointToPoint ? kConnectionModem : kConnectionLan;
        if (slot.empty())
            slot = i.Name;
    }
    name = modemName.empty() ? lanName : modemName;
    return flags;
}

bool InternetGetConnectedStateEx(uint32_t& flags, std::string& name) {
    flags = 0;
    name.clear();
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    // getifaddrs gives one record per address (and one for the link itself): merge by name,
    // keeping the order in which the interfaces first appear.
    std::vector<TNetworkInterface> interfaces;
    std::map<std::string, size_t> index;
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_name)
            continue;
        auto [it, added] = index.emplace(a->ifa_name, interfaces.size());
        if (added)
            interfaces.push_back({a->ifa_name});
        TNetworkInterface& i = interfaces[it->second];
        i.Up = i.Up || (a->ifa_flags & IFF_UP) != 0;
        i.Loopback = i.Loopback || (a->ifa_flags & IFF_LOOPBACK) != 0;
        i.PointToPoint = i.PointToPoint || (a->ifa_flags & IFF_POINTOPOINT) != 0;
        if (a->ifa_addr &&
            (a->ifa_addr->sa_family == AF_INET || a->ifa_addr->sa_family == AF_INET6))
            i.HasAddress = true;
    }
    ::freeifaddrs(list);
    flags = ConnectionStateOf(interfaces, name);
    return true;
}

} // namespace tzn
