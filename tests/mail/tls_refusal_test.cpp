// Encrypted connections refused before any password leaves: a required STARTTLS/STLS the
// server does not offer, clear text injected behind the server's consent to TLS, and a
// server that never answers the handshake. The mode names of the settings are checked too.
#include <gtest/gtest.h>

#include "mail/exceptions.h"
#include "mail/pop3.h"
#include "mail/smtp.h"
#include "raised.h"
#include "script_server.h"

namespace tzn {
namespace {

using test::HasLine;
using test::ScriptConn;
using test::ScriptServer;

template <typename Client> void Configure(Client& c, uint16_t port, TMxTLSMode mode) {
    c.Host = "127.0.0.1";
    c.Port = port;
    c.Username = "station";
    c.Password = "secret";
    c.ReadTimeout = 3000;
    c.UseTLS.Mode = mode;
}

// Every line the client sent holds no trace of the log-in.
void ExpectNoLogin(const std::vector<std::string>& lines) {
    for (const std::string& l : lines) {
        EXPECT_EQ(l.rfind("AUTH", 0), std::string::npos) << l;
        EXPECT_EQ(l.rfind("USER", 0), std::string::npos) << l;
        EXPECT_EQ(l.rfind("PASS", 0), std::string::npos) << l;
        EXPECT_EQ(l.find("c2VjcmV0"), std::string::npos) << l; // "secret" in base64
    }
}

template <typename Fn> std::string TlsErrorOf(Fn&& fn) {
    const auto e = test::Raised<EMxTLSError>(fn, "no EMxTLSError");
    return e ? e->what() : std::string();
}

TEST(SmtpTls, RequiredStartTlsNotOfferedIsRefusedWhileAutoGoesOnInClearText) {
    auto script = [](ScriptConn& s) {
        s.Reply("220 fake.test ESMTP");
        s.ReadLine(); // EHLO
        s.Reply("250-fake.test");
        s.Reply("250 AUTH LOGIN");
        if (s.ReadLine() != "AUTH LOGIN")
            return;
        s.Reply("334 VXNlcm5hbWU6");
        s.Answer("334 UGFzc3dvcmQ6");
        s.Answer("235 ok");
        s.Answer("221 Bye");
    };
    {
        ScriptServer server(script);
        {
            TMxSMTP c;
            Configure(c, server.Port(), TMxTLSMode::StartTLS);
            const std::string text = TlsErrorOf([&] { c.ConnectToServer(); });
            EXPECT_NE(text.find("does not offer STARTTLS"), std::string::npos) << text;
            EXPECT_FALSE(c.IsConnected());
        }
        const auto lines = server.Transcript();
        EXPECT_FALSE(HasLine(lines, "STARTTLS"));
        ExpectNoLogin(lines);
    }
    // Auto keeps the old clear-text behaviour with such a server.
    ScriptServer server(script);
    {
        TMxSMTP c;
        Configure(c, server.Port(), TMxTLSMode::Auto);
        c.ConnectToServer();
        EXPECT_FALSE(c.TLSInfo().Encrypted);
        EXPECT_TRUE(c.Authenticate());
        c.CloseConnection();
    }
    EXPECT_TRUE(HasLine(server.Transcript(), "AUTH LOGIN"));
}

TEST(SmtpTls, ClearTextInjectedBehindTheStartTlsAnswerIsRefused) {
    ScriptServer server([](ScriptConn& s) {
        s.Reply("220 fake.test ESMTP");
        s.ReadLine(); // EHLO
        s.Reply("250-fake.test");
        s.Reply("250 STARTTLS");
        s.ReadLine(); // STARTTLS
        // One packet: the consent and a forged answer to the EHLO that would follow.
        s.Send("220 2.0.0 Ready to start TLS\r\n250-evil.test\r\n250 AUTH LOGIN\r\n");
        s.ReadLine();
    });
    {
        TMxSMTP c;
        Configure(c, server.Port(), TMxTLSMode::Auto);
        const std::string text = TlsErrorOf([&] { c.ConnectToServer(); });
        EXPECT_NE(text.find("clear text after agreeing to TLS"), std::string::npos) << text;
        EXPECT_FALSE(c.IsConnected());
    }
    const auto lines = server.Transcript();
    EXPECT_TRUE(HasLine(lines, "STARTTLS"));
    EXPECT_EQ(lines.back(), "<EOF>") << "nothing more was sent after the refusal";
    ExpectNoLogin(lines);
}

TEST(Pop3Tls, RequiredStlsNotOfferedAndInjectedClearTextAreRefused) {
    {
        ScriptServer server([](ScriptConn& s) {
            s.Reply("+OK ready");
            s.ReadLine(); // CAPA
            s.Send("+OK\r\nUSER\r\nUIDL\r\n.\r\n");
            s.ReadLine();
        });
        {
            TMxPOP3 c;
            Configure(c, server.Port(), TMxTLSMode::StartTLS);
            const std::string text = TlsErrorOf([&] { c.ConnectToServer(); });
            EXPECT_NE(text.find("does not offer STLS"), std::string::npos) << text;
        }
        ExpectNoLogin(server.Transcript());
    }
    ScriptServer server([](ScriptConn& s) {
        s.Reply("+OK ready");
        s.ReadLine(); // CAPA
        s.Send("+OK\r\nSTLS\r\nUSER\r\n.\r\n");
        s.ReadLine(); // STLS
        s.Send("+OK Begin TLS\r\n+OK\r\nUSER\r\n.\r\n");
        s.ReadLine();
    });
    {
        TMxPOP3 c;
        Configure(c, server.Port(), TMxTLSMode::StartTLS);
        const std::string text = TlsErrorOf([&] { c.ConnectToServer(); });
        EXPECT_NE(text.find("clear text after agreeing to TLS"), std::string::npos) << text;
    }
    const auto lines = server.Transcript();
    EXPECT_TRUE(HasLine(lines, "STLS"));
    ExpectNoLogin(lines);
}

TEST(Pop3Tls, ASilentServerEndsTheImplicitHandshakeWithTheReadTimeout) {
    ScriptServer server([](ScriptConn& s) { s.WaitForClose(30000); });
    TMxPOP3 c;
    Configure(c, server.Port(), TMxTLSMode::Implicit);
    c.ReadTimeout = 300;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(c.ConnectToServer(), EMxReadTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(c.IsConnected());
}

TEST(TlsModeNames, TheSettingsWordsMapToModesAndOthersAreRefused) {
    const std::pair<const char*, TMxTLSMode> known[] = {{"none", TMxTLSMode::None},
                                                        {"STARTTLS", TMxTLSMode::StartTLS},
                                                        {" tls ", TMxTLSMode::Implicit},
                                                        {"Auto", TMxTLSMode::Auto},
                                                        {"", TMxTLSMode::Auto}};
    for (const auto& [name, want] : known) {
        TMxTLSMode got = TMxTLSMode::None;
        EXPECT_TRUE(TryTlsModeFromName(name, got)) << name;
        EXPECT_EQ(got, want) << name;
    }
    TMxTLSMode got{};
    for (const char* bad : {"ssl", "yes", "starttls2", "tls1.2"})
        EXPECT_FALSE(TryTlsModeFromName(bad, got)) << bad;
}

} // namespace
} // namespace tzn
