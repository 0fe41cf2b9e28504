// The mailbox window as the user drives it: the folder tree and the letter list, the enabling
// of the letter commands, what those commands do to the store, the host's parameters, and
// the auto-receive timer's rule.
#include "mail/message.h"
#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/message_loop.h"
#include "session/session_state.h"
#include "store/mail_store.h"
#include "ui/mail_form.h"
#include "ui/mailbox_window_services.h"

#include "store/store_fixture.h"

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

namespace tzn {
namespace {

// The Qt application of this executable is registered once, in mail_form_test.cpp.

class MailFormWindowTest : public test::StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        FSettings.IsSaveInMail = true;
        FSettings.IsSaveOutMail = true;
        Apply();
        FHost.ReadFile = [](const std::string& p) { return test::ReadWin(p); };
        FSavedFormats = Formats();
    }
    void TearDown() override {
        FForm.reset();
        Formats() = FSavedFormats;
        StoreTest::TearDown();
    }
    void Create() {
        FForm = std::make_unique<TMailForm>(
            [this] {
                TSessionContext c;
                c.Host = &FHost;
                c.StationCode = StationCode();
                c.DataDir = DataDir();
                c.WindowServices = &FWindow;
                // A session that counts itself and then finds no network.
                c.ConnectNetwork = [this] {
                    ++FSessions;
                    return false;
                };
                return c;
            },
            TMailFormCommands{[this] { ++FSettingsOpened; }, {}});
    }
    template <typename T> T* Part(const char* name) {
        T* part = FForm->Widget()->findChild<T*>(name);
        EXPECT_NE(part, nullptr) << name;
        return part;
    }
    QTreeWidget* List() { return Part<QTreeWidget>("lvMail"); }
    QTreeWidget* Tree() { return Part<QTreeWidget>("tvMailBox"); }
    void SelectFolder(int node) { // -1: the root
        QTreeWidgetItem* root = Tree()->topLevelItem(0);
        Tree()->setCurrentItem(node < 0 ? root : root->child(node));
    }
    void SelectRows(std::initializer_list<int> rows) {
        List()->clearSelection();
        for (int r : rows)
            List()->topLevelItem(r)->setSelected(true);
    }
    std::vector<std::string> Column(int c) {
        std::vector<std::string> texts;
        texts.reserve(static_cast<size_t>(List()->topLevelItemCount()));
        for (int i = 0; i < List()->topLevelItemCount(); ++i)
            texts.push_back(ru(List()->topLevelItem(i)->text(c).toStdString()));
        return texts;
    }
    // Which of process, resend, delete are enabled.
    std::string Buttons() {
        std::string s;
        for (const char* b : {"bProcessMsg", "bResend", "bDeleteMail"})
            s += Part<QToolButton>(b)->isEnabled() ? '1' : '0';
        return s;
    }
    // Which of "Переслать", "Обработать", "Удалить" the popup shows.
    std::string Popup() {
        FForm->MailMenuPopup();
        std::string s;
        for (const char* a : {"miResend", "miProcessMsg", "miDelete"})
            s += Part<QAction>(a)->isVisible() ? '1' : '0';
        return s;
    }
    // A letter stored in `folder` from `from`; its file name.
    std::string Store(MailFolder folder, const std::string& from, const std::string& subject,
                      TDateTime date, const std::string& attachment = {}) {
        TMxMessage letter;
        letter.From().SetText(from);
        letter.Recipients.Add().SetText("office@example.test");
        letter.Subject = subject;
        letter.Date = date;
        letter.MessageParts.AddText({"text"});
        if (!attachment.empty())
            letter.MessageParts.AddAttachment(SourceFile(attachment, "data " + attachment))
                .PartFileName = attachment;
        letter.MessageParts.CountParts();
        const TSaveResult r = SaveLetterToFolderEx(letter, folder);
        EXPECT_EQ(r.Outcome, TSaveOutcome::Saved);
        return r.FileName;
    }

    std::unique_ptr<TMailForm> FForm;
    std::atomic<int> FSessions{0};
    int FSettingsOpened = 0;

private:
    TFormatSettings FSavedFormats;
};

TEST_F(MailFormWindowTest, ShowSelectsOutgoingAndFollowsTheHostAndTheModuleMode) {
    const std::string out = Store(MailFolder::OutBox, ru("Станция 12 <st12@example.test>"),
                                  ru("TZN-Office отчет"), EncodeDateTime(2024, 3, 5, 9, 7));
    Store(MailFolder::InBox, "a@example.test", "TZN-12", EncodeDateTime(2024, 3, 6));
    SetStationCode(ru("АЗС-12"));
    FHost.Params[13] = THostVariant(ru("Ромашка"));
    FHost.Params[56] = THostVariant(1);
    Create();
    QWidget* w = FForm->Widget();
    EXPECT_FALSE(FForm->Visible());
    EXPECT_EQ(w->windowTitle(), QString("E-Mail"));
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(w->minimumWidth(), 600);
    EXPECT_EQ(List()->topLevelItemCount(), 0);

    FForm->ShowMailbox();
    EXPECT_TRUE(FForm->Visible());
    EXPECT_EQ(w->windowTitle(), QString::fromUtf8("E-mail. Название АЗС: \"Ромашка\""));
    EXPECT_EQ(Tree()->topLevelItem(0)->text(0), QString::fromUtf8("АЗС-12"));
    EXPECT_EQ(FForm->SelectedFolder(), MailFolder::OutBox);
    EXPECT_EQ(Column(0), std::vector<std::string>{out});
    // A name outside the plain characters is quoted in the combined text.
    EXPECT_EQ(Column(2), std::vector<std::string>{ru("\"Станция 12\" <st12@example.test>")});
    EXPECT_EQ(Column(4), std::vector<std::string>{ru("TZN-Office отчет")});
    EXPECT_EQ(Column(5), std::vector<std::string>{ru("05 мар 2024, 09:07")});
    // Parameter 56 locks the settings; the station side offers reports, not requests.
    EXPECT_FALSE(Part<QAction>("btnProp")->isEnabled());
    EXPECT_FALSE(Part<QMenu>("N6")->isEnabled());
    EXPECT_FALSE(Part<QAction>("miMail")->isVisible());
    EXPECT_FALSE(Part<QAction>("btnCrQuery")->isVisible());
    EXPECT_FALSE(Part<QAction>("miCreateAllConfigMail")->isVisible());
    EXPECT_TRUE(Part<QAction>("btnCrReport")->isVisible());

    // Closing hides; the next show repeats the show in full.
    w->close();
    EXPECT_FALSE(FForm->Visible());
    FHost.Params[56] = THostVariant(0);
    FHost.Params[46] = THostVariant(3);
    SetModuleMode(1);
    SelectFolder(0);
    FForm->ShowMailbox();
    EXPECT_EQ(FForm->SelectedFolder(), MailFolder::OutBox);
    EXPECT_TRUE(Part<QAction>("btnProp")->isEnabled());
    EXPECT_TRUE(Part<QMenu>("N6")->isEnabled());
    EXPECT_TRUE(Part<QAction>("btnCrQuery")->isVisible());
    EXPECT_FALSE(Part<QAction>("miCreateReportMail")->isVisible());
    // With parameter 46 at 3 the caption is left as it was.
    EXPECT_EQ(w->windowTitle(), QString::fromUtf8("E-mail. Название АЗС: \"Ромашка\""));
    Part<QAction>("btnProp")->trigger();
    EXPECT_EQ(FSettingsOpened, 1);
}

TEST_F(MailFormWindowTest, CommandsAreEnabledByFolderAndSelection) {
    Store(MailFolder::InBox, "a@example.test", "TZN-12", EncodeDateTime(2024, 3, 6));
    Store(MailFolder::OutBox, "a@example.test", "TZN-Office", EncodeDateTime(2024, 3, 6));
    Store(MailFolder::Sent, "a@example.test", "TZN-Office", EncodeDateTime(2024, 3, 6));
    Create();
    EXPECT_EQ(Buttons(), "000");
    FForm->ShowMailbox();
    // After a refresh the first row is selected.
    EXPECT_EQ(Buttons(), "001");
    EXPECT_EQ(Popup(), "001");
    SelectFolder(0);
    EXPECT_EQ(Buttons(), "101");
    EXPECT_EQ(Popup(), "011");
    SelectFolder(2);
    EXPECT_EQ(Buttons(), "011");
    EXPECT_EQ(Popup(), "101");
    List()->clearSelection();
    EXPECT_EQ(Buttons(), "000");
    EXPECT_EQ(Popup(), "000");
    // The root lists nothing.
    SelectFolder(-1);
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    EXPECT_EQ(Buttons(), "000");
    EXPECT_EQ(Popup(), "000");
}

TEST_F(MailFormWindowTest, SizeColumnInKilobytesWithTheLocaleSeparator) {
    Store(MailFolder::OutBox, "a@example.test", "TZN-Office", EncodeDateTime(2024, 3, 6));
    Create();
    FForm->ShowMailbox();
    const std::string name = Column(0).at(0);
    const auto path = NativePath(FolderDir(MailFolder::OutBox) + name);
    for (auto [bytes, comma, point] : {std::tuple{100, "0,1", "0.1"},
                                       {128, "0,12", "0.12"},
                                       {1024, "1", "1"},
                                       {1536, "1,5", "1.5"}}) {
        std::filesystem::resize_file(path, bytes);
        for (char sep : {',', '.'}) {
            Formats().DecimalSeparator = sep;
            FForm->RefreshLetterList();
            EXPECT_EQ(Column(6).at(0), std::string(sep == ',' ? comma : point) + ru(" кб"))
                << bytes;
        }
    }
}

TEST_F(MailFormWindowTest, AtItsDesignedSizeTheDatesAndFolderNamesShowWhole) {
    // May has the longest short month name; 23:59 the widest time.
    Store(MailFolder::InBox, "a@example.test", "TZN-12", EncodeDateTime(2026, 5, 28, 23, 59));
    Create();
    FForm->ShowMailbox();
    SelectFolder(0);
    QApplication::processEvents();
    const QFontMetrics fm = List()->fontMetrics();
    const QString saved = List()->topLevelItem(0)->text(5);
    EXPECT_GE(List()->columnWidth(5), fm.horizontalAdvance(saved) + 8) << saved.toStdString();
    int columns = 0;
    for (int c = 1; c < 6; ++c)
        columns += List()->columnWidth(c);
    EXPECT_LE(columns + fm.horizontalAdvance(List()->topLevelItem(0)->text(6)),
              List()->viewport()->width());
    // The icon and the caption of the longest folder name fit beside each other.
    const QTreeWidgetItem* sent = Tree()->topLevelItem(0)->child(2);
    EXPECT_LE(Tree()->visualItemRect(sent).left() + 20 + fm.horizontalAdvance(sent->text(0)),
              Tree()->viewport()->width());
}

TEST_F(MailFormWindowTest, DeleteAndResendChangeTheStoreAtOnce) {
    for (int i = 0; i < 4; ++i)
        Store(MailFolder::InBox, "a@example.test", "TZN-12", EncodeDateTime(2024, 3, 6));
    const std::string a =
        Store(MailFolder::Sent, "a@example.test", "A", EncodeDateTime(2024, 1, 1));
    const std::string b =
        Store(MailFolder::Sent, "a@example.test", "B", EncodeDateTime(2024, 1, 2));
    Create();
    FForm->ShowMailbox();

    // Three of four letters go without a question; the list shows the one left.
    SelectFolder(0);
    const auto before = Column(0);
    SelectRows({0, 1, 3});
    Part<QToolButton>("bDeleteMail")->click();
    EXPECT_EQ(Letters(MailFolder::InBox), std::vector<std::string>{before[2]});
    EXPECT_EQ(Column(0), std::vector<std::string>{before[2]});
    EXPECT_TRUE(FWindow.Boxes().empty());

    // A letter of the same name already waiting in OutBox is kept; the resent one lies beside
    // it under a fresh name.
    const std::string outA = FolderDir(MailFolder::OutBox) + a;
    test::WriteWin(outA, "waiting letter");
    SelectFolder(2);
    SelectRows({0, 1});
    Part<QToolButton>("bResend")->click();
    EXPECT_TRUE(Letters(MailFolder::Sent).empty());
    EXPECT_TRUE(List()->topLevelItemCount() == 0);
    EXPECT_EQ(test::ReadWin(outA), "waiting letter");
    const auto out = Letters(MailFolder::OutBox);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_NE(std::find(out.begin(), out.end(), b), out.end());
    std::vector<std::string> subjects;
    for (const auto& name : out)
        if (name != a)
            subjects.push_back(LoadLetterFile(name, MailFolder::OutBox)->Subject);
    std::sort(subjects.begin(), subjects.end());
    EXPECT_EQ(subjects, (std::vector<std::string>{"A", "B"}));
}

TEST_F(MailFormWindowTest, SelectedLettersAreProcessedBySenderNewestFirstEachOnce) {
    // Rows follow the file names; the senders interleave and the dates are not in row order.
    const std::string beta = ru("Бета <b@example.test>"), alpha = ru("альфа <a@example.test>");
    const std::vector<std::string> names{
        Store(MailFolder::InBox, beta, "TZN-12", EncodeDateTime(2024, 3, 1), "b1.dat"),
        Store(MailFolder::InBox, alpha, "TZN-12", EncodeDateTime(2024, 3, 1), "a1.dat"),
        Store(MailFolder::InBox, beta, "TZN-12", EncodeDateTime(2024, 3, 3), "b3.dat"),
        Store(MailFolder::InBox, alpha, "TZN-12", EncodeDateTime(2024, 3, 5), "a5.dat"),
        Store(MailFolder::InBox, beta, "TZN-12", EncodeDateTime(2024, 3, 2), "b2.dat")};
    const std::string c =
        Store(MailFolder::InBox, "c@example.test", "TZN-12", EncodeDateTime(2024, 3, 9), "c.dat");
    std::filesystem::create_directories(FRoot.Path("C/PLAV/LogFiles"));
    Create();
    FForm->ShowMailbox();
    SelectFolder(0);
    SelectRows({0, 1, 2, 3, 4});
    Part<QToolButton>("bProcessMsg")->click();
    std::vector<std::string> imported;
    for (const auto& call : FHost.Imports)
        imported.push_back(call.FileName);
    // "альфа" sorts before "Бета" whatever the case; within a sender the newest comes first.
    EXPECT_EQ(imported,
              (std::vector<std::string>{"C:\\DATA\\a5.dat", "C:\\DATA\\a1.dat", "C:\\DATA\\b3.dat",
                                        "C:\\DATA\\b2.dat", "C:\\DATA\\b1.dat"}));
    // Each handled letter's file name is logged, in the same order.
    const std::string log = test::ReadFile(FRoot.Path("C/PLAV/LogFiles/TZNMail.log"));
    size_t at = 0;
    for (const std::string& name : {names[3], names[1], names[2], names[4], names[0]}) {
        const size_t next = log.find(name, at);
        EXPECT_NE(next, std::string::npos) << name;
        at = next == std::string::npos ? at : next;
    }
    // The letters stay where they were.
    EXPECT_EQ(Letters(MailFolder::InBox).size(), 6u);
    EXPECT_EQ(List()->topLevelItemCount(), 6);

    // One letter alone; and nothing outside Incoming.
    ASSERT_EQ(Column(0).at(5), c);
    SelectRows({5});
    Part<QAction>("miProcessMsg")->trigger();
    ASSERT_EQ(FHost.Imports.size(), 6u);
    EXPECT_EQ(FHost.Imports.back().FileName, "C:\\DATA\\c.dat");
    SelectFolder(1);
    FForm->miProcessMsgClick();
    EXPECT_EQ(FHost.Imports.size(), 6u);
}

TEST_F(MailFormWindowTest, AttachedDataPanelWithParameter46) {
    Store(MailFolder::InBox, "a@example.test", "TZN-12", EncodeDateTime(2024, 3, 1), "s.dat");
    Store(MailFolder::InBox, "a@example.test", "TZN-12", EncodeDateTime(2024, 3, 2));
    std::filesystem::create_directories(FRoot.Path("C/PLAV"));
    std::filesystem::copy_file(TZN_FAKE_DATA_INFO, FRoot.Path("C/PLAV/Kesmora9.so"));
    FHost.Params[46] = THostVariant(3);
    Create();
    FForm->ShowMailbox();
    auto* panel = Part<QWidget>("PanelInfoMSG");
    SelectFolder(0);
    SelectRows({0});
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(Part<QPlainTextEdit>("mInfoMSG")->toPlainText(), QString("data of s.dat_info"));
    EXPECT_EQ(test::ReadWin("C:\\DATA\\s.dat_info"), "data s.dat");
    // A letter without attachments hides the panel.
    SelectRows({1});
    EXPECT_FALSE(panel->isVisible());
}

TEST_F(MailFormWindowTest, TimerStartsASessionOnlyOnceThePeriodHasPassed) {
    FSettings.AutoGetMail = true;
    FSettings.AutoGetMailPeriod = 1;
    Apply();
    Create();
    const TDateTime last = EncodeDateTime(2024, 5, 1, 10, 0, 0);
    TDateTime now = last - 1;
    FForm->SetClock([&] { return now; });
    auto stored = [] {
        TDateTime t = 0;
        EXPECT_TRUE(ReadAutoGetMailLastDate(t));
        return t;
    };
    auto sessionsEnd = [&](int count) {
        EXPECT_TRUE(
            ProcessMessagesUntil([&] { return FSessions == count; }, std::chrono::seconds(10)));
        ProcessMessagesUntil([] { return SessionsRunning() == 0; }, std::chrono::seconds(10));
    };
    // Never collected before: due at once.
    TDateTime none = 0;
    ASSERT_FALSE(ReadAutoGetMailLastDate(none));
    FForm->AutoGetMailTimerTimer();
    EXPECT_NEAR(stored(), now, 1e-6);
    sessionsEnd(1);

    WriteAutoGetMailLastDate(last);
    now = last + 0.5 / 24;
    FForm->AutoGetMailTimerTimer();
    ProcessMessagesUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(FSessions, 1);
    EXPECT_NEAR(stored(), last, 1e-6);

    now = last + 2.0 / 24;
    FForm->AutoGetMailTimerTimer();
    EXPECT_NEAR(stored(), now, 1e-6);
    sessionsEnd(2);

    // Switched off: nothing, however late it is.
    FSettings.AutoGetMail = false;
    Apply();
    now += 10;
    FForm->AutoGetMailTimerTimer();
    ProcessMessagesUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(FSessions, 2);
}

TEST_F(MailFormWindowTest, WithShowWndTheTimerAndTheMailCommandsShowTheWindow) {
    auto sessionsEnd = [&](int count) {
        EXPECT_TRUE(
            ProcessMessagesUntil([&] { return FSessions == count; }, std::chrono::seconds(10)));
        ProcessMessagesUntil([] { return SessionsRunning() == 0; }, std::chrono::seconds(10));
    };
    FSettings.AutoGetMail = true;
    FSettings.AutoGetMailPeriod = 1;
    FSettings.ShowWnd = false;
    Apply();
    Create();
    // Without ShowWnd the timer's session runs with the window hidden.
    FForm->AutoGetMailTimerTimer();
    sessionsEnd(1);
    EXPECT_FALSE(FForm->Visible());

    FSettings.ShowWnd = true;
    Apply();
    FForm->SetClock([] { return Now() + 1; });
    FForm->AutoGetMailTimerTimer();
    EXPECT_TRUE(FForm->Visible());
    sessionsEnd(2);
    int expected = 2;
    for (const char* command : {"miGetMail", "miSendMail"}) {
        FForm->Widget()->close();
        ASSERT_FALSE(FForm->Visible());
        Part<QAction>(command)->trigger();
        EXPECT_TRUE(FForm->Visible()) << command;
        sessionsEnd(++expected);
    }
}

TEST_F(MailFormWindowTest, RequestCommandsAskForTheSelectedStationOrForEveryStation) {
    SetModuleMode(1);
    FHost.Selected = THostStation{"S14", "14", "АЗС 14"};
    FHost.Stations = {{"S12", "12", "АЗС 12"}, {"S14", "14", "АЗС 14"}};
    FHost.MakeRequest = [](const std::string& key) {
        test::WriteWin("C:\\DATA\\" + key + ".req", "request");
        return "C:\\DATA\\" + key + ".req";
    };
    Create();
    FForm->ShowMailbox();
    size_t letters = 0;
    for (const auto& [command, keys] : {std::pair{"btnCrQuery", std::vector<std::string>{"S14"}},
                                        {"miCreateConfigMail", {"S14"}},
                                        {"btnCrQueryAll", {"S12", "S14"}},
                                        {"miCreateAllConfigMail", {"S12", "S14"}}}) {
        FHost.RequestQueries.clear();
        Part<QAction>(command)->trigger();
        EXPECT_EQ(FHost.RequestQueries, keys) << command;
        letters += keys.size();
        EXPECT_EQ(Letters(MailFolder::OutBox).size(), letters) << command;
    }
    SetModuleMode(0);
}

TEST_F(MailFormWindowTest, ClosingDuringARetrievalAsksItToStopAndWaitsABoundedTime) {
    Create();
    FForm->ShowMailbox();
    MailReceiving = true;
    const auto start = std::chrono::steady_clock::now();
    FForm->Widget()->close();
    const auto waited = std::chrono::steady_clock::now() - start;
    MailReceiving = false;
    EXPECT_TRUE(MailCancelRequested);
    EXPECT_FALSE(FForm->Visible());
    // 21 rounds of 50 ms, and bounded (the ceiling only tells a bound from none).
    EXPECT_GE(waited, std::chrono::milliseconds(1050));
    EXPECT_LT(waited, std::chrono::milliseconds(10500));
    // The next show clears the request.
    FForm->ShowMailbox();
    EXPECT_FALSE(MailCancelRequested);
}

TEST_F(MailFormWindowTest, RefreshRequestsReachTheShowingWindowFromAnyThread) {
    Create();
    TMailboxWindowServices services;
    services.SetMailbox(FForm->Handle());
    FForm->ShowMailbox();
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    Store(MailFolder::OutBox, "a@example.test", "TZN-Office", EncodeDateTime(2024, 3, 6));
    std::thread([&] { services.RefreshLetterList(); }).join();
    EXPECT_TRUE(ProcessMessagesUntil([&] { return List()->topLevelItemCount() == 1; },
                                     std::chrono::seconds(5)));
    // Once the window is gone the request is dropped quietly.
    FForm.reset();
    services.RefreshLetterList();
}

} // namespace
} // namespace tzn
