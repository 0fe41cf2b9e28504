// The settings dialog: what it shows for each side, its enabling rules, the Enter filter of the
// address memo, and apply read back from the file by the loader.
#include "module/module_state.h"
#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/message_box.h"
#include "platform/ras_dialer.h"
#include "ui/config_form.h"

#include "fake_window_services.h"
#include "qt_environment.h"
#include "temp_root.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <gtest/gtest.h>

namespace tzn {
namespace {

const auto* const kQt = ::testing::AddGlobalTestEnvironment(new test::QtEnvironment);

using test::ReadFile;
using test::WriteFile;

class ConfigFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetMailSettings(MailSettings{});
        SetModuleMode(0);
        SetStationCode("12");
        FOldRas = RasConfig();
        std::filesystem::create_directories(FRoot.Path("peers"));
        SetRasConfig({FRoot.Path("peers").string(), "true", "true"});
    }
    void TearDown() override {
        SetRasConfig(FOldRas);
        SetMailSettings(MailSettings{});
        SetModuleMode(0);
    }

    template <class W> W* Find(const TConfigForm& form, const char* name) {
        W* w = form.Widget()->findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    bool Enabled(const TConfigForm& form, const char* name) {
        return Find<QWidget>(form, name)->isEnabled();
    }
    bool Shown(const TConfigForm& form, const char* name) {
        return !Find<QWidget>(form, name)->isHidden();
    }
    QColor FieldColour(const TConfigForm& form, const char* name) {
        return Find<QWidget>(form, name)->palette().color(QPalette::Base);
    }
    void Click(const TConfigForm& form, const char* name) {
        Find<QAbstractButton>(form, name)->click();
    }
    std::string Cnf() { return ReadFile(FRoot.Path("C/WINDOWS/cnf.INI")); }

    test::TempRoot FRoot;
    test::FakeWindowServices FServices;
    TRasPlatformConfig FOldRas;
};

TEST_F(ConfigFormTest, EnablingRulesFollowTheirBoxes) {
    TConfigForm form;
    form.FormShow();
    EXPECT_EQ(form.Widget()->windowTitle(), QString::fromUtf8("Настройка"));
    EXPECT_EQ(Find<QTabWidget>(form, "PageControl1")->currentIndex(), 1);
    EXPECT_EQ(Find<QLabel>(form, "lbTZNName")->text(), "12");
    const QColor window = QApplication::palette().color(QPalette::Base);
    const QColor face = QApplication::palette().color(QPalette::Button);

    // Defaults: letters kept, Windows credentials, no extra addresses, no automatic report.
    EXPECT_TRUE(Enabled(form, "edMailDir"));
    EXPECT_EQ(FieldColour(form, "edMailDir"), window);
    EXPECT_FALSE(Enabled(form, "edIntLogin"));
    EXPECT_FALSE(Enabled(form, "Label12"));
    EXPECT_EQ(FieldColour(form, "edIntPassword"), face);
    EXPECT_FALSE(Enabled(form, "mAddictionAdres"));
    EXPECT_FALSE(Enabled(form, "cb_addTovar"));
    EXPECT_FALSE(Enabled(form, "seAddtovarCount"));
    // Without the connection library the default connection cannot be chosen, and the
    // dial-up group shows whatever the box says.
    EXPECT_FALSE(Enabled(form, "cbUseDefaultConn"));
    EXPECT_TRUE(Shown(form, "GroupBox6"));

    Click(form, "cbIsSaveInMail");
    EXPECT_TRUE(Enabled(form, "edMailDir")); // the other box still keeps letters
    Click(form, "cbIsSaveOutMail");
    EXPECT_FALSE(Enabled(form, "edMailDir"));
    EXPECT_FALSE(Enabled(form, "lbMailDir"));
    EXPECT_EQ(FieldColour(form, "edMailDir"), face);

    Click(form, "cbUserData");
    EXPECT_TRUE(Enabled(form, "edIntLogin"));
    EXPECT_TRUE(Enabled(form, "Label10"));
    EXPECT_EQ(FieldColour(form, "edIntLogin"), window);

    Click(form, "cbUseAddictAddr");
    EXPECT_TRUE(Enabled(form, "mAddictionAdres"));
    EXPECT_TRUE(Enabled(form, "cbNotUseWorkAddress"));

    // The goods count follows its box only while that box itself is enabled.
    Click(form, "cb_AutoSendIfNoMail");
    EXPECT_TRUE(Enabled(form, "cb_addTovar"));
    EXPECT_FALSE(Enabled(form, "seAddtovarCount"));
    Click(form, "cb_addTovar");
    EXPECT_TRUE(Enabled(form, "seAddtovarCount"));
    EXPECT_TRUE(Enabled(form, "lbAddTovar"));
    Click(form, "cb_AutoSendIfNoMail");
    EXPECT_FALSE(Enabled(form, "cb_addTovar"));
    EXPECT_FALSE(Enabled(form, "seAddtovarCount"));

    // The default connection box hides the dial-up group when the box can be used.
    Find<QCheckBox>(form, "cbUseDefaultConn")->setChecked(true);
    form.cbUseDefaultConnClick();
    EXPECT_FALSE(Shown(form, "GroupBox6"));
    EXPECT_EQ(Find<QCheckBox>(form, "cbUseDefaultConn")->toolTip(),
              QString::fromUtf8("настраивается в связь->настройка->Подключение к интернету"));
    EXPECT_EQ(Find<QSpinBox>(form, "seAddtovarCount")->toolTip().count('\n'), 2);
}

TEST_F(ConfigFormTest, TheSidesShowTheirOwnAddressFieldAndPanel) {
    int stationMemo = 0;
    {
        TConfigForm station;
        station.FormShow();
        stationMemo = Find<QWidget>(station, "mAddictionAdres")->height();
        EXPECT_EQ(Find<QLabel>(station, "lbAddictAddr")->text(),
                  QString::fromUtf8("Офис 2\nОфис 3\nОфис 4\n"));
        EXPECT_FALSE(Shown(station, "cbNotUseWorkAddress"));
        EXPECT_TRUE(Shown(station, "cbShowWnd"));
        EXPECT_TRUE(Shown(station, "pOnTZN"));
    }
    SetModuleMode(1);
    TConfigForm office;
    office.FormShow();
    EXPECT_EQ(Find<QLabel>(office, "lbAddictAddr")->text(), QString::fromUtf8("Ящик для отправки"));
    EXPECT_TRUE(Shown(office, "cbNotUseWorkAddress"));
    EXPECT_FALSE(Shown(office, "cbShowWnd"));
    EXPECT_FALSE(Shown(office, "pOnTZN"));
    EXPECT_LT(Find<QWidget>(office, "mAddictionAdres")->height(), stationMemo);
}

// Presses Enter in the memo with the caret at (line, column) and returns the memo's text.
QString EnterAt(QPlainTextEdit* memo, const QString& text, int line, int column) {
    memo->setPlainText(text);
    QTextCursor cursor(memo->document()->findBlockByNumber(line));
    cursor.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, column);
    memo->setTextCursor(cursor);
    QKeyEvent press(QEvent::KeyPress, ::Qt::Key_Return, ::Qt::NoModifier, "\r");
    QApplication::sendEvent(memo, &press);
    return memo->toPlainText();
}

TEST_F(ConfigFormTest, EnterStartsAtMostThreeNonEmptyLinesOnTheStationAndNoneAtTheOffice) {
    MailSettings s;
    s.UseAddictionAddress = true;
    SetMailSettings(s);
    TConfigForm station;
    station.FormShow();
    auto* memo = Find<QPlainTextEdit>(station, "mAddictionAdres");
    EXPECT_EQ(EnterAt(memo, "a@x\nb@y", 0, 3), "a@x\n\nb@y");
    EXPECT_EQ(EnterAt(memo, "a@x\nb@y\nc@z", 2, 3), "a@x\nb@y\nc@z");
    EXPECT_EQ(EnterAt(memo, "a@x\nb@y", 1, 0), "a@x\nb@y");
    EXPECT_EQ(EnterAt(memo, "", 0, 0), "");
    // Other keys are not filtered.
    QKeyEvent letter(QEvent::KeyPress, ::Qt::Key_Q, ::Qt::NoModifier, "q");
    memo->setPlainText("a@x\nb@y\nc@z");
    memo->moveCursor(QTextCursor::End);
    QApplication::sendEvent(memo, &letter);
    EXPECT_EQ(memo->toPlainText(), "a@x\nb@y\nc@zq");

    SetModuleMode(1);
    TConfigForm office;
    office.FormShow();
    auto* one = Find<QPlainTextEdit>(office, "mAddictionAdres");
    EXPECT_EQ(EnterAt(one, "box@office", 0, 3), "box@office");
}

TEST_F(ConfigFormTest, ApplyWritesEveryControlForTheLoaderToReadBack) {
    WriteFile(FRoot.Path("peers/beeline"), "user bee\n");
    WriteFile(FRoot.Path("peers/mts"), "");
    WriteFile(FRoot.Path("C/WINDOWS/cnf.INI"),
              "[Other]\nKeep=1\n[EMail]\nPhonebookEntry=mts\nSMTPSecurity=TLS\n");
    LoadMailSettings();
    TConfigForm form(&FServices);
    form.FormShow();
    auto* dialUp = Find<QComboBox>(form, "cbInternet");
    EXPECT_EQ(dialUp->count(), 2);
    EXPECT_EQ(dialUp->currentText(), "mts");
    EXPECT_EQ(Find<QComboBox>(form, "cbSMTPSecurity")->currentText(), "tls");

    Find<QLineEdit>(form, "edSMTPHost")->setText("smtp.example.test");
    Find<QLineEdit>(form, "edPOP3Host")->setText("pop.example.test");
    Find<QLineEdit>(form, "edUser")->setText(QString::fromUtf8("Станция"));
    Find<QLineEdit>(form, "edPassword")->setText("secret%1");
    Find<QSpinBox>(form, "seSMTPPort")->setValue(2525);
    Find<QSpinBox>(form, "sePOP3Port")->setValue(1110);
    Find<QLineEdit>(form, "edEMail")->setText("azs12@example.test");
    Click(form, "cbUseAddictAddr");
    Find<QPlainTextEdit>(form, "mAddictionAdres")->setPlainText("office@example.test\nno address");
    Click(form, "cbIsSaveInMail");
    Find<QLineEdit>(form, "edMailDir")->setText("C:\\MAIL");
    Click(form, "cbSortMail");
    Click(form, "cbShowWnd");
    Click(form, "cb_AutoSendIfNoMail");
    Click(form, "cb_addTovar");
    Find<QSpinBox>(form, "seAddtovarCount")->setValue(5);
    Click(form, "cbAutoGetMail");
    Find<QSpinBox>(form, "seAutoGetMailTime")->setValue(3);
    dialUp->setCurrentIndex(0);
    Click(form, "cbShowDialUp");
    Click(form, "cbDisconnect");
    Click(form, "cbUserData");
    Find<QLineEdit>(form, "edIntLogin")->setText("dialer");
    Find<QLineEdit>(form, "edIntPassword")->setText(QString::fromUtf8("звонок"));
    Find<QSpinBox>(form, "seConnectTimeout")->setValue(30);
    Find<QSpinBox>(form, "seReadTimeout")->setValue(90);
    Find<QComboBox>(form, "cbPOP3Security")->setCurrentText("starttls");
    Find<QLineEdit>(form, "edCAFile")->setText("C:\\PLAV\\ca.pem");
    Click(form, "OKBtn");
    EXPECT_EQ(form.Widget()->result(), 1);
    EXPECT_TRUE(FServices.Boxes().empty());
    // The line without an at sign is gone from the memo as well.
    EXPECT_EQ(Find<QPlainTextEdit>(form, "mAddictionAdres")->toPlainText(), "office@example.test");

    const std::string cnf = Cnf();
    EXPECT_NE(cnf.find("[Other]\nKeep=1"), std::string::npos);
    EXPECT_EQ(cnf.find("secret%1"), std::string::npos); // passwords are scrambled
    EXPECT_EQ(cnf.find(ru("звонок")), std::string::npos);
    // The keys of the section follow the writing order; the address list has its own section.
    const char* order[] = {"EMail=",
                           "MailDir=",
                           "Password=",
                           "POP3Port=",
                           "ShowWnd=",
                           "AddTovarCount=",
                           "UseDefautConnection=",
                           "IntLogin=",
                           "IntPassword=",
                           "AutoGetMail=",
                           "UseAddictionAddress=",
                           "NotUseWorkAddres=",
                           "m_GetMailWithSort="};
    size_t at = 0;
    for (const char* key : order) {
        const size_t next = cnf.find(key, at);
        ASSERT_NE(next, std::string::npos) << key << " after offset " << at;
        at = next;
    }
    EXPECT_NE(cnf.find("[MailAddictionAdressList]\nCount=1\nItem1=office@example.test"),
              std::string::npos);
    for (const char* dir : {"C/MAIL/InBox", "C/MAIL/OutBox", "C/MAIL/Sent"})
        EXPECT_TRUE(std::filesystem::is_directory(FRoot.Path(dir))) << dir;

    SetMailSettings(MailSettings{});
    LoadMailSettings();
    const MailSettings s = MailSettingsSnapshot();
    EXPECT_EQ(s.SMTPHost, "smtp.example.test");
    EXPECT_EQ(s.POP3Host, "pop.example.test");
    EXPECT_EQ(s.UserName, ru("Станция"));
    EXPECT_EQ(s.Password, "secret%1");
    EXPECT_EQ(s.SMTPPort, 2525);
    EXPECT_EQ(s.POP3Port, 1110);
    EXPECT_EQ(s.EMail, "azs12@example.test");
    EXPECT_TRUE(s.UseAddictionAddress);
    EXPECT_EQ(s.MailAddictionAdressList, std::vector<std::string>{"office@example.test"});
    EXPECT_FALSE(s.IsSaveInMail);
    EXPECT_TRUE(s.IsSaveOutMail);
    EXPECT_EQ(s.MailDir, "C:\\MAIL\\");
    EXPECT_TRUE(s.m_GetMailWithSort);
    EXPECT_FALSE(s.ShowWnd);
    EXPECT_TRUE(s.AutoOnNoMail);
    EXPECT_TRUE(s.AutoAddTovarUp);
    EXPECT_EQ(s.AddTovarCount, 5);
    EXPECT_TRUE(s.AutoGetMail);
    EXPECT_EQ(s.AutoGetMailPeriod, 3);
    EXPECT_FALSE(s.UseDefautConnection);
    EXPECT_EQ(s.PhonebookEntry, "beeline");
    EXPECT_FALSE(s.ShowDialUp);
    EXPECT_FALSE(s.DisconnectOnEnd);
    EXPECT_TRUE(s.UserData);
    EXPECT_EQ(s.IntLogin, "dialer");
    EXPECT_EQ(s.IntPassword, ru("звонок"));
    EXPECT_EQ(s.ConnectTimeout, 30);
    EXPECT_EQ(s.ReadTimeout, 90);
    EXPECT_EQ(s.SMTPSecurity, "tls");
    EXPECT_EQ(s.POP3Security, "starttls");
    EXPECT_EQ(s.CAFile, "C:\\PLAV\\ca.pem");
    EXPECT_TRUE(s.NotUseWorkAddres);

    // With no line holding an at sign the option goes off and the list is emptied; with no
    // dial-up entries the entry is stored empty.
    std::filesystem::remove_all(FRoot.Path("peers"));
    TConfigForm again;
    again.FormShow();
    EXPECT_EQ(Find<QComboBox>(again, "cbInternet")->count(), 0);
    Find<QPlainTextEdit>(again, "mAddictionAdres")->setPlainText("nobody");
    Click(again, "OKBtn");
    const MailSettings t = MailSettingsSnapshot();
    EXPECT_FALSE(t.UseAddictionAddress);
    EXPECT_TRUE(t.MailAddictionAdressList.empty());
    EXPECT_EQ(t.PhonebookEntry, "");
    EXPECT_FALSE(Find<QCheckBox>(again, "cbUseAddictAddr")->isChecked());
}

TEST_F(ConfigFormTest, FolderButtonCancelAndAFailedApplyLoseNothing) {
    WriteFile(FRoot.Path("C/WINDOWS/cnf.INI"), "[EMail]\nSMTPHost=old\nPOP3Security=sometimes\n");
    LoadMailSettings();
    TConfigForm form(&FServices);
    form.FormShow();
    std::string caption, start;
    form.SetFolderBrowser([&](const std::string& c, const std::string& s) {
        caption = c;
        start = s;
        return std::optional<std::string>("D:\\Post");
    });
    Click(form, "SpeedButton1");
    EXPECT_EQ(caption, ru("Выберите каталог для хранения почтовых сообщений"));
    EXPECT_EQ(start, "C:\\PLAV\\OFFICE\\MAIL\\");
    EXPECT_EQ(Find<QLineEdit>(form, "edMailDir")->text(), "D:\\Post");
    form.SetFolderBrowser([](const std::string&, const std::string&) { return std::nullopt; });
    Click(form, "SpeedButton1");
    EXPECT_EQ(Find<QLineEdit>(form, "edMailDir")->text(), "D:\\Post");

    // A word the file holds but no connection knows is shown as written and refused on apply
    // with a message naming it; the dialog stays open and nothing is written.
    auto* pop3Security = Find<QComboBox>(form, "cbPOP3Security");
    EXPECT_EQ(pop3Security->currentText(), "sometimes");
    Find<QLineEdit>(form, "edSMTPHost")->setText("new");
    const std::string before = Cnf();
    form.Widget()->setResult(0);
    Click(form, "OKBtn");
    EXPECT_EQ(form.Widget()->result(), 0);
    const auto boxes = FServices.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text.rfind(ru("Ошибка сохранения параметров Эл. почты: "), 0), 0u);
    EXPECT_NE(boxes[0].Text.find("POP3Security"), std::string::npos);
    EXPECT_EQ(Cnf(), before);
    EXPECT_EQ(MailSettingsSnapshot().SMTPHost, "old");

    // Cancel keeps the file and the record as they were.
    Click(form, "CancelBtn");
    EXPECT_EQ(form.Widget()->result(), 2);
    EXPECT_EQ(Cnf(), before);
    EXPECT_EQ(MailSettingsSnapshot().SMTPHost, "old");
}

TEST_F(ConfigFormTest, AnUnreadableFileStillShowsTheSettingsInMemory) {
    MailSettings s;
    s.SMTPHost = "smtp.example.test";
    s.IntLogin = "dialer";
    SetMailSettings(s);
    std::filesystem::create_directories(FRoot.Path("C/WINDOWS/cnf.INI"));
    TConfigForm form;
    form.FormShow();
    EXPECT_EQ(Find<QLineEdit>(form, "edSMTPHost")->text(), "smtp.example.test");
    EXPECT_EQ(Find<QLineEdit>(form, "edIntLogin")->text(), "dialer");
}

} // namespace
} // namespace tzn
