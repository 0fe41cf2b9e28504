#include "store/exchange_ledger.h"
#include "store/station_overview.h"

#include "platform/files.h"
#include "platform/paths.h"
#include "temp_root.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

namespace tzn {
namespace {

// A local time in July 2026 (no clock change nearby), so calendar days are those of the
// machine's zone whatever it is.
std::time_t At(int day, int hour, int minute = 0) {
    std::tm tm{};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 6;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

TLedgerRecord Got(const std::string& code, std::time_t t, int files, int imported) {
    return {t, TLedgerKind::Received, code, files, imported, false, "<id>", "TZN-Office"};
}
TLedgerRecord Asked(const std::string& code, std::time_t t) {
    return {t, TLedgerKind::Sent, code, 1, 0, true, "<q>", "TZN-" + code};
}

class LedgerFile : public ::testing::Test {
protected:
    test::TempRoot FRoot;
    TExchangeLedger FLedger{"C:\\MAIL\\"};
    void SetUp() override { ASSERT_TRUE(ForceDirectories("C:\\MAIL\\")); }
    std::string Text() { return test::ReadFile(NativePath(FLedger.FileName())); }
};

TEST_F(LedgerFile, RecordsSurviveBadLinesTornTailsAndSeparatorsInTheirText) {
    TLedgerRecord odd = Got("12", 1780000000, 2, 1);
    odd.Text = "TZN-Office\tsecond\r\nline";
    FLedger.Append(odd);
    // What a crash or a hand edit leaves: a line cut short, then lines that are no records.
    test::WriteFile(NativePath(FLedger.FileName()), Text() +
                                                        "1780000100\tR\t34\t1\t1\t0\t<cut>\n"
                                                        "1780000200\tX\t34\t1\t1\t0\t<i>\ts\n"
                                                        "1780000300\tR\t34\t1\t2\t0\t<i>\ts\n"
                                                        "17800003OO\tR\t34\t1\t1\t0\t<i>\ts\n"
                                                        "1780000400\tS\t34\t1\t0\t1\t<i>\tTZN-34");
    FLedger.Append(Asked("56", 1780000500));

    const std::vector<TLedgerRecord> read = FLedger.Load();
    ASSERT_EQ(read.size(), 3u) << Text();
    EXPECT_EQ(read[0].Code, "12");
    EXPECT_EQ(read[0].Files, 2);
    EXPECT_EQ(read[0].Imported, 1);
    EXPECT_EQ(read[0].Text, "TZN-Office second  line");
    // The unterminated last line kept its record, and the next one did not merge into it.
    EXPECT_EQ(read[1].Code, "34");
    EXPECT_TRUE(read[1].Request);
    EXPECT_EQ(read[2].Code, "56");
    EXPECT_EQ(read[2].Time, 1780000500);
    EXPECT_TRUE(TExchangeLedger("C:\\NOWHERE\\").Load().empty());
}

TEST_F(LedgerFile, PruneWaitsForTheSlackThenDropsOldRecordsButKeepsTheStationList) {
    const std::time_t day = 24 * 60 * 60;
    const std::time_t now = 1800000000;
    FLedger.Append(StationListRecords({{"12", "Old name"}}, now - 600 * day));
    FLedger.Append(StationListRecords({{"12", "North"}, {"34", "South"}}, now - 420 * day));
    FLedger.Append(Got("12", now - 410 * day, 1, 1));
    FLedger.Append(Got("34", now - 5 * day, 1, 1));
    const std::string before = Text();

    // The oldest record is 600 days old: due. Within a month of the retention it is not.
    EXPECT_FALSE(FLedger.Prune(now - 200 * day));
    EXPECT_EQ(Text(), before);
    EXPECT_TRUE(FLedger.Prune(now));
    const std::vector<TLedgerRecord> kept = FLedger.Load();
    ASSERT_EQ(kept.size(), 3u) << Text();
    EXPECT_EQ(LatestStationList(kept),
              (std::vector<TListedStation>{{"12", "North"}, {"34", "South"}}));
    EXPECT_EQ(kept[2].Time, now - 5 * day);
    // The rewrite left nothing beside the file.
    EXPECT_EQ(FindFiles("C:\\MAIL\\", "*.tmp").size(), 0u);
    EXPECT_FALSE(FLedger.Prune(now));
}

TEST(StationOverview, RowsOrderLateRuleRequestsAndTheDayStrip) {
    const std::time_t now = At(20, 12);
    std::vector<TLedgerRecord> records = {
        // 12: data yesterday evening (17 h ago), which the host did not take, answers the
        // request sent before it all the same.
        Asked("12", At(18, 9)),
        Got("12", At(19, 19), 2, 0),
        // 34: data three days ago, a letter without data today, two requests since the data:
        // the first one is the open one.
        Got("34", At(17, 8), 1, 1),
        Asked("34", At(18, 10)),
        Asked("34", At(19, 10)),
        Got("34", At(20, 9), 0, 0),
        // 56: only asked, never heard from.
        Asked("56", At(15, 10)),
        // 99: not in the host's list; a letter 27 hours ago and one 15 days ago (off the strip).
        Got("99", At(19, 9), 1, 1),
        Got("99", At(5, 9), 1, 1),
    };
    // The ledger's noted list names 56; the host's list below does not name it.
    for (const TLedgerRecord& r : StationListRecords({{"56", "Lake"}}, At(1, 0)))
        records.insert(records.begin(), r);
    const std::vector<TStationRow> rows =
        BuildStationOverview(records, {{"12", "North"}, {"34", "South"}, {"56", ""}}, now, 26);

    ASSERT_EQ(rows.size(), 4u);
    // Late first (56 never heard from, 99 silent 27 h), in list order then by code.
    EXPECT_EQ(rows[0].Code, "56");
    EXPECT_TRUE(rows[0].Late);
    EXPECT_EQ(rows[0].Name, "Lake");
    EXPECT_EQ(rows[0].LastLetter, 0);
    EXPECT_EQ(rows[0].OpenRequest, At(15, 10));
    EXPECT_EQ(rows[1].Code, "99");
    EXPECT_TRUE(rows[1].Late);
    EXPECT_FALSE(rows[1].Listed);
    EXPECT_EQ(rows[1].DayStrip(), "............#.");
    EXPECT_EQ(rows[2].Code, "12");
    EXPECT_FALSE(rows[2].Late);
    EXPECT_EQ(rows[2].LastData, At(19, 19));
    EXPECT_EQ(rows[2].OpenRequest, 0);
    EXPECT_EQ(rows[2].DayStrip(), "............+.");
    EXPECT_EQ(rows[3].Code, "34");
    EXPECT_FALSE(rows[3].Late);
    EXPECT_EQ(rows[3].LastLetter, At(20, 9));
    EXPECT_EQ(rows[3].LastData, At(17, 8));
    EXPECT_EQ(rows[3].OpenRequest, At(18, 10));
    EXPECT_EQ(rows[3].DayStrip(), "..........#..+");

    // One hour more of silence makes 12 late too; a limit of 28 hours spares 99.
    EXPECT_FALSE(BuildStationOverview(records, {{"12", ""}}, At(20, 21), 26)[2].Late);
    const auto later = BuildStationOverview(records, {{"12", ""}}, At(20, 22), 26);
    EXPECT_EQ(later[0].Code, "12");
    EXPECT_TRUE(later[0].Late);
    const auto lenient = BuildStationOverview(records, {}, now, 28);
    for (const TStationRow& row : lenient)
        EXPECT_EQ(row.Late, row.Code == "56") << row.Code;
}

} // namespace
} // namespace tzn
