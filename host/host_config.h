// The host's configuration file (INI, UTF-8):
//   [Host]     Side (station | office), StationCode, DataFile (Windows form), ImportDir
//              (native folder), ReplyFile (optional native file), Count (default 1),
//              ExportDir (optional native folder: the data a station exports), Shift (the
//              current shift, host parameter 25 unless [Params] gives it)
//   [Params]   numbered host parameters, e.g. 25=4
//   [Stations] one KEY=CODE,NAME line per station, in order
// Relative native paths are taken from the configuration file's folder.
#pragma once

#include "tznmail/host.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace tzn {

// A missing or bad configuration; the message names the file and the key.
class TConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Texts the plug-in receives (codes, names, parameters, DataFile) are CP1251 here.
struct THostConfig {
    uint8_t Mode = 0; // the Load mode: 0 station side, 1 office side
    std::string StationCode;
    std::string DataFile;
    std::filesystem::path ImportDir;
    std::filesystem::path ReplyFile; // empty: imports answer nothing
    std::filesystem::path ExportDir; // empty: a station exports only the request
    int Count = 1;
    std::map<int, std::string> Params;
    std::vector<THostStation> Stations;
};

// Reads and checks the whole file; throws TConfigError.
THostConfig ReadHostConfig(const std::filesystem::path& file);

} // namespace tzn
