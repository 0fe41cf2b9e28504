// The connection library's loader and wrappers, and the session when the library is present.
#include "network_fixture.h"

namespace tzn {
namespace {

using test::NetworkTest;

TEST_F(NetworkTest, AbsentLibraryIsDoneWithoutSilently) {
    EXPECT_FALSE(LoadConnectInetLibrary());
    EXPECT_FALSE(ConnectInetLibraryLoaded());
    EXPECT_FALSE(InetConnect(1));
    EXPECT_FALSE(InetGetConnectState(2));
}

TEST_F(NetworkTest, EntriesGetTheLowSevenBitsAndAnswerAsTheLibraryDoes) {
    ::setenv("TZN_FAKE_INET_Connect", "1", 1);
    ::setenv("TZN_FAKE_INET_GetConnectState", "0", 1);
    ASSERT_TRUE(InstallLibrary(TZN_FAKE_CONNECT_INET));
    EXPECT_TRUE(ConnectInetLibraryLoaded());
    EXPECT_TRUE(InetConnect(0x81));
    EXPECT_FALSE(InetGetConnectState(0xFF));
    EXPECT_FALSE(InetDisconnect(2));
    EXPECT_FALSE(InetAutoDisconnectValue(0x02));
    const std::string calls =
        "Connect 1\nGetConnectState 127\nDisconnect 2\nAutoDisconnectValue 2\n";
    EXPECT_EQ(InetCalls(), calls);

    UnloadConnectInetLibrary();
    EXPECT_FALSE(ConnectInetLibraryLoaded());
    EXPECT_FALSE(InetConnect(1));
    EXPECT_EQ(InetCalls(), calls); // nothing called after the unload
}

TEST_F(NetworkTest, AMissingEntryAnswersFalseAndKeepsTheSessionFromTheServer) {
    ::setenv("TZN_FAKE_INET_Connect", "1", 1);
    ::setenv("TZN_FAKE_INET_Disconnect", "1", 1);
    ASSERT_TRUE(InstallLibrary(TZN_FAKE_CONNECT_INET_PARTIAL));
    EXPECT_FALSE(InetConnect(1));
    EXPECT_TRUE(InetDisconnect(2));

    TSessionNetwork net(Writer(), Options({{true, kConnectionLan, "eth0"}}));
    EXPECT_FALSE(net.Start());
    EXPECT_TRUE(FLog.empty());
}

TEST_F(NetworkTest, WithTheLibrarySessionsLeaveConnectingToIt) {
    // Settings that would dial and hang up have no effect while the library is loaded.
    EditSettings([](MailSettings& s) { s.ShowDialUp = true; });
    ASSERT_TRUE(InstallLibrary(TZN_FAKE_CONNECT_INET));
    {
        TSessionNetwork net(Writer(), Options({{false, 0, ""}}));
        EXPECT_FALSE(net.Start()); // connect answers false: no mail exchange
        net.End();                 // not connected: no disconnect, no hang-up
    }
    EXPECT_EQ(InetCalls(), "Connect 1\nGetConnectState 2\n");

    ::setenv("TZN_FAKE_INET_Connect", "1", 1);
    ::setenv("TZN_FAKE_INET_GetConnectState", "1", 1);
    std::filesystem::remove(FRoot.Path("inet-calls"));
    {
        TSessionNetwork net(Writer(), Options({{false, 0, ""}}));
        EXPECT_TRUE(net.Start());
        net.End(); // the library declines to disconnect on its own
    }
    EXPECT_EQ(InetCalls(), "Connect 1\nGetConnectState 2\nAutoDisconnectValue 2\n");

    ::setenv("TZN_FAKE_INET_AutoDisconnectValue", "1", 1);
    std::filesystem::remove(FRoot.Path("inet-calls"));
    {
        TSessionNetwork net(Writer(), Options({{false, 0, ""}}));
        EXPECT_TRUE(net.Start());
        net.End();
    }
    EXPECT_EQ(InetCalls(), "Connect 1\nGetConnectState 2\nAutoDisconnectValue 2\nDisconnect 2\n");

    EXPECT_TRUE(FLog.empty());
    EXPECT_EQ(FStateQueries, 0);
    EXPECT_EQ(Calls(), ""); // never dialed, never hung up
}

} // namespace
} // namespace tzn
