// A station's and the office's full session with the connection cut at every SMTP and POP3
// step in turn, before the command reaches the server and after it did but before the answer
// came back; then cut in the middle of a letter both ways, answered with errors and held up.
#include "session_faults.h"

#include <gtest/gtest.h>

#include <iostream>

#include "mail/script_server.h"

namespace tzn::test {
namespace {

// Mailboxes of this file (the fault suite has 34..45).
constexpr TExchangeSide kStation{false, 34, 35};
constexpr TExchangeSide kOffice{true, 36, 37};

TFaultPlan Plan(TFaultAction action, int command) {
    TFaultPlan p;
    p.Action = action;
    p.Command = command;
    return p;
}

// The index (1-based) of the first command that begins with `verb`, 0 when none does.
int CommandIndex(const std::vector<TFaultCommand>& commands, const std::string& verb) {
    for (size_t i = 0; i < commands.size(); ++i)
        if (commands[i].Line.rfind(verb, 0) == 0)
            return static_cast<int>(i) + 1;
    return 0;
}

class SessionCuts : public SessionFaults {
protected:
    // A clean round learns the dialogue of both protocols; then a round per cut point.
    void CutEverywhere(const TExchangeSide& side, const char* name) {
        UseSide(side);
        Round("clean", nullptr, {});
        const auto pop = PopCommands();
        const auto smtp = SmtpCommands();
        ASSERT_GE(pop.size(), 9u) << "CAPA, USER, PASS, STAT, UIDL, TOP, LIST, RETR, DELE, QUIT";
        ASSERT_GE(smtp.size(), 9u) << "EHLO, AUTH, ..., MAIL, RCPT, DATA, the end, QUIT";
        int points = 0;
        for (auto [proxy, commands, protocol] :
             {std::tuple{&*FPop, pop, "POP3"}, std::tuple{&*FSmtp, smtp, "SMTP"}}) {
            for (size_t k = 1; k <= commands.size(); ++k) {
                const std::string& command = commands[k - 1].Line;
                const bool dataEnd = protocol == std::string("SMTP") && command == ".";
                for (auto action : {TFaultAction::CutBeforeCommand, TFaultAction::CutBeforeReply}) {
                    const bool beforeReply = action == TFaultAction::CutBeforeReply;
                    Round(std::string(protocol) + " cut " + (beforeReply ? "after " : "before ") +
                              std::to_string(k) + " " + command,
                          proxy, Plan(action, static_cast<int>(k)), dataEnd && beforeReply);
                    ++points;
                    if (HasFailure())
                        return;
                }
            }
        }
        // In the middle of the letter coming down and of the letter going up.
        TFaultPlan down = Plan(TFaultAction::CutAfterBytes, 0);
        const int retr = CommandIndex(pop, "RETR");
        ASSERT_GT(retr, 0);
        down.Bytes = pop[static_cast<size_t>(retr) - 1].ToClientBefore + 40;
        Round("POP3 cut inside the letter", &*FPop, down);
        TFaultPlan up = Plan(TFaultAction::CutAfterBytes, 0);
        const int end = CommandIndex(smtp, ".");
        ASSERT_GT(end, 0);
        up.ToServer = true;
        up.Bytes = smtp[static_cast<size_t>(end) - 1].ToServerBefore - 20;
        Round("SMTP cut inside the letter", &*FSmtp, up);
        points += 2;
        std::cout << "[ cuts     ] " << name << ": " << points << " cut points, " << pop.size()
                  << " POP3 and " << smtp.size() << " SMTP commands" << std::endl;
    }
};

TEST_F(SessionCuts, StationSessionCutAtEveryStep) {
    CutEverywhere(kStation, "station");
}

TEST_F(SessionCuts, OfficeSessionWithItsReplyCutAtEveryStep) {
    CutEverywhere(kOffice, "office");
}

// Answers the proxy makes up, and answers held back: below the read time-out they only
// slow the session; above it they are a broken connection.
TEST_F(SessionCuts, ErrorAnswersAndDelayedAnswers) {
    UseSide({false, 38, 39});
    Round("clean", nullptr, {});
    const auto pop = PopCommands();
    const auto smtp = SmtpCommands();
    auto error = [](int command, const std::string& text) {
        TFaultPlan p = Plan(TFaultAction::ErrorReply, command);
        p.Error = text;
        return p;
    };
    auto delay = [](int command, int ms) {
        TFaultPlan p = Plan(TFaultAction::DelayReply, command);
        p.Delay = std::chrono::milliseconds(ms);
        return p;
    };
    Round("RETR refused", &*FPop, error(CommandIndex(pop, "RETR"), "-ERR [SYS/TEMP] proxy: later"));
    EXPECT_TRUE(HasLine(FLastLines, ru("Письмо НЕ считано")));
    Round("DELE refused", &*FPop, error(CommandIndex(pop, "DELE"), "-ERR proxy: cannot delete"));
    Round("RCPT refused", &*FSmtp, error(CommandIndex(smtp, "RCPT"), "450 4.2.0 proxy: busy"));
    Round("letter end refused", &*FSmtp, error(CommandIndex(smtp, "."), "451 4.3.0 proxy: error"),
          true);
    Round("STAT slow", &*FPop, delay(CommandIndex(pop, "STAT"), 300));
    EXPECT_TRUE(HasLine(FLastLines, ru("На сервере писем: 1")));
    Round("RETR past the time-out", &*FPop, delay(CommandIndex(pop, "RETR"), 3000));
    Round("letter end past the time-out", &*FSmtp, delay(CommandIndex(smtp, "."), 3000), true);
}

} // namespace
} // namespace tzn::test
