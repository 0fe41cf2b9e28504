// Encrypted connections to the real loopback Postfix and Dovecot: a letter out and back in
// every mode, the log-in seen on the wire only inside TLS, and the certificate checks that
// refuse an untrusted CA or a wrong name before any password leaves.
#include <gtest/gtest.h>

#include "loopback_relay.h"
#include "mail/exceptions.h"
#include "mail_server.h"
#include "platform/cp1251.h"
#include "raised.h"

namespace tzn {
namespace {

// Mailboxes of this file (mail_roundtrip_test uses 0..5, the tool tests 6..8).
constexpr size_t kSender = 19;
constexpr size_t kModes = 20;

class TlsRoundTrip : public test::MailServerTest {
protected:
    void SetUp() override {
        test::MailServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (FEnv.SmtpsPort == 0 || FEnv.Pop3sPort == 0 || FEnv.CAFile.empty())
            GTEST_SKIP() << "the mail server offers no TLS ports (TZN_SMTPS_PORT, TZN_CA_FILE)";
    }
    template <typename Client> void Secure(Client& c, TMxTLSMode mode, uint16_t implicitPort) {
        c.UseTLS.Mode = mode;
        c.UseTLS.CAFile = FEnv.CAFile;
        if (mode == TMxTLSMode::Implicit)
            c.Port = implicitPort;
    }
    template <typename Fn> static std::string TlsErrorOf(Fn&& fn) {
        const auto e = test::Raised<EMxTLSError>(fn, "no EMxTLSError");
        return e ? e->what() : std::string();
    }
};

std::string Base64(const std::string& s) {
    static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < s.size(); i += 3) {
        uint32_t v = static_cast<uint8_t>(s[i]) << 16;
        if (i + 1 < s.size())
            v |= static_cast<uint8_t>(s[i + 1]) << 8;
        if (i + 2 < s.size())
            v |= static_cast<uint8_t>(s[i + 2]);
        out += k[(v >> 18) & 63];
        out += k[(v >> 12) & 63];
        out += i + 1 < s.size() ? k[(v >> 6) & 63] : '=';
        out += i + 2 < s.size() ? k[v & 63] : '=';
    }
    return out;
}

TEST_F(TlsRoundTrip, EveryModeCarriesALetterOutAndBackIntact) {
    const auto& box = User(kModes);
    Empty(box);
    const std::string body = ru("Отчёт за смену: 1234,56");
    const std::pair<TMxTLSMode, const char*> modes[] = {{TMxTLSMode::None, "none"},
                                                        {TMxTLSMode::Auto, "auto"},
                                                        {TMxTLSMode::StartTLS, "starttls"},
                                                        {TMxTLSMode::Implicit, "tls"}};
    for (const auto& [mode, name] : modes) {
        SCOPED_TRACE(name);
        const bool encrypted = mode != TMxTLSMode::None;
        TMxSMTP smtp;
        ConfigureSmtp(smtp, User(kSender));
        Secure(smtp, mode, FEnv.SmtpsPort);
        smtp.ConnectToServer();
        EXPECT_EQ(smtp.TLSInfo().Encrypted, encrypted);
        // Over STARTTLS the capabilities come from the second EHLO, inside TLS.
        EXPECT_EQ(smtp.HasCapability("STARTTLS"), !encrypted);
        TMxMessage m;
        m.From().Address = User(kSender).Address;
        m.Recipients.SetEMailAddresses(box.Address);
        m.Subject = std::string("TZN-Office over ") + name;
        m.Body = {body, ".", ".. two dots", "end"};
        smtp.SendMail(m);
        EXPECT_TRUE(smtp.DidAuthenticate());
        smtp.CloseConnection();
        ASSERT_EQ(WaitForCount(box, 1), 1);

        TMxPOP3 pop;
        ConfigurePop3(pop, box);
        Secure(pop, mode, FEnv.Pop3sPort);
        pop.ConnectToServer();
        const TMxTLSInfo tls = pop.TLSInfo();
        EXPECT_EQ(tls.Encrypted, encrypted);
        if (encrypted) {
            EXPECT_EQ(tls.Version.rfind("TLSv1.", 0), 0u) << tls.Version;
            EXPECT_NE(tls.Version, "TLSv1.1");
            EXPECT_NE(tls.Subject.find("CN = localhost"), std::string::npos) << tls.Subject;
            EXPECT_NE(tls.Issuer.find("TZNMail test CA"), std::string::npos) << tls.Issuer;
        }
        TMxMessage got;
        ASSERT_TRUE(pop.FetchMessage(1, got));
        pop.DeleteMessage(1);
        pop.CloseConnection();
        EXPECT_EQ(got.Subject, m.Subject);
        EXPECT_EQ(got.Body, m.Body);
    }
}

TEST_F(TlsRoundTrip, TheLogInCrossesTheWireOnlyInsideTls) {
    const auto& u = User(kSender);
    const std::string secret = Base64(u.Password);
    for (TMxTLSMode mode : {TMxTLSMode::None, TMxTLSMode::StartTLS}) {
        const bool tls = mode == TMxTLSMode::StartTLS;
        {
            test::TLoopbackRelay relay(FEnv.SmtpPort);
            TMxSMTP smtp;
            ConfigureSmtp(smtp, u);
            Secure(smtp, mode, 0);
            smtp.Port = relay.Port();
            smtp.ConnectToServer();
            EXPECT_TRUE(smtp.Authenticate());
            smtp.CloseConnection();
            const std::string wire = relay.Sent();
            EXPECT_EQ(wire.find("STARTTLS\r\n") != std::string::npos, tls) << wire;
            // The clear-text run shows the recorder would have seen a log-in.
            EXPECT_EQ(wire.find("AUTH LOGIN") == std::string::npos, tls);
            EXPECT_EQ(wire.find(secret) == std::string::npos, tls);
        }
        test::TLoopbackRelay relay(FEnv.Pop3Port);
        TMxPOP3 pop;
        ConfigurePop3(pop, u);
        Secure(pop, mode, 0);
        pop.Port = relay.Port();
        pop.ConnectToServer();
        pop.CloseConnection();
        const std::string wire = relay.Sent();
        EXPECT_EQ(wire.find("STLS\r\n") != std::string::npos, tls) << wire;
        EXPECT_EQ(wire.find("PASS " + u.Password) == std::string::npos, tls);
    }
}

TEST_F(TlsRoundTrip, AnUntrustedCertificateOrAWrongNameIsRefusedBeforeTheLogIn) {
    const auto& u = User(kSender);
    {
        // The system's store does not know the throw-away CA.
        test::TLoopbackRelay relay(FEnv.SmtpPort);
        TMxSMTP smtp;
        ConfigureSmtp(smtp, u);
        Secure(smtp, TMxTLSMode::Auto, 0);
        smtp.UseTLS.CAFile.clear();
        smtp.Port = relay.Port();
        const std::string text = TlsErrorOf([&] { smtp.ConnectToServer(); });
        EXPECT_NE(text.find("certificate refused: unable to get local issuer certificate"),
                  std::string::npos)
            << text;
        EXPECT_FALSE(smtp.IsConnected());
        EXPECT_EQ(relay.Sent().find("AUTH"), std::string::npos) << relay.Sent();
    }
    TMxPOP3 pop;
    ConfigurePop3(pop, u);
    Secure(pop, TMxTLSMode::Implicit, FEnv.Pop3sPort);
    pop.UseTLS.VerifyHost = "wrong.example";
    std::string text = TlsErrorOf([&] { pop.ConnectToServer(); });
    EXPECT_NE(text.find("hostname mismatch"), std::string::npos) << text;

    TMxSMTP smtp;
    ConfigureSmtp(smtp, u);
    Secure(smtp, TMxTLSMode::Implicit, FEnv.SmtpsPort);
    smtp.UseTLS.VerifyHost = "127.0.0.2"; // an address the certificate does not carry
    text = TlsErrorOf([&] { smtp.ConnectToServer(); });
    EXPECT_NE(text.find("IP address mismatch"), std::string::npos) << text;
}

} // namespace
} // namespace tzn
