// The connection state and dial-up stand-ins on their own.
#include "platform/connection_state.h"
#include "platform/ras_dialer.h"
#include "platform/thread_events.h"

#include "temp_root.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace tzn {
namespace {

TEST(ConnectionState, OnlyInterfacesUpWithAnAddressCountAndADialUpLinkNamesTheConnection) {
    std::string name;
    EXPECT_EQ(ConnectionStateOf({{"lo", true, true, false, true},
                                 {"eth0", false, false, false, true},
                                 {"eth1", true, false, false, false}},
                                name),
              0u);
    EXPECT_EQ(name, "");
    EXPECT_EQ(ConnectionStateOf(
                  {{"eth0", true, false, false, true}, {"wlan0", true, false, false, true}}, name),
              kConnectionLan);
    EXPECT_EQ(name, "eth0");
    EXPECT_EQ(ConnectionStateOf(
                  {{"eth0", true, false, false, true}, {"ppp0", true, false, true, true}}, name),
              kConnectionLan | kConnectionModem);
    EXPECT_EQ(name, "ppp0");

    // This machine: the query works, and the loopback interface never counts.
    uint32_t flags = 0xFF;
    ASSERT_TRUE(InternetGetConnectedStateEx(flags, name));
    EXPECT_EQ(flags & ~(kConnectionLan | kConnectionModem), 0u);
    EXPECT_NE(name, "lo");
    EXPECT_EQ(flags == 0, name.empty());
}

class DialerTest : public ::testing::Test {
protected:
    DialerTest() {
        test::WriteFile(FRoot.Path("peers/isp"),
                        "noauth\n# user commented\nuser 'carol smith' # note\n");
        test::WriteFile(FRoot.Path("peers/bare"), "noauth\n");
        SetRasConfig({FRoot.Path("peers").string(), "exit 0",
                      "echo hangup >> '" + FRoot.Path("calls").string() + "'"});
    }
    ~DialerTest() override { SetRasConfig(FSaved); }

    // Waits (up to five seconds) until an outcome waits in this thread's queue; nothing is
    // processed meanwhile.
    static bool OutcomeQueued() {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (CurrentThreadEvents()->Pending() == 0) {
            if (std::chrono::steady_clock::now() >= until)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // Processes this thread's events until `done` or five seconds have passed.
    static void PumpUntil(const std::function<bool()>& done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done() && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ProcessThreadEvents();
        }
    }

    const TRasPlatformConfig FSaved = RasConfig();
    test::TempRoot FRoot;
};

TEST_F(DialerTest, EntriesAreThePhonebookFilesAndCarryTheirUser) {
    TRasDialer d;
    d.SetEntryName("isp");
    EXPECT_EQ(d.UserName, "carol smith");
    d.UserName = "other";
    EXPECT_EQ(d.GetDialParams(), 0);
    EXPECT_EQ(d.UserName, "carol smith");
    d.SetEntryName("bare");
    EXPECT_EQ(d.UserName, "");
    d.SetEntryName("missing");
    EXPECT_EQ(d.GetDialParams(), kRasErrorEntryNotFound);
    EXPECT_EQ(d.Dial(), kRasErrorEntryNotFound);
    EXPECT_EQ(TRasDialer::ErrorText(-1), "Function not Supported");
    EXPECT_EQ(TRasDialer::ErrorText(4711), "Dial-up error 4711.");
}

TEST_F(DialerTest, OutcomesArriveOnlyWhileTheCreatingThreadProcessesItsEvents) {
    TRasDialer d;
    int connected = 0;
    d.OnConnected = [&](TRasDialer* sender) {
        EXPECT_EQ(sender, &d);
        ++connected;
    };
    d.SetEntryName("isp");
    ASSERT_EQ(d.Dial(), 0);
    ASSERT_TRUE(OutcomeQueued());
    EXPECT_EQ(connected, 0); // the command has ended, but nobody processed events
    PumpUntil([&] { return connected > 0; });
    EXPECT_EQ(connected, 1);
    EXPECT_TRUE(d.Connected());
    d.HangUp();
    EXPECT_FALSE(d.Connected());
    d.HangUp(); // nothing held: no second hang-up command
    EXPECT_EQ(test::ReadFile(FRoot.Path("calls")), "hangup\n");
}

TEST_F(DialerTest, ADialerGoneBeforeItsOutcomeFiresNothing) {
    int events = 0;
    {
        TRasDialer d;
        d.OnConnected = [&](TRasDialer*) { ++events; };
        d.OnDialError = [&](TRasDialer*, int) { ++events; };
        d.SetEntryName("isp");
        ASSERT_EQ(d.Dial(), 0);
        ASSERT_TRUE(OutcomeQueued());
    }
    ProcessThreadEvents();
    EXPECT_EQ(events, 0);
    // It was still dialing (as far as it knew), so destroying it hung up.
    EXPECT_EQ(test::ReadFile(FRoot.Path("calls")), "hangup\n");
}

} // namespace
} // namespace tzn
