// The office's overview of its stations from the exchange ledger of the mail folder: who sent
// what and when, the requests waiting, the last fourteen days, and who is late. Exit status 1
// when a station is late, so that cron or a monitoring system can act on it.
#include "commands.h"
#include "json.h"

#include "module/settings.h"
#include "platform/cp1251.h"
#include "store/exchange_ledger.h"
#include "store/station_overview.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace tzn::tool {

namespace {

constexpr int kMaxLateHours = 24 * 400;

std::string LocalTime(std::time_t t, const char* format) {
    if (t == 0)
        return "-";
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

// Characters on the terminal, not bytes: names are Cyrillic.
size_t Width(const std::string& utf8) {
    size_t n = 0;
    for (unsigned char c : utf8)
        n += (c & 0xC0) != 0x80;
    return n;
}

std::string Padded(const std::string& utf8, size_t width) {
    const size_t w = Width(utf8);
    return utf8 + std::string(w < width ? width - w : 0, ' ');
}

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    return text;
}

void PrintTable(const std::vector<TStationRow>& rows, std::time_t now, int lateHours) {
    std::vector<std::vector<std::string>> cells = {
        {"", "station", "name", "last letter", "last data", "open request", "days (14, # data)"}};
    int late = 0;
    for (const TStationRow& r : rows) {
        late += r.Late;
        std::string request = LocalTime(r.OpenRequest, "%d.%m.%Y %H:%M");
        if (r.OpenRequest != 0)
            request += " (" + std::to_string((now - r.OpenRequest) / 3600) + " h)";
        cells.push_back({r.Late ? "!" : "", OneLine(Utf8FromCp1251(r.Code)),
                         OneLine(Utf8FromCp1251(r.Name)), LocalTime(r.LastLetter, "%d.%m.%Y %H:%M"),
                         LocalTime(r.LastData, "%d.%m.%Y %H:%M"), request, r.DayStrip()});
    }
    std::vector<size_t> widths(cells.front().size(), 0);
    for (const auto& line : cells)
        for (size_t c = 0; c < line.size(); ++c)
            widths[c] = std::max(widths[c], Width(line[c]));
    for (const auto& line : cells) {
        std::string out;
        for (size_t c = 0; c < line.size(); ++c)
            out += (c + 1 < line.size() ? Padded(line[c], widths[c]) + "  " : line[c]);
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
        std::printf("%s\n", out.c_str());
    }
    std::printf("late (nothing received for over %d h): %d of %zu\n", lateHours, late, rows.size());
}

void PrintJson(const std::vector<TStationRow>& rows, std::time_t now, int lateHours) {
    TJsonWriter j;
    auto time = [&](std::time_t t) {
        if (t == 0)
            j.Null();
        else
            j.String(LocalTime(t, "%Y-%m-%dT%H:%M:%S"));
    };
    j.BeginObject();
    j.Key("now");
    time(now);
    j.Key("late_hours");
    j.Number(lateHours);
    j.Key("stations");
    j.BeginArray();
    for (const TStationRow& r : rows) {
        j.BeginObject();
        j.Key("code");
        j.String(Utf8FromCp1251(r.Code));
        j.Key("name");
        j.String(Utf8FromCp1251(r.Name));
        j.Key("listed");
        j.Bool(r.Listed);
        j.Key("late");
        j.Bool(r.Late);
        j.Key("last_letter");
        time(r.LastLetter);
        j.Key("last_data");
        time(r.LastData);
        j.Key("open_request");
        time(r.OpenRequest);
        j.Key("days");
        j.String(r.DayStrip());
        j.EndObject();
    }
    j.EndArray();
    j.EndObject();
    std::printf("%s\n", j.Text().c_str());
}

int Stations(const std::vector<std::string>& args) {
    bool json = false;
    int lateHours = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--late" && i + 1 < args.size()) {
            const std::string& v = args[++i];
            if (v.empty() || v.size() > 5 || v.find_first_not_of("0123456789") != v.npos ||
                std::stoi(v) < 1 || std::stoi(v) > kMaxLateHours) {
                std::fprintf(stderr, "tznmail: stations: --late takes hours from 1 to %d\n",
                             kMaxLateHours);
                return Usage;
            }
            lateHours = std::stoi(v);
        } else {
            std::fprintf(stderr, "tznmail: stations: unexpected argument '%s'\n", args[i].c_str());
            return Usage;
        }
    }
    try {
        LoadMailSettings();
    } catch (const std::exception& e) {
        // The record keeps what could be read; the mail folder is all this needs.
        std::fprintf(stderr, "tznmail: settings: %s\n", Utf8FromCp1251(e.what()).c_str());
    }
    const MailSettings settings = MailSettingsSnapshot();
    if (lateHours == 0)
        lateHours = settings.LateHours > 0 ? settings.LateHours : kDefaultLateHours;
    const std::vector<TLedgerRecord> records = TExchangeLedger(settings.MailDir).Load();
    const std::time_t now = std::time(nullptr);
    // Without the host the stations are those of the list the office's sessions noted.
    const std::vector<TStationRow> rows =
        BuildStationOverview(records, LatestStationList(records), now, lateHours);
    if (json)
        PrintJson(rows, now, lateHours);
    else
        PrintTable(rows, now, lateHours);
    for (const TStationRow& r : rows)
        if (r.Late)
            return Failed;
    return Ok;
}

TCommandRegistrar stations({"stations", "", "stations [--json] [--late HOURS]", Stations,
                            "tznmail stations --late 26 || echo 'a station is late'"});

} // namespace

} // namespace tzn::tool
