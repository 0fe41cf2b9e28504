#include "session/connect_inet.h"

#include "platform/dynlib.h"

#include <atomic>
#include <mutex>
#include <shared_mutex>

namespace tzn {

namespace {

using InetEntry = uint8_t (*)(uint8_t);

struct TConnectInetEntries {
    TLibraryHandle Library = nullptr;
    InetEntry Connect = nullptr;
    InetEntry Disconnect = nullptr;
    InetEntry GetConnectState = nullptr;
    InetEntry AutoDisconnectValue = nullptr;
};

// Calls share the lock, loading and unloading take it alone: the library is never unloaded
// under a session that is inside one of its entries.
std::shared_mutex ConnectInetLock;
TConnectInetEntries ConnectInet;
std::atomic<bool> ConnectInetLoaded{false};

InetEntry Resolve(TLibraryHandle lib, const char* name) {
    return reinterpret_cast<InetEntry>(GetProcAddress(lib, name));
}

void UnloadLocked() {
    ConnectInetLoaded = false;
    FreeLibrary(ConnectInet.Library);
    ConnectInet = {};
}

bool Call(InetEntry TConnectInetEntries::*entry, uint8_t code) {
    const std::shared_lock<std::shared_mutex> guard(ConnectInetLock);
    const InetEntry f = ConnectInet.*entry;
    return f && f(static_cast<uint8_t>(code & 0x7F)) != 0;
}

} // namespace

bool LoadConnectInetLibrary(const std::string& path) {
    const std::unique_lock<std::shared_mutex> guard(ConnectInetLock);
    UnloadLocked();
    TLibraryHandle lib = LoadLibrary(path);
    if (!lib)
        return false;
    ConnectInet = {lib, Resolve(lib, "Connect"), Resolve(lib, "Disconnect"),
                   Resolve(lib, "GetConnectState"), Resolve(lib, "AutoDisconnectValue")};
    ConnectInetLoaded = true;
    return true;
}

void UnloadConnectInetLibrary() {
    const std::unique_lock<std::shared_mutex> guard(ConnectInetLock);
    UnloadLocked();
}

bool ConnectInetLibraryLoaded() {
    return ConnectInetLoaded;
}

bool InetConnect(uint8_t code) {
    return Call(&TConnectInetEntries::Connect, code);
}
bool InetDisconnect(uint8_t code) {
    return Call(&TConnectInetEntries::Disconnect, code);
}
bool InetGetConnectState(uint8_t code) {
    return Call(&TConnectInetEntries::GetConnectState, code);
}
bool InetAutoDisconnectValue(uint8_t code) {
    return Call(&TConnectInetEntries::AutoDisconnectValue, code);
}

} // namespace tzn
