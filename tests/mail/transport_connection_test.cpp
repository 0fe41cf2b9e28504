// The TCP client against scripted loopback peers: replies as servers really send them,
// odd line shapes, closes, silence, pipelined writes and connection failures.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <future>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "mail/exceptions.h"
#include "mail/io_handler_socket.h"
#include "mail/protocol_guard.h"
#include "mail/reply_pop3.h"
#include "mail/reply_smtp.h"
#include "mail/tcp_client.h"
#include "raised.h"
#include "script_server.h"

namespace tzn {
namespace {

using test::ScriptConn;
using test::ScriptServer;

class SmtpLikeClient : public TMxTCPClient {
public:
    SmtpLikeClient() : TMxTCPClient(std::make_unique<TMxReplySMTP>()) { Host = "127.0.0.1"; }
    TMxReplySMTP& Reply() { return static_cast<TMxReplySMTP&>(LastReply()); }

protected:
    void DisconnectNotifyPeer() override { Transact("QUIT", {221}); }
};

class Pop3LikeClient : public TMxTCPClient {
public:
    Pop3LikeClient() : TMxTCPClient(std::make_unique<TMxReplyPOP3>()) { Host = "127.0.0.1"; }
    TMxReplyPOP3& Reply() { return static_cast<TMxReplyPOP3&>(LastReply()); }
};

TEST(TransportReplies, NumericRepliesAsServersSendThem) {
    ScriptServer server([](ScriptConn& p) {
        p.Send("\r\n\r\n220 ready\r\n"); // blank lines before the greeting
        EXPECT_EQ(p.ReadLine(), "EHLO me");
        p.Send("250-mail.test\r\n250-PIPELINING\r\n250 AUTH LOGIN\r\n");
        EXPECT_EQ(p.ReadLine(), "NOOP");
        p.Send("250\r\n"); // only the three digits
        EXPECT_EQ(p.ReadLine(), "RCPT TO:<x@y>");
        p.Send("550-5.1.1 No such\r\n550 5.1.1 user here\r\n");
        EXPECT_EQ(p.ReadLine(), "QUIT");
        p.Send("221 bye\r\n");
    });
    SmtpLikeClient c;
    c.Port = server.Port();
    c.ConnectToServer();
    EXPECT_EQ(c.ReadReply({220}), 220);
    EXPECT_EQ(c.Reply().Text, std::vector<std::string>{"ready"});

    EXPECT_EQ(c.Transact("EHLO me"), 250);
    EXPECT_EQ(c.Reply().Text, (std::vector<std::string>{"mail.test", "PIPELINING", "AUTH LOGIN"}));

    EXPECT_EQ(c.Transact("NOOP", {250}), 250);
    EXPECT_EQ(c.Reply().Text, std::vector<std::string>{""});

    if (const auto e = test::Raised<EMxSMTPReplyError>(
            [&] {
                c.Transact("RCPT TO:<x@y>", {250, 251});
            },
            "a refused recipient must raise")) {
        EXPECT_EQ(e->ErrorCode(), 550);
        EXPECT_STREQ(e->what(), "No such\r\nuser here");
        EXPECT_TRUE(e->EnhancedCode().Available);
        EXPECT_EQ(e->EnhancedCode().ReplyAsStr(), "5.1.1");
    }
    c.CloseConnection();
    EXPECT_FALSE(c.IsConnected());
}

TEST(TransportReplies, Pop3StatusLinesAndResponseCodes) {
    ScriptServer server([](ScriptConn& p) {
        p.Send("+OK\r\n"); // nothing after the status
        EXPECT_EQ(p.ReadLine(), "USER u");
        p.Send("-ERR [IN-USE] mailbox locked by another session\r\n");
        EXPECT_EQ(p.ReadLine(), "STAT");
        p.Send("+OK 2 320\r\n");
    });
    Pop3LikeClient c;
    c.Port = server.Port();
    c.ConnectToServer();
    EXPECT_EQ(c.ReadReply("+OK"), "+OK");
    EXPECT_EQ(c.Reply().Text, std::vector<std::string>{""});
    if (const auto e = test::Raised<EMxReplyPOP3Error>([&] { c.Transact("USER u", "+OK"); })) {
        EXPECT_STREQ(e->what(), "mailbox locked by another session");
        EXPECT_EQ(e->ReplyCode(), "-ERR");
        EXPECT_EQ(e->EnhancedCode(), "[IN-USE]");
    }
    EXPECT_EQ(c.Reply().EnhancedCode(), "[IN-USE]");
    EXPECT_EQ(c.Transact("STAT", "+OK"), "+OK");
    EXPECT_EQ(c.Reply().Text, std::vector<std::string>{"2 320"});
}

// A reply of kMxMaxReplyLines lines is read whole; one line more is an error and ends the
// connection, whose remaining lines would otherwise pass for the answers to later commands.
// A reply line beyond the line limit is an error too.
TEST(TransportReplies, RepliesAreBoundedInLinesAndLength) {
    auto reply = [](size_t lines) {
        std::string r;
        for (size_t i = 1; i < lines; ++i)
            r += "250-member\r\n";
        return r + "250 last\r\n";
    };
    bool closed = false;
    ScriptServer server([&](ScriptConn& p) {
        p.ReadLine();
        p.Send(reply(kMxMaxReplyLines));
        p.ReadLine();
        p.Send(reply(kMxMaxReplyLines + 1));
        closed = p.WaitForClose(3000);
    });
    SmtpLikeClient c;
    c.Port = server.Port();
    c.ConnectToServer();
    EXPECT_EQ(c.Transact("EXPN a", {250}), 250);
    EXPECT_EQ(c.Reply().Text.size(), kMxMaxReplyLines);
    if (const auto e = test::Raised<EMxReplyTooLong>([&] { c.Transact("EXPN b", {250}); })) {
        EXPECT_EQ(std::string(e->what()),
                  "Reply has more than " + std::to_string(kMxMaxReplyLines) + " lines.");
    }
    server.Join();
    EXPECT_TRUE(closed);

    ScriptServer longLine([](ScriptConn& p) {
        p.Send("220-" + std::string(kMxMaxLineLength, 'x') + "\r\n220 ready\r\n");
        p.ReadLine();
    });
    SmtpLikeClient d;
    d.Port = longLine.Port();
    d.ConnectToServer();
    EXPECT_THROW(d.ReadReply({220}), EMxReadLnMaxLineLengthExceeded);
    d.WriteLine("done");
}

TEST(TransportLines, LongLinesBareLineFeedsAndCarriageReturns) {
    const std::string big(16385, 'x');
    ScriptServer server([&](ScriptConn& p) {
        p.Send("crlf line\r\nbare lf line\nodd\rcr inside\n\n");
        p.Send(std::string(16384, 'y') + "\n"); // exactly the limit: fine
        p.Send(big);                            // no LF at all
        p.ReadLine();                           // wait for the client before closing
    });
    SmtpLikeClient c;
    c.Port = server.Port();
    c.ConnectToServer();
    TMxIOHandler& io = *c.IOHandler();
    EXPECT_EQ(io.ReadLine(), "crlf line");
    EXPECT_EQ(io.ReadLine(), "bare lf line");
    EXPECT_EQ(io.ReadLine(), "odd\rcr inside");
    EXPECT_EQ(io.ReadLine(), "");
    EXPECT_EQ(io.ReadLine().size(), 16384u);
    if (const auto e = test::Raised<EMxReadLnMaxLineLengthExceeded>(
            [&] { io.ReadLine(); }, "16385 bytes without LF must exceed the limit")) {
        EXPECT_STREQ(e->what(), "Max line length exceeded.");
    }
    io.MaxLineAction = TMxMaxLineAction::Split;
    std::string part = io.ReadLine();
    EXPECT_TRUE(io.ReadLnSplit());
    EXPECT_EQ(part, std::string(16384, 'x'));
    io.WriteLine("done");
}

TEST(TransportLines, PeerCloseAfterLastLineKeepsBufferedLines) {
    ScriptServer server([](ScriptConn& p) {
        p.Send("+OK one\r\n+OK two\r\nlast without break");
        p.Close();
    });
    Pop3LikeClient c;
    std::vector<std::string> notices;
    c.OnStatus = [&](TMxComponent&, TMxStatus, const std::string& t) { notices.push_back(t); };
    c.Port = server.Port();
    c.ConnectToServer();
    server.Join(); // the peer has closed before we read anything
    EXPECT_TRUE(c.IsConnected()) << "unread input keeps the connection readable";
    EXPECT_EQ(c.ReadReply("+OK"), "+OK");
    EXPECT_EQ(c.Reply().Text[0], "one");
    EXPECT_EQ(c.ReadReply("+OK"), "+OK");
    EXPECT_EQ(c.IOHandler()->ReadLine(), "last without break");
    EXPECT_THROW(c.IOHandler()->ReadLine(), EMxConnClosedGracefully);
    EXPECT_TRUE(c.IOHandler()->ClosedGracefully());
    EXPECT_FALSE(c.IsConnected());
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.back(), "Disconnected.");
    if (const auto e = test::Raised<EMxConnClosedGracefully>([&] { c.Transact("NOOP"); })) {
        EXPECT_STREQ(e->what(), "Connection Closed Gracefully.");
    }
}

TEST(TransportTimeouts, SilentPeerEndsInReadTimeout) {
    std::promise<void> done;
    ScriptServer server([&](ScriptConn&) { done.get_future().wait_for(std::chrono::seconds(10)); });
    SmtpLikeClient c;
    c.Port = server.Port();
    c.ReadTimeout = 300;
    c.ConnectToServer();
    // A limit given for one call only: an empty line and the flag, no exception.
    EXPECT_EQ(c.IOHandler()->ReadLine({}, 100), "");
    EXPECT_TRUE(c.IOHandler()->ReadLnTimedout());
    EXPECT_TRUE(c.IsConnected()) << "a time-out of one call leaves the connection usable";
    auto t0 = std::chrono::steady_clock::now();
    if (const auto e = test::Raised<EMxReadTimeout>([&] { c.ReadReply({220}); })) {
        EXPECT_STREQ(e->what(), "Read Timeout");
    }
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    EXPECT_GE(ms, 250);
    EXPECT_LT(ms, 5000);
    EXPECT_FALSE(c.IsConnected()) << "the answer may still come: the conversation is over";
    done.set_value();
}

TEST(TransportWrites, BufferedCommandsTravelInOneWrite) {
    std::promise<void> flushed;
    std::promise<std::string> firstRead;
    ScriptServer server([&](ScriptConn& p) {
        flushed.get_future().wait_for(std::chrono::seconds(10));
        firstRead.set_value(p.ReadChunk());
        p.Send("250 a\r\n250 b\r\n250 c\r\n354 go\r\n");
        p.ReadLine();
    });
    SmtpLikeClient c;
    c.Port = server.Port();
    int writes = 0;
    c.OnWork = [&](TMxComponent&, TMxWorkMode m, int64_t) { writes += m == TMxWorkMode::Write; };
    c.ConnectToServer();
    TMxIOHandler& io = *c.IOHandler();
    c.BeginWork(TMxWorkMode::Write);
    io.BufferWrites();
    io.WriteLine("RSET");
    io.WriteLine("MAIL FROM: <a@b>");
    io.WriteLine("RCPT TO:<c@d>");
    io.WriteLine("DATA");
    EXPECT_EQ(writes, 0) << "nothing leaves while buffering";
    io.FlushWrites();
    c.EndWork(TMxWorkMode::Write);
    EXPECT_EQ(writes, 1) << "one send for all four commands";
    flushed.set_value();
    EXPECT_EQ(firstRead.get_future().get(),
              "RSET\r\nMAIL FROM: <a@b>\r\nRCPT TO:<c@d>\r\nDATA\r\n");
    EXPECT_EQ(c.ReadReply({250}), 250);
    EXPECT_EQ(c.ReadReply({250}), 250);
    EXPECT_EQ(c.ReadReply({250}), 250);
    EXPECT_EQ(c.ReadReply({354}), 354);
    io.WriteLine(".");
}

TEST(TransportConnect, RefusedConnectAndArgumentErrors) {
    SmtpLikeClient c;
    c.Port = test::ClosedLoopbackPort();
    if (const auto e = test::Raised<EMxSocketError>([&] { c.ConnectToServer(); })) {
        EXPECT_EQ(e->LastError(), 10061);
        EXPECT_STREQ(e->what(), "Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_EQ(c.IOHandler(), nullptr) << "a handler the client made is released on failure";
    EXPECT_THROW(c.Transact("NOOP"), EMxNotConnected);

    SmtpLikeClient noHost;
    noHost.Host.clear();
    noHost.Port = 25;
    EXPECT_THROW(noHost.ConnectToServer(), EMxHostRequired);
    SmtpLikeClient noPort;
    EXPECT_THROW(noPort.ConnectToServer(), EMxPortRequired);

    SmtpLikeClient badName;
    badName.Host = "no-such-host.invalid";
    badName.Port = 25;
    if (const auto e = test::Raised<EMxSocketError>([&] { badName.ConnectToServer(); })) {
        EXPECT_GE(e->LastError(), 11001); // 11001 or, without a resolver, 11002/11003
        EXPECT_LE(e->LastError(), 11004);
    }
}

TEST(TransportConnect, StatusNoticesAndSecondConnect) {
    ScriptServer server([](ScriptConn& p) {
        EXPECT_EQ(p.ReadLine(), "QUIT");
        p.Send("221 bye\r\n");
    });
    SmtpLikeClient c;
    c.Host = "localhost";
    c.Port = server.Port();
    std::vector<std::string> notices;
    c.OnStatus = [&](TMxComponent&, TMxStatus, const std::string& t) { notices.push_back(t); };
    c.ConnectToServer();
    EXPECT_THROW(c.ConnectToServer(), EMxAlreadyConnected);
    c.CloseConnection();
    EXPECT_EQ(notices,
              (std::vector<std::string>{"Resolving hostname localhost.", "Connecting to 127.0.0.1.",
                                        "Connected.", "Disconnecting.", "Disconnected."}));
}

TEST(TransportConnect, FailedFarewellStillClosesTheSocket) {
    ScriptServer refusing([](ScriptConn& p) {
        p.ReadLine();
        p.Send("500 not now\r\n");
        p.ReadLine();
    });
    SmtpLikeClient c;
    c.Port = refusing.Port();
    c.ConnectToServer();
    EXPECT_THROW(c.CloseConnection(), EMxReplyRFCError);
    EXPECT_FALSE(c.IOHandler()->Connected());

    ScriptServer resetting([](ScriptConn& p) { p.Abort(); });
    SmtpLikeClient d;
    d.Port = resetting.Port();
    d.ConnectToServer();
    resetting.Join();
    // The farewell meets a reset connection: some failure reaches us, the socket is closed.
    EXPECT_THROW(d.CloseConnection(), EMxException);
    EXPECT_FALSE(d.IOHandler()->Connected());
    EXPECT_NO_THROW(d.CloseConnection());
}

TEST(TransportConnect, ResetByPeerIsASocketError) {
    ScriptServer server([](ScriptConn& p) { p.Abort(); });
    Pop3LikeClient c;
    c.Port = server.Port();
    c.ConnectToServer();
    server.Join();
    if (const auto e = test::Raised<EMxSocketError>([&] { c.ReadReply("+OK"); })) {
        EXPECT_EQ(e->LastError(), 10054);
        EXPECT_STREQ(e->what(), "Socket Error # 10054\r\nConnection reset by peer.");
    }
    EXPECT_FALSE(c.IsConnected()) << "a broken connection reads as closed, without raising";
    EXPECT_NO_THROW(c.CloseConnection());
}

TEST(TransportConnect, ConnectTimeoutOnAFullBacklog) {
    // A listener that never accepts, its queue filled: further connects get no answer.
    uint16_t port = 0;
    const int l = test::OpenLoopbackListener(port, 0);
    const sockaddr_in sa = test::LoopbackAddress(port);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(f, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
        fillers.push_back(f);
    }
    SmtpLikeClient c;
    c.Port = port;
    c.ConnectTimeout = 300;
    auto t0 = std::chrono::steady_clock::now();
    if (const auto e = test::Raised<EMxConnectTimeout>(
            [&] { c.ConnectToServer(); }, "connect into a full backlog should not complete")) {
        EXPECT_STREQ(e->what(), "Connect timed out.");
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    }
    for (int f : fillers)
        ::close(f);
    ::close(l);
}

} // namespace
} // namespace tzn
