// The mailbox window's message core: what the five mail messages do to its log and gauge, and
// which work events of a mail client become progress messages.
#include "platform/cp1251.h"
#include "platform/message_loop.h"
#include "ui/mail_form.h"

#include "qt_environment.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace tzn {
namespace {

const auto* const kQt = ::testing::AddGlobalTestEnvironment(new test::QtEnvironment);

class NoComponent : public TMxComponent {};

TEST(MailFormTest, LogLinesAndTheGaugeFollowTheSessionMessages) {
    TMailForm form({});
    EXPECT_FALSE(form.Visible());
    const std::string line = ru("Соединение с почтовым сервером...");
    EXPECT_EQ(SendMessage(form.Handle(), WM_MAIL_LOG, 0, reinterpret_cast<LPARAM>(line.c_str())),
              0);
    EXPECT_EQ(form.LogLines(), std::vector<std::string>{line});
    EXPECT_FALSE(form.GaugeVisible());
    // A session that logs without end (a server answering every command with an error) keeps
    // only the newest lines in the window.
    for (int i = 0; i < 6000; ++i) {
        const std::string n = std::to_string(i);
        SendMessage(form.Handle(), WM_MAIL_LOG, 0, reinterpret_cast<LPARAM>(n.c_str()));
    }
    const auto kept = form.LogLines();
    ASSERT_EQ(kept.size(), 5000u);
    EXPECT_EQ(kept.front(), "1000");
    EXPECT_EQ(kept.back(), "5999");
    EXPECT_EQ(form.Widget()->findChild<QPlainTextEdit*>("Memo1")->blockCount(), 5000);

    SendMessage(form.Handle(), WM_MAIL_BEGIN, 2, 5000);
    EXPECT_EQ(form.ProgressKind(), 2);
    EXPECT_TRUE(form.GaugeVisible());
    EXPECT_EQ(form.GaugeMaximum(), 5000);
    EXPECT_EQ(form.GaugePosition(), 0);

    // Progress is posted only for the direction being followed: writes while sending.
    NoComponent client;
    form.MailClientWork(client, TMxWorkMode::Read, 100);
    form.MailClientWork(client, TMxWorkMode::Write, 1200);
    ProcessMessagesUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(form.GaugePosition(), 1200);

    SendMessage(form.Handle(), WM_MAIL_END, 0, 5000);
    EXPECT_EQ(form.ProgressKind(), 0);
    EXPECT_FALSE(form.GaugeVisible());
    EXPECT_EQ(form.GaugeMaximum(), 5000);
    EXPECT_EQ(form.GaugePosition(), 5000);
    // With no transfer followed, work events post nothing.
    form.MailClientWork(client, TMxWorkMode::Write, 7);
    ProcessMessagesUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(form.GaugePosition(), 5000);

    // Receiving follows reads; a posted begin takes effect when the window handles it.
    PostMessage(form.Handle(), WM_MAIL_BEGIN, 1, 1000000);
    ProcessMessagesUntil([&] { return form.ProgressKind() == 1; }, std::chrono::seconds(5));
    form.MailClientWork(client, TMxWorkMode::Write, 9);
    form.MailClientWork(client, TMxWorkMode::Read, 300);
    ProcessMessagesUntil([&] { return form.GaugePosition() == 300; }, std::chrono::seconds(5));
    EXPECT_EQ(form.GaugePosition(), 300);

    form.ShowMailbox();
    EXPECT_TRUE(form.Visible());
}

} // namespace
} // namespace tzn
