// The station data exchange through tznhost against the real loopback Postfix and Dovecot: a
// station session with nothing to send prepares the current shift's report and delivers it at
// once, and the office's requests travel to two stations whose hosts answer with their data
// archives, unpacked at the office byte for byte.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "mail_server.h"
#include "module/password.h"
#include "temp_root.h"
#include "tool/tool_runner.h"

namespace tzn {
namespace {

using ::testing::HasSubstr;

// Mailboxes of this file.
constexpr size_t kAutoStation = 23; // the station's login for the automatic report
constexpr size_t kAutoOffice = 24;  // where its reports go
constexpr size_t kShared = 25;      // the one working address of the round trip's three sides

class ExchangeRoundTrip : public test::MailServerTest {
protected:
    // One side: its own TZN_ROOT and working folder below the test's root, with the host
    // suite's connection library reporting the computer online.
    std::filesystem::path Side(const std::string& name, const test::MailUser& account,
                               const std::string& email, const std::string& settings,
                               const std::string& host) {
        std::filesystem::path dir = FRoot.Path(name);
        std::filesystem::create_directories(dir / "C/PLAV");
        std::filesystem::copy_file(TZN_FAKE_CONNECT_INET, dir / "C/PLAV/TZNConnectInet.so",
                                   std::filesystem::copy_options::overwrite_existing);
        test::WriteFile(dir / "C/WINDOWS/cnf.INI",
                        "[EMail]\r\nEMail=" + email +
                            "\r\nSMTPHost=127.0.0.1\r\nPOP3Host=127.0.0.1\r\nSMTPPort=" +
                            std::to_string(FEnv.SmtpPort) + "\r\nPOP3Port=" +
                            std::to_string(FEnv.Pop3Port) + "\r\nUserName=" + account.Login +
                            "\r\nPassword=" + EncodePassword(account.Login, account.Password) +
                            "\r\nReadTimeout=30\r\nConnectTimeout=10\r\nCAFile=" + FEnv.CAFile +
                            "\r\n" + settings);
        test::WriteFile(dir / "host.ini", "[Host]\nDataFile=C:\\PLAV\\DATA\\tzn.dat\n"
                                          "ImportDir=import\n" +
                                              host);
        return dir;
    }
    test::ToolRun Host(const std::filesystem::path& side, const std::string& commands) {
        return test::RunCommand("cd " + test::ShellQuote(side.string()) +
                                " && TZN_ROOT=" + test::ShellQuote(side.string()) +
                                " TZN_FAKE_INET_Connect=1 " + test::ShellQuote(TZN_HOST_PATH) +
                                " --config host.ini --headless --timeout 60 " + commands +
                                " 2>stderr.txt");
    }
    static std::string Stderr(const std::filesystem::path& side) {
        return test::ReadFile(side / "stderr.txt");
    }
    static std::filesystem::path Box(const std::filesystem::path& side, const std::string& f) {
        return side / "C/PLAV/OFFICE/MAIL" / f;
    }

    test::TempRoot FRoot;
};

TEST_F(ExchangeRoundTrip, AStationWithNothingToSendReportsItsCurrentShift) {
    Empty(User(kAutoOffice));
    const std::filesystem::path station =
        Side("station", User(kAutoStation), User(kAutoOffice).Address, "AutoOnNoMail=1\r\n",
             "Side=station\nStationCode=12\nShift=7\nExportDir=export\n");
    test::WriteFile(station / "export/shift.dat", "shift data");
    const std::filesystem::path request = station / "C/PLAV/DATA/office.txt";

    const test::ToolRun r = Host(station, "send");
    EXPECT_EQ(r.Status, 0) << r.Out << Stderr(station);
    EXPECT_THAT(r.Out, HasSubstr("Отправка почты - 1 писем в очереди.\n"));
    EXPECT_THAT(test::ReadFile(request), HasSubstr("[Smena]\r\nCount=1\r\nItem0=7\r\n"));
    EXPECT_TRUE(test::FilesBelow(Box(station, "OutBox")).empty());
    ASSERT_EQ(test::FilesBelow(Box(station, "Sent")).size(), 1u);
    EXPECT_THAT(test::ReadFile(test::FilesBelow(Box(station, "Sent"))[0]),
                HasSubstr("Subject: TZN-Office"));
    EXPECT_EQ(WaitForCount(User(kAutoOffice), 1), 1);

    // A shift the host cannot give as a number: nothing is prepared, the session says why.
    std::filesystem::remove(request);
    test::WriteFile(station / "host.ini", "[Host]\nSide=station\nStationCode=12\nShift=abc\n"
                                          "DataFile=C:\\PLAV\\DATA\\tzn.dat\nImportDir=import\n");
    const test::ToolRun bad = Host(station, "send");
    EXPECT_EQ(bad.Status, 1) << bad.Out;
    EXPECT_EQ(bad.Out.rfind("Ошибка: ", 0), 0u) << bad.Out; // the session's first line
    EXPECT_THAT(bad.Out, HasSubstr("\"abc\""));
    EXPECT_FALSE(std::filesystem::exists(request));

    // A letter waiting in OutBox: it goes, and no report is prepared.
    test::WriteFile(station / "waiting.dat", "waiting");
    const test::ToolRun composed = test::RunCommand(
        "cd " + test::ShellQuote(station.string()) +
        " && TZN_ROOT=" + test::ShellQuote(station.string()) + " " +
        test::ToolCommand({"compose", "--station", "12", "--to-name", "Office", "--to",
                           User(kAutoOffice).Address, "--attach", "waiting.dat"}));
    ASSERT_EQ(composed.Status, 0) << composed.Out;
    test::WriteFile(station / "host.ini", "[Host]\nSide=station\nStationCode=12\nShift=8\n"
                                          "DataFile=C:\\PLAV\\DATA\\tzn.dat\nImportDir=import\n");
    const test::ToolRun waiting = Host(station, "send");
    EXPECT_EQ(waiting.Status, 0) << waiting.Out << Stderr(station);
    EXPECT_THAT(waiting.Out, HasSubstr("Отправка почты - 1 писем в очереди.\n"));
    EXPECT_FALSE(std::filesystem::exists(request));
    EXPECT_EQ(WaitForCount(User(kAutoOffice), 2), 2);
}

TEST_F(ExchangeRoundTrip, RequestsForTwoStationsComeBackAsTheirDataArchives) {
    const test::MailUser& shared = User(kShared);
    Empty(shared);
    const std::filesystem::path office =
        Side("office", shared, shared.Address, "",
             "Side=office\nStationCode=Office\nCount=2\n[Stations]\nS30=30,АЗС 30\n"
             "S31=31,АЗС 31\nS32=32,АЗС 32\n");
    std::map<std::string, std::filesystem::path> stations;
    for (const std::string code : {"31", "32"}) {
        stations[code] = Side("s" + code, shared, shared.Address, "",
                              "Side=station\nStationCode=" + code + "\nExportDir=export\n");
        std::string binary = "station " + code + "\r\n.\r\n";
        for (int i = 0; i < 256; ++i)
            binary += static_cast<char>(i);
        test::WriteFile(stations[code] / "export/sales.dat", binary);
        test::WriteFile(stations[code] / "export/db/goods.txt", "goods of " + code);
    }

    const test::ToolRun requests = Host(office, "requests send");
    EXPECT_EQ(requests.Status, 0) << requests.Out << Stderr(office);
    EXPECT_THAT(requests.Out, HasSubstr("request for station 31\nrequest for station 32\n"));
    ASSERT_EQ(WaitForCount(shared, 2), 2);

    for (const auto& [code, station] : stations) {
        const test::ToolRun get = Host(station, "get");
        EXPECT_EQ(get.Status, 0) << get.Out << Stderr(station);
        // Its request was imported, and its data archive went back in the same session.
        EXPECT_EQ(test::FilesBelow(station / "import/station").size(), 1u) << get.Out;
        EXPECT_THAT(get.Out, HasSubstr("Отправка почты - 1 писем в очереди.\n")) << get.Out;
    }
    ASSERT_EQ(WaitForCount(shared, 2), 2); // the two answers; both requests were taken

    const test::ToolRun get = Host(office, "get");
    EXPECT_EQ(get.Status, 0) << get.Out << Stderr(office);
    for (const auto& [code, station] : stations) {
        // One folder per archive: the export folder and the request it answered.
        ASSERT_EQ(test::FilesBelow(office / "import" / code).size(), 3u) << get.Out;
        const std::filesystem::path folder =
            std::filesystem::directory_iterator(office / "import" / code)->path();
        EXPECT_EQ(test::ReadFile(folder / "sales.dat"),
                  test::ReadFile(station / "export/sales.dat"));
        EXPECT_EQ(test::ReadFile(folder / "db/goods.txt"), "goods of " + code);
        EXPECT_THAT(test::ReadFile(folder / ("request-" + code + ".txt")),
                    HasSubstr("Station=" + code + "\r\n"));
    }
    EXPECT_EQ(Count(shared), 0);
}

} // namespace
} // namespace tzn
