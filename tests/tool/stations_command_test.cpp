// `tznmail stations`, run as a process on a ledger written by hand: the table, the JSON and
// the exit status a monitoring system acts on.
#include "temp_root.h"
#include "tool/tool_runner.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace tzn {
namespace {

class StationsCommand : public ::testing::Test {
protected:
    void SetUp() override {
        test::WriteFile(FRoot.Path("C/WINDOWS/cnf.INI"), "[EMail]\r\nMailDir=C:\\MAIL\\\r\n");
        const long long now = std::time(nullptr);
        auto at = [&](long long hoursAgo) { return std::to_string(now - hoursAgo * 3600); };
        // The office's noted list (12, 34; 34 named in CP1251), 12 heard 2 h ago, 34 30 h ago
        // and asked since, 77 (not listed) 5 h ago without data.
        test::WriteFile(FRoot.Path("C/MAIL/Exchange.ledger"),
                        at(100) + "\tN\t12\t0\t0\t0\t\tNorth\n" + at(100) +
                            "\tN\t34\t1\t0\t0\t\t\xDE\xE6\xED\xE0\xFF\n" + at(30) +
                            "\tR\t34\t1\t1\t0\t<a>\tTZN-Office\n" + at(20) +
                            "\tS\t34\t1\t0\t1\t<b>\tTZN-34\n" + at(5) +
                            "\tR\t77\t0\t0\t0\t<c>\tTZN-Office\n" + at(2) +
                            "\tR\t12\t2\t2\t0\t<d>\tTZN-Office\n");
    }
    test::ToolRun Tool(const std::string& args) {
        return test::RunCommand("TZN_ROOT='" + FRoot.Dir().string() + "' " + test::ToolCommand() +
                                " stations " + args + " 2>&1");
    }
    test::TempRoot FRoot;
};

TEST_F(StationsCommand, LateStationFirstExitOneUnlessTheLimitSparesIt) {
    const test::ToolRun table = Tool("");
    EXPECT_EQ(table.Status, 1) << table.Out;
    // Header, then 34 (late, marked), 12, 77.
    const size_t late = table.Out.find("\n!  34 ");
    const size_t north = table.Out.find(" 12 ");
    const size_t unlisted = table.Out.find(" 77 ");
    ASSERT_NE(late, std::string::npos) << table.Out;
    EXPECT_LT(late, north);
    EXPECT_LT(north, unlisted);
    EXPECT_NE(table.Out.find("Южная"), std::string::npos) << table.Out;
    EXPECT_NE(table.Out.find("(20 h)"), std::string::npos) << "the open request's age";
    EXPECT_NE(table.Out.find("late (nothing received for over 26 h): 1 of 3"), std::string::npos);

    const test::ToolRun json = Tool("--json --late 31");
    EXPECT_EQ(json.Status, 0) << json.Out;
    EXPECT_EQ(json.Out.rfind("{\"now\": \"", 0), 0u) << json.Out;
    EXPECT_NE(json.Out.find("\"late_hours\": 31, \"stations\": [{\"code\": \"12\", \"name\": "
                            "\"North\", \"listed\": true, \"late\": false"),
              std::string::npos)
        << json.Out;
    EXPECT_NE(
        json.Out.find("{\"code\": \"77\", \"name\": \"\", \"listed\": false, \"late\": false"),
        std::string::npos)
        << json.Out;

    EXPECT_EQ(Tool("--late 0").Status, 2);
    EXPECT_EQ(Tool("--late").Status, 2);
}

} // namespace
} // namespace tzn
