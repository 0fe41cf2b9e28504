// The request file "office.txt" in the data exchange folder: which shifts and extras the host
// is asked to export. It is written key by key into whatever file is there, never truncated:
// keys of an earlier request stay, and Count says how many Item keys hold.
#pragma once

#include <string>
#include <vector>

namespace tzn {

// `dataDir` (the data exchange folder, ending in "\") + "office.txt".
std::string RequestFileName(const std::string& dataDir);

// Writes into RequestFileName(dataDir) [Trade] LastUpdate, [Smena] Count and Item0..,
// [Config] Type and TradeDB, [h] M, in that order, for these shift numbers and the current
// settings. Returns the file's path; on a failure the module log entry "Ошибка создания файла :" +
// path + ": " + error and "". Throws only when that entry cannot be written either.
std::string WriteRequestFile(const std::string& dataDir, const std::vector<std::string>& shifts);

} // namespace tzn
