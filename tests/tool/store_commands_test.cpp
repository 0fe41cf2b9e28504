// The tool's store commands, run as a process against a private TZN_ROOT.
#include "temp_root.h"
#include "tool/tool_runner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace tzn {
namespace {

using test::ToolRun;

class StoreCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::WriteFile(FRoot.Path("C/WINDOWS/cnf.INI"),
                        "[EMail]\r\nEMail=work@example.test\r\nMailDir=C:\\MAIL\\\r\n");
        FAttachment = FRoot.Path("att.dat").string();
        test::WriteFile(FAttachment, "station data");
    }
    // Runs the tool with `args` (already shell-quoted); stdout is captured.
    ToolRun Tool(const std::string& args) {
        return test::RunCommand("TZN_ROOT='" + FRoot.Dir().string() + "' " + test::ToolCommand() +
                                " " + args + " 2>/dev/null");
    }
    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string l; std::getline(in, l);)
            lines.push_back(l);
        return lines;
    }
    static std::vector<std::string> Fields(const std::string& line) {
        std::vector<std::string> f;
        std::istringstream in(line);
        for (std::string c; std::getline(in, c, '\t');)
            f.push_back(c);
        return f;
    }

    test::TempRoot FRoot;
    std::string FAttachment;
};

TEST_F(StoreCommandsTest, ComposeStoresInOutBoxAndListShowsIt) {
    const ToolRun composed =
        Tool("compose --station 'АЗС-5' --to-name 17 --to st17@example.test --attach '" +
             FAttachment + "'");
    ASSERT_EQ(composed.Status, 0);
    const std::string name = Lines(composed.Out).at(0);
    const auto stored = FRoot.Path("C/MAIL/OutBox/" + name);
    ASSERT_TRUE(std::filesystem::exists(stored)) << name;
    EXPECT_TRUE(std::filesystem::exists(FAttachment)); // the administrator's file stays

    const ToolRun list = Tool("store list");
    ASSERT_EQ(list.Status, 0);
    const std::vector<std::string> lines = Lines(list.Out);
    ASSERT_EQ(lines.size(), 1u);
    const std::vector<std::string> f = Fields(lines[0]);
    ASSERT_EQ(f.size(), 7u);
    EXPECT_EQ(f[0], "outbox");
    EXPECT_EQ(f[1], name);
    EXPECT_EQ(f[2], "\"АЗС-5\" <work@example.test>");
    EXPECT_EQ(f[3], "17 <st17@example.test>");
    EXPECT_EQ(f[4], "TZN-17");
    EXPECT_EQ(f[5].size(), std::string("dd.mm.yyyy hh:nn:ss").size());
    EXPECT_EQ(f[6], std::to_string(std::filesystem::file_size(stored)));

    const ToolRun json = Tool("store list outbox --json");
    ASSERT_EQ(json.Status, 0);
    EXPECT_NE(json.Out.find("\"file\":\"" + name + "\""), std::string::npos);
    EXPECT_NE(json.Out.find("\"from\":\"\\\"АЗС-5\\\" <work@example.test>\""), std::string::npos);
    EXPECT_NE(json.Out.find("\"subject\":\"TZN-17\""), std::string::npos);
    EXPECT_EQ(Tool("store list inbox").Out, "");
}

TEST_F(StoreCommandsTest, ListsFoldersInOrderAndSkipsBrokenFiles) {
    const std::string letter = "From: 77 <a@example.test>\r\nTo: work@example.test\r\n"
                               "Subject: TZN-12 report\r\n\r\nbody\r\n.\r\n";
    test::WriteFile(FRoot.Path("C/MAIL/Sent/0101-000000-0.eml"), letter);
    test::WriteFile(FRoot.Path("C/MAIL/InBox/0101-000000-0.eml"), letter);
    test::WriteFile(FRoot.Path("C/MAIL/InBox/0101-000000-1.eml"), std::string(100, '\0'));
    const std::vector<std::string> lines = Lines(Tool("store list all").Out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Fields(lines[0])[0], "inbox");
    EXPECT_EQ(Fields(lines[0])[4], "TZN-12 report");
    EXPECT_EQ(Fields(lines[1])[0], "sent");
}

TEST_F(StoreCommandsTest, BadArgumentsAndMissingAttachment) {
    EXPECT_EQ(Tool("store list nowhere").Status, 2);
    EXPECT_EQ(Tool("compose --station 1 --to-name 2 --to a@b").Status, 2);
    EXPECT_EQ(Tool("compose --station 1 --to-name 2 --to a@b --attach").Status, 2);
    EXPECT_EQ(Tool("compose --station 1 --to-name 2 --to a@b --attach /nonexistent/x.dat").Status,
              1);
    EXPECT_EQ(Tool("store list").Out, "");
}

} // namespace
} // namespace tzn
