// The SMTP and POP3 clients against the real loopback Postfix and Dovecot: authenticated
// delivery (pipelined and plain), a refused recipient on a connection that goes on, 8-bit
// headers and a 5 MiB attachment read back byte for byte, the POP3 commands with deletions
// committed only by QUIT, and wrong passwords.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "mail/exceptions.h"
#include "mail/header_coding.h"
#include "mail_server.h"
#include "platform/cp1251.h"
#include "raised.h"

namespace tzn {
namespace {

// Mailboxes of this file (the tool tests use 6..8, the session tests 9..15, the host
// process tests 16..18).
constexpr size_t kSender = 0;
constexpr size_t kPlainAndPipelined = 1;
constexpr size_t kRefused = 2;
constexpr size_t kEightBit = 3;
constexpr size_t kPop3Commands = 4;
constexpr size_t kWrongPassword = 5;
constexpr size_t kLongLines = 52;

namespace fs = std::filesystem;

class MailRoundTrip : public test::MailServerTest {
protected:
    void SetUp() override {
        test::MailServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        FTemp = fs::temp_directory_path() /
                ("tzn-int-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(FTemp);
    }
    void TearDown() override {
        std::error_code ec;
        if (!FTemp.empty())
            fs::remove_all(FTemp, ec);
    }

    void Letter(TMxMessage& m, const test::MailUser& to, const std::string& subject) {
        m.From().Address = User(kSender).Address;
        m.From().Name = "Station 0001";
        m.Recipients.SetEMailAddresses(to.Address);
        m.Subject = subject;
        m.Body = {"Report follows.", ".", "End."};
    }

    fs::path FTemp;
};

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(MailRoundTrip, AuthenticatedDeliveryPipelinedAndPlain) {
    const auto& to = User(kPlainAndPipelined);
    Empty(to);
    TMxSMTP smtp;
    ConfigureSmtp(smtp, User(kSender));
    smtp.ConnectToServer();
    EXPECT_TRUE(smtp.HasCapability("PIPELINING"));
    TMxMessage first;
    Letter(first, to, "pipelined");
    smtp.SendMail(first);
    EXPECT_TRUE(smtp.DidAuthenticate()) << "AUTH LOGIN is offered and a user name is set";

    smtp.PipeLine = false;
    TMxMessage second;
    Letter(second, to, "plain");
    smtp.SendMail(second);
    smtp.CloseConnection();

    ASSERT_EQ(WaitForCount(to, 2), 2);
    TMxPOP3 pop;
    ConfigurePop3(pop, to);
    pop.ConnectToServer();
    std::vector<std::string> subjects;
    for (int i = 1; i <= 2; ++i) {
        TMxMessage h;
        pop.FetchHeader(i, h);
        subjects.push_back(h.Subject);
        EXPECT_EQ(h.From().Address, User(kSender).Address);
    }
    pop.CloseConnection();
    std::sort(subjects.begin(), subjects.end());
    EXPECT_EQ(subjects, (std::vector<std::string>{"pipelined", "plain"}));
}

TEST_F(MailRoundTrip, RefusedRecipientThenNextLetterOnTheSameConnection) {
    const auto& to = User(kRefused);
    Empty(to);
    TMxSMTP smtp;
    ConfigureSmtp(smtp, User(kSender));
    smtp.ConnectToServer();
    for (bool pipelined : {true, false}) {
        smtp.PipeLine = pipelined;
        TMxMessage bad;
        Letter(bad, to, "never");
        bad.Recipients.SetEMailAddresses("nobody-here@" + FEnv.Domain);
        if (const auto e = test::Raised<EMxSMTPReplyError>([&] { smtp.SendMail(bad); },
                                                           "unknown recipient accepted")) {
            EXPECT_EQ(e->ErrorCode(), 550);
            EXPECT_EQ(e->EnhancedCode().ReplyAsStr(), "5.1.1");
            EXPECT_NE(std::string(e->what()).find("nobody-here@"), std::string::npos) << e->what();
        }
        TMxMessage good;
        Letter(good, to, pipelined ? "after pipelined refusal" : "after plain refusal");
        smtp.SendMail(good);
    }
    smtp.CloseConnection();
    EXPECT_EQ(WaitForCount(to, 2), 2);
}

TEST_F(MailRoundTrip, EightBitHeadersAndLargeAttachmentArriveIntact) {
    const auto& to = User(kEightBit);
    Empty(to);
    const fs::path data = FTemp / "shift-1234.dat";
    {
        std::mt19937 rng(20240601);
        std::string bytes(5 * 1024 * 1024 + 17, '\0');
        for (char& c : bytes)
            c = static_cast<char>(rng());
        std::ofstream(data, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    const std::string subject = ru("Отчёт станции TZN-Office за смену");
    const std::string station = ru("АЗС №5, Ёлкино");

    TMxSMTP smtp;
    ConfigureSmtp(smtp, User(kSender));
    smtp.WriteOptions.EncodeHeaderWords = false; // raw 8-bit headers, as a send run writes them
    smtp.ConnectToServer();
    TMxMessage m;
    Letter(m, to, subject);
    m.ExtraHeaders.SetValue("X-Station", station);
    m.MessageParts.AddAttachment(data.string());
    smtp.SendMail(m);
    smtp.CloseConnection();

    ASSERT_EQ(WaitForCount(to, 1), 1);
    TMxPOP3 pop;
    ConfigurePop3(pop, to);
    pop.ConnectToServer();
    EXPECT_GT(pop.MessageSize(1), 5 * 1024 * 1024);
    TMxMessage got;
    got.AttachmentTempDirectory = FTemp.string();
    ASSERT_TRUE(pop.FetchMessage(1, got));
    pop.CloseConnection();

    EXPECT_EQ(got.Subject, subject);
    EXPECT_EQ(got.Headers.Values("X-Station"), station);
    const TMxAttachmentFile* att = nullptr;
    for (size_t i = 0; i < got.MessageParts.Count(); ++i)
        if (auto* a = got.MessageParts[i].AsAttachment())
            att = a;
    ASSERT_NE(att, nullptr);
    EXPECT_EQ(att->PartFileName, "shift-1234.dat");
    EXPECT_TRUE(att->ReadContent() == ReadAll(data)) << "attachment differs";
}

// Lines far past the old 16 KiB read limit: one a peer sent raw, one in a text part of the
// form a delivery run writes (quoted-printable, encoded subject words); both come back whole.
TEST_F(MailRoundTrip, LongLinesAndEncodedSubjectsArriveIntact) {
    const auto& to = User(kLongLines);
    Empty(to);
    const std::string line = ru("Итог;") + std::string(20000, '7');
    const std::string subject = ru("Выгрузка TZN-Office за смену");
    TMxSMTP smtp;
    ConfigureSmtp(smtp, User(kSender));
    smtp.WriteOptions = {
        .EncodeHeaderWords = false, .HeaderCharSet = "windows-1251", .TextCharSet = "windows-1251"};
    smtp.ConnectToServer();
    TMxMessage raw;
    raw.NoEncode = true;
    raw.Headers.Add("From: " + User(kSender).Address);
    raw.Headers.Add("To: " + to.Address);
    raw.Headers.Add("Subject: raw");
    raw.Recipients.Add(TMxEMailAddressItem("", to.Address));
    raw.From().Address = User(kSender).Address;
    raw.Body = {line, "end"};
    smtp.SendMail(raw);
    TMxMessage made;
    Letter(made, to, subject);
    made.MessageParts.AddText({line, "end"});
    smtp.SendMail(made);
    smtp.CloseConnection();

    ASSERT_EQ(WaitForCount(to, 2), 2);
    TMxPOP3 pop;
    ConfigurePop3(pop, to);
    pop.ConnectToServer();
    for (int n = 1; n <= 2; ++n) {
        TMxMessage got;
        got.AttachmentTempDirectory = FTemp.string();
        ASSERT_TRUE(pop.FetchMessage(n, got));
        std::vector<std::string> body = got.Body;
        if (got.Subject != "raw") {
            EXPECT_EQ(got.Subject, subject);
            ASSERT_EQ(got.MessageParts.Count(), 1u);
            body = got.MessageParts[0].AsText()->Body;
        }
        while (!body.empty() && body.back().empty())
            body.pop_back();
        EXPECT_TRUE(body == (std::vector<std::string>{line, "end"})) << got.Subject;
    }
    pop.CloseConnection();
}

TEST_F(MailRoundTrip, Pop3CommandsAndDeletionsCommittedOnlyByQuit) {
    const auto& box = User(kPop3Commands);
    Empty(box);
    TMxSMTP smtp;
    ConfigureSmtp(smtp, User(kSender));
    smtp.ConnectToServer();
    for (int i = 1; i <= 3; ++i) {
        TMxMessage m;
        Letter(m, box, "letter " + std::to_string(i));
        smtp.SendMail(m);
    }
    smtp.CloseConnection();
    ASSERT_EQ(WaitForCount(box, 3), 3);

    {
        TMxPOP3 pop;
        ConfigurePop3(pop, box);
        pop.ConnectToServer();
        EXPECT_TRUE(pop.HasCapabilities());
        EXPECT_EQ(pop.MessageCount(), 3);
        for (int i = 1; i <= 3; ++i)
            EXPECT_GT(pop.MessageSize(i), 100);
        TMxMessage h;
        pop.FetchHeader(1, h);
        EXPECT_EQ(h.Subject.rfind("letter ", 0), 0u);
        EXPECT_TRUE(h.Body.empty());
        TMxMessage whole;
        ASSERT_TRUE(pop.FetchMessage(1, whole));
        EXPECT_EQ(whole.Subject, h.Subject);
        EXPECT_EQ(whole.Body, (std::vector<std::string>{"Report follows.", ".", "End."}));
        EXPECT_TRUE(pop.DeleteMessage(1));
        EXPECT_TRUE(pop.DeleteMessage(2));
        // Dropped without QUIT: the server keeps both letters.
        pop.CloseConnection(false);
    }
    EXPECT_EQ(Count(box), 3);

    TMxPOP3 pop;
    ConfigurePop3(pop, box);
    pop.ConnectToServer();
    EXPECT_TRUE(pop.DeleteMessage(1));
    EXPECT_TRUE(pop.DeleteMessage(3));
    TMxMessage gone;
    EXPECT_FALSE(pop.FetchMessage(1, gone)) << "a deleted letter is refused, not raised";
    pop.CloseConnection();
    EXPECT_EQ(Count(box), 1);
}

TEST_F(MailRoundTrip, WrongPasswordsAreRefusedWithTheServersText) {
    test::MailUser wrong = User(kWrongPassword);
    wrong.Password += "-wrong";

    TMxSMTP smtp;
    ConfigureSmtp(smtp, wrong);
    smtp.ConnectToServer();
    TMxMessage m;
    Letter(m, User(kWrongPassword), "never");
    if (const auto e = test::Raised<EMxSMTPReplyError>([&] { smtp.SendMail(m); },
                                                       "wrong password accepted by SMTP")) {
        EXPECT_EQ(e->ErrorCode(), 535);
        EXPECT_NE(std::string(e->what()).find("authentication failed"), std::string::npos)
            << e->what();
    }
    smtp.CloseConnection();

    TMxPOP3 pop;
    ConfigurePop3(pop, wrong);
    if (const auto e = test::Raised<EMxReplyPOP3Error>([&] { pop.ConnectToServer(); },
                                                       "wrong password accepted by POP3")) {
        EXPECT_STREQ(e->what(), "Authentication failed.");
    }
    EXPECT_FALSE(pop.IsConnected());

    // No lock-out afterwards: the right password works at once. The ceiling is far above a
    // log-in's few milliseconds, so a loaded machine cannot fail it; only a lock-out can.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_GE(Count(User(kWrongPassword)), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

} // namespace
} // namespace tzn
