// The nine exports of libtznmail.so: the only visible symbols of the library. Each forwards to
// the module's lifecycle and lets nothing escape to the host.
//
// The window layers take part through the hooks of module/module_hooks.h. They live in static
// libraries, whose objects the linker drops unless something here refers to them, so a layer's
// hook installer is to be called from this file (before Load runs), not left to a static
// registrar.
#include "module/lifecycle.h"
#include "tznmail/host.h"

TZN_EXPORT int Load(void* /*reserved*/, uint8_t mode, tzn::THostServices* host) {
    return tzn::ModuleLoad(mode, host);
}

TZN_EXPORT int UnLoad() {
    return tzn::ModuleUnLoad();
}

TZN_EXPORT int Config() {
    return tzn::ModuleConfig();
}

TZN_EXPORT bool AutoSendMail() {
    return tzn::ModuleAutoSendMail();
}

TZN_EXPORT void GetVersion(std::string& version) {
    try {
        version = tzn::ModuleVersion();
    } catch (...) {
    }
}

TZN_EXPORT int Dial() {
    return 0;
}

TZN_EXPORT void WaitDial() {}

TZN_EXPORT void HangUp() {}

TZN_EXPORT void GetParam() {}
