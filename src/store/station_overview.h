// The office's overview of its stations, worked out from the exchange ledger: per station the
// last letter and the last data received, the request still waiting for an answer, a strip of
// the last days, and whether the station has been silent too long.
#pragma once

#include "store/exchange_ledger.h"

#include <array>
#include <ctime>
#include <string>
#include <vector>

namespace tzn {

class THostServices;

inline constexpr int kOverviewDays = 14;
inline constexpr int kDefaultLateHours = 26;

// What a station sent on one day.
enum class TDayMark : char {
    None = '.',   // nothing
    Letter = '+', // a letter, but no data the host took
    Data = '#',   // data the host took
};

struct TStationRow {
    std::string Code;
    std::string Name;
    bool Listed = false;        // in the host's list (not only seen in the ledger)
    std::time_t LastLetter = 0; // 0: none in the ledger
    std::time_t LastData = 0;   // the last letter that carried data files
    // The first request sent since the station last sent data; 0 when none waits.
    std::time_t OpenRequest = 0;
    // Oldest day first, today last (local calendar days).
    std::array<TDayMark, kOverviewDays> Days{};
    // Nothing received for more than the late limit (or never).
    bool Late = false;

    // The days as their marks' characters ("..+#...").
    std::string DayStrip() const {
        std::string strip;
        for (TDayMark d : Days)
            strip += static_cast<char>(d);
        return strip;
    }
};

// One row per listed station in the list's order, then one per code the ledger knows only
// from letters, by code; late stations first, each group keeping that order. A name missing
// from `listed` is taken from the latest list the ledger noted.
std::vector<TStationRow> BuildStationOverview(const std::vector<TLedgerRecord>& records,
                                              const std::vector<TListedStation>& listed,
                                              std::time_t now, int lateHours);

// The host's stations (GetStation 1, 2, ... up to the first index without one).
std::vector<TListedStation> HostStationList(THostServices& host);

// Local calendar days from `from` to `to` (negative when `to` is earlier).
int CalendarDaysBetween(std::time_t from, std::time_t to);

} // namespace tzn
