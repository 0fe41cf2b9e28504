#include "module/module_state.h"

#include <atomic>
#include <mutex>

namespace tzn {
namespace {

constexpr const char* kInitialStationCode = "TZN";
constexpr const char* kInitialDataDir = "C:\\PLAV\\OFFICE\\";

struct State {
    std::mutex mutex; // guards the strings
    std::string stationCode = kInitialStationCode;
    std::string dataDir = kInitialDataDir;
    std::atomic<uint8_t> mode{0};
    std::atomic<bool> querySizes{true};
    std::atomic<THostServices*> host{nullptr};
};

State& S() {
    static State state;
    return state;
}

} // namespace

uint8_t ModuleMode() {
    return S().mode.load();
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
    S().mode.store(mode);
}

std::string StationCode() {
    std::lock_guard<std::mutex> lock(S().mutex);
    return S().stationCode;
}

void SetStationCode(const std::string& code) {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().stationCode = code;
}

std::string DataDir() {
    std::lock_guard<std::mutex> lock(S().mutex);
    return S().dataDir;
}

void SetDataDir(const std::string& dir) {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().dataDir = dir;
}

bool QueryMessageSizes() {
    return S().querySizes.load();
}
void SetQueryMessageSizes(bool query) {
    S().querySizes.store(query);
}

THostServices* Host() {
    return S().host.load();
}
void SetHost(THostServices* host) {
    S().host.store(host);
}

void ResetModuleState() {
    SetModuleMode(0);
    SetStationCode(kInitialStationCode);
    SetDataDir(kInitialDataDir);
    SetQueryMessageSizes(true);
    SetHost(nullptr);
}

} // namespace tzn
