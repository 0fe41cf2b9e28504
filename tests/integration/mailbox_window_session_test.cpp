// A session started from the mailbox window's button against the loopback mail server: its
// log lines reach the window's memo in the order the session wrote them, and the gauge ends
// on the size of the letter it received.
#include "fake_host.h"
#include "integration/session_fixture.h"
#include "mail/message.h"
#include "mail/pop3.h"
#include "mail/smtp.h"
#include "mail_server.h"
#include "module/module_state.h"
#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "session/session_state.h"
#include "store/mail_store.h"
#include "temp_root.h"
#include "ui/mail_form.h"

#include "qt_environment.h"

#include <QAction>
#include <QApplication>
#include <QTreeWidget>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <functional>
#include <sstream>

namespace tzn {
namespace {

// Calls `look` before each event the application delivers.
class GaugeWatch : public QObject {
public:
    explicit GaugeWatch(std::function<void()> look) : FLook(std::move(look)) {}
    bool eventFilter(QObject*, QEvent*) override {
        FLook();
        return false;
    }

private:
    std::function<void()> FLook;
};

// Qt takes the user's locale when it starts; the other suites of this executable match CP1251
// lines with regular expressions, which need the C locale's byte-wise rules.
class QtCLocaleEnvironment : public test::QtEnvironment {
public:
    void SetUp() override {
        QtEnvironment::SetUp();
        std::setlocale(LC_ALL, "C");
    }
};
const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtCLocaleEnvironment);

// Mailboxes of this file: each test its own, as tests run side by side.
constexpr size_t kWindowStation = 31;
constexpr size_t kWindowOffice = 32;
constexpr size_t kResendStation = 64;
constexpr size_t kResendOffice = 65;

class MailboxWindowSession : public test::SessionFixture {
protected:
    void SetUp() override {
        SessionFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        FSettings.IsSaveInMail = true;
        Account(User(kWindowStation));
    }
};

TEST_F(MailboxWindowSession, ButtonSessionLogsIntoTheMemoAndEndsTheGaugeOnTheLetterSize) {
    const auto& box = User(kWindowStation);
    Empty(box);
    // One letter for this station, big enough to arrive in several reads.
    const auto data = FRoot->Dir() / "shift.dat";
    test::WriteFile(data, std::string(2000000, 'd'));
    TMxMessage m;
    m.From().Address = User(kWindowOffice).Address;
    m.Recipients.SetEMailAddresses(box.Address);
    m.Subject = "TZN-12 shift data";
    m.Body = {"data follows"};
    m.MessageParts.AddAttachment(data.string());
    TMxSMTP smtp;
    ConfigureSmtp(smtp, box);
    smtp.ConnectToServer();
    smtp.SendMail(m);
    smtp.CloseConnection();
    ASSERT_EQ(WaitForCount(box, 1), 1);
    int64_t size = 0;
    {
        TMxPOP3 pop;
        ConfigurePop3(pop, box);
        pop.ConnectToServer();
        size = pop.MessageSize(1);
        pop.CloseConnection();
    }
    ASSERT_GT(size, 2000000);

    TMailForm form([] {
        TSessionContext c = TSessionContext::FromModule();
        c.ConnectNetwork = [] { return true; };
        return c;
    });
    form.ShowMailbox();
    // Follow the gauge while the session runs: it shows, and moves before the end. The gauge
    // is looked at between every two events the window thread handles, since one round of
    // the loop may handle all of a fast transfer's progress messages.
    int64_t seenBeforeEnd = 0;
    bool shown = false;
    GaugeWatch watch([&] {
        if (form.GaugeVisible() && form.GaugePosition() < form.GaugeMaximum()) {
            shown = true;
            seenBeforeEnd = std::max(seenBeforeEnd, form.GaugePosition());
        }
    });
    QApplication::instance()->installEventFilter(&watch);
    form.Widget()->findChild<QAction*>("btnGetMail")->trigger();
    const std::string closing(37, '=');
    ASSERT_TRUE(ProcessMessagesUntil(
        [&] {
            const auto lines = form.LogLines();
            return !lines.empty() && lines.back() == closing;
        },
        std::chrono::seconds(60)));
    QApplication::instance()->removeEventFilter(&watch);
    ASSERT_TRUE(WaitForSessions({}, std::chrono::seconds(10)));

    // The memo holds the session's lines in the order of the session log file.
    std::vector<std::string> fileLines;
    std::istringstream in(test::ReadFile(FRoot->Dir() / "LogFiles" / "TZNMail.log"));
    for (std::string l; std::getline(in, l);) {
        if (!l.empty() && l.back() == '\r')
            l.pop_back();
        const size_t dash = l.find(" - ");
        fileLines.push_back(dash == std::string::npos ? l : l.substr(dash + 3));
    }
    EXPECT_EQ(form.LogLines(), fileLines);
    const std::string received = ru("Получено письмо от: ");
    EXPECT_EQ(std::count_if(fileLines.begin(), fileLines.end(),
                            [&](const std::string& l) {
                                return l.starts_with(received) &&
                                       l.find(User(kWindowOffice).Address) != std::string::npos;
                            }),
              1)
        << ::testing::PrintToString(fileLines);
    EXPECT_EQ(FHost.Imports.size(), 1u);

    EXPECT_TRUE(shown);
    EXPECT_GT(seenBeforeEnd, 0);
    EXPECT_LT(seenBeforeEnd, size);
    EXPECT_EQ(form.GaugeMaximum(), size);
    EXPECT_EQ(form.GaugePosition(), size);
    EXPECT_FALSE(form.GaugeVisible());
    EXPECT_EQ(form.ProgressKind(), 0);
}

// The Message-ID of the stored letter `name` in `folder`.
std::string StoredMessageId(const std::string& name, MailFolder folder) {
    const auto letter = LoadLetterFile(name, folder);
    return letter ? letter->MsgId : std::string();
}

TEST_F(MailboxWindowSession, AResentLetterGoesOutAloneWithANewMessageId) {
    FSettings.IsSaveOutMail = true;
    Account(User(kResendStation));
    const auto& office = User(kResendOffice);
    Empty(office);
    Empty(User(kResendStation));
    // A report that went out before, back in Sent with the id it travelled with.
    TMxMessage sent;
    sent.From().Address = User(kResendStation).Address;
    sent.Recipients.SetEMailAddresses(office.Address);
    sent.Subject = "TZN-Office";
    sent.Body = {"report"};
    sent.MsgId = "<first.copy@example.test>";
    sent.Headers.SetValue("Message-ID", sent.MsgId);
    const TSaveResult saved = SaveLetterToFolderEx(sent, MailFolder::Sent);
    ASSERT_EQ(saved.Outcome, TSaveOutcome::Saved);
    ASSERT_EQ(StoredMessageId(saved.FileName, MailFolder::Sent), sent.MsgId);
    // A letter for this station waits on the server: a send-only run must leave it there.
    Deposit(User(kResendStation), "Office", office.Address, "TZN-12 data", "d");

    TMailForm form([this] { return Context(); });
    form.ShowMailbox();
    auto* tree = form.Widget()->findChild<QTreeWidget*>("tvMailBox");
    auto* list = form.Widget()->findChild<QTreeWidget*>("lvMail");
    tree->setCurrentItem(tree->topLevelItem(0)->child(2)); // Sent
    ASSERT_EQ(list->topLevelItemCount(), 1);
    list->topLevelItem(0)->setSelected(true);
    form.Widget()->findChild<QAction*>("miResend")->trigger();
    ASSERT_EQ(Files(MailFolder::Sent), 0u);
    ASSERT_EQ(Files(MailFolder::OutBox), 1u);

    // The tool button, then the menu item: both send only.
    const std::string closing(37, '=');
    size_t sessions = 0;
    for (const char* command : {"btnSendMail", "miSendMail"}) {
        form.Widget()->findChild<QAction*>(command)->trigger();
        ASSERT_TRUE(ProcessMessagesUntil(
            [&] {
                const auto lines = form.LogLines();
                return std::count(lines.begin(), lines.end(), closing) ==
                       static_cast<std::ptrdiff_t>(sessions + 1);
            },
            std::chrono::seconds(60)))
            << command;
        ++sessions;
        ASSERT_TRUE(WaitForSessions({}, std::chrono::seconds(10)));
    }
    for (const std::string& line : form.LogLines())
        EXPECT_EQ(line.find(ru("Старт приема писем")), std::string::npos) << "send only";
    EXPECT_EQ(Count(User(kResendStation)), 1) << "a send-only run collected mail";
    EXPECT_TRUE(FHost.Imports.empty());

    // What arrives is a new letter: its id is not the one the receiver has seen.
    ASSERT_EQ(WaitForCount(office, 1), 1);
    TMxPOP3 pop;
    ConfigurePop3(pop, office);
    pop.ConnectToServer();
    TMxMessage arrived;
    ASSERT_TRUE(pop.FetchMessage(1, arrived));
    pop.CloseConnection();
    EXPECT_EQ(arrived.Subject, "TZN-Office");
    EXPECT_FALSE(arrived.MsgId.empty());
    EXPECT_NE(arrived.MsgId, sent.MsgId);
    // Sent holds it again, with the id it went out with.
    const auto back = FindFiles(FolderPath(FSettings.MailDir, MailFolder::Sent), "*.eml");
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(StoredMessageId(back[0], MailFolder::Sent), arrived.MsgId);
}

} // namespace
} // namespace tzn
