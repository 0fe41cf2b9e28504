// The host application run as a process, and the session log it follows.
#include "host/session_log.h"
#include "platform/cp1251.h"
#include "temp_root.h"
#include "tool/tool_runner.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

namespace tzn {
namespace {

using test::RunCommand;
using test::ShellQuote;
using test::TempRoot;
using test::WriteFile;

TEST(SessionLog, OnlyCompleteLinesAppendedAfterTheStartAreFollowed) {
    TempRoot root;
    const std::filesystem::path log = root.Path("LogFiles/TZNMail.log");
    WriteFile(log, "01.02.2026, 10:00:00 - old line\r\n");
    TSessionLogFollower follower(log);
    std::string line;
    EXPECT_FALSE(follower.Next(line));
    {
        std::ofstream out(log, std::ios::binary | std::ios::app);
        out << ru("01.02.2026, 10:00:01 - Ошибка: x\r\n06.12.2026 - module\r\npart");
    }
    ASSERT_TRUE(follower.Next(line));
    EXPECT_EQ(LogLineText(line), ru("Ошибка: x"));
    ASSERT_TRUE(follower.Next(line));
    EXPECT_EQ(LogLineText(line), "module");
    EXPECT_FALSE(follower.Next(line)); // "part" has no line end yet
    {
        std::ofstream out(log, std::ios::binary | std::ios::app);
        out << "ial\r\n";
    }
    ASSERT_TRUE(follower.Next(line));
    EXPECT_EQ(LogLineText(line), "partial"); // no time stamp: the whole line
    EXPECT_TRUE(IsSessionEndLine(std::string(37, '=')));
    EXPECT_FALSE(IsSessionEndLine(std::string(36, '=')));
}

class TznHostTest : public ::testing::Test {
protected:
    void WriteConfig(const std::string& side) {
        WriteFile(FRoot.Path("host.ini"),
                  "[Host]\nSide=" + side +
                      "\nStationCode=12\nDataFile=C:\\PLAV\\DATA\\tzn.dat\nImportDir=import\n"
                      "[Stations]\nS12=12,АЗС 12\n");
    }
    // tznhost with these words, in the test's root folder (its LogFiles folder lies there).
    test::ToolRun Host(const std::string& words) {
        return RunCommand("cd " + ShellQuote(FRoot.Dir().string()) +
                          " && TZN_ROOT=" + ShellQuote(FRoot.Dir().string()) + " " +
                          ShellQuote(TZN_HOST_PATH) + " " + words + " 2>&1");
    }
    TempRoot FRoot;
};

TEST_F(TznHostTest, TheMenuCommandListsTheModuleCommandsOfEachSide) {
    WriteConfig("station");
    const test::ToolRun station = Host("--config host.ini --headless menu version");
    EXPECT_EQ(station.Status, 0) << station.Out;
    EXPECT_NE(station.Out.find("Связь с о&фисом\n  -\n  Электронная почта\n  Получить почту\n"
                               "  Отправить почту\n  Создать письмо-отчет\n  -\n  Настройки\n"
                               "    Электронная почта \n"),
              std::string::npos)
        << station.Out;
    EXPECT_NE(station.Out.find("8.01 от 15.12.2008\n"), std::string::npos);

    WriteConfig("office");
    const test::ToolRun office = Host("--config host.ini --headless menu");
    EXPECT_EQ(office.Status, 0) << office.Out;
    EXPECT_NE(office.Out.find("Связь\n  -\n  Электронная почта\n  Получить почту\n"
                              "  Отправить почту\n  Создать письмо-запрос\n"
                              "  Создать письмо-запрос для всех АЗС\n  -\n  Настройки\n"),
              std::string::npos)
        << office.Out;
    EXPECT_TRUE(std::filesystem::is_directory(FRoot.Path("LogFiles")));
}

TEST_F(TznHostTest, HelpGivesAnExampleForEveryHeadlessCommand) {
    const test::ToolRun r = Host("--help");
    ASSERT_EQ(r.Status, 0) << r.Out;
    const size_t list = r.Out.find("Headless commands");
    const size_t examples = r.Out.find("\nExamples:\n");
    ASSERT_NE(list, std::string::npos);
    ASSERT_NE(examples, std::string::npos);
    // The words after --headless in the examples.
    std::set<std::string> shown;
    std::istringstream exampleLines(r.Out.substr(examples));
    for (std::string line; std::getline(exampleLines, line);)
        if (const size_t h = line.find("--headless "); h != std::string::npos) {
            std::istringstream words(line.substr(h));
            for (std::string w; words >> w;)
                shown.insert(w);
        }
    std::istringstream in(r.Out.substr(list, examples - list));
    size_t commands = 0;
    for (std::string line; std::getline(in, line);) {
        // A command line of the list: two blanks, the command word, blanks, what it does.
        if (line.rfind("  ", 0) != 0 || line[2] == ' ' || line[2] == '-')
            continue;
        const std::string word = line.substr(2, line.find(' ', 2) - 2);
        ++commands;
        EXPECT_TRUE(shown.count(word)) << "no example for " << word;
    }
    EXPECT_GE(commands, 5u) << r.Out;
    EXPECT_NE(r.Out.find("--screenshot", examples), std::string::npos);
}

TEST_F(TznHostTest, ABadCommandLineOrConfigurationEndsWithStatusTwo) {
    WriteConfig("station");
    for (const std::string words :
         {"--headless menu", "--config host.ini --headless", "--config host.ini --headless fly",
          "--config host.ini menu", "--config host.ini --headless --timeout 0 menu",
          "--config missing.ini --headless menu",
          "--config host.ini --plugin nowhere.so --headless menu"}) {
        const test::ToolRun r = Host(words);
        EXPECT_EQ(r.Status, 2) << words << "\n" << r.Out;
        EXPECT_NE(r.Out.find("tznhost: "), std::string::npos) << words << "\n" << r.Out;
    }
    WriteConfig("moon");
    const test::ToolRun bad = Host("--config host.ini --headless menu");
    EXPECT_EQ(bad.Status, 2);
    EXPECT_NE(bad.Out.find("[Host] Side"), std::string::npos) << bad.Out;
}

TEST_F(TznHostTest, ASessionThatLogsNothingCountsAsNeverStarted) {
    // The host sees a session only through its log file. With the file's name taken by a
    // folder the session runs but no line reaches the file: the wait for its first line ends
    // at the start timeout, and the commands after it do not run.
    WriteConfig("office");
    std::filesystem::create_directories(FRoot.Path("LogFiles/TZNMail.log"));
    const test::ToolRun get = Host("--config host.ini --headless --start-timeout 1 get menu");
    EXPECT_EQ(get.Status, 1) << get.Out;
    EXPECT_NE(get.Out.find("tznhost: get: no session started: nothing was logged within 1 s"),
              std::string::npos)
        << get.Out;
    EXPECT_EQ(get.Out.find("Связь\n"), std::string::npos) << "menu ran after a failure";
}

} // namespace
} // namespace tzn
