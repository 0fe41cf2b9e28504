// tznhost's report and request commands, headless, without a mail server: the letters they
// leave in OutBox and what they print.
#include "platform/cp1251.h"
#include "temp_root.h"
#include "tool/tool_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace tzn {
namespace {

using test::ReadFile;
using test::ShellQuote;
using test::WriteFile;
using ::testing::HasSubstr;
using ::testing::Not;

class ExchangeCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(FRoot.Path("C/WINDOWS/cnf.INI"),
                  "[EMail]\r\nEMail=work@example.test\r\nAddTovarCount=3\r\n");
        WriteFile(FRoot.Path("C/PLAV/SmLogProvider.tsv"),
                  "SmNum\tBegTime\tEndTime\tOperator\r\n5\tb\te\to\r\n6\tb\te\to\r\n"
                  "7\tb\te\to\r\n");
        WriteFile(FRoot.Path("export/sales.dat"), "sales");
    }
    void WriteConfig(const std::string& side, const std::string& extra = "") {
        WriteFile(FRoot.Path("host.ini"),
                  "[Host]\nSide=" + side +
                      "\nStationCode=12\nDataFile=C:\\PLAV\\DATA\\tzn.dat\nImportDir=import\n"
                      "ExportDir=export\n" +
                      extra + "[Stations]\nS12=12,АЗС 12\nS14=14,АЗС 14\n");
    }
    test::ToolRun Host(const std::string& commands) {
        return test::RunCommand("cd " + ShellQuote(FRoot.Dir().string()) + " && TZN_ROOT=" +
                                ShellQuote(FRoot.Dir().string()) + " " + ShellQuote(TZN_HOST_PATH) +
                                " --config host.ini --headless --timeout 60 " + commands + " 2>&1");
    }
    std::vector<std::filesystem::path> OutBox() const {
        std::vector<std::filesystem::path> out;
        const auto dir = FRoot.Path("C/PLAV/OFFICE/MAIL/OutBox");
        if (std::filesystem::is_directory(dir))
            for (const auto& e : std::filesystem::directory_iterator(dir))
                out.push_back(e.path());
        return out;
    }
    test::TempRoot FRoot;
};

TEST_F(ExchangeCommandsTest, ReportTicksTheListedShiftsAndPrintsTheOutcome) {
    WriteConfig("station");
    const test::ToolRun r = Host("report 7 5");
    EXPECT_EQ(r.Status, 0) << r.Out;
    EXPECT_THAT(r.Out, HasSubstr("\nДанные подготовлены (1 писем)\n")) << r.Out;
    EXPECT_EQ(ReadFile(FRoot.Path("C/PLAV/DATA/office.txt")),
              ru("[Trade]\r\nLastUpdate=SendLastUpdates=3\r\n[Smena]\r\nCount=2\r\nItem0=5\r\n"
                 "Item1=7\r\n[Config]\r\nType=1\r\nTradeDB=0\r\n[h]\r\nM=Привет\r\n"));
    ASSERT_EQ(OutBox().size(), 1u);
    const std::string letter = ReadFile(OutBox()[0]);
    EXPECT_THAT(letter, HasSubstr("Subject: TZN-Office"));
    EXPECT_THAT(letter, HasSubstr("12-")); // the station's data archive is attached
    EXPECT_THAT(letter, HasSubstr(".tar.gz"));
    // The archive went into the letter and is gone from the data folder; the request stays.
    for (const auto& e : std::filesystem::directory_iterator(FRoot.Path("C/PLAV/DATA")))
        EXPECT_EQ(e.path().filename(), "office.txt");

    // No shift listed: OK with none ticked.
    const test::ToolRun none = Host("report");
    EXPECT_EQ(none.Status, 0) << none.Out;
    EXPECT_THAT(ReadFile(FRoot.Path("C/PLAV/DATA/office.txt")), HasSubstr("Count=0\r\n"));
}

TEST_F(ExchangeCommandsTest, AShiftTheDialogDoesNotListCancelsIt) {
    WriteConfig("station");
    const test::ToolRun r = Host("report 5 99 menu");
    EXPECT_EQ(r.Status, 1) << r.Out;
    EXPECT_THAT(r.Out, HasSubstr("\nError - Сбой при подготовке данных.\n"));
    EXPECT_THAT(r.Out, HasSubstr("tznhost: report: the shift list has no shift 99"));
    EXPECT_THAT(r.Out, Not(HasSubstr("Связь с о&фисом\n"))) << "menu ran";
    EXPECT_TRUE(OutBox().empty());

    // The shift log on another computer: its error box, then the dialog with no rows.
    WriteConfig("station", "Shift=4\n[Params]\n7=office-srv\n");
    const test::ToolRun far = Host("report 5");
    EXPECT_EQ(far.Status, 1) << far.Out;
    EXPECT_THAT(far.Out, HasSubstr("\nОшибка при загрузке списка смен: ")); // printed
    EXPECT_THAT(far.Out, HasSubstr("Связь с офисом.: Ошибка при загрузке списка смен: "));
    EXPECT_THAT(far.Out, HasSubstr("\"office-srv\""));
    EXPECT_THAT(far.Out, HasSubstr("the shift list has no shift 5"));
}

TEST_F(ExchangeCommandsTest, RequestCommandsPrintTheStationsAsked) {
    WriteConfig("office");
    const test::ToolRun one = Host("request");
    EXPECT_EQ(one.Status, 0) << one.Out;
    EXPECT_THAT(one.Out, HasSubstr("request for station 12\n"));
    EXPECT_THAT(one.Out, Not(HasSubstr("station 14")));
    EXPECT_EQ(OutBox().size(), 1u);
    const test::ToolRun all = Host("requests");
    EXPECT_EQ(all.Status, 0) << all.Out;
    // The first line is the station selected in the host, the lines after it the list.
    EXPECT_THAT(all.Out, HasSubstr("request for station 14\n"));
    EXPECT_THAT(all.Out, Not(HasSubstr("station 12")));
    EXPECT_EQ(OutBox().size(), 2u);
    // A station has no request commands.
    WriteConfig("station");
    const test::ToolRun station = Host("request");
    EXPECT_EQ(station.Status, 1);
    EXPECT_THAT(station.Out, HasSubstr("the menu has no command"));
}

} // namespace
} // namespace tzn
