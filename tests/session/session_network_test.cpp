// A session's own network handling (no connection library): the connection state test, the
// dial with its outcomes and the hang-up at the end, each with its exact log lines.
#include "network_fixture.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

namespace tzn {
namespace {

using namespace std::chrono_literals;
using test::kDialing;
using test::kErrorPrefix;
using test::kEstablishedPrefix;
using test::kHangingUp;
using test::kMade;
using test::kNotMade;
using test::NetworkTest;
using Lines = std::vector<std::string>;

TEST_F(NetworkTest, APresentConnectionIsReportedWithItsFlagsAndNameAndNotDialed) {
    {
        TSessionNetwork net(Writer(), Options({{true, kConnectionLan, "eth0"}}));
        EXPECT_TRUE(net.Start());
        net.End();
    }
    {
        // More bits than the three that count; the name ends at its first NUL.
        TSessionNetwork net(Writer(), Options({{true, 0x12, std::string("wlan0\0x", 7)}}));
        EXPECT_TRUE(net.Start());
    }
    {
        TSessionNetwork net(Writer(), Options({{true, 0x1A5, "ppp0"}}));
        EXPECT_TRUE(net.CheckInternet());
    }
    EXPECT_EQ(FLog, (Lines{kEstablishedPrefix + "02).", "eth0", kEstablishedPrefix + "12).",
                           "wlan0", kEstablishedPrefix + "1A5).", "ppp0"}));
    EXPECT_EQ(Calls(), "");
}

TEST_F(NetworkTest, ADialThatConnectsOnTheSessionThreadLetsTheSessionOnAndIsHungUpAtTheEnd) {
    EditSettings([](MailSettings& s) {
        s.UserData = true;
        s.IntLogin = "bob";
        s.IntPassword = "pw";
    });
    // A session runs on a thread of its own; the dialer's events must reach it there.
    bool started = false;
    std::thread session([&] {
        TSessionNetwork net(Writer(), Options({{false, 0, ""}, {true, kConnectionModem, "ppp0"}}));
        started = net.Start();
        net.End();
    });
    session.join();
    EXPECT_TRUE(started);
    EXPECT_EQ(FLog, (Lines{kDialing, kMade, kHangingUp}));
    EXPECT_EQ(Calls(), "dial isp bob pw\nhangup isp\n");
}

TEST_F(NetworkTest, WithoutUserDataTheEntrysOwnUserDials) {
    TSessionNetwork net(Writer(), Options({{true, 0, ""}, {true, kConnectionProxy, ""}}));
    EXPECT_TRUE(net.Start());
    EXPECT_EQ(FLog, (Lines{kDialing, kMade}));
    EXPECT_EQ(Calls(), "dial isp alice \n");
}

TEST_F(NetworkTest, AFailedDialLogsTheErrorTextAndStopsTheSession) {
    SetCommands("exit 1", "exit 0");
    TSessionNetwork net(Writer(), Options({{false, 0, ""}}));
    EXPECT_FALSE(net.Start());
    net.End(); // the session still holds its dialer: the hang-up line, but nothing to hang up
    EXPECT_EQ(FLog, (Lines{kDialing, "The dial command reported an error.", kNotMade, kHangingUp}));
    EXPECT_EQ(Calls(), "dial isp alice \n");
}

TEST_F(NetworkTest, ADialThatCannotStartLogsTheErrorText) {
    for (const std::string entry : {"nosuch", "", "../peers/isp"}) {
        EditSettings([&](MailSettings& s) { s.PhonebookEntry = entry; });
        FLog.clear();
        TSessionNetwork net(Writer(), Options({{false, 0, ""}}));
        EXPECT_FALSE(net.Start());
        EXPECT_EQ(FLog, (Lines{kDialing, "The phonebook entry was not found.", kNotMade})) << entry;
    }
    // A dial command the shell cannot find: the dial-up service is not there.
    SetRasConfig({FRoot.Path("peers").string(), "no-such-dialer-command-tzn", "exit 0"});
    FLog.clear();
    EditSettings([](MailSettings& s) { s.PhonebookEntry = "isp"; });
    TSessionNetwork net(Writer(), Options({{false, 0, ""}}));
    EXPECT_FALSE(net.Start());
    EXPECT_EQ(FLog, (Lines{kDialing, "Function not Supported", kNotMade}));
    EXPECT_EQ(Calls(), "");
}

TEST_F(NetworkTest, ADialThatNeverEndsIsGivenUpAtTheBoundAndItsCommandEnded) {
    const std::string pidFile = FRoot.Path("dial.pid").string();
    SetCommands("echo $$ > '" + pidFile + "'; exec sleep 30", "exit 0");
    const auto begin = std::chrono::steady_clock::now();
    {
        TSessionNetwork net(Writer(), Options({{false, 0, ""}}, 300ms));
        EXPECT_FALSE(net.Start());
    }
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 5s);
    EXPECT_EQ(FLog, (Lines{kDialing, "The connection did not come up in time.", kNotMade}));
    const pid_t pid = std::stoi(test::ReadFile(pidFile));
    EXPECT_TRUE(::kill(pid, 0) != 0 && errno == ESRCH) << "the dial command still runs";
}

TEST_F(NetworkTest, TheInteractiveDialLogsFunctionNotSupportedAndTheStateDecides) {
    EditSettings([](MailSettings& s) { s.ShowDialUp = true; });
    SetCommands("exit 1", "exit 0");
    {
        TSessionNetwork net(Writer(), Options({{false, 0, ""}}));
        EXPECT_FALSE(net.Start());
    }
    EXPECT_EQ(FLog, (Lines{kDialing, "Function not Supported", kNotMade}));

    // Connected, but afterwards the platform reports only LAN: that does not count after a dial.
    SetCommands("exit 0", "exit 0");
    FLog.clear();
    {
        TSessionNetwork net(Writer(), Options({{false, 0, ""}, {true, kConnectionLan, "eth0"}}));
        EXPECT_FALSE(net.Start());
    }
    EXPECT_EQ(FLog, (Lines{kDialing, kNotMade}));

    FLog.clear();
    {
        TSessionNetwork net(Writer(), Options({{false, 0, ""}, {true, kConnectionModem, "ppp0"}}));
        EXPECT_TRUE(net.Start());
    }
    EXPECT_EQ(FLog, (Lines{kDialing, kMade}));
}

TEST_F(NetworkTest, TheEndOfASessionKeepsOrDropsTheConnectionAsConfigured) {
    // DisconnectOnEnd off: the connection outlives the session, nobody hangs it up.
    EditSettings([](MailSettings& s) { s.DisconnectOnEnd = false; });
    {
        TSessionNetwork net(Writer(), Options({{false, 0, ""}, {true, kConnectionModem, "x"}}));
        EXPECT_TRUE(net.Start());
        net.End();
        EXPECT_FALSE(net.HasDialer());
    }
    EXPECT_EQ(FLog, (Lines{kDialing, kMade}));
    EXPECT_EQ(Calls(), "dial isp alice \n");

    // A hang-up that fails is logged; the session ends normally.
    EditSettings([](MailSettings& s) { s.DisconnectOnEnd = true; });
    SetCommands("exit 0", "exit 3");
    FLog.clear();
    {
        TSessionNetwork net(Writer(), Options({{false, 0, ""}, {true, kConnectionModem, "x"}}));
        EXPECT_TRUE(net.Start());
        net.End();
    }
    EXPECT_EQ(FLog, (Lines{kDialing, kMade, kHangingUp,
                           kErrorPrefix + "The hang-up command failed (exit status 3)."}));

    // A session that never dialed has nothing to hang up and says nothing.
    FLog.clear();
    TSessionNetwork net(Writer(), Options({{true, kConnectionLan, "eth0"}}));
    net.HangUpInternet();
    EXPECT_TRUE(FLog.empty());
}

TEST_F(NetworkTest, AFailingLogWriterInsideTheDialIsReportedAsAnError) {
    int calls = 0;
    std::vector<std::string> seen;
    TSessionNetwork net(
        [&](const std::string& line) {
            seen.push_back(line);
            if (++calls == 1)
                throw std::runtime_error("disk full");
        },
        Options({{false, 0, ""}}));
    net.DialInternet();
    EXPECT_EQ(seen, (Lines{kDialing, kErrorPrefix + "disk full"}));
    EXPECT_FALSE(net.HasDialer());
    EXPECT_EQ(Calls(), "");
}

} // namespace
} // namespace tzn
