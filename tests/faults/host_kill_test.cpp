// The office's host process killed (SIGKILL) in the middle of a session, at the moments that
// matter: a letter coming down, a letter imported but not yet deleted on the server, the
// reply going up before and after its end. The host is started again and its session must
// leave every letter imported once, stored once and sent once.
#include "fault_proxy.h"
#include "integration/mail_server.h"
#include "mail/message.h"
#include "module/password.h"
#include "platform/folder_lock.h"
#include "session/session_state.h"
#include "temp_root.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <thread>

extern char** environ;

namespace tzn::test {
namespace {

// Mailboxes of this file: each test its own pair, as tests run side by side.
constexpr size_t kOfficeBox = 44;
constexpr size_t kStationBox = 45;
constexpr size_t kSharedOfficeBox = 29;
constexpr size_t kSharedStationBox = 30;

size_t FilesIn(const std::filesystem::path& dir, const std::string& content = {}) {
    size_t n = 0;
    if (std::filesystem::is_directory(dir))
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
            n += e.is_regular_file() && e.path().extension() != ".tmp" &&
                 (content.empty() || ReadFile(e.path()) == content);
    return n;
}

class HostKill : public MailServerTest {
protected:
    void SetUp() override {
        MailServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        FPop.emplace(FEnv.Pop3Port, TFaultProtocol::Pop3);
        FSmtp.emplace(FEnv.SmtpPort, TFaultProtocol::Smtp);
        std::filesystem::create_directories(FRoot.Path("C/PLAV"));
        std::filesystem::copy_file(TZN_FAKE_CONNECT_INET, FRoot.Path("C/PLAV/TZNConnectInet.so"));
        const MailUser& office = User(FOfficeBox);
        // In plain text through the proxies, so that they read the dialogue.
        WriteFile(FRoot.Path("C/WINDOWS/cnf.INI"),
                  "[EMail]\r\nEMail=" + User(FStationBox).Address +
                      "\r\nSMTPHost=127.0.0.1\r\nPOP3Host=127.0.0.1\r\nSMTPPort=" +
                      std::to_string(FSmtp->Port()) +
                      "\r\nPOP3Port=" + std::to_string(FPop->Port()) +
                      "\r\nSMTPSecurity=none\r\nPOP3Security=none\r\nUserName=" + office.Login +
                      "\r\nPassword=" + EncodePassword(office.Login, office.Password) +
                      "\r\nReadTimeout=30\r\nConnectTimeout=10\r\n");
        WriteFile(FRoot.Path("host.ini"), "[Host]\nSide=office\nStationCode=Office\n"
                                          "DataFile=C:\\PLAV\\DATA\\tzn.dat\nImportDir=import\n"
                                          "ReplyFile=reply.txt\nCount=2\n");
        WriteFile(FRoot.Path("reply.txt"), "thank you");
        Empty(office);
        Empty(User(FStationBox));
    }
    void TearDown() override {
        FPop.reset();
        FSmtp.reset();
    }

    // The host's "get" session as a process of its own; its pid.
    pid_t StartHost(const std::string& out = "out") {
        const std::string dir = FRoot.Dir().string();
        const std::string command = "cd '" + dir + "' && exec env TZN_ROOT='" + dir +
                                    "' TZN_FAKE_INET_Connect=1 '" TZN_HOST_PATH
                                    "' --config host.ini --headless --timeout 60 get >" +
                                    out + ".txt 2>&1";
        const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
        pid_t pid = -1;
        EXPECT_EQ(
            ::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
        return pid;
    }
    int Wait(pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::filesystem::path Box(const std::string& folder) const {
        return FRoot.Path("C/PLAV/OFFICE/MAIL/" + folder);
    }
    std::string Output(const std::string& out = "out") const {
        return ReadFile(FRoot.Path(out + ".txt"));
    }

    // A station's letter on the server, the host killed once `faulty` holds the answer to
    // `command` back, the host started again.
    void KillRound(const std::string& what, TFaultProxy& faulty, const std::string& command,
                   bool doubled = false) {
        SCOPED_TRACE(what);
        const std::string data = "killed at " + what;
        for (const char* folder : {"InBox", "OutBox", "Sent"})
            std::filesystem::remove_all(Box(folder) / "");
        WriteFile(FRoot.Path("send/station.dat"), data);
        TMxMessage m;
        m.From().Name = "12";
        m.From().Address = User(FStationBox).Address;
        m.Recipients.SetEMailAddresses(User(FOfficeBox).Address);
        m.Subject = "TZN-Office " + what;
        m.MessageParts.AddAttachment(FRoot.Path("send/station.dat").string());
        TMxSMTP smtp;
        ConfigureSmtp(smtp, User(FStationBox));
        smtp.ConnectToServer();
        smtp.SendMail(m);
        smtp.CloseConnection();
        ASSERT_EQ(WaitForCount(User(FOfficeBox), 1), 1);
        const int acceptedBefore = FSmtp->AcceptedLetters();

        TFaultPlan plan;
        plan.Action = TFaultAction::DelayReply;
        plan.Delay = std::chrono::seconds(20);
        plan.Verb = command;
        faulty.Arm(plan);
        const pid_t pid = StartHost();
        ASSERT_GT(pid, 0);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!faulty.Fired() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::kill(pid, SIGKILL);
        EXPECT_EQ(Wait(pid), -1);
        ASSERT_TRUE(faulty.Fired()) << Output();

        const std::string killedRun = Output();
        const size_t imports = FilesIn(FRoot.Path("import"), data);
        EXPECT_LE(imports, 1u) << killedRun;
        EXPECT_EQ(FilesIn(Box("InBox")), imports) << killedRun;
        if (imports == 0) {
            EXPECT_EQ(Count(User(FOfficeBox)), 1) << killedRun;
        }
        EXPECT_EQ(FilesIn(Box("OutBox")) + FilesIn(Box("Sent")), imports) << "one reply";

        EXPECT_EQ(Wait(StartHost()), 0) << Output();
        EXPECT_EQ(FilesIn(FRoot.Path("import"), data), 1u) << killedRun << Output();
        EXPECT_EQ(FilesIn(Box("InBox")), 1u) << Output();
        EXPECT_EQ(Count(User(FOfficeBox)), 0) << Output();
        EXPECT_EQ(FilesIn(Box("OutBox")), 0u) << Output();
        EXPECT_EQ(FilesIn(Box("Sent")), 1u) << Output();
        const int accepted = FSmtp->AcceptedLetters() - acceptedBefore;
        EXPECT_EQ(accepted, doubled ? 2 : 1);
        EXPECT_EQ(WaitForCount(User(FStationBox), accepted), accepted);
        Empty(User(FStationBox));
    }

    TempRoot FRoot;
    std::optional<TFaultProxy> FPop, FSmtp;
    size_t FOfficeBox = kOfficeBox, FStationBox = kStationBox;
};

class TwoHosts : public HostKill {
protected:
    TwoHosts() {
        FOfficeBox = kSharedOfficeBox;
        FStationBox = kSharedStationBox;
    }
};

TEST_F(HostKill, KilledMidSessionAndStartedAgain) {
    KillRound("RETR", *FPop, "RETR");
    KillRound("DELE", *FPop, "DELE");
    KillRound("DATA", *FSmtp, "DATA");
    KillRound(".", *FSmtp, ".", true);
}

// The host and an administrator's second host started at once on one folder: the second
// session waits for the first, then finds the letters taken; each imported and stored once.
TEST_F(TwoHosts, OnOneFolderImportEachLetterOnce) {
    constexpr int kLetters = 50;
    TMxSMTP smtp;
    ConfigureSmtp(smtp, User(FStationBox));
    smtp.ConnectToServer();
    for (int i = 0; i < kLetters; ++i) {
        WriteFile(FRoot.Path("send/station.dat"), "letter " + std::to_string(i));
        TMxMessage m;
        m.From().Name = "12";
        m.From().Address = User(FStationBox).Address;
        m.Recipients.SetEMailAddresses(User(FOfficeBox).Address);
        m.Subject = "TZN-Office " + std::to_string(i);
        m.MessageParts.AddAttachment(FRoot.Path("send/station.dat").string());
        smtp.SendMail(m);
    }
    smtp.CloseConnection();
    ASSERT_EQ(WaitForCount(User(FOfficeBox), kLetters), kLetters);

    const pid_t first = StartHost("first"), second = StartHost("second");
    EXPECT_EQ(Wait(first), 0) << Output("first");
    EXPECT_EQ(Wait(second), 0) << Output("second");
    for (int i = 0; i < kLetters; ++i)
        EXPECT_EQ(FilesIn(FRoot.Path("import"), "letter " + std::to_string(i)), 1u) << i;
    EXPECT_EQ(FilesIn(Box("InBox")), size_t{kLetters});
    EXPECT_EQ(Count(User(FOfficeBox)), 0);
    const std::string both = Output("first") + Output("second");
    EXPECT_NE(both.find("Почтовая папка занята другим сеансом"), std::string::npos) << both;

    // A folder held past the configured wait: the session gives up, takes nothing, and the
    // host says it failed.
    WriteFile(FRoot.Path("C/WINDOWS/cnf.INI"),
              ReadFile(FRoot.Path("C/WINDOWS/cnf.INI")) + "MailFolderWait=1\r\n");
    TFolderLock held;
    ASSERT_TRUE(held.Acquire(Box("").string(), kMailFolderLockName, 0));
    EXPECT_EQ(Wait(StartHost()), 1) << Output();
    EXPECT_NE(Output().find("почтовая папка занята другим сеансом, сеанс не выполнен"),
              std::string::npos)
        << Output();
}

} // namespace
} // namespace tzn::test
