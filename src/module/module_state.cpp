#include "module/module_state.h"

#include <atomic>
#include <mutex>

namespace tzn {
namespace {

constexpr const char* kInitialStationCode = "TZN";
constexpr const char* kInitialDataDir = "C:\\PLAV\\OFFICE\\";

struct TState {
    std::mutex FMutex; // guards the strings
    std::string FStationCode = kInitialStationCode;
    std::string FDataDir = kInitialDataDir;
    std::atomic<uint8_t> FMode{0};
    std::atomic<bool> FQuerySizes{true};
    std::atomic<THostServices*> FHost{nullptr};
};

TState& S() {
    static TState state;
    return state;
}

} // namespace

uint8_t ModuleMode() {
    return S().FMode.load();
}

TModuleSide ModuleSideOf(uint8_t mode) {
    return mode == 0   ? TModuleSide::Station
           : mode == 1 ? TModuleSide::Office
                       : TModuleSide::Neither;
}

TModuleSide ModuleSide() {
    return ModuleSideOf(ModuleMode());
}

void SetModuleMode(uint8_t mode) {
    S().FMode.store(mode);
}

std::string StationCode() {
    std::lock_guard<std::mutex> lock(S().FMutex);
    return S().FStationCode;
}

void SetStationCode(const std::string& code) {
    std::lock_guard<std::mutex> lock(S().FMutex);
    S().FStationCode = code;
}

std::string DataDir() {
    std::lock_guard<std::mutex> lock(S().FMutex);
    return S().FDataDir;
}

void SetDataDir(const std::string& dir) {
    std::lock_guard<std::mutex> lock(S().FMutex);
    S().FDataDir = dir;
}

bool QueryMessageSizes() {
    return S().FQuerySizes.load();
}
void SetQueryMessageSizes(bool query) {
    S().FQuerySizes.store(query);
}

THostServices* Host() {
    return S().FHost.load();
}
void SetHost(THostServices* host) {
    S().FHost.store(host);
}

void ResetModuleState() {
    SetModuleMode(0);
    SetStationCode(kInitialStationCode);
    SetDataDir(kInitialDataDir);
    SetQueryMessageSizes(true);
    SetHost(nullptr);
}

} // namespace tzn
