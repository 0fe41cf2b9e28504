// A letter the reader refuses (past one of the mail layer's limits) on the server: the session
// logs it as damaged data, leaves it on the server, and goes on with the next letter over the
// same connection.
#include <gtest/gtest.h>

#include <filesystem>

#include "mail/script_server.h"
#include "platform/cp1251.h"
#include "session/session_state.h"
#include "session_window.h"
#include "store/store_fixture.h"

namespace tzn {
namespace {

using test::ScriptConn;
using test::ScriptServer;

class HostileLetterTest : public test::StoreTest {
protected:
    void SetUp() override {
        test::StoreTest::SetUp();
        std::filesystem::current_path(root.Dir());
        std::filesystem::create_directories(root.Dir() / "LogFiles");
        host.Params[25] = 7;
        settings.POP3Host = "127.0.0.1";
        settings.UserName = "st12";
        settings.Password = "secret";
        settings.ReadTimeout = 5;
        settings.ConnectTimeout = 5;
        Apply();
    }
    test::RecordingWindow window;
};

const std::string kHeader = "From: Office <office@x.test>\r\nSubject: TZN-12 data\r\n";

// A letter whose multiparts nest one level deeper than the reader takes.
std::string TooDeepLetter() {
    std::string text = kHeader + "Message-ID: <deep@x.test>\r\nMIME-Version: 1.0\r\n"
                                 "Content-Type: multipart/mixed; boundary=\"N\"\r\n\r\n";
    std::string outer = "N";
    for (int i = 0; i < 100; ++i) {
        const std::string inner = "N" + std::to_string(i);
        text +=
            "--" + outer + "\r\nContent-Type: multipart/mixed; boundary=\"" + inner + "\"\r\n\r\n";
        outer = inner;
    }
    return text + "--" + outer + "\r\nContent-Type: text/plain\r\n\r\ndeep\r\n";
}

TEST_F(HostileLetterTest, RefusedLetterIsLoggedLeftOnTheServerAndTheNextOneReceived) {
    ScriptServer server([](ScriptConn& s) {
        s.Reply("+OK ready");
        s.Answer("-ERR no CAPA");
        s.Answer("+OK");
        s.Answer("+OK logged in");
        s.Answer("+OK 2 9000");
        s.Answer("-ERR no UIDL");
        for (int n = 2; n >= 1; --n) {
            s.Answer("+OK"); // TOP n 0
            s.Send(kHeader + "Message-ID: <m" + std::to_string(n) + "@x.test>\r\n.\r\n");
            s.Answer("+OK 1 400"); // LIST n
            s.Answer("+OK");       // RETR n
            s.Send((n == 2 ? TooDeepLetter() : kHeader + "\r\nfine\r\n") + ".\r\n");
        }
        s.Answer("+OK deleted"); // DELE 1
        s.Answer("+OK bye");
    });
    settings.POP3Port = server.Port();
    Apply();
    TSessionContext context = TSessionContext::FromModule();
    context.ConnectNetwork = [] { return true; };
    TMailThread(0, window.Window(), context).GetMail();
    server.Join();
    const auto lines = window.Lines();
    EXPECT_TRUE(test::HasLine(lines, ru("Ошибка получения письма (данные повреждены): ") +
                                         "Multipart nesting deeper than 100 levels."))
        << ::testing::PrintToString(lines);
    EXPECT_TRUE(test::HasLine(lines, ru("Соединение завершено. Получено 1 писем.")))
        << ::testing::PrintToString(lines);
    const auto transcript = server.Transcript();
    EXPECT_TRUE(test::HasLine(transcript, "DELE 1"));
    EXPECT_FALSE(test::HasLine(transcript, "DELE 2")) << "the refused letter stays on the server";
}

} // namespace
} // namespace tzn
