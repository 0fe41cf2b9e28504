// The SMTP client against scripted servers: the greeting variants, authentication choices,
// the plain and the pipelined exchange with refusals at each step, silence and a letter
// that cannot be written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "mail/exceptions.h"
#include "mail/protocol_guard.h"
#include "mail/smtp.h"
#include "mail/smtp_sasl.h"
#include "platform/cp1251.h"
#include "raised.h"
#include "script_server.h"

namespace tzn {
namespace {

using test::HasLine;
using test::ScriptConn;
using test::ScriptServer;

void Configure(TMxSMTP& c, uint16_t port) {
    c.Host = "127.0.0.1";
    c.Port = port;
    c.HeloName = "station.test";
    c.ReadTimeout = 5000;
}

void Fill(TMxMessage& m) {
    m.From().Address = "from@x.test";
    m.From().Name = "Station";
    m.Recipients.SetEMailAddresses("to1@x.test, Second <to2@x.test>");
    m.Subject = "TZN-Office";
    m.Body = {"line one", ".", "last"};
}

// Greeting and EHLO with the given capability lines (none: a bare "250 name").
void Greet(ScriptConn& s, const std::vector<std::string>& caps) {
    s.Reply("220 fake.test ESMTP");
    s.ReadLine(); // EHLO
    if (caps.empty()) {
        s.Reply("250 fake.test");
        return;
    }
    s.Reply("250-fake.test");
    for (size_t i = 0; i < caps.size(); ++i)
        s.Reply((i + 1 < caps.size() ? "250-" : "250 ") + caps[i]);
}

// One letter in the plain exchange, every step accepted.
void AcceptPlainLetter(ScriptConn& s, int recipients) {
    s.Answer("250 2.0.0 Ok"); // RSET
    s.Answer("250 2.1.0 Ok"); // MAIL
    for (int i = 0; i < recipients; ++i)
        s.Answer("250 2.1.5 Ok");
    s.Answer("354 End data with <CR><LF>.<CR><LF>"); // DATA
    s.ReadData();
    s.Reply("250 2.0.0 Ok: queued");
}

// The RSET a client sends after a refusal, answered with `reply`.
void AcceptReset(ScriptConn& s, const std::string& reply) {
    if (s.ReadLine() == "RSET")
        s.Reply(reply);
}

void AcceptQuit(ScriptConn& s) {
    if (s.ReadLine() == "QUIT")
        s.Reply("221 2.0.0 Bye");
}

size_t IndexOf(const std::vector<std::string>& lines, const std::string& line) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == line)
            return i;
    return lines.size();
}

// Each test scripts a server, then drives a client pointed at it, with a letter ready to send.
// The client is destroyed first, so the server's script sees the connection end before the
// server waits for it.
class SmtpClient : public ::testing::Test {
protected:
    void SetUp() override { Fill(FM); }
    // Starts the scripted server and points the client at it. A script that fills the test's
    // own variables is done once Transcript() or Join() has returned.
    ScriptServer& Serve(ScriptServer::Script script) {
        FServer.emplace(std::move(script));
        Configure(FC, FServer->Port());
        return *FServer;
    }

    std::optional<ScriptServer> FServer;
    TMxSMTP FC;
    TMxMessage FM;
};

TEST_F(SmtpClient, EhloRefusedFallsBackToHeloAndSendsPlainWithoutAuth) {
    ScriptServer& server = Serve([](ScriptConn& s) {
        s.Reply("220 fake.test SMTP");
        s.Answer("500 5.5.1 Command unrecognized");
        s.Answer("250 fake.test");
        AcceptPlainLetter(s, 4);
        AcceptQuit(s);
    });
    FC.Username = "user";
    FC.Password = "secret";
    FC.MailAgent = "TZN test agent";
    FC.ConnectToServer();
    EXPECT_TRUE(FC.Capabilities().empty());

    FM.CCList.SetEMailAddresses("cc@x.test");
    FM.BccList.SetEMailAddresses("hidden@x.test");
    FM.Subject = ru("Отчет TZN-Office");
    // Raw 8-bit headers, as a delivery run sends; a file's Bcc never reaches the wire.
    FC.WriteOptions = {.EncodeHeaderWords = false, .WriteBcc = true};
    FC.SendMail(FM);
    EXPECT_FALSE(FC.DidAuthenticate());
    FC.CloseConnection();

    const auto t = server.Transcript();
    ASSERT_GE(t.size(), 10u);
    EXPECT_EQ(t[0], "EHLO station.test");
    EXPECT_EQ(t[1], "HELO station.test");
    EXPECT_EQ(t[2], "RSET");
    EXPECT_EQ(t[3], "MAIL FROM: <from@x.test>");
    // To, then Cc, then Bcc.
    EXPECT_EQ(t[4], "RCPT TO:<to1@x.test>");
    EXPECT_EQ(t[5], "RCPT TO:<to2@x.test>");
    EXPECT_EQ(t[6], "RCPT TO:<cc@x.test>");
    EXPECT_EQ(t[7], "RCPT TO:<hidden@x.test>");
    EXPECT_EQ(t[8], "DATA");
    EXPECT_EQ(t.back(), "QUIT");
    for (const auto& l : t) {
        EXPECT_NE(l.rfind("AUTH", 0), 0u) << l;
        EXPECT_NE(l.rfind("Bcc:", 0), 0u) << "blind copies never travel in the letter";
    }
    EXPECT_TRUE(HasLine(t, "X-Mailer: TZN test agent"));
    EXPECT_TRUE(HasLine(t, "Subject: " + ru("Отчет TZN-Office")));
    // The body line "." is stuffed on the wire and the letter ends with one "." line.
    EXPECT_TRUE(HasLine(t, ".."));
    EXPECT_EQ(t[t.size() - 2], ".");
}

// A server that takes only PLAIN, or only CRAM-MD5, still gets a log-in; one whose methods
// this client cannot run is told so before any letter is offered.
TEST_F(SmtpClient, LogInTakesPlainOrCramMd5WhenLoginIsNotOffered) {
    ScriptServer& plain = Serve([](ScriptConn& s) {
        Greet(s, {"8BITMIME", "AUTH PLAIN"});
        s.Answer("235 2.7.0 Authentication successful");
        AcceptPlainLetter(s, 2);
        AcceptQuit(s);
    });
    FC.Username = "user";
    FC.Password = "secret";
    FC.ConnectToServer();
    FC.SendMail(FM);
    EXPECT_TRUE(FC.DidAuthenticate());
    FC.CloseConnection();
    // "\0user\0secret" in base64.
    EXPECT_EQ(plain.Transcript().at(1), "AUTH PLAIN AHVzZXIAc2VjcmV0");

    // The worked example of RFC 2195.
    ScriptServer& cram = Serve([](ScriptConn& s) {
        Greet(s, {"AUTH CRAM-MD5 XOAUTH2"});
        s.Answer("334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+");
        s.Answer("235 2.7.0 Authentication successful");
        AcceptQuit(s);
    });
    FC.Username = "tim";
    FC.Password = "tanstaaftanstaaf";
    FC.ConnectToServer();
    EXPECT_TRUE(FC.Authenticate());
    FC.CloseConnection();
    EXPECT_EQ(cram.Transcript().at(1), "AUTH CRAM-MD5");
    EXPECT_EQ(cram.Transcript().at(2), "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw");

    ScriptServer& none = Serve([](ScriptConn& s) {
        Greet(s, {"AUTH XOAUTH2 GSSAPI"});
        AcceptQuit(s);
    });
    FC.ConnectToServer();
    if (const auto e = test::Raised<EMxException>([&] { FC.SendMail(FM); },
                                                  "a letter went out without a log-in")) {
        EXPECT_THAT(e->what(), ::testing::HasSubstr("XOAUTH2 GSSAPI"));
    }
    FC.CloseConnection();
    for (const auto& l : none.Transcript())
        EXPECT_NE(l.rfind("MAIL", 0), 0u) << l;
}

// Both letters go out pipelined: RSET, MAIL, every RCPT and DATA arrive in one write, and
// AUTH LOGIN is done once for the connection.
TEST_F(SmtpClient, AuthLoginOnceThenPipelinedLetters) {
    std::vector<std::string> chunks;
    ScriptServer& server = Serve([&](ScriptConn& s) {
        Greet(s, {"PIPELINING", "AUTH=LOGIN", "AUTH PLAIN login", "8BITMIME"});
        s.Answer("334 VXNlcm5hbWU6");
        s.Answer("334 UGFzc3dvcmQ6");
        s.Answer("235 2.7.0 Authentication successful");
        for (int letter = 0; letter < 2; ++letter) {
            chunks.push_back(s.ReadChunk());
            s.Send("250 2.0.0 Ok\r\n250 2.1.0 Ok\r\n250 2.1.5 Ok\r\n250 2.1.5 Ok\r\n"
                   "354 go ahead\r\n");
            s.ReadData();
            s.Reply("250 2.0.0 Ok: queued");
        }
        AcceptQuit(s);
    });
    FC.Username = "user01";
    FC.Password = "p\xe0ss";
    FC.ConnectToServer();
    EXPECT_TRUE(FC.HasCapability("pipelining"));
    EXPECT_EQ(FC.AuthMechanisms(), (std::vector<std::string>{"LOGIN", "PLAIN"}));
    int begins = 0, ends = 0;
    int64_t written = 0;
    FC.OnWorkBegin = [&](TMxComponent&, TMxWorkMode mode, int64_t) {
        begins += mode == TMxWorkMode::Write;
    };
    FC.OnWork = [&](TMxComponent&, TMxWorkMode mode, int64_t count) {
        if (mode == TMxWorkMode::Write)
            written = count;
    };
    FC.OnWorkEnd = [&](TMxComponent&, TMxWorkMode mode) { ends += mode == TMxWorkMode::Write; };
    for (int i = 0; i < 2; ++i) {
        TMxMessage m;
        Fill(m);
        FC.SendMail(m);
        EXPECT_TRUE(FC.DidAuthenticate());
    }
    EXPECT_EQ(begins, 2) << "one progress transfer per letter";
    EXPECT_EQ(ends, 2);
    EXPECT_GT(written, 100);
    FC.CloseConnection();
    EXPECT_FALSE(FC.DidAuthenticate()) << "the authenticated state ends with the connection";

    const auto t = server.Transcript();
    // The letter's bytes, counted once: from "From:" to the final "." line.
    size_t letterBytes = 0;
    for (size_t i = IndexOf(t, "DATA") + 1; i < t.size() && t[i] != "."; ++i)
        letterBytes += t[i].size() + 2;
    EXPECT_EQ(written, static_cast<int64_t>(letterBytes + 3));
    ASSERT_EQ(chunks.size(), 2u);
    for (const auto& chunk : chunks)
        EXPECT_EQ(chunk, "RSET\r\nMAIL FROM: <from@x.test>\r\nRCPT TO:<to1@x.test>\r\n"
                         "RCPT TO:<to2@x.test>\r\nDATA\r\n");
    EXPECT_EQ(t[1], "AUTH LOGIN");
    EXPECT_EQ(t[2], SaslBase64("user01"));
    EXPECT_EQ(t[3], SaslBase64("p\xe0ss"));
    size_t auths = 0;
    for (const auto& l : t)
        auths += l == "AUTH LOGIN";
    EXPECT_EQ(auths, 1u);
}

TEST_F(SmtpClient, RefusedPasswordRaisesWithTheServersReply) {
    ScriptServer& server = Serve([](ScriptConn& s) {
        Greet(s, {"AUTH LOGIN PLAIN"});
        s.Answer("334 VXNlcm5hbWU6");
        s.Answer("334 UGFzc3dvcmQ6");
        s.Answer("535 5.7.8 Error: authentication failed: bad password");
        AcceptQuit(s);
    });
    FC.Username = "user";
    FC.Password = "wrong";
    FC.ConnectToServer();
    if (const auto e = test::Raised<EMxSMTPReplyError>([&] { FC.SendMail(FM); })) {
        EXPECT_EQ(e->ErrorCode(), 535);
        EXPECT_EQ(e->EnhancedCode().ReplyAsStr(), "5.7.8");
        EXPECT_STREQ(e->what(), "Error: authentication failed: bad password");
    }
    EXPECT_FALSE(FC.DidAuthenticate());
    FC.CloseConnection();
    EXPECT_FALSE(HasLine(server.Transcript(), "RSET")) << "no envelope after a refused login";
}

TEST_F(SmtpClient, PipelinedRefusedSenderReadsAllRepliesThenResets) {
    ScriptServer& server = Serve([](ScriptConn& s) {
        Greet(s, {"PIPELINING"});
        s.ReadChunk();
        s.Send("250 2.0.0 Ok\r\n553 5.1.8 <from@x.test>: Sender address rejected\r\n"
               "503 5.5.1 Error: need MAIL command\r\n503 5.5.1 Error: need MAIL command\r\n"
               "503 5.5.1 Error: need RCPT command\r\n");
        AcceptReset(s, "250 2.0.0 Ok");
        // The connection is still in step: a NOOP-like probe gets its own answer.
        AcceptPlainLetter(s, 0);
        AcceptQuit(s);
    });
    FC.ConnectToServer();
    if (const auto e = test::Raised<EMxSMTPReplyError>([&] { FC.SendMail(FM); })) {
        EXPECT_EQ(e->ErrorCode(), 553);
        EXPECT_EQ(e->EnhancedCode().ReplyAsStr(), "5.1.8");
        EXPECT_STREQ(e->what(), "<from@x.test>: Sender address rejected");
    }
    EXPECT_TRUE(FC.IsConnected());
    // The next letter is answered by its own replies, proving every queued reply was read.
    TMxMessage next;
    Fill(next);
    next.Recipients.Clear();
    FC.PipeLine = false;
    FC.SendMail(next);
    FC.CloseConnection();
    const auto t = server.Transcript();
    const size_t data = IndexOf(t, "DATA");
    ASSERT_LT(data + 1, t.size());
    EXPECT_EQ(t[data + 1], "RSET") << "the letter itself is never written";
    EXPECT_EQ(t.back(), "QUIT");
}

TEST_F(SmtpClient, PipelinedAllRecipientsRefusedKeepsTheFirstRefusal) {
    Serve([](ScriptConn& s) {
        Greet(s, {"PIPELINING"});
        s.ReadChunk();
        s.Send("250 Ok\r\n250 Ok\r\n550 5.1.1 <to1@x.test>: Recipient address rejected\r\n"
               "550 5.1.1 <to2@x.test>: Recipient address rejected\r\n"
               "554 5.5.1 Error: no valid recipients\r\n");
        AcceptReset(s, "250 Ok");
        AcceptQuit(s);
    });
    FC.ConnectToServer();
    if (const auto e = test::Raised<EMxSMTPReplyError>([&] { FC.SendMail(FM); })) {
        EXPECT_EQ(e->ErrorCode(), 550);
        EXPECT_STREQ(e->what(), "<to1@x.test>: Recipient address rejected");
    }
    FC.CloseConnection();
}

// A refused recipient among accepted ones: the server opens the data phase for the others,
// but the caller is told the letter failed and keeps it for another run. Writing it would
// deliver a copy on every run, so the client ends the connection instead, which makes the
// server drop the transaction.
TEST_F(SmtpClient, PipelinedPartlyRefusedRecipientsDeliverNothing) {
    bool closedWithoutData = false;
    ScriptServer& server = Serve([&](ScriptConn& s) {
        Greet(s, {"PIPELINING"});
        s.ReadChunk();
        s.Send("250 Ok\r\n250 Ok\r\n550 5.1.1 <to1@x.test>: Recipient address rejected\r\n"
               "250 Ok\r\n354 go\r\n");
        closedWithoutData = s.ReadLine() == "<EOF>";
    });
    FC.ConnectToServer();
    if (const auto e = test::Raised<EMxSMTPReplyError>([&] { FC.SendMail(FM); })) {
        EXPECT_EQ(e->ErrorCode(), 550);
        EXPECT_STREQ(e->what(), "<to1@x.test>: Recipient address rejected");
    }
    EXPECT_FALSE(FC.IsConnected());
    server.Join();
    EXPECT_TRUE(closedWithoutData);
    EXPECT_FALSE(HasLine(server.Transcript(), "line one"));
}

TEST_F(SmtpClient, PipelinedRefusedEndOfDataResetsAndRaises) {
    ScriptServer& server = Serve([](ScriptConn& s) {
        Greet(s, {"PIPELINING"});
        s.ReadChunk();
        s.Send("250 Ok\r\n250 Ok\r\n250 Ok\r\n250 Ok\r\n354 go\r\n");
        s.ReadData();
        s.Reply("554 5.7.1 Message rejected as spam");
        AcceptReset(s, "250 Ok");
        AcceptQuit(s);
    });
    FC.ConnectToServer();
    EXPECT_THROW(FC.SendMail(FM), EMxSMTPReplyError);
    FC.CloseConnection();
    EXPECT_TRUE(HasLine(server.Transcript(), "RSET"));
}

TEST_F(SmtpClient, PlainRefusedRecipientResetsAtOnceWithoutData) {
    ScriptServer& server = Serve([](ScriptConn& s) {
        Greet(s, {"8BITMIME"});
        s.Answer("250 Ok");
        s.Answer("250 Ok");
        s.Answer("550 5.1.1 <to1@x.test>: Recipient address rejected: User unknown");
        AcceptReset(s, "250 Ok");
        // The next letter on the same connection still goes through.
        AcceptPlainLetter(s, 2);
        AcceptQuit(s);
    });
    FC.ConnectToServer();
    if (const auto e = test::Raised<EMxSMTPReplyError>([&] { FC.SendMail(FM); })) {
        EXPECT_EQ(e->ErrorCode(), 550);
        EXPECT_EQ(e->EnhancedCode().ReplyAsStr(), "5.1.1");
    }
    FC.SendMail(FM);
    FC.CloseConnection();
    const auto t = server.Transcript();
    ASSERT_GE(t.size(), 6u);
    EXPECT_EQ(t[3], "RCPT TO:<to1@x.test>");
    EXPECT_EQ(t[4], "RSET") << "neither the second recipient nor DATA after a refusal";
    size_t datas = 0;
    for (const auto& l : t)
        datas += l == "DATA";
    EXPECT_EQ(datas, 1u);
}

TEST_F(SmtpClient, AllowedFailedRecipientLetsTheLetterGoOn) {
    Serve([](ScriptConn& s) {
        Greet(s, {});
        s.Answer("250 Ok");
        s.Answer("250 Ok");
        s.Answer("550 5.1.1 unknown");
        s.Answer("250 Ok");
        s.Answer("354 go");
        s.ReadData();
        s.Reply("250 queued");
        AcceptQuit(s);
    });
    std::vector<std::string> refused;
    FC.OnFailedRecipient = [&](const TMxEMailAddressItem& r, const TMxReply& reply) {
        refused.push_back(r.Address + " " + reply.Code());
        return true;
    };
    FC.ConnectToServer();
    FC.SendMail(FM);
    FC.CloseConnection();
    EXPECT_EQ(refused, std::vector<std::string>{"to1@x.test 550"});
}

TEST_F(SmtpClient, RefusedGreetingClosesWithQuit) {
    ScriptServer& server = Serve([](ScriptConn& s) {
        s.Reply("554 5.3.2 No service today");
        AcceptQuit(s);
    });
    if (const auto e = test::Raised<EMxSMTPReplyError>([&] { FC.ConnectToServer(); })) {
        EXPECT_EQ(e->ErrorCode(), 554);
    }
    EXPECT_FALSE(FC.IsConnected());
    EXPECT_EQ(server.Transcript(), std::vector<std::string>{"QUIT"});
}

TEST_F(SmtpClient, SilentServerTimesOut) {
    Serve([](ScriptConn& s) {
        s.Reply("220 fake.test ESMTP");
        s.ReadLine();
        s.WaitForClose(30000); // never answers
    });
    FC.ReadTimeout = 300;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(FC.ConnectToServer(), EMxReadTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(FC.IsConnected());
}

// An attachment whose file is gone cannot be written once the server waits for the letter:
// whatever the client sent next would become part of that letter, so the connection is
// dropped instead and the server never sees the final ".".
TEST_F(SmtpClient, LetterThatCannotBeWrittenDropsTheConnection) {
    ScriptServer& server = Serve([](ScriptConn& s) {
        Greet(s, {});
        s.Answer("250 Ok");
        s.Answer("250 Ok");
        s.Answer("250 Ok");
        s.Answer("250 Ok");
        s.Answer("354 go");
        s.ReadData();
    });
    FC.ConnectToServer();
    FM.MessageParts.AddAttachment("/nonexistent-dir/report.dat");
    EXPECT_ANY_THROW(FC.SendMail(FM));
    EXPECT_FALSE(FC.IsConnected());
    const auto t = server.Transcript();
    EXPECT_FALSE(HasLine(t, "."));
    EXPECT_EQ(t.back(), "<EOF>");
}

TEST_F(SmtpClient, ExpnAndVrfyAcceptOnly250And251) {
    ScriptServer& server = Serve([](ScriptConn& s) {
        Greet(s, {});
        s.Answer("250-First <a@x.test>\r\n250 Second <b@x.test>");
        s.Answer("550 5.1.1 unknown");
        AcceptQuit(s);
    });
    FC.ConnectToServer();
    EXPECT_EQ(FC.Expand("list"),
              (std::vector<std::string>{"First <a@x.test>", "Second <b@x.test>"}));
    EXPECT_THROW(FC.Verify("nobody"), EMxSMTPReplyError);
    FC.CloseConnection();
    const auto t = server.Transcript();
    EXPECT_EQ(t[1], "EXPN list");
    EXPECT_EQ(t[2], "VRFY nobody");
}

// A line break in an address or argument would let the server read the rest as a command of
// its own. Nothing of such a letter or command is sent, and the connection stays in step for
// the next letter.
TEST_F(SmtpClient, LineBreakInAnArgumentIsRefusedBeforeAnythingIsSent) {
    ScriptServer& server = Serve([](ScriptConn& s) {
        Greet(s, {});
        AcceptPlainLetter(s, 2);
        AcceptQuit(s);
    });
    FC.ConnectToServer();
    auto refused = [&](auto&& send, const std::string& command) {
        if (const auto e =
                test::Raised<EMxInvalidCommandArgument>(send, command + " was not refused")) {
            EXPECT_EQ(std::string(e->what()),
                      "Command " + command +
                          " not sent: its argument holds a line break or NUL character.");
        }
    };
    TMxMessage badFrom;
    Fill(badFrom);
    badFrom.From().Address = "from@x.test>\r\nRCPT TO:<evil@x.test";
    refused([&] { FC.SendMail(badFrom); }, "MAIL");
    TMxMessage badTo;
    Fill(badTo);
    badTo.Recipients.Add().Address = "to3@x.test>\nRCPT TO:<evil@x.test";
    refused([&] { FC.SendMail(badTo); }, "RCPT");
    refused([&] { FC.Expand(std::string("list\0DATA", 9)); }, "EXPN");
    refused([&] { FC.Verify("x\rDATA"); }, "VRFY");
    FC.SendMail(FM);
    FC.CloseConnection();
    const auto t = server.Transcript();
    ASSERT_GE(t.size(), 3u);
    EXPECT_EQ(t[1], "RSET") << "the good letter's first command follows EHLO directly";
    EXPECT_EQ(t[2], "MAIL FROM: <from@x.test>");
    for (const auto& l : t)
        EXPECT_EQ(l.find("evil"), std::string::npos) << l;
}

TEST_F(SmtpClient, LineBreakInTheHeloNameEndsTheGreetingWithQuitOnly) {
    ScriptServer& server = Serve([](ScriptConn& s) {
        s.Reply("220 fake.test ESMTP");
        AcceptQuit(s);
    });
    FC.HeloName = "station.test\r\nMAIL FROM:<evil@x.test>";
    EXPECT_THROW(FC.ConnectToServer(), EMxInvalidCommandArgument);
    EXPECT_EQ(server.Transcript(), std::vector<std::string>{"QUIT"});
}

// An EHLO answer of more keywords than any server offers is an error, not a list without end;
// the limit itself is still accepted.
TEST_F(SmtpClient, CapabilityListIsBounded) {
    auto greet = [](size_t count) {
        return [count](ScriptConn& s) {
            Greet(s, std::vector<std::string>(count, "X-KEYWORD"));
            AcceptQuit(s);
        };
    };
    {
        ScriptServer& server = Serve(greet(kMxMaxCapabilities));
        FC.ConnectToServer();
        EXPECT_EQ(FC.Capabilities().size(), kMxMaxCapabilities);
        FC.CloseConnection();
        server.Join();
    }
    ScriptServer& server = Serve(greet(kMxMaxCapabilities + 1));
    if (const auto e = test::Raised<EMxTooManyCapabilities>([&] { FC.ConnectToServer(); })) {
        EXPECT_EQ(std::string(e->what()), "Capability list has more than " +
                                              std::to_string(kMxMaxCapabilities) + " entries.");
    }
    EXPECT_EQ(server.Transcript().back(), "QUIT");
}

// A connection the server dropped ends the log-in with it: the next connection of the same
// client logs in again before its first letter.
TEST_F(SmtpClient, LoginIsRepeatedOnANewConnectionAfterTheServerDroppedTheOld) {
    auto login = [](ScriptConn& s) {
        Greet(s, {"AUTH LOGIN"});
        s.Answer("334 VXNlcm5hbWU6");
        s.Answer("334 UGFzc3dvcmQ6");
        s.Answer("235 2.7.0 Authentication successful");
        AcceptPlainLetter(s, 2);
    };
    ScriptServer first(login); // then the server closes without waiting for QUIT
    ScriptServer& second = Serve([&](ScriptConn& s) {
        login(s);
        AcceptQuit(s);
    });
    FC.Username = "user";
    FC.Password = "secret";
    FC.Port = first.Port();
    FC.ConnectToServer();
    FC.SendMail(FM);
    EXPECT_TRUE(FC.DidAuthenticate());
    first.Join();
    EXPECT_FALSE(FC.IsConnected());

    FC.Port = second.Port();
    FC.ConnectToServer();
    EXPECT_FALSE(FC.DidAuthenticate());
    EXPECT_NO_THROW(FC.SendMail(FM));
    FC.CloseConnection();
    const auto t = second.Transcript();
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[1], "AUTH LOGIN");
}

TEST_F(SmtpClient, SaslWithoutMechanismsIsRefusedBeforeAnyCommand) {
    ScriptServer& server = Serve([](ScriptConn& s) {
        Greet(s, {"AUTH LOGIN"});
        AcceptQuit(s);
    });
    FC.AuthType = TMxSMTPAuthType::SASL;
    FC.Username = "u";
    FC.ConnectToServer();
    if (const auto e = test::Raised<EMxSASLMechNeeded>([&] { FC.SendMail(FM); })) {
        EXPECT_STREQ(e->what(), "Need SASL mechanisms to login with it!!");
    }
    FC.CloseConnection();
    EXPECT_EQ(server.Transcript().size(), 2u); // EHLO and QUIT only
}

} // namespace
} // namespace tzn
