// UIDL: the unique ids of the mailbox, and a server that does not offer the command.
#include <gtest/gtest.h>

#include "mail/pop3.h"
#include "script_server.h"

namespace tzn {
namespace {

using test::ScriptConn;
using test::ScriptServer;

void LogOn(ScriptConn& s) {
    s.Reply("+OK ready");
    s.Answer("-ERR no CAPA");
    s.Answer("+OK");
    s.Answer("+OK logged in");
}

TEST(Pop3UniqueIds, ListedIdsByNumberAndRefusal) {
    ScriptServer server([](ScriptConn& s) {
        LogOn(s);
        s.Answer("+OK unique-id listing follows");
        s.Reply("1 whqtswO00WBw418f9t5JxYwZ");
        s.Reply("2  QhdPYR:00WBw1Ph7x7");
        s.Reply("garbage line");
        s.Reply(".");
        s.Answer("-ERR not today");
        s.Answer("+OK bye");
    });
    TMxPOP3 c;
    c.Host = "127.0.0.1";
    c.Port = server.Port();
    c.Username = "u";
    c.Password = "p";
    c.ReadTimeout = 5000;
    c.ConnectToServer();
    std::map<int, std::string> ids;
    ASSERT_TRUE(c.UniqueIds(ids));
    EXPECT_EQ(ids, (std::map<int, std::string>{{1, "whqtswO00WBw418f9t5JxYwZ"},
                                               {2, "QhdPYR:00WBw1Ph7x7"}}));
    EXPECT_FALSE(c.UniqueIds(ids));
    EXPECT_TRUE(ids.empty());
    c.CloseConnection();
    EXPECT_TRUE(test::HasLine(server.Transcript(), "UIDL"));
}

} // namespace
} // namespace tzn
