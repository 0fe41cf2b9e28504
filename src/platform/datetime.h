// Dates and times as the module keeps them: a TDateTime is days since 30.12.1899 (local
// time) with the time of day as the fraction; 0 stands for "no date".
// Formatting follows the system's regional settings (TFormatSettings), Russian by default.
#pragma once

#include <array>
#include <ctime>
#include <string>

namespace tzn {

using TDateTime = double;

// The stand-in for the system's regional settings. Tests may change the record returned by
// Formats(); nothing else writes it.
struct TFormatSettings {
    std::string ShortDateFormat = "dd.mm.yyyy";
    std::string LongTimeFormat = "hh:nn:ss";
    char DateSeparator = '.';
    char TimeSeparator = ':';
    char DecimalSeparator = ',';
    std::array<std::string, 12> ShortMonthNames; // CP1251, Russian by default
    int PrimaryLanguage = 0x19;                  // LANG_RUSSIAN
    TFormatSettings();
};
TFormatSettings& Formats();

TDateTime Now();
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int msec = 0);
// Splits a value into its parts; false for values outside years 1..9999.
bool DecodeDateTime(TDateTime dt, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& msec);
TDateTime DateTimeFromUnix(std::time_t t); // local time
std::time_t UnixFromDateTime(TDateTime dt);
// Offset of local time from UTC at that moment, in minutes (east positive).
int UtcOffsetMinutes(TDateTime dt);

// Formats with the pattern letters d dd m mm mmm yyyy yy h hh n nn s ss z zzz, and the
// separators '/' and ':' replaced from the settings; text in "..." or '...' is literal.
std::string FormatDateTime(const std::string& pattern, TDateTime dt);
std::string DateToStr(TDateTime dt);     // ShortDateFormat
std::string DateTimeToStr(TDateTime dt); // ShortDateFormat + " " + LongTimeFormat
// Reads what DateTimeToStr wrote (date alone is accepted too); false when it cannot.
bool TryStrToDateTime(const std::string& s, TDateTime& out);

} // namespace tzn
