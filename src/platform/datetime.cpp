#include "platform/datetime.h"

#include "platform/cp1251.h"
#include "platform/text.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace tzn {
namespace {

constexpr double kMsPerDay = 86400000.0;

// Days from 0001-01-01 to the given civil date (proleptic Gregorian).
long DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468; // days since 1970-01-01
}

void CivilFromDays(long z, int& y, int& m, int& d) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int>(yoe) + static_cast<int>(era) * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y += m <= 2;
}

const long kEpochDelta = DaysFromCivil(1899, 12, 30); // 1899-12-30 relative to 1970-01-01

} // namespace

TFormatSettings::TFormatSettings() {
    const char* names[12] = {"янв", "фев", "мар", "апр", "май", "июн",
                             "июл", "авг", "сен", "окт", "ноя", "дек"};
    for (int i = 0; i < 12; ++i)
        ShortMonthNames[i] = ru(names[i]);
}

TFormatSettings& Formats() {
    static TFormatSettings settings;
    return settings;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
    const double days = static_cast<double>(DaysFromCivil(year, month, day) - kEpochDelta);
    const double frac = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / kMsPerDay;
    return days + frac;
}

bool DecodeDateTime(TDateTime dt, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& msec) {
    if (!std::isfinite(dt) || dt < -693593.0 || dt > 2958466.0)
        return false;
    auto ms = static_cast<long long>(std::llround(dt * kMsPerDay));
    long long days = ms / 86400000LL;
    long long rest = ms % 86400000LL;
    if (rest < 0) { // the time of day of a negative value counts forward from its date
        rest = -rest;
    }
    CivilFromDays(static_cast<long>(days + kEpochDelta), year, month, day);
    hour = static_cast<int>(rest / 3600000);
    minute = static_cast<int>(rest / 60000 % 60);
    second = static_cast<int>(rest / 1000 % 60);
    msec = static_cast<int>(rest % 1000);
    return true;
}

TDateTime DateTimeFromUnix(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                          tm.tm_sec);
}

std::time_t UnixFromDateTime(TDateTime dt) {
    int y, mo, d, h, mi, s, ms;
    if (!DecodeDateTime(dt, y, mo, d, h, mi, s, ms))
        return 0;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

TDateTime Now() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    return DateTimeFromUnix(t) + static_cast<double>(ms) / kMsPerDay;
}

int UtcOffsetMinutes(TDateTime dt) {
    std::time_t t = UnixFromDateTime(dt);
    std::tm tm{};
    localtime_r(&t, &tm);
    return static_cast<int>(tm.tm_gmtoff / 60);
}

std::string FormatDateTime(const std::string& pattern, TDateTime dt) {
    int y = 1899, mo = 12, d = 30, h = 0, mi = 0, s = 0, ms = 0;
    DecodeDateTime(dt, y, mo, d, h, mi, s, ms);
    const TFormatSettings& fs = Formats();
    std::string out;
    char buf[16];
    auto num = [&](int v, int width) {
        std::snprintf(buf, sizeof buf, "%0*d", width, v);
        out += buf;
    };
    bool lastWasHour = false;
    for (size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        const char lc = static_cast<char>(c | 0x20);
        size_t run = 1;
        while (i + run < pattern.size() && (pattern[i + run] | 0x20) == lc &&
               std::isalpha(static_cast<unsigned char>(c)))
            ++run;
        if (c == '"' || c == '\'') {
            const size_t end = pattern.find(c, i + 1);
            out +=
                pattern.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
            i = end == std::string::npos ? pattern.size() : end + 1;
            continue;
        }
        switch (lc) {
        case 'd':
            num(d, run >= 2 ? 2 : 1);
            break;
        case 'm':
            if (lastWasHour) // "hh:mm" means minutes, as the original system reads it
                num(mi, run >= 2 ? 2 : 1);
            else if (run >= 3)
                out += fs.ShortMonthNames[mo - 1];
            else
                num(mo, run);
            break;
        case 'y':
            run >= 3 ? num(y, 4) : num(y % 100, 2);
            break;
        case 'h':
            num(h, run >= 2 ? 2 : 1);
            break;
        case 'n':
            num(mi, run >= 2 ? 2 : 1);
            break;
        case 's':
            num(s, run >= 2 ? 2 : 1);
            break;
        case 'z':
            num(ms, run >= 3 ? 3 : 1);
            break;
        default:
            if (c == '/')
                out += fs.DateSeparator;
            else if (c == ':')
                out += fs.TimeSeparator;
            else
                out += c;
            run = 1;
        }
        if (lc == 'h')
            lastWasHour = true;
        else if (std::isalpha(static_cast<unsigned char>(c)))
            lastWasHour = false;
        i += run;
    }
    return out;
}

std::string DateToStr(TDateTime dt) {
    return FormatDateTime(Formats().ShortDateFormat, dt);
}

std::string DateTimeToStr(TDateTime dt) {
    return FormatDateTime(Formats().ShortDateFormat + " " + Formats().LongTimeFormat, dt);
}

bool TryStrToDateTime(const std::string& s, TDateTime& out) {
    // Numbers in the order of ShortDateFormat (d, m, y), then optional h, n, s. A number too
    // long for any of these fields makes the text unreadable, rather than being cut into
    // pieces or wrapping around.
    int nums[6] = {0, 0, 0, 0, 0, 0};
    int count = 0;
    size_t i = 0;
    while (i < s.size() && count < 6) {
        while (i < s.size() && !std::isdigit(static_cast<unsigned char>(s[i])))
            ++i;
        if (i >= s.size())
            break;
        const size_t start = i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
            ++i;
        if (!ParseDecimal(std::string_view(s).substr(start, i - start), nums[count++], 0, 9999))
            return false;
    }
    if (count < 3)
        return false;
    int day = 0, month = 0, year = 0, idx = 0;
    for (char c : Formats().ShortDateFormat) {
        const char lc = static_cast<char>(c | 0x20);
        if ((lc == 'd' && day == 0 && idx < 3 && (day = nums[idx++], true)) ||
            (lc == 'm' && month == 0 && idx < 3 && (month = nums[idx++], true)) ||
            (lc == 'y' && year == 0 && idx < 3 && (year = nums[idx++], true)))
            continue;
    }
    if (year < 100)
        year += 2000;
    if (month < 1 || month > 12 || day < 1 || day > 31 || nums[3] > 23 || nums[4] > 59 ||
        nums[5] > 59)
        return false;
    const TDateTime dt = EncodeDateTime(year, month, day, nums[3], nums[4], nums[5]);
    // "31.02.2024" would otherwise come back as the 2nd of March.
    int y, mo, d, h, mi, sec, ms;
    if (!DecodeDateTime(dt, y, mo, d, h, mi, sec, ms) || d != day || mo != month)
        return false;
    out = dt;
    return true;
}

} // namespace tzn
