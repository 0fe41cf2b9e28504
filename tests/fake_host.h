// The host for tests: a menu tree it owns, scripted answers, and a record of the calls that
// matter, so a test can check their order and arguments. Thread-safe where the module calls
// it from worker threads.
#pragma once

#include "tznmail/host.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tzn::test {

class FakeMenuItem final : public THostMenuItem {
public:
    std::string GetCaption() const override { return Caption; }
    void SetCaption(const std::string& c) override { Caption = c; }
    std::string GetHint() const override { return Hint; }
    void SetHint(const std::string& h) override { Hint = h; }
    int GetHelpContext() const override { return HelpContext; }
    void SetHelpContext(int c) override { HelpContext = c; }
    int GetShortCut() const override { return ShortCut; }
    void SetShortCut(int s) override { ShortCut = s; }
    ClickHandler GetOnClick() const override { return OnClick; }
    void SetOnClick(ClickHandler h) override { OnClick = std::move(h); }
    int Count() const override { return static_cast<int>(Children.size()); }
    THostMenuItem* Item(int index) override {
        return Children.at(static_cast<size_t>(index)).get();
    }

    FakeMenuItem* Child(int index) { return Children.at(static_cast<size_t>(index)).get(); }
    FakeMenuItem* Add(const std::string& c) {
        Children.push_back(std::make_unique<FakeMenuItem>());
        Children.back()->Caption = c;
        return Children.back().get();
    }
    void Click() {
        if (OnClick)
            OnClick(this);
    }

    std::string Caption, Hint = "unset";
    int HelpContext = -1, ShortCut = -1;
    ClickHandler OnClick;
    std::vector<std::unique_ptr<FakeMenuItem>> Children;
};

class FakeHost final : public THostServices {
public:
    struct ImportCall {
        std::string SenderCode; // empty for ImportDataFile
        std::string FileName;
        bool From = false;       // ImportDataFileFrom
        std::string ContentSeen; // the data file's content at the time of the call
    };

    int GetCount() override { return Count; }
    std::string GetStationCode() override {
        if (FailStationCode)
            throw std::runtime_error("station code unavailable");
        if (ThrowIntFromStationCode)
            throw 42; // a host written in another style

        return StationCode;
    }
    std::string GetDataFileName() override { return DataFileName; }
    std::string ImportDataFile(const std::string& fileName) override {
        return Import({}, fileName, false);
    }
    std::string MakeStationRequestFile(const std::string& key) override {
        std::lock_guard<std::mutex> lock(FMutex);
        RequestQueries.push_back(key);
        return MakeRequest ? MakeRequest(key) : std::string();
    }
    std::string ImportDataFileFrom(const std::string& sender,
                                   const std::string& fileName) override {
        return Import(sender, fileName, true);
    }
    THostMenuItem* GetMainMenuItems() override { return &Root; }
    THostMenuItem* NewMenuItem(THostMenuItem* parent, int index) override {
        if (FailMenuAfter >= 0 && MenuItemsCreated >= FailMenuAfter)
            throw std::runtime_error("menu item refused");
        ++MenuItemsCreated;
        auto* p = static_cast<FakeMenuItem*>(parent);
        auto item = std::make_unique<FakeMenuItem>();
        FakeMenuItem* raw = item.get();
        if (index < 0 || index >= p->Count())
            p->Children.push_back(std::move(item));
        else
            p->Children.insert(p->Children.begin() + index, std::move(item));
        return raw;
    }
    THostVariant GetParamValue(int number, int) override {
        auto it = Params.find(number);
        return it == Params.end() ? THostVariant() : it->second;
    }
    // As the host's contract has it: 0 is the station selected in the host, 1, 2, ... the
    // listed stations in turn.
    std::optional<THostStation> GetStation(int index) override {
        std::lock_guard<std::mutex> lock(FMutex);
        StationQueries.push_back(index);
        if (index == 0)
            return Selected;
        if (index >= 1 && static_cast<size_t>(index) <= Stations.size())
            return Stations[static_cast<size_t>(index) - 1];
        return std::nullopt;
    }
    std::string PrepareExportData(int, const std::string& requestFile) override {
        std::lock_guard<std::mutex> lock(FMutex);
        ExportQueries.push_back(requestFile);
        return ExportData ? ExportData(requestFile) : std::string();
    }

    // Answers.
    int Count = 1;
    std::string StationCode = "12";
    std::string DataFileName = "C:\\Data\\Exchange\\station.dat";
    std::optional<THostStation> Selected; // GetStation(0)
    std::vector<THostStation> Stations;   // GetStation(1..n)
    // Request file per station key; "" for none.
    std::function<std::string(const std::string& key)> MakeRequest;
    // Answer to an import: a file path to send back, or "".
    std::function<std::string(const std::string& fileName)> ImportAnswer;
    // Answer to PrepareExportData: a data file path, or "".
    std::function<std::string(const std::string& requestFile)> ExportData;
    // Reads a file as the host would at import time (Windows-form or native path).
    std::function<std::string(const std::string& path)> ReadFile;
    bool ImportThrows = false;
    bool FailStationCode = false;
    bool ThrowIntFromStationCode = false;
    int FailMenuAfter = -1; // NewMenuItem throws once this many items were created
    std::map<int, THostVariant> Params;
    FakeMenuItem Root;

    // Record of calls.
    int MenuItemsCreated = 0;
    std::vector<ImportCall> Imports;
    std::vector<int> StationQueries;
    std::vector<std::string> RequestQueries;
    std::vector<std::string> ExportQueries;

private:
    std::string Import(const std::string& sender, const std::string& fileName, bool from) {
        std::lock_guard<std::mutex> lock(FMutex);
        Imports.push_back({sender, fileName, from, ReadFile ? ReadFile(fileName) : std::string()});
        if (ImportThrows)
            throw std::runtime_error("host import failed");
        return ImportAnswer ? ImportAnswer(fileName) : std::string();
    }
    std::mutex FMutex;
};

} // namespace tzn::test
