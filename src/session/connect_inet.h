// The host suite's optional connection library "C:\PLAV\TZNConnectInet.dll". When it is
// installed, a mail session leaves connecting and disconnecting to it. Its four entries take one
// code and answer true or false; what the codes and answers mean is the library's own affair.
// The session uses 1 when it connects and 2 for the three calls at its end.
#pragma once

#include <cstdint>
#include <string>

namespace tzn {

inline constexpr const char* kConnectInetLibrary = "C:\\PLAV\\TZNConnectInet.dll";

// Loads the library and resolves its entries (module initialisation); true when it is loaded.
// A library that cannot be loaded is silently done without. Loading again first unloads.
bool LoadConnectInetLibrary(const std::string& path = kConnectInetLibrary);
// Unloads it (module finalisation); waits for calls into it that are still running.
void UnloadConnectInetLibrary();
// Whether the library is loaded (the session's choice of mechanism; the settings dialog).
bool ConnectInetLibraryLoaded();

// The entries "Connect", "Disconnect", "GetConnectState" and "AutoDisconnectValue", called with
// the code's low 7 bits. False when the library is not loaded or lacks that entry.
bool InetConnect(uint8_t code);
bool InetDisconnect(uint8_t code);
bool InetGetConnectState(uint8_t code);
bool InetAutoDisconnectValue(uint8_t code);

} // namespace tzn
