#include "platform/cp1251.h"
#include "platform/datetime.h"
#include "platform/text.h"

#include <gtest/gtest.h>

namespace tzn {
namespace {

TEST(Cp1251, LiteralsConvertBothWays) {
    const std::string s = ru("Ёлка и ёж: АБВ абв Яя №");
    EXPECT_EQ(s.size(), 23u); // one byte per character
    EXPECT_EQ(static_cast<unsigned char>(ru("А")[0]), 0xC0);
    EXPECT_EQ(static_cast<unsigned char>(ru("я")[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(ru("Ё")[0]), 0xA8);
    EXPECT_EQ(static_cast<unsigned char>(ru("ё")[0]), 0xB8);
    EXPECT_EQ(Utf8FromCp1251(s), "Ёлка и ёж: АБВ абв Яя №");
    EXPECT_EQ(ru("日"), "?");                                         // no CP1251 form
    EXPECT_EQ(Utf8FromCp1251(std::string("\x98", 1)).empty(), false); // undefined byte survives
}

TEST(Cp1251, UpperAndLowerCaseCoverAsciiCyrillicAndYo) {
    EXPECT_EQ(AnsiUpperCase(ru("tzn-12 ёлка Привет")), ru("TZN-12 ЁЛКА ПРИВЕТ"));
    EXPECT_EQ(AnsiLowerCase(ru("TZN ЁЛКА")), ru("tzn ёлка"));
    EXPECT_EQ(AnsiUpperCase("\x9A\xB5"), "\x9A\xB5"); // other high bytes untouched
    EXPECT_TRUE(AnsiSameText(ru("Настройки"), ru("НАСТРОЙКИ")));
    EXPECT_FALSE(AnsiSameText(ru("Настройки"), ru("Настройка")));
}

TEST(Dates, RussianFormatsAndRoundTrip) {
    const TDateTime dt = EncodeDateTime(2026, 12, 6, 17, 5, 9);
    EXPECT_EQ(DateToStr(dt), "06.12.2026");
    EXPECT_EQ(DateTimeToStr(dt), "06.12.2026 17:05:09");
    EXPECT_EQ(FormatDateTime("dd.mm.yyyy, hh:nn:ss", dt), "06.12.2026, 17:05:09");
    EXPECT_EQ(FormatDateTime("mmdd-hhnnss", dt), "1206-170509");
    EXPECT_EQ(FormatDateTime("d mmm yy", dt), "6 " + ru("дек") + " 26");
    TDateTime back = 0;
    ASSERT_TRUE(TryStrToDateTime(DateTimeToStr(dt), back));
    EXPECT_NEAR(back, dt, 1e-6);
    EXPECT_FALSE(TryStrToDateTime("not a date", back));
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30), 0.0);
}

TEST(Decimal, WholeFieldDigitsOnlyWithinRange) {
    int v = -7;
    EXPECT_TRUE(ParseDecimal("0042", v));
    EXPECT_EQ(v, 42);
    for (const char* bad : {"", "+5", "-5", " 5", "5 ", "5x", "0x10", "4294967296", "2147483648"}) {
        v = -7;
        EXPECT_FALSE(ParseDecimal(bad, v)) << bad;
        EXPECT_EQ(v, -7) << "a refused field leaves the value alone: " << bad;
    }
    EXPECT_TRUE(ParseDecimal("2147483647", v));
    EXPECT_EQ(v, 2147483647);
    EXPECT_FALSE(ParseDecimal("1000", v, 100, 999));
    EXPECT_FALSE(ParseDecimal("99", v, 100, 999));
    int64_t big = 0;
    EXPECT_TRUE(ParseDecimal("9223372036854775807", big));
    EXPECT_FALSE(ParseDecimal("9223372036854775808", big));
}

// A stored date whose fields do not fit is unreadable instead of cut into pieces or rolled
// over into another date.
TEST(Dates, ReadingRefusesOverlongAndImpossibleFields) {
    TDateTime back = 0;
    EXPECT_FALSE(TryStrToDateTime("06.12.4294969296 10:00:00", back));
    EXPECT_FALSE(TryStrToDateTime("06.12.20261 10:00:00", back));
    EXPECT_FALSE(TryStrToDateTime("31.02.2026 10:00:00", back));
    EXPECT_EQ(back, 0);
    ASSERT_TRUE(TryStrToDateTime("29.02.2024 23:59:59", back));
    EXPECT_NEAR(back, EncodeDateTime(2024, 2, 29, 23, 59, 59), 1e-6);
}

TEST(Dates, SwitchedSettingsChangeTheFormat) {
    TFormatSettings saved = Formats();
    Formats().ShortDateFormat = "yyyy/mm/dd";
    Formats().DateSeparator = '-';
    const TDateTime dt = EncodeDateTime(2008, 12, 15);
    EXPECT_EQ(DateToStr(dt), "2008-12-15");
    Formats() = saved;
    EXPECT_EQ(DateToStr(dt), "15.12.2008");
}

} // namespace
} // namespace tzn
