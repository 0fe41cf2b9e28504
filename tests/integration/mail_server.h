// The loopback mail server started by scripts/test (scripts/mailserver): its ports, domain
// and mailbox users from the environment. ctest runs tests in parallel, so every test that
// touches mailboxes takes users of its own by index (see kMailUser* in the tests).
//
// The session tests run a second time against the second, independent server pair: ctest
// sets TZN_MAIL_ENV_PREFIX=TZN_SECOND_ for them, and scripts/test exports that pair's settings
// under that prefix (TZN_SECOND_SMTP_PORT, ...).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mail/pop3.h"
#include "mail/smtp.h"

namespace tzn::test {

struct MailUser {
    std::string Login;
    std::string Password;
    std::string Address;
};

struct MailServerEnv {
    uint16_t SmtpPort = 0;
    uint16_t Pop3Port = 0;
    uint16_t SmtpsPort = 0; // TLS from the first byte
    uint16_t Pop3sPort = 0;
    std::string CAFile; // the throw-away CA that signed the servers' certificate
    std::string Domain;
    std::vector<MailUser> Users;

    // Where the settings come from: "TZN_" by default.
    static std::string Prefix() {
        const char* p = std::getenv("TZN_MAIL_ENV_PREFIX");
        return p && *p ? p : "TZN_";
    }
    static std::string Get(const std::string& name) {
        const char* v = std::getenv((Prefix() + name).c_str());
        return v ? v : "";
    }
    static uint16_t Port(const std::string& name) {
        return static_cast<uint16_t>(std::atoi(Get(name).c_str()));
    }

    // False when scripts/test did not start a server (TZN_SMTP_PORT unset).
    static bool Read(MailServerEnv& env) {
        if (Get("SMTP_PORT").empty())
            return false;
        env.SmtpPort = Port("SMTP_PORT");
        env.Pop3Port = Port("POP3_PORT");
        env.SmtpsPort = Port("SMTPS_PORT");
        env.Pop3sPort = Port("POP3S_PORT");
        env.Domain = Get("MAIL_DOMAIN");
        env.CAFile = Get("CA_FILE");
        std::istringstream in(Get("MAIL_USERS"));
        std::string pair;
        while (in >> pair) {
            size_t colon = pair.find(':');
            if (colon == std::string::npos)
                continue;
            MailUser u{pair.substr(0, colon), pair.substr(colon + 1), {}};
            // Servers that want the whole address as the login name give it so.
            u.Address =
                u.Login.find('@') == std::string::npos ? u.Login + "@" + env.Domain : u.Login;
            env.Users.push_back(u);
        }
        return true;
    }
};

// Base of the tests against the real server: skips with a clear message when there is none.
class MailServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!MailServerEnv::Read(FEnv))
            GTEST_SKIP() << MailServerEnv::Prefix()
                         << "SMTP_PORT is not set: no loopback mail server (run scripts/test, "
                            "or scripts/mailserver start DIR [--pair second] and export DIR/env "
                            "under that prefix)";
        ASSERT_GT(FEnv.Pop3Port, 0) << "TZN_POP3_PORT";
        ASSERT_GE(FEnv.Users.size(), 24u) << "TZN_MAIL_USERS holds too few users";
    }

    const MailUser& User(size_t i) const { return FEnv.Users.at(i); }

    void ConfigureSmtp(TMxSMTP& c, const MailUser& u) const {
        c.Host = "127.0.0.1";
        c.Port = FEnv.SmtpPort;
        c.Username = u.Login;
        c.Password = u.Password;
        c.ReadTimeout = 30000;
    }
    void ConfigurePop3(TMxPOP3& c, const MailUser& u) const {
        c.Host = "127.0.0.1";
        c.Port = FEnv.Pop3Port;
        c.Username = u.Login;
        c.Password = u.Password;
        c.ReadTimeout = 30000;
    }

    int Count(const MailUser& u) const {
        TMxPOP3 c;
        ConfigurePop3(c, u);
        c.ConnectToServer();
        int n = c.MessageCount();
        c.CloseConnection();
        return n;
    }
    // Delivery into the mailbox runs after the server's 250: poll with fresh sessions.
    int WaitForCount(const MailUser& u, int expected, int seconds = 20) const {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        int n = Count(u);
        while (n < expected && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            n = Count(u);
        }
        return n;
    }
    // Deletes whatever an earlier run left in the mailbox.
    void Empty(const MailUser& u) const {
        TMxPOP3 c;
        ConfigurePop3(c, u);
        c.ConnectToServer();
        for (int i = c.MessageCount(); i >= 1; --i)
            c.DeleteMessage(i);
        c.CloseConnection();
    }

    MailServerEnv FEnv;
};

} // namespace tzn::test
