// The host application run as a process against the real loopback Postfix and Dovecot: a
// station's send-only session printed and logged, the office collecting its own letter (and
// leaving one for "TZN-Officer") with the data file imported and a reply sent back, and a
// session whose SMTP server is down.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "loopback.h"
#include "mail/message.h"
#include "mail_server.h"
#include "module/password.h"
#include "platform/cp1251.h"
#include "temp_root.h"
#include "tool/tool_runner.h"

namespace tzn {
namespace {

// Mailboxes of this file.
constexpr size_t kStation = 16;   // the station's account; the office's reply arrives here
constexpr size_t kOffice = 17;    // the office's mailbox, emptied by its session
constexpr size_t kReportsTo = 18; // where the station's send-only session delivers
// Office mailboxes of their own for tests that may run beside the one above.
constexpr size_t kUnsizedOffice = 26;
constexpr size_t kFailingOffice = 27;

const std::string kClosing(37, '=');

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        if (!l.empty() && l.back() == '\r')
            l.pop_back();
        out.push_back(l);
    }
    return out;
}

class TznHostSession : public test::MailServerTest {
protected:
    void SetUp() override {
        test::MailServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        // The host suite's connection library, answering (by the environment tznhost gets)
        // that the computer is online.
        std::filesystem::create_directories(FRoot.Path("C/PLAV"));
        std::filesystem::copy_file(TZN_FAKE_CONNECT_INET, FRoot.Path("C/PLAV/TZNConnectInet.so"));
    }
    // The module's settings: the session logs in as `account`; EMail is the other side.
    void Settings(const test::MailUser& account, const std::string& email, uint16_t smtpPort) {
        test::WriteFile(
            FRoot.Path("C/WINDOWS/cnf.INI"),
            "[EMail]\r\nEMail=" + email + "\r\nSMTPHost=127.0.0.1\r\nPOP3Host=127.0.0.1" +
                "\r\nSMTPPort=" + std::to_string(smtpPort) +
                "\r\nPOP3Port=" + std::to_string(FEnv.Pop3Port) + "\r\nUserName=" + account.Login +
                "\r\nPassword=" + EncodePassword(account.Login, account.Password) +
                "\r\nReadTimeout=30\r\nConnectTimeout=10\r\nCAFile=" + FEnv.CAFile + "\r\n");
    }
    void HostConfig(const std::string& side, const std::string& code, const std::string& extra) {
        test::WriteFile(FRoot.Path("host.ini"), "[Host]\nSide=" + side + "\nStationCode=" + code +
                                                    "\nDataFile=C:\\PLAV\\DATA\\tzn.dat\n"
                                                    "ImportDir=import\n" +
                                                    extra);
    }
    // A shell command line run in the root with TZN_ROOT set; standard error goes to a file.
    test::ToolRun InRoot(const std::string& command) {
        return test::RunCommand("cd " + test::ShellQuote(FRoot.Dir().string()) +
                                " && TZN_ROOT=" + test::ShellQuote(FRoot.Dir().string()) +
                                " TZN_FAKE_INET_Connect=1 " + command + " 2>stderr.txt");
    }
    test::ToolRun Host(const std::string& commands) {
        return InRoot(test::ShellQuote(TZN_HOST_PATH) +
                      " --config host.ini --headless --timeout 60 " + commands);
    }
    std::string Stderr() const { return test::ReadFile(FRoot.Path("stderr.txt")); }
    // The station's report letter to `to`, put into OutBox by the tool as an operator would.
    void ComposeReport(const std::string& to) {
        test::WriteFile(FRoot.Path("report.zip"), "report data");
        const test::ToolRun r =
            InRoot(test::ToolCommand({"compose", "--station", "12", "--to-name", "Office", "--to",
                                      to, "--attach", "report.zip"}));
        ASSERT_EQ(r.Status, 0) << r.Out << Stderr();
        ASSERT_EQ(test::FilesBelow(Box("OutBox")).size(), 1u);
    }
    std::filesystem::path Box(const std::string& folder) const {
        return FRoot.Path("C/PLAV/OFFICE/MAIL/" + folder);
    }
    // Puts a letter from station 12 into the office's mailbox.
    void Deposit(const std::string& subject, const std::filesystem::path& attachment,
                 size_t office = kOffice) {
        TMxMessage m;
        m.From().Name = "12";
        m.From().Address = User(kStation).Address;
        m.Recipients.SetEMailAddresses(User(office).Address);
        m.Subject = subject;
        m.Body = {"data follows"};
        m.MessageParts.AddAttachment(attachment.string());
        TMxSMTP smtp;
        ConfigureSmtp(smtp, User(kStation));
        smtp.ConnectToServer();
        smtp.SendMail(m);
        smtp.CloseConnection();
    }

    test::TempRoot FRoot;
};

TEST_F(TznHostSession, StationSendsItsOutBoxAndPrintsTheLoggedLines) {
    const std::string to = "Office <" + User(kReportsTo).Address + ">";
    Empty(User(kReportsTo));
    Settings(User(kStation), User(kReportsTo).Address, FEnv.SmtpPort);
    ComposeReport(User(kReportsTo).Address);
    HostConfig("station", "12", "");

    const test::ToolRun r = Host("send");
    EXPECT_EQ(r.Status, 0) << r.Out << Stderr();
    EXPECT_EQ(Lines(r.Out),
              (std::vector<std::string>{
                  "Соединение с почтовым сервером...", "Соединение с SMTP сервером прошло удачно.",
                  "Отправка почты - 1 писем в очереди.", "Отправка письма для " + to,
                  "Отправлено письмо для " + to, "Завершение соединения с почтовым сервером...",
                  "Соединение завершено. Отправлено 1 писем.", kClosing}))
        << Stderr();
    EXPECT_TRUE(test::FilesBelow(Box("OutBox")).empty());
    EXPECT_EQ(test::FilesBelow(Box("Sent")).size(), 1u);
    EXPECT_EQ(WaitForCount(User(kReportsTo), 1), 1);

    // The file holds the same lines in CP1251, each after its date and time.
    const std::vector<std::string> logged =
        Lines(test::ReadFile(FRoot.Path("LogFiles/TZNMail.log")));
    ASSERT_EQ(logged.size(), 8u);
    for (const std::string& l : logged)
        EXPECT_THAT(l, ::testing::MatchesRegex(
                           "[0-9]{2}\\.[0-9]{2}\\.[0-9]{4}, [0-9]{2}:[0-9]{2}:[0-9]{2} - .+"));
    EXPECT_EQ(logged[2].substr(23), ru("Отправка почты - 1 писем в очереди."));
}

TEST_F(TznHostSession, OfficeTakesItsLetterImportsTheFileAndRepliesLeavingTheOfficersLetter) {
    Empty(User(kOffice));
    Empty(User(kStation));
    std::string data;
    for (int i = 0; i < 256; ++i)
        data += static_cast<char>(i);
    data += "\r\n.\r\nend\n"; // a lone dot and both line ends must survive the way
    test::WriteFile(FRoot.Path("send/sales.dat"), data);
    test::WriteFile(FRoot.Path("send/other.dat"), "for the officer");
    Deposit("TZN-Office sales", FRoot.Path("send/sales.dat"));
    Deposit("TZN-Officer other", FRoot.Path("send/other.dat"));
    ASSERT_EQ(WaitForCount(User(kOffice), 2), 2);
    test::WriteFile(FRoot.Path("reply.txt"), "thank you");
    Settings(User(kOffice), User(kStation).Address, FEnv.SmtpPort);
    HostConfig("office", "Office", "ReplyFile=reply.txt\nCount=2\n");

    const test::ToolRun r = Host("get");
    EXPECT_EQ(r.Status, 0) << r.Out << Stderr();
    EXPECT_NE(r.Out.find("Получено письмо от: 12 <" + User(kStation).Address + ">\n"),
              std::string::npos)
        << r.Out;

    const auto imported = test::FilesBelow(FRoot.Path("import/12"));
    ASSERT_EQ(imported.size(), 1u) << r.Out;
    EXPECT_THAT(imported[0].filename().string(),
                ::testing::MatchesRegex("[0-9]{8}-[0-9]{6}-sales\\.dat"));
    EXPECT_EQ(test::ReadFile(imported[0]), data);
    const auto inbox = test::FilesBelow(Box("InBox"));
    ASSERT_EQ(inbox.size(), 1u);
    EXPECT_NE(test::ReadFile(inbox[0]).find("TZN-Office sales"), std::string::npos);
    // Only the officer's letter is left on the server.
    EXPECT_EQ(Count(User(kOffice)), 1);
    // The reply went out in the same session, to the address of the other side.
    EXPECT_TRUE(test::FilesBelow(Box("OutBox")).empty()) << r.Out;
    EXPECT_EQ(WaitForCount(User(kStation), 1), 1) << r.Out;
}

TEST_F(TznHostSession, WithTheNoSizeMarkerEveryLetterSaysItsSizeWasNotAsked) {
    Empty(User(kUnsizedOffice));
    test::WriteFile(FRoot.Path("send/sales.dat"), "sales");
    Deposit("TZN-Office sales", FRoot.Path("send/sales.dat"), kUnsizedOffice);
    ASSERT_EQ(WaitForCount(User(kUnsizedOffice), 1), 1);
    test::WriteFile(FRoot.Path("C/PLAV/NoSizeMSG.ini"), "");
    Settings(User(kUnsizedOffice), User(kStation).Address, FEnv.SmtpPort);
    HostConfig("office", "Office", "");

    const test::ToolRun r = Host("get");
    EXPECT_EQ(r.Status, 0) << r.Out << Stderr();
    const auto lines = Lines(r.Out);
    const auto found = std::find(lines.begin(), lines.end(),
                                 "Найдено письмо от: 12 <" + User(kStation).Address + ">");
    ASSERT_NE(found, lines.end()) << r.Out;
    ASSERT_NE(found + 1, lines.end());
    EXPECT_EQ(*(found + 1), "определение размера письма пропущено");
    EXPECT_EQ(Count(User(kUnsizedOffice)), 0);
}

TEST_F(TznHostSession, ALetterLeftUnprocessedOnTheServerFailsTheSession) {
    Empty(User(kFailingOffice));
    test::WriteFile(FRoot.Path("send/sales.dat"), "sales");
    Deposit("TZN-Office sales", FRoot.Path("send/sales.dat"), kFailingOffice);
    ASSERT_EQ(WaitForCount(User(kFailingOffice), 1), 1);
    // A folder where the data file goes: it cannot be replaced, the letter cannot be processed.
    std::filesystem::create_directories(FRoot.Path("C/PLAV/DATA/sales.dat/inside"));
    Settings(User(kFailingOffice), User(kStation).Address, FEnv.SmtpPort);
    HostConfig("office", "Office", "");

    const test::ToolRun r = Host("get");
    EXPECT_EQ(r.Status, 1) << r.Out << Stderr();
    const auto lines = Lines(r.Out);
    const auto has = [&](const std::string& prefix) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    };
    EXPECT_TRUE(has("Письмо не обработано, оставлено на сервере: 12 <")) << r.Out;
    EXPECT_TRUE(has("Ошибка: не обработано и оставлено на сервере писем: 1")) << r.Out;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), kClosing);
    EXPECT_NE(Stderr().find("Не обработано письмо от 12\rНе удален временный файл"),
              std::string::npos)
        << Stderr();
    EXPECT_NE(Stderr().find("tznhost: get: the session reported an error"), std::string::npos);
    EXPECT_EQ(Count(User(kFailingOffice)), 1);
}

TEST_F(TznHostSession, ASessionWhoseSmtpServerIsDownFailsAndKeepsTheLetter) {
    const uint16_t closed = test::ClosedLoopbackPort();
    Settings(User(kStation), User(kReportsTo).Address, closed);
    ComposeReport(User(kReportsTo).Address);
    HostConfig("station", "12", "");

    const test::ToolRun r = Host("send");
    EXPECT_EQ(r.Status, 1) << r.Out << Stderr();
    bool reported = false;
    for (const std::string& l : Lines(r.Out))
        reported = reported || l.rfind("Ошибка соединения с SMTP сервером: ", 0) == 0;
    EXPECT_TRUE(reported) << r.Out;
    EXPECT_NE(Stderr().find("tznhost: send: the session reported an error"), std::string::npos)
        << Stderr();
    EXPECT_EQ(test::FilesBelow(Box("OutBox")).size(), 1u);
    EXPECT_TRUE(test::FilesBelow(Box("Sent")).empty());
}

} // namespace
} // namespace tzn
