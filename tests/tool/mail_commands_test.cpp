// The mail commands of the tznmail tool (check, send, fetch), run as a process with the
// settings of a temporary cnf.INI against the loopback mail server of scripts/test.
#include "integration/mail_server.h"
#include "platform/cp1251.h"
#include "temp_root.h"
#include "tool/tool_runner.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>

namespace tzn {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempRoot;
using test::ToolRun;
using test::WriteFile;

// Mailboxes of these tests (the integration tests use 0..5).
constexpr size_t kCheckUser = 6;
constexpr size_t kSendUser = 7;
constexpr size_t kWrongUser = 8;

class MailCommandsTest : public test::MailServerTest {
protected:
    void SetUp() override {
        test::MailServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
    }

    ToolRun Tool(const std::vector<std::string>& args) {
        return test::RunCommand(test::ToolCommand(args) + " 2>" +
                                test::ShellQuote(FRoot.Path("stderr").string()));
    }
    std::string Err() { return ReadFile(FRoot.Path("stderr")); }

    // The settings an administrator enters, through the tool's own settings command. The
    // security keys stay unset (auto): the server offers STARTTLS, so its CA must be known.
    void Settings(const test::MailUser& u, uint16_t smtpPort = 0) {
        const std::vector<std::pair<std::string, std::string>> keys = {
            {"SMTPHost", "127.0.0.1"},
            {"POP3Host", "127.0.0.1"},
            {"SMTPPort", std::to_string(smtpPort ? smtpPort : FEnv.SmtpPort)},
            {"POP3Port", std::to_string(FEnv.Pop3Port)},
            {"UserName", u.Login},
            {"Password", u.Password},
            {"EMail", u.Address},
            {"CAFile", FEnv.CAFile}};
        for (const auto& [k, v] : keys)
            ASSERT_EQ(Tool({"settings", "set", k, v}).Status, 0) << k << ": " << Err();
    }

    static bool Has(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }

    TempRoot FRoot;
};

TEST_F(MailCommandsTest, CheckReportsCapabilitiesLoginAndCount) {
    Settings(User(kCheckUser));
    const ToolRun r = Tool({"check"});
    EXPECT_EQ(r.Status, 0) << r.Out << Err();
    EXPECT_TRUE(Has(r.Out, "PIPELINING")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "AUTH LOGIN: used, accepted")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "logged on as " + User(kCheckUser).Login)) << r.Out;
    EXPECT_TRUE(Has(r.Out, "messages: ")) << r.Out;
}

TEST_F(MailCommandsTest, CheckReportsTheEncryptionOfEachServer) {
    Settings(User(kCheckUser), FEnv.SmtpsPort);
    ASSERT_EQ(Tool({"settings", "set", "SMTPSecurity", "TLS"}).Status, 0) << Err();
    ASSERT_EQ(Tool({"settings", "set", "POP3Security", "none"}).Status, 0) << Err();
    EXPECT_EQ(Tool({"settings", "set", "POP3Security", "ssl"}).Status, 2);
    EXPECT_TRUE(Has(Err(), "POP3Security takes one of auto, none, starttls, tls")) << Err();
    ToolRun r = Tool({"check"});
    EXPECT_EQ(r.Status, 0) << r.Out << Err();
    const size_t pop3 = r.Out.find("POP3 ");
    ASSERT_NE(pop3, std::string::npos) << r.Out;
    const std::string smtpPart = r.Out.substr(0, pop3), pop3Part = r.Out.substr(pop3);
    EXPECT_TRUE(Has(smtpPart, "encrypted: yes, TLSv1.")) << r.Out;
    EXPECT_TRUE(Has(smtpPart, "certificate: O = TZNMail tests, CN = localhost")) << r.Out;
    EXPECT_TRUE(Has(smtpPart, "issued by: O = TZNMail tests, CN = TZNMail test CA")) << r.Out;
    EXPECT_TRUE(Has(smtpPart, "AUTH LOGIN: used, accepted")) << r.Out;
    EXPECT_TRUE(Has(pop3Part, "encrypted: no")) << r.Out;

    // Without the CA the certificate is refused with its reason, never used in clear text.
    ASSERT_EQ(Tool({"settings", "set", "CAFile", ""}).Status, 0) << Err();
    r = Tool({"check"});
    EXPECT_EQ(r.Status, 1) << r.Out;
    EXPECT_TRUE(Has(r.Out, "error: TLS handshake with 127.0.0.1 failed: certificate refused"))
        << r.Out;
    EXPECT_FALSE(Has(r.Out, "AUTH LOGIN:")) << r.Out;
}

TEST_F(MailCommandsTest, CheckFailsWithTheServersTexts) {
    test::MailUser wrong = User(kWrongUser);
    wrong.Password += "-wrong";
    Settings(wrong);
    ToolRun r = Tool({"check"});
    EXPECT_EQ(r.Status, 1) << r.Out;
    EXPECT_TRUE(Has(r.Out, "authentication failed")) << r.Out;  // Postfix, SMTP
    EXPECT_TRUE(Has(r.Out, "Authentication failed.")) << r.Out; // Dovecot, POP3

    // Nothing listens on port 1 of the loopback.
    Settings(User(kWrongUser), 1);
    r = Tool({"check"});
    EXPECT_EQ(r.Status, 1) << r.Out;
    EXPECT_TRUE(Has(r.Out, "Connection refused")) << r.Out;
}

TEST_F(MailCommandsTest, SendThenFetchWithDelete) {
    const test::MailUser& u = User(kSendUser);
    Empty(u);
    Settings(u);
    const std::string subject = ru("TZN-Office отчёт");
    std::vector<std::string> files;
    for (int i = 1; i <= 2; ++i) {
        const fs::path f = FRoot.Path("letter" + std::to_string(i) + ".eml");
        WriteFile(f, "From: \"Station\" <" + u.Address + ">\r\nSubject: " + subject + " " +
                         std::to_string(i) + "\r\nTo: " + u.Address +
                         "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain\r\n\r\nline " +
                         std::to_string(i) + "\r\n.\r\n");
        files.push_back(f.string());
    }
    std::vector<std::string> args = {"send"};
    args.insert(args.end(), files.begin(), files.end());
    ToolRun r = Tool(args);
    ASSERT_EQ(r.Status, 0) << r.Out << Err();
    EXPECT_TRUE(Has(r.Out, "2 of 2 sent")) << r.Out;
    ASSERT_EQ(WaitForCount(u, 2), 2);

    // Deleting what was only partly kept would lose letters.
    EXPECT_EQ(Tool({"fetch", "--delete", "--headers-only", FRoot.Path("h").string()}).Status, 2);

    const fs::path out = FRoot.Path("fetched");
    fs::create_directories(out);
    WriteFile(out / "1.eml", "kept"); // an existing file is never overwritten
    r = Tool({"fetch", "--delete", out.string()});
    ASSERT_EQ(r.Status, 0) << r.Out << Err();
    EXPECT_TRUE(Has(r.Out, "2 of 2 saved")) << r.Out;
    EXPECT_EQ(ReadFile(out / "1.eml"), "kept");
    ASSERT_TRUE(fs::exists(out / "1-2.eml"));
    ASSERT_TRUE(fs::exists(out / "2.eml"));
    const std::string all = ReadFile(out / "1-2.eml") + ReadFile(out / "2.eml");
    EXPECT_TRUE(Has(all, "line 1") && Has(all, "line 2"));
    EXPECT_TRUE(Has(all, "Delivered-To: " + u.Address)) << "the server's trace lines are kept";
    EXPECT_EQ(Count(u), 0) << "--delete empties the mailbox at QUIT";
}

TEST_F(MailCommandsTest, SendReportsARefusedLetterAndGoesOn) {
    const test::MailUser& u = User(kCheckUser);
    Settings(u);
    const fs::path bad = FRoot.Path("bad.eml");
    WriteFile(bad, "From: " + u.Address + "\r\nTo: nobody-at-all@" + FEnv.Domain +
                       "\r\nSubject: x\r\n\r\nx\r\n.\r\n");
    const ToolRun r = Tool({"send", bad.string(), FRoot.Path("missing.eml").string()});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(Has(r.Out, "FAILED " + bad.string() + ": <nobody-at-all@")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "Cannot load message from file")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "0 of 2 sent")) << r.Out;
}

} // namespace
} // namespace tzn
