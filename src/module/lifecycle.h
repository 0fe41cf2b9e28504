// What the nine exports do. The plug-in forwards here with the layers it built, so tests can
// drive the lifecycle without loading the library. Every function catches what it calls:
// nothing reaches the host.
#pragma once

#include <cstdint>
#include <string>

namespace tzn {

class THostServices;
class TModuleLayers;

// The start-up sequence: menu handler, mode and host, station code, DataDir (created), mailbox
// window, menu commands, empty address list, size-query flag, shift dialog, settings.
// 0 on success, 1 when any step failed (what was created stays; UnLoad frees it). The menu
// commands call into `layers`, which must outlive the commands' handlers (until UnLoad).
int ModuleLoad(uint8_t mode, THostServices* host, TModuleLayers& layers);
// Clears the handlers Load set on the host's menu items, then frees the menu handler, the
// mailbox window, the shift dialog and the address list. A failure is shown in a message box
// (text: the error, empty caption). Always 0.
int ModuleUnLoad(TModuleLayers& layers);
// The modal settings dialog; failures are swallowed. Always 0.
int ModuleConfig(TModuleLayers& layers);
// Queues a full mail session; whether it was queued.
bool ModuleAutoSendMail(TModuleLayers& layers);
// "8.01 от 15.12.2008" in CP1251.
std::string ModuleVersion();

} // namespace tzn
