// A stand-in for the host suite's connection library. Each entry answers the value of the
// environment variable TZN_FAKE_INET_<entry> ("1" true, anything else false) and appends
// "<entry> <code>" to the file named by TZN_FAKE_INET_CALLS, so a test sees what was called.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

uint8_t Answer(const char* entry, uint8_t code) {
    if (const char* calls = std::getenv("TZN_FAKE_INET_CALLS")) {
        if (FILE* f = std::fopen(calls, "a")) {
            std::fprintf(f, "%s %u\n", entry, static_cast<unsigned>(code));
            std::fclose(f);
        }
    }
    const char* v = std::getenv((std::string("TZN_FAKE_INET_") + entry).c_str());
    return v && std::strcmp(v, "1") == 0 ? 1 : 0;
}

} // namespace

#define TZN_FAKE_ENTRY(name)                                                                       \
    extern "C" __attribute__((visibility("default"))) uint8_t name(uint8_t code) {                 \
        return Answer(#name, code);                                                                \
    }

#ifndef TZN_FAKE_WITHOUT_CONNECT
TZN_FAKE_ENTRY(Connect)
#endif
TZN_FAKE_ENTRY(Disconnect)
TZN_FAKE_ENTRY(GetConnectState)
TZN_FAKE_ENTRY(AutoDisconnectValue)
