// The POP3 client against scripted servers: greetings with and without an APOP timestamp,
// CAPA refused, odd STAT and LIST answers, refused log-on and RETR, a connection cut in the
// middle of a letter, a letter the reader gives up on, silence.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <stdexcept>

#include "mail/exceptions.h"
#include "mail/pop3.h"
#include "mail/protocol_guard.h"
#include "mail/reply_pop3.h"
#include "raised.h"
#include "script_server.h"

namespace tzn {
namespace {

using test::HasLine;
using test::Pop3AcceptQuit;
using test::Pop3Welcome;
using test::ScriptConn;
using test::ScriptServer;

void Configure(TMxPOP3& c, uint16_t port) {
    c.Host = "127.0.0.1";
    c.Port = port;
    c.Username = "user01";
    c.Password = "pass01";
    c.ReadTimeout = 5000;
}

const char* const kLetter = "From: Office <office@x.test>\r\n"
                            "To: station@x.test\r\n"
                            "Subject: TZN-0001 report\r\n"
                            "MIME-Version: 1.0\r\n"
                            "Content-Type: multipart/mixed; boundary=\"XyZ\"\r\n"
                            "\r\n"
                            "preamble\r\n"
                            "--XyZ\r\n"
                            "Content-Type: text/plain\r\n"
                            "\r\n"
                            "..dotted line\r\n"
                            "--XyZ\r\n"
                            "Content-Type: application/octet-stream; name=\"data.bin\"\r\n"
                            "Content-Transfer-Encoding: base64\r\n"
                            "Content-Disposition: attachment; filename=\"data.bin\"\r\n"
                            "\r\n"
                            "AAECAwQFBgcICQ==\r\n"
                            "--XyZ--\r\n";

TEST(Pop3Client, GreetingWithoutTimestampLogsOnWithUserAndPass) {
    ScriptServer server([](ScriptConn& s) {
        Pop3Welcome(s, "+OK POP3 ready");
        s.Answer("+OK 2 320");
        Pop3AcceptQuit(s);
    });
    TMxPOP3 c;
    Configure(c, server.Port());
    c.ConnectToServer();
    EXPECT_FALSE(c.HasAPOPTimestamp());
    EXPECT_EQ(c.Capabilities(), (std::vector<std::string>{"TOP", "UIDL", "USER"}));
    EXPECT_EQ(c.MessageCount(), 2);
    c.CloseConnection();
    EXPECT_EQ(server.Transcript(),
              (std::vector<std::string>{"CAPA", "USER user01", "PASS pass01", "STAT", "QUIT"}));
}

TEST(Pop3Client, ApopUsesTheGreetingTimestamp) {
    // The example exchange of RFC 1939.
    EXPECT_EQ(ApopDigest("<1896.697170952@dbc.mtview.ca.us>", "tanstaaf"),
              "c4c9334bac560ecc979e58001b3e22fb");
    EXPECT_EQ(ApopTimestampOf("POP3 ready <1.2@host> more <x>"), "<1.2@host>");
    EXPECT_EQ(ApopTimestampOf("POP3 ready <unclosed"), "");

    ScriptServer server([](ScriptConn& s) {
        s.Reply("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>");
        s.Answer("-ERR");
        s.Answer("+OK maildrop has 1 message");
        Pop3AcceptQuit(s);
    });
    TMxPOP3 c;
    Configure(c, server.Port());
    c.Username = "mrose";
    c.Password = "tanstaaf";
    c.AuthType = TMxPOP3AuthType::APOP;
    c.ConnectToServer();
    EXPECT_EQ(c.APOPTimestamp(), "<1896.697170952@dbc.mtview.ca.us>");
    c.CloseConnection();
    const auto t = server.Transcript();
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[1], "APOP mrose c4c9334bac560ecc979e58001b3e22fb");
}

TEST(Pop3Client, ApopWithoutTimestampIsRefusedAndCloses) {
    ScriptServer server([](ScriptConn& s) {
        s.Reply("+OK ready");
        s.Answer("-ERR");
        Pop3AcceptQuit(s);
    });
    TMxPOP3 c;
    Configure(c, server.Port());
    c.AuthType = TMxPOP3AuthType::APOP;
    EXPECT_THROW(c.ConnectToServer(), EMxDoesNotSupportAPOP);
    EXPECT_FALSE(c.IsConnected());
    EXPECT_EQ(server.Transcript(), (std::vector<std::string>{"CAPA", "QUIT"}));
}

TEST(Pop3Client, CapaRefusedEmptyStatAndOddListAnswers) {
    ScriptServer server([](ScriptConn& s) {
        Pop3Welcome(s, "+OK ready", {});
        s.Answer("+OK");
        s.Answer("+OK 1 many");
        s.Answer("+OK 2 4096");
        s.Answer("+OK");
        s.Answer("+OK lots 4096");
        Pop3AcceptQuit(s);
    });
    TMxPOP3 c;
    Configure(c, server.Port());
    c.ConnectToServer();
    EXPECT_FALSE(c.HasCapabilities());
    EXPECT_EQ(c.MessageCount(), 0) << "STAT with an empty text";
    EXPECT_EQ(c.MessageSize(1), -1) << "LIST with a non-numeric size";
    EXPECT_EQ(c.MessageSize(2), 4096);
    EXPECT_EQ(c.MessageSize(3), -1) << "LIST without a size";
    EXPECT_THROW(c.MessageCount(), std::runtime_error) << "STAT with a non-numeric count";
    c.CloseConnection();
    const auto t = server.Transcript();
    EXPECT_TRUE(HasLine(t, "LIST 1"));
    EXPECT_TRUE(HasLine(t, "LIST 3"));
}

TEST(Pop3Client, WrongPasswordQuitsBeforeTheErrorArrives) {
    ScriptServer server([](ScriptConn& s) {
        s.Reply("+OK ready");
        s.Answer("-ERR");
        s.Answer("+OK");
        s.Answer("-ERR [AUTH] Authentication failed.");
        Pop3AcceptQuit(s);
    });
    TMxPOP3 c;
    Configure(c, server.Port());
    if (const auto e = test::Raised<EMxReplyPOP3Error>([&] { c.ConnectToServer(); })) {
        EXPECT_STREQ(e->what(), "Authentication failed.");
        EXPECT_EQ(e->EnhancedCode(), "[AUTH]");
    }
    EXPECT_FALSE(c.IsConnected());
    EXPECT_EQ(server.Transcript().back(), "QUIT");
}

// A password with a line break would send its second half as a command (DELE ...); the
// command is refused unsent and the error does not show the password.
TEST(Pop3Client, LineBreakInThePasswordIsRefusedUnsent) {
    ScriptServer server([](ScriptConn& s) {
        s.Reply("+OK ready");
        s.Answer("-ERR");
        s.Answer("+OK");
        Pop3AcceptQuit(s);
    });
    TMxPOP3 c;
    Configure(c, server.Port());
    c.Password = "pass01\r\nDELE 1";
    if (const auto e = test::Raised<EMxInvalidCommandArgument>([&] { c.ConnectToServer(); })) {
        EXPECT_STREQ(e->what(), "Command PASS not sent: its argument holds a line break or NUL "
                                "character.");
    }
    EXPECT_EQ(server.Transcript(), (std::vector<std::string>{"CAPA", "USER user01", "QUIT"}));
}

// Negative or overflowing numbers in STAT and LIST answers are no count and no size.
TEST(Pop3Client, StatAndListNumbersAreReadStrictly) {
    ScriptServer server([](ScriptConn& s) {
        Pop3Welcome(s);
        s.Answer("+OK -3 0");
        s.Answer("+OK 4294967297 0");
        s.Answer("+OK 1 -5");
        s.Answer("+OK 1 99999999999999999999");
        s.Answer("+OK 1 +5");
        Pop3AcceptQuit(s);
    });
    TMxPOP3 c;
    Configure(c, server.Port());
    c.ConnectToServer();
    EXPECT_THROW(c.MessageCount(), std::runtime_error);
    EXPECT_THROW(c.MessageCount(), std::runtime_error);
    EXPECT_EQ(c.MessageSize(1), -1);
    EXPECT_EQ(c.MessageSize(1), -1);
    EXPECT_EQ(c.MessageSize(1), -1);
    c.CloseConnection();
}

TEST(Pop3Client, CapaListIsBounded) {
    ScriptServer server([](ScriptConn& s) {
        s.Reply("+OK ready");
        s.ReadLine();
        s.Reply("+OK capabilities follow");
        for (size_t i = 0; i <= kMxMaxCapabilities; ++i)
            s.Reply("X-CAPABILITY");
        s.Reply(".");
        Pop3AcceptQuit(s);
    });
    TMxPOP3 c;
    Configure(c, server.Port());
    EXPECT_THROW(c.ConnectToServer(), EMxTooManyCapabilities);
    EXPECT_FALSE(HasLine(server.Transcript(), "USER user01")) << "no log-on after the error";
}

TEST(Pop3Client, FetchesHeaderAndLetterAndDeletes) {
    ScriptServer server([](ScriptConn& s) {
        Pop3Welcome(s);
        s.Answer("+OK"); // TOP 1 0
        s.Send("From: Office <office@x.test>\r\nSubject: TZN-0001 report\r\n"
               "X-Long: first\r\n  second\r\n\r\n.\r\n");
        s.Answer("+OK 600 octets"); // RETR 1
        s.Send(std::string(kLetter) + ".\r\n");
        s.Answer("+OK"); // RETR 2: header directly followed by "."
        s.Send("From: a@x.test\r\nSubject: no body\r\n.\r\n");
        s.Answer("-ERR no such message"); // RETR 3
        s.Answer("+OK deleted");          // DELE 1
        s.Answer("-ERR no such message"); // DELE 9
        Pop3AcceptQuit(s);
    });
    TMxPOP3 c;
    Configure(c, server.Port());
    c.ConnectToServer();

    TMxMessage header;
    header.Subject = "stale";
    EXPECT_TRUE(c.FetchHeader(1, header));
    EXPECT_EQ(header.Subject, "TZN-0001 report");
    EXPECT_EQ(header.From().Address, "office@x.test");
    EXPECT_EQ(header.Headers.Values("X-Long"), "first second");
    EXPECT_TRUE(header.MessageParts.Empty());

    int64_t begun = -1, ended = 0, worked = 0;
    c.OnWorkBegin = [&](TMxComponent&, TMxWorkMode mode, int64_t) {
        if (mode == TMxWorkMode::Read)
            begun = 0;
    };
    c.OnWork = [&](TMxComponent&, TMxWorkMode mode, int64_t count) {
        if (mode == TMxWorkMode::Read)
            worked = count;
    };
    c.OnWorkEnd = [&](TMxComponent&, TMxWorkMode mode) { ended += mode == TMxWorkMode::Read; };

    TMxMessage letter;
    letter.MaxHeldBytes = 0; // the attachment in a temporary file
    std::string tempFile;
    {
        ASSERT_TRUE(c.FetchMessage(1, letter));
        EXPECT_EQ(letter.Subject, "TZN-0001 report");
        ASSERT_EQ(letter.MessageParts.Count(), 2u);
        const TMxText* text = letter.MessageParts[0].AsText();
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->Body, std::vector<std::string>{".dotted line"});
        const TMxAttachmentFile* att = letter.MessageParts[1].AsAttachment();
        ASSERT_NE(att, nullptr);
        EXPECT_EQ(att->PartFileName, "data.bin");
        EXPECT_TRUE(att->FileIsTemporary);
        tempFile = att->StoredPath;
        EXPECT_EQ(std::filesystem::file_size(tempFile), 10u);
    }
    EXPECT_EQ(begun, 0) << "reading a letter is one transfer for the progress gauge";
    EXPECT_EQ(ended, 1);
    EXPECT_GE(worked, static_cast<int64_t>(std::string(kLetter).size()));

    TMxMessage bare;
    ASSERT_TRUE(c.FetchMessage(2, bare));
    EXPECT_EQ(bare.Subject, "no body");
    EXPECT_TRUE(bare.Body.empty());

    TMxMessage refused;
    EXPECT_FALSE(c.FetchMessage(3, refused));
    EXPECT_TRUE(c.DeleteMessage(1));
    EXPECT_THROW(c.DeleteMessage(9), EMxReplyPOP3Error);
    c.CloseConnection();

    letter.Clear();
    EXPECT_FALSE(std::filesystem::exists(tempFile)) << "temporary files go with the letter";
    const auto t = server.Transcript();
    EXPECT_TRUE(HasLine(t, "TOP 1 0"));
    EXPECT_TRUE(HasLine(t, "RETR 1"));
    EXPECT_TRUE(HasLine(t, "DELE 1"));
    EXPECT_EQ(t.back(), "QUIT");
}

// With PIPELINING the next letter's size and text are asked for along with a deletion: the
// server here reads all three commands before it answers any. What is asked first instead
// finds its own answer behind the ones nobody asked for.
TEST(Pop3Client, TheNextLetterTravelsWithADeletion) {
    ScriptServer server([](ScriptConn& s) {
        Pop3Welcome(s, "+OK ready", {"TOP", "UIDL", "USER", "PIPELINING"});
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < 3; ++i)
                s.ReadLine();
            s.Reply("+OK deleted");
            s.Reply(round == 0 ? "+OK 2 90" : "+OK 1 90");
            s.Reply("+OK");
            s.Send(std::string("Subject: letter ") + (round == 0 ? "2" : "1") +
                   "\r\n\r\nx\r\n.\r\n");
        }
        s.Answer("+OK 1 90"); // STAT
        Pop3AcceptQuit(s);
    });
    TMxPOP3 c;
    Configure(c, server.Port());
    c.ConnectToServer();
    EXPECT_TRUE(c.DeleteMessage(3, 2, true));
    EXPECT_EQ(c.MessageSize(2), 90);
    TMxMessage letter;
    ASSERT_TRUE(c.FetchMessage(2, letter));
    EXPECT_EQ(letter.Subject, "letter 2");
    EXPECT_TRUE(c.DeleteMessage(2, 1, true));
    EXPECT_EQ(c.MessageCount(), 1) << "the answers to LIST 1 and RETR 1 are dropped first";
    c.CloseConnection();
    EXPECT_EQ(server.Transcript(),
              (std::vector<std::string>{"CAPA", "USER user01", "PASS pass01", "DELE 3", "LIST 2",
                                        "RETR 2", "DELE 2", "LIST 1", "RETR 1", "STAT", "QUIT"}));
}

// A small letter asked for ahead of its turn: the deletion before it is answered behind it
// (refused here, which spoils nothing), and the letter waits in memory, dots and all, for its
// own turn. A large one is not asked for early; a deletion answered out of step ends the
// connection.
TEST(Pop3Client, ALetterAskedAheadWaitsWhileTheDeletionBeforeItIsAnswered) {
    ScriptServer server([](ScriptConn& s) {
        Pop3Welcome(s, "+OK ready", {"TOP", "UIDL", "USER", "PIPELINING"});
        s.Answer("+OK 4 letters");
        s.Send("1 90\r\n2 120\r\n3 9000000\r\n4 90\r\n.\r\n");
        s.ReadLine(); // LIST 2
        s.ReadLine(); // RETR 2
        s.Reply("+OK 2 120");
        s.Send("+OK\r\nSubject: letter 2\r\n\r\n..\r\n");
        s.Send("...x\r\n.");
        s.Answer("\r\n-ERR not today"); // DELE 3, behind the end of the letter
        s.ReadLine();                   // RETR 1
        s.Send("+OK\r\nSubject: letter 1\r\n\r\nx\r\n.\r\n");
        s.Answer("+OK deleted"); // DELE 2
        s.ReadLine();            // RETR 4
        s.Send("+OK\r\nSubject: letter 4\r\n\r\nx\r\n.\r\n");
        s.Answer("this is no answer"); // DELE 1
    });
    TMxPOP3 c;
    Configure(c, server.Port());
    c.ConnectToServer();
    EXPECT_TRUE(c.RetrieveAhead(2, true));
    EXPECT_THROW(c.DeleteMessage(3), EMxReplyPOP3Error);
    EXPECT_EQ(c.MessageSize(2), 120);
    TMxMessage letter;
    ASSERT_TRUE(c.FetchMessage(2, letter));
    EXPECT_EQ(letter.Subject, "letter 2");
    EXPECT_EQ(letter.Body, (std::vector<std::string>{".", "..x"}));
    EXPECT_FALSE(c.RetrieveAhead(3, false)) << "past the size kept in memory";
    EXPECT_TRUE(c.RetrieveAhead(1, false));
    EXPECT_TRUE(c.DeleteMessage(2));
    ASSERT_TRUE(c.FetchMessage(1, letter));
    EXPECT_EQ(letter.Subject, "letter 1");
    EXPECT_TRUE(c.RetrieveAhead(4, false));
    EXPECT_THROW(c.DeleteMessage(1), EMxPOP3ProtocolError);
    EXPECT_FALSE(c.IsConnected());
    EXPECT_EQ(
        server.Transcript(),
        (std::vector<std::string>{"CAPA", "USER user01", "PASS pass01", "LIST", "LIST 2", "RETR 2",
                                  "DELE 3", "RETR 1", "DELE 2", "RETR 4", "DELE 1"}));
}

// The next letter is asked for before this one's answer is read: this server answers only
// once it holds both commands. A refusal leaves the letter asked ahead to be read in its turn.
TEST(Pop3Client, TheNextLetterIsAskedForBeforeThisOneIsRead) {
    ScriptServer server([](ScriptConn& s) {
        Pop3Welcome(s, "+OK ready", {"TOP", "UIDL", "USER", "PIPELINING"});
        s.Answer("+OK 3 letters");
        s.Send("1 90\r\n2 90\r\n3 90\r\n.\r\n");
        s.ReadLine(); // RETR 1
        s.ReadLine(); // RETR 2
        s.Send("-ERR locked\r\n+OK\r\nSubject: letter 2\r\n\r\nx\r\n.\r\n");
        s.Answer("+OK\r\nSubject: letter 3\r\n\r\ny\r\n."); // RETR 3
    });
    TMxPOP3 c;
    Configure(c, server.Port());
    c.ConnectToServer();
    TMxMessage letter;
    EXPECT_FALSE(c.FetchMessage(1, letter, 2));
    ASSERT_TRUE(c.FetchMessage(2, letter, 3));
    EXPECT_EQ(letter.Subject, "letter 2");
    ASSERT_TRUE(c.FetchMessage(3, letter));
    EXPECT_EQ(letter.Body, (std::vector<std::string>{"y"}));
    EXPECT_EQ(server.Transcript(),
              (std::vector<std::string>{"CAPA", "USER user01", "PASS pass01", "LIST", "RETR 1",
                                        "RETR 2", "RETR 3"}));
}

TEST(Pop3Client, ConnectionCutInTheMiddleOfALetter) {
    ScriptServer server([](ScriptConn& s) {
        Pop3Welcome(s);
        s.Answer("+OK");
        std::string half(kLetter);
        s.Send(half.substr(0, half.find("AAEC")) + "AAECAw");
        s.Sleep(100);
        s.Close();
    });
    TMxPOP3 c;
    Configure(c, server.Port());
    c.ConnectToServer();
    TMxMessage m;
    EXPECT_THROW(c.FetchMessage(1, m), EMxConnClosedGracefully);
    EXPECT_FALSE(c.IsConnected());
    EXPECT_EQ(m.Subject, "TZN-0001 report") << "what was read stays";
    EXPECT_NO_THROW(c.CloseConnection());
}

// A hostile letter the reader gives up on half-way (a part header beyond any sane size) must
// not leave the rest of its answer on the line, where the next command would take it for
// its reply.
TEST(Pop3Client, UnreadableLetterKeepsTheConnectionInStep) {
    ScriptServer server([](ScriptConn& s) {
        Pop3Welcome(s);
        s.Answer("+OK");
        std::string letter(kLetter);
        std::string filler;
        for (int i = 0; i < 20000; ++i)
            filler += "X-Filler: 0123456789012345678901234567890123456789012345678901234\r\n";
        letter.insert(letter.find("Content-Transfer-Encoding: base64"), filler);
        s.Send(letter + ".\r\n");
        s.Answer("+OK 7 1000");
        Pop3AcceptQuit(s);
    });
    TMxPOP3 c;
    Configure(c, server.Port());
    c.ConnectToServer();
    TMxMessage m;
    EXPECT_THROW(c.FetchMessage(1, m), EMxException);
    EXPECT_TRUE(c.IsConnected());
    EXPECT_EQ(c.MessageCount(), 7);
    c.CloseConnection();
    EXPECT_EQ(server.Transcript().back(), "QUIT");
}

TEST(Pop3Client, SilentServerTimesOut) {
    ScriptServer server([](ScriptConn& s) {
        Pop3Welcome(s);
        s.ReadLine();
        s.WaitForClose(30000);
    });
    TMxPOP3 c;
    Configure(c, server.Port());
    c.ReadTimeout = 300;
    c.ConnectToServer();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(c.MessageCount(), EMxReadTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// The letter's answer comes only after the client gave up on it: had the connection stayed
// open, the next command would have read that letter as its own answer.
TEST(Pop3Client, AnAnswerPastTheTimeOutEndsTheConversation) {
    std::promise<void> gaveUp;
    ScriptServer server([&](ScriptConn& s) {
        Pop3Welcome(s);
        s.ReadLine(); // RETR 2
        gaveUp.get_future().wait_for(std::chrono::seconds(10));
        s.Send(std::string("+OK\r\n") + kLetter + ".\r\n");
        s.ReadLine();
    });
    TMxPOP3 c;
    Configure(c, server.Port());
    c.ReadTimeout = 300;
    c.ConnectToServer();
    TMxMessage m;
    EXPECT_THROW(c.FetchMessage(2, m), EMxReadTimeout);
    gaveUp.set_value();
    EXPECT_FALSE(c.IsConnected());
    EXPECT_THROW(c.FetchMessage(1, m), EMxException);
    EXPECT_TRUE(m.Subject.empty()) << m.Subject;
}

} // namespace
} // namespace tzn
