// The application server's shift log and the shift list filled from it.
#include "exchange/app_server.h"
#include "exchange/shift_list.h"
#include "exchange/shift_loading.h"
#include "fake_host.h"
#include "fake_window_services.h"
#include "platform/cp1251.h"
#include "platform/paths.h"
#include "temp_root.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tzn {
namespace {

using ::testing::HasSubstr;

class ShiftLogTest : public ::testing::Test {
protected:
    void WriteLog(const std::string& text) {
        test::WriteFile(NativePath("C:\\PLAV\\SmLogProvider.tsv"), text);
    }
    std::vector<std::vector<std::string>> ReadAll(const std::string& computer) {
        auto dataset =
            FServer.Open(computer, "SmLogProvider", {"SmNum", "BegTime", "EndTime", "Operator"});
        std::vector<std::vector<std::string>> rows;
        for (std::vector<std::string> v; dataset->Next(v);)
            rows.push_back(v);
        return rows;
    }
    std::string OpenError(const std::string& computer) {
        try {
            ReadAll(computer);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "no error";
    }

    test::TempRoot FRoot;
    TFileAppServer FServer;
    test::FakeHost FHost;
    test::FakeWindowServices FWindow;
    TShiftList FList;
};

TEST_F(ShiftLogTest, FieldsAreTakenByNameInAnyOrderAndRowsInFileOrder) {
    WriteLog(ru("Operator\tKassa\tsmnum\tBegTime\tEndTime\r\n"
                "Иванова\t1\t18\t01.12.2026 08:00\t01.12.2026 20:00\r\n"
                "Петров\t2\t17\t30.11.2026 20:00\t\n"));
    const std::vector<std::vector<std::string>> expected{
        {"18", "01.12.2026 08:00", "01.12.2026 20:00", ru("Иванова")},
        {"17", "30.11.2026 20:00", "", ru("Петров")}};
    EXPECT_EQ(ReadAll(""), expected);
    // This computer by its own name, in any letter case, is the local server too.
    EXPECT_EQ(ReadAll(AnsiUpperCase(LocalComputerName())), expected);
    // The host's design-time default and the loopback addresses name this computer as well.
    for (const char* local : {"localhost", "LocalHost", "127.0.0.1", "::1"})
        EXPECT_EQ(ReadAll(local), expected) << local;
    WriteLog("SmNum\tBegTime\tEndTime\tOperator\r\n");
    EXPECT_TRUE(ReadAll("").empty());
}

TEST_F(ShiftLogTest, UnreadableLogsAndOtherComputersAreClearErrors) {
    EXPECT_THAT(OpenError(""), HasSubstr("SmLogProvider.tsv")); // no file
    EXPECT_THAT(OpenError("office-srv"), HasSubstr("\"office-srv\""));
    WriteLog("SmNum\tBegTime\tEndTime\r\n1\t2\t3\r\n");
    EXPECT_THAT(OpenError(""), HasSubstr("no field \"Operator\""));
    WriteLog("");
    EXPECT_THAT(OpenError(""), HasSubstr("no line naming the fields"));

    WriteLog("SmNum\tBegTime\tEndTime\tOperator\n5\ta\tb\tc\n6\ta\tb\n");
    auto dataset = FServer.Open("", "SmLogProvider", {"SmNum", "BegTime", "EndTime", "Operator"});
    std::vector<std::string> v;
    ASSERT_TRUE(dataset->Next(v));
    EXPECT_EQ(v.front(), "5");
    try {
        dataset->Next(v);
        ADD_FAILURE() << "a short row was read";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(std::string(e.what()), HasSubstr("line 3 has 3 fields, 4 needed"));
    }
}

TEST_F(ShiftLogTest, AFailedLoadIsShownAndKeepsTheRowsItCouldNotReplace) {
    WriteLog("SmNum\tBegTime\tEndTime\tOperator\r\n7\tb7\te7\to7\r\n8\tb8\te8\to8\r\n");
    FList.SetSelectedShifts({"7"});
    LoadShiftList(FList, FServer, FHost, FWindow);
    ASSERT_EQ(FList.Rows().size(), 2u);
    EXPECT_EQ(FList.Rows()[1].Operator, "o8");
    EXPECT_TRUE(FList.SelectedShifts().empty());
    EXPECT_TRUE(FWindow.Boxes().empty());

    // The server on another computer cannot be reached: the rows of the last load stay.
    FHost.Params[7] = THostVariant("far-away");
    FList.SetSelectedShifts({"8"});
    LoadShiftList(FList, FServer, FHost, FWindow);
    EXPECT_EQ(FList.Rows().size(), 2u);
    EXPECT_TRUE(FList.SelectedShifts().empty());
    ASSERT_EQ(FWindow.Boxes().size(), 1u);
    EXPECT_THAT(FWindow.Boxes()[0].Text, HasSubstr(ru("Ошибка при загрузке списка смен: ")));
    EXPECT_THAT(FWindow.Boxes()[0].Text, HasSubstr("far-away"));

    // A row that cannot be read ends the load with the rows read before it.
    FHost.Params.erase(7);
    WriteLog("SmNum\tBegTime\tEndTime\tOperator\r\n9\tb\te\to\r\nbroken\r\n10\tb\te\to\r\n");
    LoadShiftList(FList, FServer, FHost, FWindow);
    ASSERT_EQ(FList.Rows().size(), 1u);
    EXPECT_EQ(FList.Rows()[0].SmNum, "9");
    EXPECT_EQ(FWindow.Boxes().size(), 2u);
}

} // namespace
} // namespace tzn
