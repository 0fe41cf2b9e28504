#include "store/station_overview.h"

#include "tznmail/host.h"

#include <algorithm>
#include <map>

namespace tzn {
namespace {

// A host that lists more stations than this is answering in a loop.
constexpr int kMaxHostStations = 100000;

// Days since 1.1.1970 of a local calendar date.
long long LocalDayNumber(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    const int y = tm.tm_year + 1900 - (tm.tm_mon < 2 ? 1 : 0);
    const int m = tm.tm_mon + 1;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + tm.tm_mday - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

} // namespace

int CalendarDaysBetween(std::time_t from, std::time_t to) {
    return static_cast<int>(LocalDayNumber(to) - LocalDayNumber(from));
}

std::vector<TStationRow> BuildStationOverview(const std::vector<TLedgerRecord>& records,
                                              const std::vector<TListedStation>& listed,
                                              std::time_t now, int lateHours) {
    std::vector<TStationRow> rows;
    std::map<std::string, size_t> byCode;
    auto rowOf = [&](const std::string& code) -> TStationRow& {
        const auto [it, added] = byCode.try_emplace(code, rows.size());
        if (added) {
            rows.emplace_back();
            rows.back().Code = code;
            rows.back().Days.fill(TDayMark::None);
        }
        return rows[it->second];
    };
    for (const TListedStation& s : listed) {
        TStationRow& row = rowOf(s.Code);
        row.Listed = true;
        row.Name = s.Name;
    }
    const size_t listedRows = rows.size();

    // The ledger is in the order things happened; a record written late by a slow clock
    // still counts by its own time.
    std::vector<const TLedgerRecord*> letters;
    for (const TLedgerRecord& r : records)
        if (r.Kind != TLedgerKind::Station)
            letters.push_back(&r);
    std::stable_sort(
        letters.begin(), letters.end(),
        [](const TLedgerRecord* a, const TLedgerRecord* b) { return a->Time < b->Time; });
    for (const TLedgerRecord* r : letters) {
        TStationRow& row = rowOf(r->Code);
        if (r->Kind == TLedgerKind::Sent) {
            if (r->Request && row.OpenRequest == 0)
                row.OpenRequest = r->Time;
            continue;
        }
        row.LastLetter = std::max(row.LastLetter, r->Time);
        if (r->Files > 0) {
            row.LastData = std::max(row.LastData, r->Time);
            row.OpenRequest = 0;
        }
        const int ago = CalendarDaysBetween(r->Time, now);
        if (ago >= 0 && ago < kOverviewDays) {
            TDayMark& mark = row.Days[static_cast<size_t>(kOverviewDays - 1 - ago)];
            if (r->Files > 0 && r->Imported > 0)
                mark = TDayMark::Data;
            else if (mark == TDayMark::None)
                mark = TDayMark::Letter;
        }
    }

    std::map<std::string, std::string> names;
    for (const TListedStation& s : LatestStationList(records))
        names[s.Code] = s.Name;
    const std::time_t limit = now - static_cast<std::time_t>(lateHours) * 60 * 60;
    for (TStationRow& row : rows) {
        if (row.Name.empty())
            if (const auto it = names.find(row.Code); it != names.end())
                row.Name = it->second;
        row.Late = row.LastLetter == 0 || row.LastLetter < limit;
    }
    std::sort(rows.begin() + static_cast<long>(listedRows), rows.end(),
              [](const TStationRow& a, const TStationRow& b) { return a.Code < b.Code; });
    std::stable_partition(rows.begin(), rows.end(), [](const TStationRow& r) { return r.Late; });
    return rows;
}

std::vector<TListedStation> HostStationList(THostServices& host) {
    std::vector<TListedStation> out;
    for (int index = 1; index <= kMaxHostStations; ++index) {
        const auto station = host.GetStation(index);
        if (!station)
            break;
        const std::string code = station->Code.empty() ? station->Key : station->Code;
        if (!code.empty())
            out.push_back({code, station->Name});
    }
    return out;
}

} // namespace tzn
