#include "host/plugin_library.h"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

#ifndef TZN_INSTALL_LIBDIR
#define TZN_INSTALL_LIBDIR "lib"
#endif

namespace tzn {
namespace {

constexpr const char* kPluginName = "libtznmail.so";

template <typename Fn> void Resolve(void* handle, const char* name, Fn& out) {
    void* sym = ::dlsym(handle, name);
    if (!sym)
        throw std::runtime_error(std::string("the plug-in has no export ") + name);
    out = reinterpret_cast<Fn>(sym);
}

} // namespace

TPluginLibrary::TPluginLibrary(const std::filesystem::path& file) {
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        throw std::runtime_error("cannot load the plug-in " + file.string() + ": " +
                                 (why ? why : "unknown reason"));
    }
    Resolve(handle, "Load", FExports.Load);
    Resolve(handle, "UnLoad", FExports.UnLoad);
    Resolve(handle, "Config", FExports.Config);
    Resolve(handle, "AutoSendMail", FExports.AutoSendMail);
    Resolve(handle, "GetVersion", FExports.GetVersion);
    Resolve(handle, "Dial", FExports.Dial);
    Resolve(handle, "WaitDial", FExports.WaitDial);
    Resolve(handle, "HangUp", FExports.HangUp);
    Resolve(handle, "GetParam", FExports.GetParam);
}

std::filesystem::path TPluginLibrary::DefaultPath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::filesystem::path bin = ec ? std::filesystem::current_path() : exe.parent_path();
    const std::filesystem::path candidates[] = {
        bin / kPluginName, // the build tree
        bin / ".." / TZN_INSTALL_LIBDIR / kPluginName,
        bin / ".." / "lib" / kPluginName,
    };
    for (const std::filesystem::path& p : candidates)
        if (std::filesystem::is_regular_file(p, ec))
            return p.lexically_normal();
    // None there: the loader's message then names the first place looked at.
    return candidates[0];
}

} // namespace tzn
