// The smallest host a host author could write against the installed header: it loads the
// plug-in, finds the nine exports and asks for the version. Built by the install test with
// nothing but the pkg-config flags of the installed tree.
#include <tznmail/host.h>

#include <dlfcn.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tiny_host PLUGIN\n");
        return 2;
    }
    void* plugin = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!plugin) {
        std::fprintf(stderr, "tiny_host: %s\n", ::dlerror());
        return 1;
    }
    for (const char* name : {"Load", "UnLoad", "Config", "AutoSendMail", "GetVersion", "Dial",
                             "WaitDial", "HangUp", "GetParam"})
        if (!::dlsym(plugin, name)) {
            std::fprintf(stderr, "tiny_host: no export %s\n", name);
            return 1;
        }
    auto version = reinterpret_cast<TznGetVersionFn>(::dlsym(plugin, "GetVersion"));
    std::string text;
    version(text);
    // The version is CP1251; its leading number is plain ASCII.
    std::printf("%s\n", text.substr(0, text.find(' ')).c_str());
    return 0;
}
