// TStationOverviewForm: the office's "Сводка по АЗС" window. One row per station: code, name,
// the last letter and the last data received, the request waiting for an answer and how long
// it waits, and a strip of the last fourteen days; stations silent too long stand first,
// marked. Created hidden with the mailbox window; it reads the exchange ledger again whenever
// it is shown and when a session ends.
#pragma once

#include "store/station_overview.h"

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;
class QTreeWidget;
class QLabel;

namespace tzn {

class THostServices;
struct MailSettings;

// What the window shows at one moment.
struct TStationOverview {
    std::vector<TStationRow> Rows;
    std::time_t Now = 0;
    int LateHours = kDefaultLateHours;
    std::string Error; // the ledger could not be read (CP1251); the rows are then empty
};

// The overview from the ledger of the settings' mail folder and the host's list of stations
// (without a host: the list the office's sessions noted in the ledger).
TStationOverview LoadStationOverview(THostServices* host, const MailSettings& settings,
                                     std::time_t now);

class TStationOverviewForm {
public:
    // Creates the hidden window on the window thread; `source` is asked at every refresh.
    explicit TStationOverviewForm(std::function<TStationOverview()> source);
    ~TStationOverviewForm();
    TStationOverviewForm(const TStationOverviewForm&) = delete;
    TStationOverviewForm& operator=(const TStationOverviewForm&) = delete;

    // Shows the window with fresh rows and brings it forward.
    void ShowOverview();
    // Reads the rows again (window thread).
    void Refresh();
    bool Visible() const;
    QWidget* Widget() const;

    // Column numbers of the list.
    enum TColumn { State, Code, Name, LastLetter, LastData, Request, Waiting, Days };

private:
    std::function<TStationOverview()> FSource;
    std::unique_ptr<QWidget> FWindow;
    QTreeWidget* FList = nullptr;
    QLabel* FSummary = nullptr;
};

} // namespace tzn
