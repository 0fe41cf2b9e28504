// The loopback mail server started by scripts/test (scripts/mailserver): its ports, domain
// and mailbox users from the environment. ctest runs tests in parallel, so every test that
// touches mailboxes takes users of its own by index (see kMailUser* in the tests).
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

    // False when scripts/test did not start a server (TZN_SMTP_PORT unset).
    static bool Read(MailServerEnv& env) {
        const char* smtp = std::getenv("TZN_SMTP_PORT");
        const char* pop3 = std::getenv("TZN_POP3_PORT");
        const char* domain = std::getenv("TZN_MAIL_DOMAIN");
        const char* users = std::getenv("TZN_MAIL_USERS");
        if (!smtp || !*smtp)
            return false;
        env.SmtpPort = static_cast<uint16_t>(std::atoi(smtp));
        env.Pop3Port = static_cast<uint16_t>(pop3 ? std::atoi(pop3) : 0);
        env.Domain = domain ? domain : "";
        for (auto [name, port] : {std::pair{"TZN_SMTPS_PORT", &env.SmtpsPort},
                                  std::pair{"TZN_POP3S_PORT", &env.Pop3sPort}}) {
            const char* v = std::getenv(name);
            *port = static_cast<uint16_t>(v ? std::atoi(v) : 0);
        }
        const char* ca = std::getenv("TZN_CA_FILE");
        env.CAFile = ca ? ca : "";
        std::istringstream in(users ? users : "");
        std::string pair;
        while (in >> pair) {
            size_t colon = pair.find(':');
            if (colon == std::string::npos)
                continue;
            MailUser u{pair.substr(0, colon), pair.substr(colon + 1), {}};
            u.Address = u.Login + "@" + env.Domain;
            env.Users.push_back(u);
        }
        return true;
    }
};

// Base of the tests against the real server: skips with a clear message when there is none.
class MailServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!MailServerEnv::Read(Env))
            GTEST_SKIP() << "TZN_SMTP_PORT is not set: no loopback mail server "
                            "(run scripts/test, or scripts/mailserver start DIR and source "
                            "DIR/env)";
        ASSERT_GT(Env.Pop3Port, 0) << "TZN_POP3_PORT";
        ASSERT_GE(Env.Users.size(), 24u) << "TZN_MAIL_USERS holds too few users";
    }

    const MailUser& User(size_t i) const { return Env.Users.at(i); }

    void ConfigureSmtp(TMxSMTP& c, const MailUser& u) const {
        c.Host = "127.0.0.1";
        c.Port = Env.SmtpPort;
        c.Username = u.Login;
        c.Password = u.Password;
        c.ReadTimeout = 30000;
    }
    void ConfigurePop3(TMxPOP3& c, const MailUser& u) const {
        c.Host = "127.0.0.1";
        c.Port = Env.Pop3Port;
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

    MailServerEnv Env;
};

} // namespace tzn::test
