// The session thread: its log writer, the order of a session's steps, and the faults only a
// scripted server produces (silence, a cut mid-letter, a letter past a limit).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <functional>

#include <atomic>
#include <filesystem>

#include "mail/header_coding.h"
#include "mail/script_server.h"
#include "platform/cp1251.h"
#include "platform/sync_group.h"
#include "session/retrieval_journal.h"
#include "session/session_state.h"
#include "session_window.h"
#include "store/store_fixture.h"

// Barriers of a session's sync group, seen by the test: unset, the real call.
static std::function<int()> OnSyncfs;
extern "C" int syncfs(int fd) {
    if (OnSyncfs)
        return OnSyncfs();
    using Syncfs = int (*)(int);
    static const auto real = reinterpret_cast<Syncfs>(::dlsym(RTLD_NEXT, "syncfs"));
    return real(fd);
}

namespace tzn {
namespace {

using test::ScriptConn;
using test::ScriptServer;

const std::string kClosing(37, '=');

class SessionThreadTest : public test::StoreTest {
protected:
    void SetUp() override {
        test::StoreTest::SetUp();
        std::filesystem::current_path(FRoot.Dir());
        std::filesystem::create_directories(FRoot.Dir() / "LogFiles");
        FHost.Params[25] = 7;
        FSettings.POP3Host = "127.0.0.1";
        FSettings.SMTPHost = "127.0.0.1";
        FSettings.UserName = "st12";
        FSettings.Password = "secret";
        FSettings.ReadTimeout = 2;
        FSettings.ConnectTimeout = 2;
        Apply();
    }
    TSessionContext Context() {
        TSessionContext c = TSessionContext::FromModule();
        c.ConnectNetwork = [] { return true; };
        return c;
    }
    std::string SessionLog() { return test::ReadFile(FRoot.Dir() / "LogFiles" / "TZNMail.log"); }

    test::RecordingWindow FWindow;
};

TEST_F(SessionThreadTest, LogLineReachesTheWindowBeforeTheFile) {
    std::string fileAtWindowTime = "unread";
    FWindow.OnLine = [&](const std::string&) { fileAtWindowTime = SessionLog(); };
    TMailThread t(TSessionMode::SendOnly, FWindow.Window(), Context());
    t.AddSessionLog("100% %s done");
    EXPECT_EQ(fileAtWindowTime, "");
    const std::string log = SessionLog();
    EXPECT_THAT(
        log, ::testing::MatchesRegex(
                 "[0-9]{2}\\.[0-9]{2}\\.[0-9]{4}, [0-9]{2}:[0-9]{2}:[0-9]{2} - 100% %s done\r\n"));
}

TEST_F(SessionThreadTest, UnwritableLogIsReportedOnceAndTheSessionGoesOn) {
    std::filesystem::remove_all(FRoot.Dir() / "LogFiles");
    TSessionContext c = Context();
    c.ConnectNetwork = [] { return false; };
    TMailThread t(TSessionMode::SendOnly, FWindow.Window(), c);
    t.AddSessionLog("first");
    t.Execute();
    const auto lines = FWindow.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "first");
    EXPECT_EQ(lines[1].rfind(ru("Ошибка записи журнала сеанса: "), 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], kClosing);
}

TEST_F(SessionThreadTest, NoNetworkMeansOnlyTheEndStep) {
    bool ended = false;
    TSessionContext c = Context();
    c.ConnectNetwork = [] { return false; };
    c.EndNetwork = [&] { ended = true; };
    TMailThread t(TSessionMode::Full, FWindow.Window(), c);
    t.Execute();
    EXPECT_EQ(FWindow.Lines(), std::vector<std::string>{kClosing});
    EXPECT_TRUE(ended);
    TDateTime last = 0;
    EXPECT_TRUE(ReadAutoGetMailLastDate(last)) << "written before anything else";
    EXPECT_NEAR(last, Now(), 1.0 / 24);
}

TEST_F(SessionThreadTest, EmptyOutBoxOnTheStationPreparesTheCurrentShift) {
    FSettings.AutoOnNoMail = true;
    Apply();
    std::vector<std::vector<std::string>> prepared;
    TSessionContext c = Context();
    c.PrepareStationData = [&](const std::vector<std::string>& shifts) {
        prepared.push_back(shifts);
    };
    TMailThread(TSessionMode::SendOnly, FWindow.Window(), c).Execute();
    EXPECT_EQ(prepared, (std::vector<std::vector<std::string>>{{"7"}}));
    EXPECT_EQ(FWindow.Lines(), std::vector<std::string>{kClosing}) << "send only: no receiving";

    // A shift the host cannot give as a number ends the main part.
    FHost.Params[25] = "seven";
    test::RecordingWindow second;
    TMailThread(TSessionMode::SendOnly, second.Window(), c).Execute();
    EXPECT_EQ(prepared.size(), 1u);
    const auto lines = second.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind(ru("Ошибка: "), 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("seven"), std::string::npos);

    // The office never prepares data here.
    FHost.Params[25] = 7;
    c.Side = TModuleSide::Office;
    TMailThread(TSessionMode::SendOnly, second.Window(), c).Execute();
    EXPECT_EQ(prepared.size(), 1u);
}

void Welcome(ScriptConn& s) {
    s.Reply("+OK ready");
    s.Answer("-ERR no CAPA");
    s.Answer("+OK");
    s.Answer("+OK logged in");
}

TEST_F(SessionThreadTest, SilentServerEndsInATimeOutLikeAnyConnectionError) {
    ScriptServer server([](ScriptConn& s) { s.WaitForClose(30000); });
    FSettings.POP3Port = server.Port();
    FSettings.ReadTimeout = 1;
    Apply();
    TMailThread t(TSessionMode::Full, FWindow.Window(), Context());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(t.GetMail());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(FWindow.Lines(), (std::vector<std::string>{
                                   ru("======== Старт приема писем ========="),
                                   ru("Соединение с почтовым сервером..."),
                                   ru("Ошибка соединения с POP3 сервером: Read Timeout"),
                                   ru("Произошел разрыв связи с почтовым сервером!"),
                                   ru("Соединение завершено. Получено 0 писем."),
                               }));
    EXPECT_FALSE(MailReceiving);
}

TEST_F(SessionThreadTest, ConnectionCutInTheMiddleOfALetter) {
    ScriptServer server([](ScriptConn& s) {
        Welcome(s);
        s.Answer("+OK 2 300");
        s.Answer("-ERR no UIDL");
        s.Answer("+OK"); // TOP 2 0
        s.Reply("From: Office <office@x.test>");
        s.Reply("Subject: TZN-12 data");
        s.Reply(".");
        s.Answer("+OK 2 150"); // LIST 2
        s.Answer("+OK");       // RETR 2
        s.Send("From: Office <office@x.test>\r\nSubject: TZN-12 data\r\n\r\nhalf a li");
        s.Abort();
    });
    FSettings.POP3Port = server.Port();
    Apply();
    TMailThread t(TSessionMode::Full, FWindow.Window(), Context());
    EXPECT_TRUE(t.GetMail() == false);
    const auto lines = FWindow.Lines();
    const std::string lost = ru("Разрыв связи с почтовым сервером, прием писем не возможен!");
    ASSERT_EQ(lines.size(), 13u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[4], ru("На сервере писем: 2"));
    EXPECT_EQ(lines[5], ru("Найдено письмо от: Office <office@x.test>"));
    EXPECT_EQ(lines[6].rfind(ru("Ошибка получения письма (данные повреждены): "), 0), 0u);
    EXPECT_EQ(lines[7], ru("Ошибка приема письма: ") + lines[6]);
    EXPECT_EQ(lines[8], lost);
    EXPECT_EQ(lines[9], ru("Произошел разрыв связи с почтовым сервером!"));
    EXPECT_EQ(lines[10], ru("Соединение завершено. Получено 0 писем."));
    EXPECT_EQ(lines[11], ru("Ошибка: ") + lost);
    EXPECT_EQ(lines[12], ru("======== Прием писем завершен========"));
    // The gauge was opened for the letter (posted, with the listed size).
    const auto msgs = FWindow.Messages();
    bool begun = false;
    for (const auto& m : msgs)
        begun |= m.Msg == WM_MAIL_BEGIN && m.WParam == 1 && m.LParam == 150 && !m.Synchronous;
    EXPECT_TRUE(begun);
}

const char* const kDataLetter = "From: Office <office@x.test>\r\n"
                                "Subject: TZN-12 data\r\n"
                                "Message-ID: <once@x.test>\r\n"
                                "MIME-Version: 1.0\r\n"
                                "Content-Type: multipart/mixed; boundary=\"XyZ\"\r\n"
                                "\r\n"
                                "--XyZ\r\n"
                                "Content-Type: application/octet-stream; name=\"data.bin\"\r\n"
                                "Content-Transfer-Encoding: base64\r\n"
                                "\r\n"
                                "AAECAwQFBgcICQ==\r\n"
                                "--XyZ--\r\n";

// One letter offered by a server without UIDL, up to its download.
void OfferLetter(ScriptConn& s) {
    Welcome(s);
    s.Answer("+OK 1 400");
    s.Answer("-ERR no UIDL");
    s.Answer("+OK"); // TOP 1 0
    s.Send("From: Office <office@x.test>\r\nSubject: TZN-12 data\r\n"
           "Message-ID: <once@x.test>\r\n.\r\n");
    s.Answer("+OK 1 400"); // LIST 1
    s.Answer("+OK");       // RETR 1
    s.Send(std::string(kDataLetter) + ".\r\n");
}

TEST_F(SessionThreadTest, WithoutUniqueIdsTheJournalKeysByMessageIdAndSize) {
    // The farewell is cut, so the server keeps the letter and offers it again.
    ScriptServer cut([](ScriptConn& s) {
        OfferLetter(s);
        s.Answer("+OK deleted");
        s.ReadLine();
        s.Abort();
    });
    FSettings.POP3Port = cut.Port();
    Apply();
    TMailThread(TSessionMode::Full, FWindow.Window(), Context()).GetMail();
    cut.Join();
    ASSERT_EQ(FHost.Imports.size(), 1u);

    ScriptServer again([](ScriptConn& s) {
        OfferLetter(s);
        s.Answer("+OK deleted");
        s.Answer("+OK bye");
    });
    FSettings.POP3Port = again.Port();
    Apply();
    test::RecordingWindow second;
    TMailThread(TSessionMode::Full, second.Window(), Context()).GetMail();
    EXPECT_EQ(FHost.Imports.size(), 1u) << "not imported twice";
    const auto transcript = again.Transcript();
    EXPECT_TRUE(test::HasLine(transcript, "DELE 1"));
    EXPECT_TRUE(test::HasLine(second.Lines(),
                              ru("Письмо уже было обработано, повторно не обрабатывается: ") +
                                  "Office <office@x.test>"));
}

// kDataLetter under another Message-ID: another letter with the same attachment.
std::string DataLetterWithId(const std::string& id) {
    std::string text = kDataLetter;
    text.replace(text.find("<once@x.test>"), 13, id);
    return text;
}

// Letters offered as (unique id, Message-ID) pairs, numbered from 1 in that order.
void OfferByUid(ScriptConn& s, const std::vector<std::pair<std::string, std::string>>& letters) {
    Welcome(s);
    s.Answer("+OK " + std::to_string(letters.size()) + " 400");
    s.Answer("+OK"); // UIDL
    for (size_t n = 1; n <= letters.size(); ++n)
        s.Reply(std::to_string(n) + " " + letters[n - 1].first);
    s.Reply(".");
    for (size_t n = letters.size(); n >= 1; --n) {
        const std::string letter = DataLetterWithId(letters[n - 1].second);
        s.Answer("+OK"); // TOP n 0
        s.Send(letter.substr(0, letter.find("\r\n\r\n") + 2) + ".\r\n");
        s.Answer("+OK " + std::to_string(n) + " 400"); // LIST n
        s.Answer("+OK");                               // RETR n
        s.Send(letter + ".\r\n");
        s.Answer("+OK deleted");
    }
    s.Answer("+OK bye");
}

// A server that numbers instead of identifying (every new letter "1" again), and one that
// lists two letters under one id: a new letter is never taken for an imported one.
TEST_F(SessionThreadTest, AServerThatReusesOrRepeatsIdsGetsNoLetterDeletedUnread) {
    for (const char* id : {"<a@x.test>", "<b@x.test>"}) {
        ScriptServer server([id](ScriptConn& s) { OfferByUid(s, {{"1", id}}); });
        FSettings.POP3Port = server.Port();
        Apply();
        TMailThread(TSessionMode::Full, FWindow.Window(), Context()).GetMail();
        server.Join();
    }
    EXPECT_EQ(FHost.Imports.size(), 2u) << ::testing::PrintToString(FWindow.Lines());

    ScriptServer repeated([](ScriptConn& s) {
        OfferByUid(s, {{"dup", "<c@x.test>"}, {"dup", "<d@x.test>"}});
    });
    FSettings.POP3Port = repeated.Port();
    Apply();
    test::RecordingWindow third;
    TMailThread(TSessionMode::Full, third.Window(), Context()).GetMail();
    repeated.Join();
    EXPECT_EQ(FHost.Imports.size(), 4u) << ::testing::PrintToString(third.Lines());
    EXPECT_TRUE(test::HasLine(third.Lines(), ru("Сервер назвал несколько писем одним кодом "
                                                "(UIDL), письма опознаются по Message-ID и "
                                                "размеру")));
}

// A letter the reader refuses (past one of the mail layer's limits): the session logs it as
// damaged data, leaves it on the server, and goes on with the next letter.
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

// The process killed while the host imports: the journal then holds the hand-over's mark, and
// the next session hands the letter over again and says so.
TEST_F(SessionThreadTest, AHandOverCutByAKillIsHandedOverAgainSayingSo) {
    const auto journal = FRoot.Path("C/MAIL/Received-st12@127.0.0.1.jrn");
    std::string atImport;
    FHost.ReadFile = [&](const std::string&) {
        atImport = test::ReadFile(journal);
        return std::string();
    };
    ScriptServer first([](ScriptConn& s) { OfferByUid(s, {{"u1", "<k@x.test>"}}); });
    FSettings.POP3Port = first.Port();
    Apply();
    TMailThread(TSessionMode::Full, FWindow.Window(), Context()).GetMail();
    first.Join();
    EXPECT_NE(atImport.find("H U u1\r\n"), std::string::npos) << atImport;
    TRetrievalJournal finished("C:\\MAIL\\", "127.0.0.1", "st12");
    finished.Load();
    EXPECT_FALSE(finished.HandOverBegun(JournalKeyByUid("u1"))) << test::ReadFile(journal);

    test::WriteFile(journal, atImport);
    FHost.ReadFile = nullptr;
    ScriptServer again([](ScriptConn& s) { OfferByUid(s, {{"u1", "<k@x.test>"}}); });
    FSettings.POP3Port = again.Port();
    Apply();
    test::RecordingWindow second;
    TMailThread(TSessionMode::Full, second.Window(), Context()).GetMail();
    again.Join();
    EXPECT_EQ(FHost.Imports.size(), 2u);
    EXPECT_TRUE(test::HasLine(second.Lines(), ru("Предыдущая передача письма не была завершена, "
                                                 "письмо передается повторно: ") +
                                                  "Office <office@x.test>"))
        << ::testing::PrintToString(second.Lines());
}

// Letters kept in a sync group reach the disk in bounded groups and all before the farewell
// that makes their deletion final; a barrier that fails, at once or ahead, sends no farewell,
// so the server keeps every letter.
TEST_F(SessionThreadTest, LettersReachTheDiskInGroupsAndAFailedBarrierSendsNoFarewell) {
    std::vector<std::pair<std::string, std::string>> letters;
    for (int i = 1; i <= 40; ++i)
        letters.emplace_back("u" + std::to_string(i), "<l" + std::to_string(i) + "@x.test>");
    std::vector<size_t> barriers; // lines logged when each came
    OnSyncfs = [&] {
        barriers.push_back(FWindow.Lines().size());
        return 0;
    };
    ScriptServer server([&](ScriptConn& s) { OfferByUid(s, letters); });
    FSettings.POP3Port = server.Port();
    Apply();
    {
        TSyncGroup group(FRoot.Path("C/MAIL").string());
        TMailThread(TSessionMode::Full, FWindow.Window(), Context()).GetMail();
    }
    server.Join();
    OnSyncfs = nullptr;
    const auto lines = FWindow.Lines();
    const std::string deleted = ru("Удалено письмо с сервера: ");
    std::vector<size_t> deletions;
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind(deleted, 0) == 0)
            deletions.push_back(i);
    ASSERT_EQ(deletions.size(), 40u) << ::testing::PrintToString(lines);
    const size_t farewell = static_cast<size_t>(
        std::find(lines.begin(), lines.end(), ru("Завершение соединения с почтовым сервером...")) -
        lines.begin());
    ASSERT_GE(barriers.size(), 2u);
    EXPECT_GT(barriers.back(), deletions.back()) << "the last letter is in a barrier";
    EXPECT_LE(barriers.back(), farewell) << "before the farewell";
    size_t from = 0;
    for (size_t at : barriers) {
        const auto inGroup = std::count_if(deletions.begin(), deletions.end(),
                                           [&](size_t d) { return d >= from && d < at; });
        EXPECT_LE(inGroup, TSyncGroup::kMaxGroupLetters);
        from = at;
    }
    EXPECT_TRUE(test::HasLine(server.Transcript(), "QUIT"));

    OnSyncfs = [] {
        errno = EIO;
        return -1;
    };
    ScriptServer failing([&](ScriptConn& s) { OfferByUid(s, {{"f1", "<f1@x.test>"}}); });
    FSettings.POP3Port = failing.Port();
    Apply();
    test::RecordingWindow second;
    {
        TSyncGroup group(FRoot.Path("C/MAIL").string());
        TMailThread(TSessionMode::Full, second.Window(), Context()).GetMail();
    }
    failing.Join();
    OnSyncfs = nullptr;
    EXPECT_FALSE(test::HasLine(failing.Transcript(), "QUIT"));
    bool reported = false;
    for (const std::string& line : second.Lines())
        reported |=
            line.rfind(ru("Ошибка записи писем на диск, письма оставлены на сервере: "), 0) == 0;
    EXPECT_TRUE(reported) << ::testing::PrintToString(second.Lines());

    // A barrier started ahead that fails fails every later one: after a failed flush the pages
    // may be gone, so flushing again would prove nothing.
    std::atomic<int> calls = 0;
    OnSyncfs = [&] {
        errno = EIO;
        return ++calls == 1 ? -1 : 0;
    };
    ScriptServer aheadFails([&](ScriptConn& s) { OfferByUid(s, letters); });
    FSettings.POP3Port = aheadFails.Port();
    Apply();
    test::RecordingWindow third;
    {
        TSyncGroup group(FRoot.Path("C/MAIL").string());
        TMailThread(TSessionMode::Full, third.Window(), Context()).GetMail();
    }
    aheadFails.Join();
    OnSyncfs = nullptr;
    EXPECT_EQ(calls.load(), 1);
    EXPECT_FALSE(test::HasLine(aheadFails.Transcript(), "QUIT"));
    const auto thirdLines = third.Lines();
    EXPECT_EQ(std::count_if(thirdLines.begin(), thirdLines.end(),
                            [&](const std::string& line) { return line.rfind(deleted, 0) == 0; }),
              40);
}

// A letter refused for what it is (past a reader limit) would fail in every session: it is kept
// locally as the server held it, then deleted there, and the next letter comes in. A letter
// only too large for this computer's bound stays on the server and fails the session.
TEST_F(SessionThreadTest, RefusedLetterIsKeptLocallyAndDeletedTooLargeOneStays) {
    const std::string deep = TooDeepLetter() + "..dot-stuffed line\r\n";
    const std::string large = kHeader +
                              "Message-ID: <big@x.test>\r\nMIME-Version: 1.0\r\n"
                              "Content-Type: application/octet-stream\r\n"
                              "Content-Transfer-Encoding: base64\r\n\r\n" +
                              [] {
                                  std::string body;
                                  for (int i = 0; i < 20000; ++i) // 1.14 MB once decoded
                                      body += std::string(76, 'A') + "\r\n";
                                  return body;
                              }();
    ScriptServer server([&](ScriptConn& s) {
        Welcome(s);
        s.Answer("+OK 3 9000");
        s.Answer("-ERR no UIDL");
        for (int n = 3; n >= 1; --n) {
            s.Answer("+OK"); // TOP n 0
            s.Send(kHeader + "Message-ID: <m" + std::to_string(n) + "@x.test>\r\n.\r\n");
            s.Answer("+OK 1 400"); // LIST n
            s.Answer("+OK");       // RETR n
            const std::string letter = n == 3 ? large : n == 2 ? deep : kHeader + "\r\nfine\r\n";
            s.Send(letter + ".\r\n");
            if (n == 2) {
                s.Answer("+OK"); // RETR 2 again, to keep it
                s.Send(deep + ".\r\n");
            }
            if (n != 3)
                s.Answer("+OK deleted");
        }
        s.Answer("+OK bye");
    });
    FSettings.POP3Port = server.Port();
    FSettings.MaxLetterSize = 1;
    Apply();
    TMailThread(TSessionMode::Full, FWindow.Window(), Context()).GetMail();
    server.Join();
    const auto lines = FWindow.Lines();
    EXPECT_TRUE(test::HasLine(lines, ru("Ошибка получения письма (данные повреждены): ") +
                                         "Multipart nesting deeper than 100 levels."))
        << ::testing::PrintToString(lines);
    EXPECT_TRUE(test::HasLine(lines, ru("Соединение завершено. Получено 1 писем.")))
        << ::testing::PrintToString(lines);
    EXPECT_TRUE(test::HasLine(lines, ru("Письмо больше допустимого размера (MaxLetterSize), "
                                        "оставлено на сервере: Office <office@x.test>")));
    EXPECT_EQ(LettersLeftOnServer.load(), 1);
    const auto transcript = server.Transcript();
    EXPECT_TRUE(test::HasLine(transcript, "DELE 1"));
    EXPECT_TRUE(test::HasLine(transcript, "DELE 2"));
    EXPECT_FALSE(test::HasLine(transcript, "DELE 3"));
    std::vector<std::string> kept;
    for (const auto& e : std::filesystem::directory_iterator(FRoot.Path("C/MAIL/Refused")))
        kept.push_back(test::ReadFile(e.path()));
    ASSERT_EQ(kept.size(), 1u);
    std::string unstuffed = deep;
    unstuffed.replace(unstuffed.find("..dot"), 2, ".");
    EXPECT_EQ(kept.front(), unstuffed) << "byte for byte, as the server held it";
}

} // namespace
} // namespace tzn
