// The nine exports of libtznmail.so: the only visible symbols of the library. The one root of
// the plug-in's layers lives here, for as long as the library is loaded; each export forwards
// to the module's lifecycle with it and lets nothing escape to the host.
#include "module/lifecycle.h"
#include "plugin/plugin_root.h"
#include "tznmail/host.h"

namespace {

tzn::TPluginRoot Root;

} // namespace

TZN_EXPORT int Load(void* /*reserved*/, uint8_t mode, tzn::THostServices* host) {
    return tzn::ModuleLoad(mode, host, Root);
}

TZN_EXPORT int UnLoad() {
    return tzn::ModuleUnLoad(Root);
}

TZN_EXPORT int Config() {
    return tzn::ModuleConfig(Root);
}

TZN_EXPORT bool AutoSendMail() {
    return tzn::ModuleAutoSendMail(Root);
}

TZN_EXPORT void GetVersion(std::string& version) {
    try {
        version = tzn::ModuleVersion();
    } catch (...) {
        // Nothing may reach the host; it keeps the text it passed in.
    }
}

TZN_EXPORT int Dial() {
    return 0;
}

TZN_EXPORT void WaitDial() {}

TZN_EXPORT void HangUp() {}

TZN_EXPORT void GetParam() {}
