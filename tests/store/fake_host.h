// A scripted THostServices for store tests: station lists, request files and import answers
// are set by the test; every call is recorded so the test can check order and arguments.
#pragma once

#include "tznmail/host.h"

#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tzn::test {

class ScriptedHost : public THostServices {
public:
    struct ImportCall {
        std::string senderCode; // empty for ImportDataFile
        std::string fileName;
        bool from = false;       // ImportDataFileFrom
        std::string contentSeen; // the data file's content at the time of the call
    };

    int count = 1;
    std::string stationCode = "TZN";
    std::string dataFileName;
    std::vector<THostStation> stations; // GetStation(1..n); selected is GetStation(0)
    std::optional<THostStation> selected;
    // Request file per station key; called while composing requests.
    std::function<std::string(const std::string& key)> makeRequest;
    // Answer to an import: a file path to send back, or "".
    std::function<std::string(const std::string& fileName)> importAnswer;
    bool importThrows = false;

    std::vector<ImportCall> imports;
    std::vector<int> stationQueries;
    std::vector<std::string> requestQueries;

    int GetCount() override { return count; }
    std::string GetStationCode() override { return stationCode; }
    std::string GetDataFileName() override { return dataFileName; }
    std::string ImportDataFile(const std::string& fileName) override {
        return Import({}, fileName, false);
    }
    std::string MakeStationRequestFile(const std::string& key) override {
        std::lock_guard<std::mutex> lock(mutex_);
        requestQueries.push_back(key);
        return makeRequest ? makeRequest(key) : std::string();
    }
    std::string ImportDataFileFrom(const std::string& sender,
                                   const std::string& fileName) override {
        return Import(sender, fileName, true);
    }
    THostMenuItem* GetMainMenuItems() override { return nullptr; }
    THostMenuItem* NewMenuItem(THostMenuItem*, int) override { return nullptr; }
    THostVariant GetParamValue(int, int) override { return {}; }
    std::optional<THostStation> GetStation(int index) override {
        std::lock_guard<std::mutex> lock(mutex_);
        stationQueries.push_back(index);
        if (index == 0)
            return selected;
        if (index >= 1 && static_cast<size_t>(index) <= stations.size())
            return stations[static_cast<size_t>(index) - 1];
        return std::nullopt;
    }
    std::string PrepareExportData(int, const std::string&) override { return {}; }

    // Reads a file as the host would at import time (Windows-form or native path).
    std::function<std::string(const std::string& path)> readFile;

private:
    std::string Import(const std::string& sender, const std::string& fileName, bool from) {
        std::lock_guard<std::mutex> lock(mutex_);
        imports.push_back({sender, fileName, from, readFile ? readFile(fileName) : std::string()});
        if (importThrows)
            throw std::runtime_error("host import failed");
        return importAnswer ? importAnswer(fileName) : std::string();
    }
    std::mutex mutex_;
};

} // namespace tzn::test
