// The plug-in library, loaded like a real host loads it: dlopen, the nine exports by name.
#pragma once

#include "tznmail/host.h"

#include <filesystem>

namespace tzn {

struct TPluginExports {
    TznLoadFn Load = nullptr;
    TznUnLoadFn UnLoad = nullptr;
    TznConfigFn Config = nullptr;
    TznAutoSendMailFn AutoSendMail = nullptr;
    TznGetVersionFn GetVersion = nullptr;
    TznDialFn Dial = nullptr;
    TznVoidFn WaitDial = nullptr;
    TznVoidFn HangUp = nullptr;
    TznVoidFn GetParam = nullptr;
};

class TPluginLibrary {
public:
    // Throws std::runtime_error (with the loader's reason) when the library cannot be loaded
    // or lacks an export.
    explicit TPluginLibrary(const std::filesystem::path& file);
    // The library stays loaded until the process ends: objects it handed to Qt may outlive
    // UnLoad.
    ~TPluginLibrary() = default;
    TPluginLibrary(const TPluginLibrary&) = delete;
    TPluginLibrary& operator=(const TPluginLibrary&) = delete;

    const TPluginExports& Exports() const { return FExports; }

    // libtznmail.so beside the running executable (the build tree), else in the library
    // folder of the installation it belongs to (../<libdir>/, then ../lib/).
    static std::filesystem::path DefaultPath();

private:
    TPluginExports FExports;
};

} // namespace tzn
