// A host that loads the plug-in, runs a full session through it and unloads it, ten times
// over: every cycle takes its letter from the server, imports it and sends the reply. Run in
// the sanitizer build, the leak checker sees whatever a cycle leaves behind.
#include "integration/session_fixture.h"
#include "module/password.h"
#include "plugin_host.h"
#include "qt_environment.h"

#include <gtest/gtest.h>

namespace tzn::test {
namespace {

constexpr size_t kCycleBox = 40;   // the station's account
constexpr size_t kCycleReply = 41; // the replies' addressee
constexpr int kCycles = 10;

const auto* const kQtHost = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class PluginCycles : public SessionFixture {};

TEST_F(PluginCycles, LoadSessionUnloadTenTimes) {
    const MailUser& box = User(kCycleBox);
    const MailUser& peer = User(kCycleReply);
    Empty(box);
    Empty(peer);
    // The plug-in's own settings, and the host suite's connection library saying "online".
    WriteFile(FRoot->Path("C/WINDOWS/cnf.INI"),
              "[EMail]\r\nMailDir=C:\\PMAIL\r\nEMail=" + peer.Address +
                  "\r\nSMTPHost=127.0.0.1\r\nPOP3Host=127.0.0.1\r\nSMTPPort=" +
                  std::to_string(FEnv.SmtpPort) + "\r\nPOP3Port=" + std::to_string(FEnv.Pop3Port) +
                  "\r\nUserName=" + box.Login +
                  "\r\nPassword=" + EncodePassword(box.Login, box.Password) +
                  "\r\nReadTimeout=30\r\nCAFile=" + FEnv.CAFile + "\r\n");
    std::filesystem::create_directories(FRoot->Path("C/PLAV/LogFiles"));
    std::filesystem::copy_file(TZN_FAKE_CONNECT_INET, FRoot->Path("C/PLAV/TZNConnectInet.so"));
    ::setenv("TZN_FAKE_INET_Connect", "1", 1);
    int replies = 0;
    FHost.ImportAnswer = [&](const std::string&) {
        const auto file = FRoot->Path("C/Data/Exchange/answer-" + std::to_string(++replies));
        WriteFile(file, "answer");
        return file.string();
    };

    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        const std::string data = "cycle " + std::to_string(cycle);
        Deposit(box, "Office", peer.Address, "TZN-12 " + data, data);
        Plugin plugin;
        ASSERT_TRUE(plugin.Loaded());
        ASSERT_EQ(plugin.Get<TznLoadFn>("Load")(nullptr, 0, &FHost), 0);
        EXPECT_TRUE(plugin.Get<TznAutoSendMailFn>("AutoSendMail")());
        const auto lines = SessionLines(FRoot->Path("LogFiles/TZNMail.log"), cycle + 1);
        EXPECT_EQ(plugin.Get<TznUnLoadFn>("UnLoad")(), 0);
        plugin.Close();
        ASSERT_EQ(FHost.Imports.size(), static_cast<size_t>(cycle) + 1)
            << ::testing::PrintToString(lines);
        EXPECT_EQ(FHost.Imports.back().ContentSeen, data);
    }
    EXPECT_EQ(Count(box), 0);
    EXPECT_EQ(WaitForCount(peer, kCycles), kCycles) << "one reply per cycle";
    Empty(peer);
}

} // namespace
} // namespace tzn::test
