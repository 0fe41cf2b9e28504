// The exchange ledger as real office sessions write it against the loopback mail server, and
// the "Сводка по АЗС" window that reads it: letters from two stations, a request answered and
// one not, a listed station never heard from, a letter deleted from InBox afterwards, and a
// session started from the mailbox window refreshing the open overview when it ends.
#include "integration/session_fixture.h"
#include "module/headless_window_services.h"
#include "platform/message_loop.h"
#include "store/composition.h"
#include "store/exchange_ledger.h"
#include "store/station_overview.h"
#include "ui/mail_form.h"
#include "ui/station_overview_form.h"

#include <QAction>
#include <QTreeWidget>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

namespace tzn {
namespace {

// The shared mailbox of every side in this file.
constexpr size_t kLedgerBox = 59;

class LedgerSession : public test::SessionFixture {
protected:
    void SetUp() override {
        SessionFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        FSettings.IsSaveInMail = true;
        FSettings.EMail = User(kLedgerBox).Address;
        Account(User(kLedgerBox));
        Empty(User(kLedgerBox));
        SetModuleMode(1);
        SetStationCode("Office");
        FHost.StationCode = "Office";
        FHost.Count = 3;
        FHost.Stations = {
            {"12", "12", ru("Северная")}, {"34", "34", ru("Южная")}, {"56", "56", ru("Озерная")}};
        FHost.MakeRequest = [this](const std::string& key) {
            const auto file = FRoot->Dir() / ("request-" + key + ".txt");
            test::WriteFile(file, "send shift " + key);
            return file.string();
        };
    }
    void TearDown() override {
        if (!IsSkipped())
            Empty(User(kLedgerBox));
        SessionFixture::TearDown();
    }
    void Session() {
        TMailThread thread(TSessionMode::Full, FWindow.Window(), Context());
        thread.Execute();
    }
    void FromStation(const std::string& code, const std::string& data) {
        Deposit(User(kLedgerBox), code, User(kLedgerBox).Address, "TZN-Office", data);
    }
    std::vector<TLedgerRecord> Letters() {
        std::vector<TLedgerRecord> out;
        for (TLedgerRecord& r : TExchangeLedger(FSettings.MailDir).Load())
            if (r.Kind != TLedgerKind::Station)
                out.push_back(std::move(r));
        return out;
    }
    THeadlessWindowServices FServices;
};

TEST_F(LedgerSession, SessionsRecordLettersAndRequestsAndTheOverviewShowsThem) {
    const std::time_t start = std::time(nullptr);
    // 34 reports, then the office asks 12 and 34: 34's letter came before its request.
    FromStation("34", "shift of 34");
    ASSERT_EQ(ComposeStationRequest(FHost.Stations[0], Context().LocalSide(), FServices), 1);
    ASSERT_EQ(ComposeStationRequest(FHost.Stations[1], Context().LocalSide(), FServices), 1);
    Session();
    // 12 answers.
    FromStation("12", "answer of 12");
    Session();

    const std::vector<TLedgerRecord> letters = Letters();
    std::string log;
    for (const std::string& line : FWindow.Lines())
        log += line + "\n";
    ASSERT_EQ(letters.size(), 4u) << log;
    EXPECT_EQ(letters[0].Kind, TLedgerKind::Received);
    EXPECT_EQ(letters[0].Code, "34");
    EXPECT_EQ(letters[0].Files, 1);
    EXPECT_EQ(letters[0].Imported, 1);
    EXPECT_FALSE(letters[0].Request);
    for (int i : {1, 2}) {
        EXPECT_EQ(letters[i].Kind, TLedgerKind::Sent);
        EXPECT_TRUE(letters[i].Request);
        EXPECT_EQ(letters[i].Files, 1);
        EXPECT_EQ(letters[i].Text, "TZN-" + letters[i].Code);
    }
    EXPECT_EQ(letters[1].Code + letters[2].Code, "1234");
    EXPECT_EQ(letters[3].Kind, TLedgerKind::Received);
    EXPECT_EQ(letters[3].Code, "12");
    EXPECT_FALSE(letters[3].MessageId.empty());
    for (const TLedgerRecord& r : letters) {
        EXPECT_GE(r.Time, start);
        EXPECT_LE(r.Time, std::time(nullptr));
    }
    // The host's list was noted once: the second session found it unchanged.
    const std::vector<TLedgerRecord> all = TExchangeLedger(FSettings.MailDir).Load();
    EXPECT_EQ(std::count_if(all.begin(), all.end(),
                            [](const TLedgerRecord& r) { return r.Kind == TLedgerKind::Station; }),
              3);

    // Deleting the letters from InBox forgets nothing.
    ASSERT_EQ(Files(MailFolder::InBox), 2u);
    for (const std::string& name :
         FindFiles(FolderPath(FSettings.MailDir, MailFolder::InBox), "*.eml"))
        ASSERT_TRUE(DeleteLetterFile(name, MailFolder::InBox));
    ASSERT_EQ(Letters().size(), 4u);

    // The window, opened from the mailbox window's tool bar, reads its rows from the ledger:
    // 56, never heard from, first and marked; 12 answered; 34's request waits.
    TMailForm form([this] { return Context(); });
    form.ShowMailbox();
    QAction* open = form.Widget()->findChild<QAction*>("btnStationOverview");
    ASSERT_NE(open, nullptr);
    ASSERT_TRUE(open->isVisible());
    open->trigger();
    ASSERT_TRUE(form.StationOverview().Visible());
    auto* list = form.StationOverview().Widget()->findChild<QTreeWidget*>("lvStations");
    ASSERT_NE(list, nullptr);
    using F = TStationOverviewForm;
    auto cell = [&](int row, int column) {
        return list->topLevelItem(row)->text(column).toUtf8().toStdString();
    };
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(cell(0, F::Code), "56");
    EXPECT_EQ(cell(0, F::Name), "Озерная");
    EXPECT_EQ(cell(0, F::State), "опаздывает: писем нет");
    EXPECT_EQ(cell(0, F::LastLetter), "нет");
    EXPECT_EQ(cell(1, F::Code), "12");
    EXPECT_EQ(cell(1, F::State), "в срок");
    EXPECT_EQ(cell(1, F::Request), "");
    EXPECT_EQ(list->topLevelItem(1)->data(F::Days, Qt::UserRole).toString().toStdString(),
              std::string(kOverviewDays - 1, '.') + "#");
    EXPECT_EQ(cell(2, F::Code), "34");
    EXPECT_EQ(cell(2, F::Waiting), "менее часа");
    std::tm sent{};
    localtime_r(&letters[2].Time, &sent);
    char sentText[32];
    std::strftime(sentText, sizeof sentText, "%d.%m.%Y %H:%M", &sent);
    EXPECT_EQ(cell(2, F::Request), sentText);

    // 56 reports; a session from the window's button ends and the open overview follows.
    FromStation("56", "shift of 56");
    form.Widget()->findChild<QAction*>("btnGetMail")->trigger();
    ASSERT_TRUE(ProcessMessagesUntil(
        [&] {
            return list->topLevelItemCount() == 3 && cell(0, F::Code) != "56" &&
                   cell(2, F::Code) == "56";
        },
        std::chrono::seconds(60)));
    EXPECT_EQ(cell(2, F::State), "в срок");
    ASSERT_TRUE(WaitForSessions({}, std::chrono::seconds(10)));
}

} // namespace
} // namespace tzn
