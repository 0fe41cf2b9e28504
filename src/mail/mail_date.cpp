#include "mail/mail_date.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <vector>

#include "platform/cp1251.h"
#include "platform/text.h"

namespace tzn {

namespace {

const char* const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool AllDigits(std::string_view s) {
    if (s.empty())
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// "hh:mm" or "hh:mm:ss", every field wholly digits and within the range of its unit (a leap
// second included); false for anything else.
bool ParseClockTime(std::string_view clock, int& hour, int& minute, int& second) {
    const size_t first = clock.find(':');
    const size_t last = clock.rfind(':');
    if (last != first && clock.find(':', first + 1) != last)
        return false; // more than three fields
    int h = 0, m = 0, s = 0;
    if (!ParseDecimal(clock.substr(0, first), h, 0, 23))
        return false;
    if (last == first) {
        if (!ParseDecimal(clock.substr(first + 1), m, 0, 59))
            return false;
    } else if (!ParseDecimal(clock.substr(first + 1, last - first - 1), m, 0, 59) ||
               !ParseDecimal(clock.substr(last + 1), s, 0, 60)) {
        return false;
    }
    hour = h;
    minute = m;
    second = s;
    return true;
}

} // namespace

TDateTime ParseMailDate(const std::string& value) {
    std::vector<std::string> tokens;
    std::string cur;
    auto flush = [&] {
        if (!cur.empty())
            tokens.push_back(cur);
        cur.clear();
    };
    for (char c : value) {
        if (c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n')
            flush();
        else if (c == '(') // a trailing zone comment
            break;
        else if (c == '-' && !cur.empty() && !(cur[0] == '+' || cur[0] == '-'))
            flush(); // "5-Dec-2024"
        else
            cur += c;
    }
    flush();
    int day = -1, month = -1, year = -1, hour = 0, minute = 0, second = 0;
    bool pm = false, am = false;
    for (const std::string& t : tokens) {
        if (t[0] == '+' || t[0] == '-')
            continue; // the zone ("+0300", "-03:00") is ignored: the clock time stays as written
        if (t.find(':') != std::string::npos) {
            std::string_view clock = t;
            // "02:30:00PM": the half of the day may stick to the clock time.
            if (clock.size() > 2) {
                std::string half = AnsiUpperCase(std::string(clock.substr(clock.size() - 2)));
                if (half == "AM" || half == "PM") {
                    (half == "PM" ? pm : am) = true;
                    clock.remove_suffix(2);
                }
            }
            if (!ParseClockTime(clock, hour, minute, second))
                return 0;
            continue;
        }
        if (AllDigits(t)) {
            if (day < 0 && t.size() <= 2)
                ParseDecimal(std::string_view(t), day);
            else if (year < 0) {
                // A year that does not fit is no date, rather than a wrapped-around one.
                if (!ParseDecimal(std::string_view(t), year, 0, 9999))
                    return 0;
                if (t.size() <= 2)
                    year += year < 80 ? 2000 : 1900;
                else if (t.size() == 3)
                    year += 1900;
            }
            continue;
        }
        std::string up = AnsiUpperCase(t);
        if (up == "AM" || up == "PM") {
            (up == "PM" ? pm : am) = true;
            continue;
        }
        for (int m = 0; m < 12; ++m)
            if (up.size() >= 3 && AnsiSameText(std::string_view(up).substr(0, 3), kMonthNames[m]) &&
                month < 0)
                month = m + 1;
    }
    if (pm && hour < 12)
        hour += 12;
    if (am && hour == 12)
        hour = 0;
    if (day < 1 || day > 31 || month < 1 || year < 1 || year > 9999 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 60)
        return 0;
    if (second == 60)
        second = 59;
    int y, mo, d, h, mi, s, ms;
    TDateTime dt = EncodeDateTime(year, month, day, hour, minute, second);
    // An impossible day of the month ("31 Feb") is not a date.
    if (!DecodeDateTime(dt, y, mo, d, h, mi, s, ms) || d != day || mo != month)
        return 0;
    return dt;
}

std::string FormatMailDate(TDateTime dt) {
    int y, mo, d, h, mi, s, ms;
    if (!DecodeDateTime(dt, y, mo, d, h, mi, s, ms))
        DecodeDateTime(Now(), y, mo, d, h, mi, s, ms);
    std::time_t t = UnixFromDateTime(dt);
    std::tm tmv{};
    localtime_r(&t, &tmv);
    int off = UtcOffsetMinutes(dt);
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d%02d", off < 0 ? '-' : '+', std::abs(off) / 60,
                  std::abs(off) % 60);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %d %s %d %02d:%02d:%02d %s", kDayNames[tmv.tm_wday % 7], d,
                  kMonthNames[(mo - 1) % 12], y, h, mi, s, zone);
    return buf;
}

} // namespace tzn
