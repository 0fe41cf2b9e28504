// Whole mail sessions against the real loopback Postfix and Dovecot: a normal full session
// (another station's "TZN-123" letter left alone), an empty mailbox and a send-only run,
// a refused recipient in the second of three letters, servers down or refusing the password,
// sorted retrieval in the documented order, cancel during retrieval, and the journal that
// keeps a letter from being imported twice after a cut before the farewell.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "loopback.h"
#include "loopback_relay.h"
#include "mail/header_coding.h"
#include "mail/script_server.h"
#include "session_fixture.h"

namespace tzn {
namespace {

// Mailboxes of this file (the other integration tests use 0..8).
constexpr size_t kStation = 9;
constexpr size_t kOffice = 10;
constexpr size_t kQuiet = 11;
constexpr size_t kRefusingSender = 12;
constexpr size_t kRefusingTo = 13;
constexpr size_t kWrongPassword = 14;
constexpr size_t kSorted = 15;
constexpr size_t kTlsSender = 21;
constexpr size_t kTlsTo = 22;
constexpr size_t kSortedCancel = 58;

const std::string kClosing(37, '=');
const std::string kStart = "======== Старт приема писем =========";
const std::string kDone = "======== Прием писем завершен========";

class SessionRun : public test::SessionFixture {
protected:
    // The office's letter to `to`.
    void Deposit(const test::MailUser& to, const std::string& fromName, const std::string& subject,
                 const std::string& data, TDateTime date = 0) {
        test::SessionFixture::Deposit(to, fromName, User(kOffice).Address, subject, data, date);
    }
};

TEST_F(SessionRun, FullSessionTakesOwnLettersLeavesStation123AndSends) {
    const auto& box = User(kStation);
    Empty(box);
    Empty(User(kOffice));
    Account(box);
    FHost.Params[46] = 3;
    Deposit(box, "Office", "TZN-12 first", "first data");
    Deposit(box, "Office", "TZN-123 not ours", "other station");
    Deposit(box, "Office", "tzn-12 second", "second data");
    Outgoing(User(kOffice).Address, "TZN-Office report");

    TMailThread(TSessionMode::Full, FWindow.Window(), Context()).Execute();

    const std::string from = "Office <" + User(kOffice).Address + ">";
    const std::string to = User(kOffice).Address;
    std::vector<std::string> expected = Ru({kStart, "Соединение с почтовым сервером...",
                                            "Соединение с POP3 сервером прошло удачно.",
                                            "Проверка почтового ящика...", "На сервере писем: 3"});
    for (int letter = 0; letter < 2; ++letter)
        for (const char* line :
             {"Найдено письмо от: ", "Получено письмо от: ", "Удалено письмо с сервера: "})
            expected.push_back(ru(line) + from);
    for (const auto& l :
         Ru({"Завершение соединения с почтовым сервером...",
             "Соединение завершено. Получено 2 писем.", kDone, "Соединение с почтовым сервером...",
             "Соединение с SMTP сервером прошло удачно.", "Отправка почты - 1 писем в очереди."}))
        expected.push_back(l);
    expected.push_back(ru("Отправка письма для ") + to);
    expected.push_back(ru("Отправлено письмо для ") + to);
    expected.push_back(ru("Завершение соединения с почтовым сервером..."));
    expected.push_back(ru("Соединение завершено. Отправлено 1 писем."));
    expected.push_back(kClosing);
    EXPECT_EQ(FWindow.Lines(), expected);

    // Newest first: the host saw the second letter's data, then the first's.
    ASSERT_EQ(FHost.Imports.size(), 2u);
    EXPECT_EQ(FHost.Imports[0].ContentSeen, "second data");
    EXPECT_EQ(FHost.Imports[1].ContentSeen, "first data");
    EXPECT_EQ(Count(box), 1) << "station 123's letter stays on the server";
    EXPECT_EQ(Files(MailFolder::InBox), 2u);
    EXPECT_EQ(Files(MailFolder::OutBox), 0u);
    EXPECT_EQ(Files(MailFolder::Sent), 1u);
    EXPECT_EQ(FindFiles("C:\\MAIL\\TMPinMail\\Office\\", "*").size(), 2u);
    EXPECT_EQ(WaitForCount(User(kOffice), 1), 1);

    // The file holds the same lines, each with its time stamp.
    const std::string log = test::ReadFile(FRoot->Dir() / "LogFiles" / "TZNMail.log");
    EXPECT_NE(log.find(" - " + ru("Соединение завершено. Получено 2 писем.") + "\r\n"),
              std::string::npos);

    // The gauge: begin and end around each letter, progress only in between.
    int open = 0, progressOutside = 0, begins = 0;
    for (const auto& m : FWindow.Messages()) {
        if (m.Msg == WM_MAIL_BEGIN)
            ++begins, open = 1;
        else if (m.Msg == WM_MAIL_END)
            open = 0;
        else if (m.Msg == WM_MAIL_PROGRESS && !open)
            ++progressOutside;
    }
    EXPECT_EQ(begins, 3);
    EXPECT_EQ(progressOutside, 0);
}

TEST_F(SessionRun, EmptyMailboxSendOnlyAndNoDoubleImportAfterACutBeforeQuit) {
    const auto& box = User(kQuiet);
    Empty(box);
    Account(box);
    TMailThread(TSessionMode::Full, FWindow.Window(), Context()).Execute();
    EXPECT_EQ(FWindow.Lines(),
              Ru({kStart, "Соединение с почтовым сервером...",
                  "Соединение с POP3 сервером прошло удачно.", "Проверка почтового ящика...",
                  "На сервере писем: 0", "Завершение соединения с почтовым сервером...",
                  "Соединение завершено. Получено 0 писем.", kDone, kClosing}));

    test::RecordingWindow sendOnly;
    TMailThread(TSessionMode::SendOnly, sendOnly.Window(), Context()).Execute();
    EXPECT_EQ(sendOnly.Lines(), std::vector<std::string>{kClosing});

    // The letter is processed, then the line breaks at the farewell: the server undoes the
    // deletion and offers the letter again.
    Deposit(box, "Office", "TZN-12 once", "import me once");
    {
        // The line breaks when the client says QUIT, before the farewell: the server then
        // keeps its letters.
        test::TLoopbackRelay cutter(FEnv.Pop3Port, [](const std::string& sent) {
            return sent.find("QUIT\r\n") != std::string::npos;
        });
        FSettings.POP3Port = cutter.Port();
        FSettings.POP3Security = "none"; // the cutter has to see the QUIT
        SetMailSettings(FSettings);
        test::RecordingWindow cut;
        TMailThread(TSessionMode::Full, cut.Window(), Context()).GetMail();
        EXPECT_TRUE(cutter.Cut());
    }
    ASSERT_EQ(FHost.Imports.size(), 1u);
    EXPECT_EQ(Count(box), 1);

    FSettings.POP3Port = FEnv.Pop3Port;
    FSettings.POP3Security = "auto";
    SetMailSettings(FSettings);
    test::RecordingWindow again;
    TMailThread(TSessionMode::Full, again.Window(), Context()).GetMail();
    const std::string from = "Office <" + User(kOffice).Address + ">";
    EXPECT_EQ(again.Lines(),
              (std::vector<std::string>{
                  ru(kStart), ru("Соединение с почтовым сервером..."),
                  ru("Соединение с POP3 сервером прошло удачно."),
                  ru("Проверка почтового ящика..."), ru("На сервере писем: 1"),
                  ru("Найдено письмо от: ") + from, ru("Получено письмо от: ") + from,
                  ru("Письмо уже было обработано, повторно не обрабатывается: ") + from,
                  ru("Удалено письмо с сервера: ") + from,
                  ru("Завершение соединения с почтовым сервером..."),
                  ru("Соединение завершено. Получено 1 писем."), ru(kDone)}));
    EXPECT_EQ(FHost.Imports.size(), 1u) << "not handed to the host again";
    EXPECT_EQ(Count(box), 0);

    // The next run finds the letter gone and forgets its server id; only its Message-ID
    // stays, for a copy sent again later.
    TMailThread(TSessionMode::Full, again.Window(), Context()).GetMail();
    const auto journals = FindFiles("C:\\MAIL\\", "*.jrn");
    ASSERT_EQ(journals.size(), 1u);
    const std::string journal = test::ReadFile(NativePath("C:\\MAIL\\" + journals[0]));
    EXPECT_EQ(journal.rfind("I ", 0), 0u) << journal;
    EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), 1) << journal;
}

TEST_F(SessionRun, RefusedRecipientInTheSecondOfThreeLetters) {
    const auto& to = User(kRefusingTo);
    Empty(to);
    Account(User(kRefusingSender));
    const std::string nobody = "nobody-here@" + FEnv.Domain;
    Outgoing(to.Address, "TZN-Office one");
    Outgoing(nobody, "TZN-Office two");
    Outgoing(to.Address, "TZN-Office three");

    TMailThread(TSessionMode::SendOnly, FWindow.Window(), Context()).Execute();

    const auto lines = FWindow.Lines();
    ASSERT_EQ(lines.size(), 10u) << ::testing::PrintToString(lines);
    EXPECT_EQ(
        std::vector<std::string>(lines.begin(), lines.begin() + 9),
        (std::vector<std::string>{
            ru("Соединение с почтовым сервером..."),
            ru("Соединение с SMTP сервером прошло удачно."),
            ru("Отправка почты - 3 писем в очереди."), ru("Отправка письма для ") + to.Address,
            ru("Отправлено письмо для ") + to.Address, ru("Отправка письма для ") + nobody,
            ru("Завершение соединения с почтовым сервером..."),
            ru("Соединение завершено. Отправлено 1 писем."), lines[8]}));
    EXPECT_EQ(lines[8].rfind(ru("Ошибка: "), 0), 0u);
    EXPECT_NE(lines[8].find("nobody-here@"), std::string::npos) << lines[8];
    EXPECT_EQ(lines[9], kClosing);
    EXPECT_EQ(Files(MailFolder::Sent), 1u);
    EXPECT_EQ(Files(MailFolder::OutBox), 2u);
    EXPECT_EQ(WaitForCount(to, 1), 1);
}

TEST_F(SessionRun, SmtpServerDownAndPop3PasswordRefused) {
    test::MailUser wrong = User(kWrongPassword);
    wrong.Password += "-wrong";
    Account(wrong);
    FSettings.SMTPPort = test::ClosedLoopbackPort();
    SetMailSettings(FSettings);
    Outgoing(User(kOffice).Address, "TZN-Office stays");

    TMailThread(TSessionMode::Full, FWindow.Window(), Context()).Execute();

    const auto lines = FWindow.Lines();
    ASSERT_EQ(lines.size(), 8u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0], ru(kStart));
    EXPECT_EQ(lines[2].rfind(ru("Ошибка соединения с POP3 сервером: "), 0), 0u) << lines[2];
    EXPECT_EQ(lines[3], ru("Произошел разрыв связи с почтовым сервером!"));
    EXPECT_EQ(lines[4], ru("Соединение завершено. Получено 0 писем."));
    EXPECT_EQ(lines[5], ru("Соединение с почтовым сервером..."));
    EXPECT_EQ(lines[6].rfind(ru("Ошибка соединения с SMTP сервером: "), 0), 0u) << lines[6];
    EXPECT_NE(lines[6].find("refused"), std::string::npos) << lines[6];
    EXPECT_EQ(lines[7], kClosing);
    EXPECT_EQ(Files(MailFolder::OutBox), 1u);
}

// Over TLS from the first byte the session logs its usual lines; a certificate the session
// cannot trust is a connection error, and the letter stays for the next session.
TEST_F(SessionRun, ImplicitTlsDeliveryAndAnUntrustedCertificate) {
    const auto& to = User(kTlsTo);
    Empty(to);
    Account(User(kTlsSender));
    FSettings.SMTPSecurity = "tls";
    FSettings.SMTPPort = FEnv.SmtpsPort;
    SetMailSettings(FSettings);
    Outgoing(to.Address, "TZN-Office over TLS");
    TMailThread(TSessionMode::SendOnly, FWindow.Window(), Context()).Execute();
    EXPECT_EQ(FWindow.Lines(), (std::vector<std::string>{
                                   ru("Соединение с почтовым сервером..."),
                                   ru("Соединение с SMTP сервером прошло удачно."),
                                   ru("Отправка почты - 1 писем в очереди."),
                                   ru("Отправка письма для ") + to.Address,
                                   ru("Отправлено письмо для ") + to.Address,
                                   ru("Завершение соединения с почтовым сервером..."),
                                   ru("Соединение завершено. Отправлено 1 писем."), kClosing}));
    EXPECT_EQ(WaitForCount(to, 1), 1);

    FSettings.CAFile.clear(); // the system's store does not know the server's CA
    SetMailSettings(FSettings);
    Outgoing(to.Address, "TZN-Office stays");
    test::RecordingWindow refused;
    TMailThread(TSessionMode::SendOnly, refused.Window(), Context()).Execute();
    const auto lines = refused.Lines();
    ASSERT_EQ(lines.size(), 3u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[1].rfind(ru("Ошибка соединения с SMTP сервером: "), 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("certificate"), std::string::npos) << lines[1];
    EXPECT_EQ(Files(MailFolder::OutBox), 1u);
}

TEST_F(SessionRun, SortedRetrievalOrderThenCancelDuringRetrieval) {
    const auto& box = User(kSorted);
    Empty(box);
    Account(box);
    FSettings.m_GetMailWithSort = true;
    SetMailSettings(FSettings);
    const TDateTime day1 = EncodeDateTime(2026, 11, 1, 9, 0, 0);
    Deposit(box, "A", "TZN-12 #1", "A3", day1 + 2);
    Deposit(box, "B", "TZN-12 #2", "B1", day1);
    Deposit(box, "A", "TZN-12 #3", "A1", day1);
    Deposit(box, "A", "TZN-77 #4", "other", day1);
    Deposit(box, "B", "TZN-12 #5", "B2", day1 + 1);
    Deposit(box, "A", "TZN-12 #6", "A2", day1 + 1);

    TMailThread(TSessionMode::Full, FWindow.Window(), Context()).Execute();

    std::vector<std::string> processing, imported;
    for (const auto& l : FWindow.Lines())
        if (l.rfind(ru("Обработка письма с "), 0) == 0)
            processing.push_back(l);
    for (const auto& i : FHost.Imports)
        imported.push_back(i.ContentSeen);
    // Letters 3, 6, 1 of A, then 2, 5 of B.
    EXPECT_EQ(imported, (std::vector<std::string>{"A1", "A2", "A3", "B1", "B2"}));
    ASSERT_EQ(processing.size(), 5u);
    EXPECT_EQ(processing[0], ru("Обработка письма с A от ") + DateTimeToStr(day1));
    EXPECT_EQ(processing[4], ru("Обработка письма с B от ") + DateTimeToStr(day1 + 1));
    EXPECT_TRUE(test::HasLine(FWindow.Lines(), ru("Обработка всех найденых писем с сортировкой!")));
    EXPECT_FALSE(test::HasLine(FWindow.Lines(), ru(kDone))) << "no closing banner";
    EXPECT_EQ(Count(box), 1) << "letter 4 is never taken";

    // Cancel as the first of three letters arrives: it is finished and deleted, the other
    // two are reported without server traffic and stay.
    FSettings.m_GetMailWithSort = false;
    SetMailSettings(FSettings);
    for (const char* data : {"c1", "c2", "c3"})
        Deposit(box, "Office", "TZN-12 cancel", data);
    test::RecordingWindow cancelling;
    cancelling.OnLine = [](const std::string& line) {
        if (line.rfind(ru("Получено письмо от: "), 0) == 0)
            MailCancelRequested = true;
    };
    TMailThread(TSessionMode::Full, cancelling.Window(), Context()).GetMail();
    const std::string cancelLine =
        ru("Ошибка приема письма: ") + ru("Передача данных отмененна пользователем");
    size_t cancelled = 0;
    for (const auto& l : cancelling.Lines())
        cancelled += l == cancelLine;
    EXPECT_EQ(cancelled, 3u) << "two letters of ours and the other station's";
    EXPECT_EQ(cancelling.Lines().back(), ru(kDone));
    EXPECT_EQ(FHost.Imports.size(), 6u);
    EXPECT_EQ(FHost.Imports.back().ContentSeen, "c3");
    EXPECT_EQ(Count(box), 3);
}

TEST_F(SessionRun, CancelDuringTheSortedProcessingPassStopsItAtOnce) {
    const auto& box = User(kSortedCancel);
    Empty(box);
    Account(box);
    FSettings.m_GetMailWithSort = true;
    SetMailSettings(FSettings);
    const TDateTime day1 = EncodeDateTime(2026, 11, 1, 9, 0, 0);
    for (int i = 0; i < 3; ++i)
        Deposit(box, "Office", "TZN-12 cancel", "s" + std::to_string(i + 1), day1 + i);
    // The user closes the window once the first letter is processed.
    test::RecordingWindow cancelling;
    cancelling.OnLine = [](const std::string& line) {
        if (line == ru("Письмо обработано!"))
            MailCancelRequested = true;
    };
    TMailThread(TSessionMode::Full, cancelling.Window(), Context()).Execute();

    const auto lines = cancelling.Lines();
    ASSERT_EQ(FHost.Imports.size(), 1u);
    EXPECT_EQ(FHost.Imports[0].ContentSeen, "s1");
    size_t processed = 0, failed = 0;
    for (const auto& l : lines) {
        processed += l.rfind(ru("Обработка письма с "), 0) == 0;
        failed += l.rfind(ru("Ошибка приема/обработки письма: "), 0) == 0;
    }
    EXPECT_EQ(processed, 1u);
    EXPECT_EQ(failed, 0u) << "the pass stops; the letters left are not reported one by one";
    EXPECT_TRUE(test::HasLine(lines, ru("Соединение завершено. Получено 1 писем.")));
    EXPECT_TRUE(test::HasLine(lines, ru("Ошибка: Передача данных отмененна пользователем")));
    EXPECT_EQ(lines.back(), kClosing);
    // The processed letter was deleted when the connection closed; the other two wait.
    EXPECT_EQ(Count(box), 2);
}

} // namespace
} // namespace tzn
