// The module-wide values the host's Load sets. Read from every thread; each accessor returns a
// copy taken under the value's lock, so a reader never sees a half-written string.
#pragma once

#include <cstdint>
#include <string>

namespace tzn {

class THostServices;

// 0 station side, 1 office side; other values add no menu commands. Initially 0.
uint8_t ModuleMode();
void SetModuleMode(uint8_t mode);

// The end of the exchange ModuleMode names; a mode of any other value is neither.
enum class TModuleSide { Station, Office, Neither };
TModuleSide ModuleSide();
TModuleSide ModuleSideOf(uint8_t mode);

// The code the host reports for this station; initially "TZN".
std::string StationCode();
void SetStationCode(const std::string& code);

// The data exchange folder shared with the host, Windows form, always ending in "\";
// initially "C:\PLAV\OFFICE\".
std::string DataDir();
void SetDataDir(const std::string& dir);

// False when the marker file "C:\PLAV\NoSizeMSG.ini" existed at Load: the session then does
// not ask the server for letter sizes. Initially true.
bool QueryMessageSizes();
void SetQueryMessageSizes(bool query);

// The host's interface object, kept without owning it; nullptr before Load.
THostServices* Host();
void SetHost(THostServices* host);

// Back to the initial values (module finalisation; tests).
void ResetModuleState();

} // namespace tzn
