// A host for tests: a menu tree it owns, scripted answers, and a record of calls.
#pragma once

#include "tznmail/host.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace tzn::test {

class FakeMenuItem final : public THostMenuItem {
public:
    std::string GetCaption() const override { return caption; }
    void SetCaption(const std::string& c) override { caption = c; }
    std::string GetHint() const override { return hint; }
    void SetHint(const std::string& h) override { hint = h; }
    int GetHelpContext() const override { return helpContext; }
    void SetHelpContext(int c) override { helpContext = c; }
    int GetShortCut() const override { return shortcut; }
    void SetShortCut(int s) override { shortcut = s; }
    ClickHandler GetOnClick() const override { return onClick; }
    void SetOnClick(ClickHandler h) override { onClick = std::move(h); }
    int Count() const override { return static_cast<int>(children.size()); }
    THostMenuItem* Item(int index) override {
        return children.at(static_cast<size_t>(index)).get();
    }

    FakeMenuItem* Child(int index) { return children.at(static_cast<size_t>(index)).get(); }
    FakeMenuItem* Add(const std::string& c) {
        children.push_back(std::make_unique<FakeMenuItem>());
        children.back()->caption = c;
        return children.back().get();
    }
    void Click() {
        if (onClick)
            onClick(this);
    }

    std::string caption, hint = "unset";
    int helpContext = -1, shortcut = -1;
    ClickHandler onClick;
    std::vector<std::unique_ptr<FakeMenuItem>> children;
};

class FakeHost final : public THostServices {
public:
    int GetCount() override { return count; }
    std::string GetStationCode() override {
        if (failStationCode)
            throw std::runtime_error("station code unavailable");
        return stationCode;
    }
    std::string GetDataFileName() override { return dataFileName; }
    std::string ImportDataFile(const std::string& f) override {
        Record("ImportDataFile " + f);
        return importAnswer;
    }
    std::string MakeStationRequestFile(const std::string& key) override {
        Record("MakeStationRequestFile " + key);
        return requestFile;
    }
    std::string ImportDataFileFrom(const std::string& code, const std::string& f) override {
        Record("ImportDataFileFrom " + code + " " + f);
        return importAnswer;
    }
    THostMenuItem* GetMainMenuItems() override { return &root; }
    THostMenuItem* NewMenuItem(THostMenuItem* parent, int index) override {
        if (failMenuAfter >= 0 && menuItemsCreated >= failMenuAfter)
            throw std::runtime_error("menu item refused");
        ++menuItemsCreated;
        auto* p = static_cast<FakeMenuItem*>(parent);
        auto item = std::make_unique<FakeMenuItem>();
        FakeMenuItem* raw = item.get();
        if (index < 0 || index >= p->Count())
            p->children.push_back(std::move(item));
        else
            p->children.insert(p->children.begin() + index, std::move(item));
        return raw;
    }
    THostVariant GetParamValue(int number, int) override {
        auto it = params.find(number);
        return it == params.end() ? THostVariant() : it->second;
    }
    std::optional<THostStation> GetStation(int index) override {
        if (index < 0 || index >= static_cast<int>(stations.size()))
            return std::nullopt;
        return stations[static_cast<size_t>(index)];
    }
    std::string PrepareExportData(int, const std::string& requestFile) override {
        Record("PrepareExportData " + requestFile);
        return exportAnswer;
    }

    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }

    int count = 1;
    std::string stationCode = "12";
    std::string dataFileName = "C:\\Data\\Exchange\\station.dat";
    std::string importAnswer, requestFile, exportAnswer;
    bool failStationCode = false;
    int failMenuAfter = -1; // NewMenuItem throws once this many items were created
    int menuItemsCreated = 0;
    std::map<int, THostVariant> params;
    std::vector<THostStation> stations;
    FakeMenuItem root;

private:
    void Record(const std::string& s) {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(s);
    }
    std::mutex mutex;
    std::vector<std::string> calls;
};

} // namespace tzn::test
