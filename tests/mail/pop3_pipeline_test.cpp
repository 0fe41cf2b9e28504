// The POP3 header scan against scripted servers: TOP pipelined or in lock-step, a server
// without TOP, LIST and UIDL listings and their bounds, UTF8, answers that never end or come
// out of step.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "mail/message_limits.h"
#include "mail/pop3.h"
#include "mail/reply_pop3.h"
#include "raised.h"
#include "script_server.h"

namespace tzn {
namespace {

using test::Pop3AcceptQuit;
using test::Pop3Welcome;
using test::ScriptConn;
using test::ScriptServer;

const std::vector<std::string> kPipelining = {"TOP", "PIPELINING", "USER"};
const std::vector<std::string> kNoPipelining = {"TOP", "USER"};

std::string HeaderAnswer(int n) {
    return "+OK\r\nFrom: a@x.test\r\nSubject: letter " + std::to_string(n) + "\r\n\r\n.\r\n";
}

void Connect(TMxPOP3& c, uint16_t port) {
    c.Host = "127.0.0.1";
    c.Port = port;
    c.Username = "user01";
    c.Password = "pass01";
    c.ReadTimeout = 5000;
    c.ConnectToServer();
}

// What a scan handed out: subject, or "!" and the error text.
struct TScan {
    std::vector<int> Numbers;
    std::vector<std::string> Results;
    void operator()(int n, TMxMessage& header, const std::exception* error) {
        Numbers.push_back(n);
        Results.push_back(error ? "!" + std::string(error->what()) : header.Subject);
    }
};

std::vector<int> Range(int from, int to) {
    std::vector<int> v;
    for (int i = from; i <= to; ++i)
        v.push_back(i);
    return v;
}

TEST(Pop3Pipeline, TopCommandsGoOutAWindowAtATimeAndARefusalSpoilsNothing) {
    std::vector<std::string> beforeFirstReply;
    ScriptServer server([&](ScriptConn& s) {
        Pop3Welcome(s, "+OK ready", kPipelining);
        s.ReadLine(); // the first TOP alone: whether TOP works is not known yet
        s.Send(HeaderAnswer(1));
        // The window must arrive without a reply in between; a client in lock-step would
        // leave this loop waiting until it gives up.
        std::string got;
        size_t lines = 0;
        while (lines < kMxPOP3PipelineWindow) {
            const std::string chunk = s.ReadChunk();
            if (chunk.empty())
                break;
            got += chunk;
            lines = static_cast<size_t>(std::count(got.begin(), got.end(), '\n'));
        }
        for (size_t start = 0, lf; (lf = got.find("\r\n", start)) != std::string::npos;
             start = lf + 2)
            beforeFirstReply.push_back(got.substr(start, lf - start));
        for (int n = 2; n <= 40; ++n) {
            if (n > 33)
                s.ReadLine();
            s.Send(n == 5 ? std::string("-ERR no such message\r\n") : HeaderAnswer(n));
        }
        Pop3AcceptQuit(s);
    });
    TMxPOP3 c;
    Connect(c, server.Port());
    ASSERT_TRUE(c.HasPipelining());
    TScan scan;
    c.FetchHeaders(Range(1, 40), std::ref(scan));
    c.CloseConnection();

    std::vector<std::string> window;
    for (int n = 2; n <= 33; ++n)
        window.push_back("TOP " + std::to_string(n) + " 0");
    EXPECT_EQ(beforeFirstReply, window);
    EXPECT_EQ(scan.Numbers, Range(1, 40));
    for (int n = 1; n <= 40; ++n)
        EXPECT_EQ(scan.Results[n - 1], n == 5 ? "!no such message" : "letter " + std::to_string(n));
    const auto t = server.Transcript();
    EXPECT_EQ(t[t.size() - 2], "TOP 40 0");
    EXPECT_EQ(t.back(), "QUIT");
    EXPECT_FALSE(c.TopMissing());
}

// Without PIPELINING every command waits for the previous answer. A letter refused by both
// TOP and RETR is missing, not TOP; once TOP worked a refusal is the letter's alone.
TEST(Pop3Pipeline, LockStepWithoutPipelining) {
    std::vector<std::string> chunks;
    ScriptServer server([&](ScriptConn& s) {
        Pop3Welcome(s, "+OK ready", kNoPipelining);
        const std::string answers[] = {"-ERR no such message\r\n", "-ERR no such message\r\n",
                                       HeaderAnswer(2), "-ERR deleted\r\n", HeaderAnswer(4)};
        for (const std::string& a : answers) {
            chunks.push_back(s.ReadChunk());
            s.Send(a);
        }
        Pop3AcceptQuit(s);
    });
    TMxPOP3 c;
    Connect(c, server.Port());
    TScan scan;
    c.FetchHeaders({1, 2, 3, 4}, std::ref(scan));
    EXPECT_FALSE(c.TopMissing());
    c.CloseConnection();
    EXPECT_EQ(chunks, (std::vector<std::string>{"TOP 1 0\r\n", "RETR 1\r\n", "TOP 2 0\r\n",
                                                "TOP 3 0\r\n", "TOP 4 0\r\n"}));
    EXPECT_EQ(scan.Results,
              (std::vector<std::string>{"!no such message", "letter 2", "!deleted", "letter 4"}));
}

TEST(Pop3Pipeline, RefusedTopFallsBackToRetrForTheConnection) {
    const std::string letter = "From: a@x.test\r\nSubject: via RETR\r\n\r\nbody line\r\n"
                               "..dotted\r\n" +
                               std::string(100000, 'b') + "\r\n.\r\n";
    ScriptServer server([&](ScriptConn& s) {
        Pop3Welcome(s, "+OK ready", kPipelining);
        s.Answer("-ERR unknown command");
        s.Answer("+OK");
        s.Send(letter);
        s.Answer("+OK");
        s.Send(letter);
        s.Answer("-ERR no such message");
        s.Answer("+OK");
        s.Send(letter);
        s.Answer("+OK 1 50");
        Pop3AcceptQuit(s);
    });
    TMxPOP3 c;
    Connect(c, server.Port());
    TScan scan;
    c.FetchHeaders({1, 2, 3}, std::ref(scan));
    EXPECT_TRUE(c.TopMissing());
    TMxMessage single;
    ASSERT_TRUE(c.FetchHeader(4, single));
    EXPECT_EQ(single.Subject, "via RETR");
    EXPECT_TRUE(single.Body.empty()) << "the body is dropped, not kept";
    EXPECT_EQ(c.MessageCount(), 1) << "the dropped rest did not leak into the next answer";
    c.CloseConnection();
    EXPECT_EQ(scan.Results, (std::vector<std::string>{"via RETR", "via RETR", "!no such message"}));
    EXPECT_EQ(server.Transcript(),
              (std::vector<std::string>{"CAPA", "USER user01", "PASS pass01", "TOP 1 0", "RETR 1",
                                        "RETR 2", "RETR 3", "RETR 4", "STAT", "QUIT"}));
}

TEST(Pop3Pipeline, SizesFromOneListAndTheStatBound) {
    ScriptServer server([](ScriptConn& s) {
        Pop3Welcome(s, "+OK ready", kNoPipelining);
        s.Answer("+OK 3 messages");
        s.Reply("1 120");
        s.Reply("2 many");
        s.Reply("not a number");
        s.Reply("4 4096");
        s.Reply(".");
        s.Answer("-ERR not now");
        s.Answer("+OK 100001 9000000");
        s.Answer("+OK 0 0");
        Pop3AcceptQuit(s);
    });
    TMxPOP3 c;
    Connect(c, server.Port());
    std::map<int, int64_t> sizes;
    ASSERT_TRUE(c.MessageSizes(sizes));
    EXPECT_EQ(sizes, (std::map<int, int64_t>{{1, 120}, {2, -1}, {4, 4096}}));
    EXPECT_FALSE(c.MessageSizes(sizes));
    EXPECT_TRUE(sizes.empty());
    EXPECT_THROW(c.MessageCount(), EMxPOP3ProtocolError);
    EXPECT_EQ(c.MessageCount(), 0) << "a refused count leaves the conversation in step";
    c.CloseConnection();
    EXPECT_EQ(server.Transcript().back(), "QUIT");
}

// A listing the client refuses ends the connection at once: its rest would be read as the
// answers to later commands, and QUIT would commit deletions on a confused conversation.
TEST(Pop3Pipeline, BadListingsCloseTheConnection) {
    struct TCase {
        const char* Name;
        bool Stat;   // STAT "+OK 2 300" first
        bool Uidl;   // else LIST
        int Garbage; // lines "x" before the entries
        std::vector<std::string> Entries;
        const char* Message;
    };
    const TCase cases[] = {
        {"duplicate in UIDL", false, true, 0, {"1 aaa", "2 bbb", "1 ccc"}, "letter 1 twice"},
        {"duplicate in LIST", false, false, 0, {"7 10", "7 10"}, "letter 7 twice"},
        {"beyond STAT", true, false, 0, {"1 10", "3 10"}, "letter 3, beyond the 2"},
        {"beyond any mailbox", false, true, 0, {"100001 x"}, "beyond the 100000"},
        {"too many lines", false, false, kMxPOP3MaxMessages + 1, {}, "more than 100000"},
    };
    for (const TCase& tc : cases) {
        SCOPED_TRACE(tc.Name);
        bool closed = false;
        ScriptServer server([&](ScriptConn& s) {
            Pop3Welcome(s, "+OK ready", kNoPipelining);
            if (tc.Stat)
                s.Answer("+OK 2 300");
            s.ReadLine();
            std::string listing = "+OK\r\n";
            for (int i = 0; i < tc.Garbage; ++i)
                listing += "x\r\n";
            for (const auto& e : tc.Entries)
                listing += e + "\r\n";
            s.Send(listing + ".\r\n");
            closed = s.WaitForClose(3000);
        });
        TMxPOP3 c;
        Connect(c, server.Port());
        if (tc.Stat) {
            EXPECT_EQ(c.MessageCount(), 2);
        }
        std::map<int, int64_t> sizes;
        std::map<int, std::string> ids;
        if (const auto e = test::Raised<EMxPOP3ProtocolError>(
                [&] { tc.Uidl ? c.UniqueIds(ids) : c.MessageSizes(sizes); })) {
            EXPECT_NE(std::string(e->what()).find(tc.Message), std::string::npos) << e->what();
        }
        EXPECT_FALSE(c.IsConnected());
        server.Join();
        EXPECT_TRUE(closed);
        EXPECT_FALSE(test::HasLine(server.Transcript(), "QUIT"));
    }
}

TEST(Pop3Pipeline, Utf8IsAskedForOnlyWhenOffered) {
    for (const bool offered : {true, false}) {
        ScriptServer server([&](ScriptConn& s) {
            s.Reply("+OK ready");
            s.ReadLine();
            s.Reply("+OK");
            s.Reply(offered ? "UTF8 USER" : "USER");
            s.Reply(".");
            if (s.ReadLine() == "UTF8")
                s.Reply("-ERR not in this state"); // a refusal does not stop the log-on
            else
                s.Reply("+OK");
            s.Answer("+OK");
            if (offered)
                s.Answer("+OK logged in");
            Pop3AcceptQuit(s);
        });
        TMxPOP3 c;
        Connect(c, server.Port());
        c.CloseConnection();
        std::vector<std::string> expected = {"CAPA", "USER user01", "PASS pass01", "QUIT"};
        if (offered)
            expected.insert(expected.begin() + 1, "UTF8");
        EXPECT_EQ(server.Transcript(), expected);
    }
}

// A server that never ends its answer: the header limit stops the reading, and the rest is
// dropped only up to a bound of its own; then the connection is closed, well before the
// server would stop by itself.
TEST(Pop3Pipeline, AnEndlessAnswerEndsTheConnection) {
    std::atomic<bool> clientDone{false};
    ScriptServer server([&](ScriptConn& s) {
        Pop3Welcome(s, "+OK ready", kNoPipelining);
        s.ReadLine();
        s.Send("+OK\r\n");
        std::string chunk;
        while (chunk.size() < (1u << 20))
            chunk += "X-Filler: 0123456789012345678901234567890123456789\r\n";
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!clientDone && std::chrono::steady_clock::now() < until)
            s.Send(chunk); // fails at once after the client has gone
    });
    TMxPOP3 c;
    Connect(c, server.Port());
    const auto start = std::chrono::steady_clock::now();
    TMxMessage m;
    if (const auto e = test::Raised<EMxLimitExceeded>([&] { c.FetchHeader(1, m); })) {
        EXPECT_STREQ(e->what(), "Message header too long.");
    }
    clientDone = true;
    EXPECT_FALSE(c.IsConnected());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

// A reply that is not "+OK" or "-ERR" where one is due: every later answer would be read
// as another command's, so the scan stops and the connection goes.
TEST(Pop3Pipeline, AnAnswerOutOfStepEndsTheScan) {
    ScriptServer server([](ScriptConn& s) {
        Pop3Welcome(s, "+OK ready", kPipelining);
        s.ReadLine();
        s.Send(HeaderAnswer(1));
        s.ReadLine();
        s.ReadLine();
        s.Send(HeaderAnswer(2) + "Subject: stray\r\n" + HeaderAnswer(3));
        s.WaitForClose(3000);
    });
    TMxPOP3 c;
    Connect(c, server.Port());
    TScan scan;
    EXPECT_THROW(c.FetchHeaders({1, 2, 3}, std::ref(scan)), EMxPOP3ProtocolError);
    EXPECT_EQ(scan.Results, (std::vector<std::string>{"letter 1", "letter 2"}));
    EXPECT_FALSE(c.IsConnected());
    EXPECT_FALSE(test::HasLine(server.Transcript(), "QUIT"));
}

// The caller stopping the scan with commands under way: their answers are read off, so the
// next command gets its own answer.
TEST(Pop3Pipeline, AStoppedScanLeavesTheConversationInStep) {
    ScriptServer server([](ScriptConn& s) {
        Pop3Welcome(s, "+OK ready", kPipelining);
        s.ReadLine();
        s.Send(HeaderAnswer(1));
        for (int n = 2; n <= 5; ++n)
            s.ReadLine();
        for (int n = 2; n <= 5; ++n)
            s.Send(n == 4 ? std::string("-ERR gone\r\n") : HeaderAnswer(n));
        s.Answer("+OK 5 900");
        Pop3AcceptQuit(s);
    });
    TMxPOP3 c;
    Connect(c, server.Port());
    std::vector<int> seen;
    EXPECT_THROW(c.FetchHeaders(Range(1, 5),
                                [&](int n, TMxMessage&, const std::exception*) {
                                    seen.push_back(n);
                                    if (n == 2)
                                        throw std::runtime_error("stop");
                                }),
                 std::runtime_error);
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
    EXPECT_EQ(c.MessageCount(), 5);
    c.CloseConnection();
    EXPECT_EQ(server.Transcript().back(), "QUIT");
}

} // namespace
} // namespace tzn
