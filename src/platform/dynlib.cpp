#include "platform/dynlib.h"

#include "platform/cp1251.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <dlfcn.h>

namespace tzn {

// The host suite names its libraries "….dll"; here they are shared objects of the same name
// ending in ".so". Names compare case-insensitively, as on the original system, so a folder
// holding "tznconnectinet.so" still serves "TZNConnectInet.dll".
static std::string SharedObjectPath(const std::string& path) {
    std::string p = path;
    if (p.size() >= 4 && AnsiSameText(std::string_view(p).substr(p.size() - 4), ".dll"))
        p = p.substr(0, p.size() - 4) + ".so";
    if (FileExists(p))
        return NativePath(p).string();
    const std::string dir = ExtractFilePath(p);
    const std::vector<std::string> found = FindFiles(dir.empty() ? "." : dir, ExtractFileName(p));
    if (!found.empty())
        return NativePath(dir + found.front()).string();
    return NativePath(p).string();
}

TLibraryHandle LoadLibrary(const std::string& path) {
    if (path.empty())
        return nullptr;
    return ::dlopen(SharedObjectPath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* GetProcAddress(TLibraryHandle lib, const std::string& name) {
    if (!lib)
        return nullptr;
    return ::dlsym(lib, name.c_str());
}

void FreeLibrary(TLibraryHandle lib) {
    if (lib)
        ::dlclose(lib);
}

} // namespace tzn
