// tznmail server list|delete against the loopback mail server, with Python's poplib as the
// independent reader of the mailbox, and against a scripted server for the answers a real one
// does not give.
#include "integration/mail_server.h"
#include "mail/script_server.h"
#include "platform/cp1251.h"
#include "temp_root.h"
#include "tool/tool_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>

namespace tzn {
namespace {

using test::ReadFile;
using test::ToolRun;
using test::WriteFile;
using ::testing::HasSubstr;

// Mailboxes of these tests.
constexpr size_t kListUser = 48;

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);)
        parts.push_back(part);
    return parts;
}

// The tool run as a process in a fresh TZN_ROOT; its standard error kept for the test.
struct TToolInRoot {
    ToolRun Tool(const std::vector<std::string>& args) {
        return test::RunCommand(test::ToolCommand(args) + " 2>" +
                                test::ShellQuote(Root.Path("stderr").string()));
    }
    std::string Err() { return ReadFile(Root.Path("stderr")); }
    void Set(const std::vector<std::pair<std::string, std::string>>& keys) {
        for (const auto& [k, v] : keys)
            ASSERT_EQ(Tool({"settings", "set", k, v}).Status, 0) << k << ": " << Err();
    }

    test::TempRoot Root;
};

class ServerCommandsTest : public test::MailServerTest, protected TToolInRoot {
protected:
    // "number size uid" per letter as poplib reads LIST and UIDL, in number order.
    std::string PoplibListing(const test::MailUser& u) {
        const ToolRun r = test::RunCommand(
            "python3 -c " +
            test::ShellQuote("import poplib, sys\n"
                             "p = poplib.POP3('127.0.0.1', int(sys.argv[1]))\n"
                             "p.user(sys.argv[2]); p.pass_(sys.argv[3])\n"
                             "ids = dict(l.split() for l in p.uidl()[1])\n"
                             "for l in p.list()[1]:\n"
                             "    n, size = l.split()\n"
                             "    print(n.decode(), size.decode(), ids[n].decode())\n"
                             "p.quit()\n") +
            " " + std::to_string(FEnv.Pop3Port) + " " + u.Login + " " + u.Password);
        EXPECT_EQ(r.Status, 0) << r.Out;
        return r.Out;
    }
};

TEST_F(ServerCommandsTest, ListShowsEveryLetterAndDeleteRemovesOnlyTheOneNamed) {
    const test::MailUser& u = User(kListUser);
    Empty(u);
    Set({{"SMTPHost", "127.0.0.1"},
         {"POP3Host", "127.0.0.1"},
         {"SMTPPort", std::to_string(FEnv.SmtpPort)},
         {"POP3Port", std::to_string(FEnv.Pop3Port)},
         {"UserName", u.Login},
         {"Password", u.Password},
         {"CAFile", FEnv.CAFile}});
    const std::string subjects[] = {"TZN-12 отчёт за смену", "TZN-Office request"};
    std::vector<std::string> send = {"send"};
    for (const std::string& subject : subjects) {
        const auto f = Root.Path("letter" + std::to_string(send.size()) + ".eml");
        WriteFile(f, ru("From: \"Станция 12\" <" + u.Address + ">\r\nTo: " + u.Address +
                        "\r\nSubject: " + subject +
                        "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain\r\n\r\ntext\r\n.\r\n"));
        send.push_back(f.string());
    }
    ASSERT_EQ(Tool(send).Status, 0) << Err();
    ASSERT_EQ(WaitForCount(u, 2), 2);

    // Delivery order is the server's: each letter is found by its subject.
    std::map<std::string, std::vector<std::string>> bySubject;
    std::vector<std::string> expected;
    for (const std::string& line : Split(PoplibListing(u), '\n')) {
        const std::vector<std::string> p = Split(line, ' ');
        ASSERT_EQ(p.size(), 3u) << line;
        expected.push_back(p[0] + "\t" + p[2] + "\t" + p[1]);
    }
    ToolRun r = Tool({"server", "list"});
    ASSERT_EQ(r.Status, 0) << r.Out << Err();
    const std::vector<std::string> lines = Split(r.Out, '\n');
    ASSERT_EQ(lines.size(), 2u) << r.Out;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::vector<std::string> columns = Split(lines[i], '\t');
        ASSERT_EQ(columns.size(), 5u) << lines[i];
        EXPECT_EQ(columns[0] + "\t" + columns[1] + "\t" + columns[2], expected[i]);
        EXPECT_THAT(columns[3], HasSubstr("Станция 12"));
        EXPECT_THAT(columns[3], HasSubstr("<" + u.Address + ">"));
        bySubject[columns[4]] = columns;
    }
    ASSERT_EQ(bySubject.count(subjects[0]), 1u) << r.Out;
    ASSERT_EQ(bySubject.count(subjects[1]), 1u) << r.Out;

    const std::string gone = bySubject[subjects[0]][1], kept = bySubject[subjects[1]][1];
    r = Tool({"server", "delete", gone});
    EXPECT_EQ(r.Status, 0) << r.Out << Err();
    EXPECT_THAT(r.Out, HasSubstr(gone));
    const std::string left = PoplibListing(u);
    EXPECT_EQ(Split(left, '\n').size(), 1u) << left;
    EXPECT_THAT(left, HasSubstr(" " + kept + "\n"));

    r = Tool({"server", "delete", "no-such-id"});
    EXPECT_EQ(r.Status, 1) << r.Out;
    EXPECT_THAT(Err(), HasSubstr("no letter with unique id no-such-id"));
    EXPECT_EQ(Count(u), 1);
    Empty(u);
}

class ScriptedServerCommandsTest : public ::testing::Test, protected TToolInRoot {};

TEST_F(ScriptedServerCommandsTest, WithoutUsableUniqueIdsNothingIsDeleted) {
    Set({{"POP3Host", "127.0.0.1"}, {"UserName", "u"}, {"Password", "p"}});
    const auto deleteOn = [&](const std::function<void(test::ScriptConn&)>& uidl) {
        test::ScriptServer server([&](test::ScriptConn& s) {
            s.Reply("+OK ready");
            s.Answer("-ERR no CAPA");
            s.Answer("+OK");
            s.Answer("+OK logged in");
            uidl(s);
            s.Answer("+OK bye");
        });
        EXPECT_EQ(Tool({"settings", "set", "POP3Port", std::to_string(server.Port())}).Status, 0);
        EXPECT_EQ(Tool({"server", "delete", "abc"}).Status, 1);
        const std::vector<std::string> said = server.Transcript();
        ASSERT_FALSE(said.empty());
        EXPECT_THAT(said, ::testing::Contains("UIDL"));
        EXPECT_THAT(said, ::testing::Not(::testing::Contains(::testing::StartsWith("DELE"))));
        EXPECT_EQ(said.back(), "QUIT");
    };
    deleteOn([](test::ScriptConn& s) { s.Answer("-ERR unknown command"); });
    EXPECT_THAT(Err(), HasSubstr("the server does not offer UIDL"));
    // One id given to two letters cannot say which one is meant.
    deleteOn([](test::ScriptConn& s) {
        s.Answer("+OK");
        s.Reply("1 abc");
        s.Reply("2 abc");
        s.Reply(".");
    });
    EXPECT_THAT(Err(), HasSubstr("unique id abc for 2 letters"));
}

} // namespace
} // namespace tzn
