// Under a real X server the plug-in's message boxes reach the user: each is shown on screen,
// modal, on the window thread, while the thread that asked waits for the answer. The parent
// case starts this program again inside Xvfb, where the OnDisplay cases work tznhost's own
// window as a user would: its menu, the shift dialog, the settings dialog, a receiving session
// (with the loopback mail server) and the boxes.
#include "host/config_host.h"
#include "host/host_config.h"
#include "host/main_window.h"
#include "host/plugin_library.h"
#include "integration/mail_server.h"
#include "mail/message.h"
#include "mail/smtp.h"
#include "module/password.h"
#include "platform/cp1251.h"
#include "platform/message_loop.h"
#include "qt_environment.h"
#include "temp_root.h"
#include "tool/tool_runner.h"

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

namespace tzn {
namespace {

using test::RunCommand;
using test::ShellQuote;
using test::TempRoot;
using test::WriteFile;
using ::testing::HasSubstr;
using ::testing::Not;

const auto* const kQtHost = ::testing::AddGlobalTestEnvironment(new test::QtEnvironment);

bool InsideXServer() {
    return std::getenv("TZN_ON_DISPLAY") != nullptr;
}

TEST(OnAnXServer, MessageBoxesAreShownAndAnswered) {
    if (InsideXServer())
        GTEST_SKIP() << "this is the run inside the X server";
    if (RunCommand("command -v xvfb-run >/dev/null 2>&1").Status != 0)
        GTEST_SKIP() << "xvfb-run is not installed (Debian packages xvfb and xauth; "
                        "scripts/install-deps installs them): no X server to show boxes on";
    const test::ToolRun r = RunCommand(
        "env -u QT_QPA_PLATFORM TZN_ON_DISPLAY=1 xvfb-run -a -s '-screen 0 1024x768x24' " +
        ShellQuote(std::filesystem::read_symlink("/proc/self/exe").string()) +
        " --gtest_filter='OnDisplay.*' 2>&1");
    EXPECT_EQ(r.Status, 0) << r.Out;
    // The session case needs the loopback mail server; the others always run.
    EXPECT_THAT(r.Out, ::testing::ContainsRegex("\\[  PASSED  \\] [34] tests")) << r.Out;
}

// A box as the user saw it.
struct TSeenBox {
    std::string Title, Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    bool Modal = false, OnTop = false, Painted = false;
};

// The box the user faces now: the active modal window, when it is a message box.
QMessageBox* FacingBox() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    return box && box->isVisible() ? box : nullptr;
}

// Reads the box from the screen: its texts, and whether the X server shows more than one
// colour where it lies (a box that was never mapped or painted leaves the screen blank).
TSeenBox Read(QMessageBox* box) {
    TSeenBox seen{box->windowTitle().toStdString(), box->text().toStdString(), box->icon(),
                  box->isModal(), box->windowFlags().testFlag(Qt::WindowStaysOnTopHint)};
    // A loaded machine may map the box well before it paints it: look again until it shows,
    // within a deadline.
    QImage shot;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
        QApplication::processEvents();
        const QRect g = box->frameGeometry();
        shot = QGuiApplication::primaryScreen()
                   ->grabWindow(0, g.x(), g.y(), g.width(), g.height())
                   .toImage();
        std::set<QRgb> colours;
        for (int y = 0; y < shot.height(); y += 2)
            for (int x = 0; x < shot.width(); x += 2)
                colours.insert(shot.pixel(x, y));
        seen.Painted = colours.size() >= 4;
        if (!seen.Painted)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (!seen.Painted && std::chrono::steady_clock::now() < deadline);
    if (const char* dir = std::getenv("TZN_BOX_SHOTS"))
        shot.save(QString::fromStdString(std::string(dir) + "/box-" +
                                         std::to_string(std::hash<std::string>()(seen.Text)) +
                                         ".png"));
    return seen;
}

void Press(QMessageBox* box) {
    box->buttons().front()->click();
}

// A visible top-level window of the plug-in by its object name.
QWidget* Window(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible())
            return w;
    return nullptr;
}

class OnDisplay : public test::MailServerTest {
protected:
    void SetUp() override {
        FMailServer = test::MailServerEnv::Read(FEnv);
        if (!InsideXServer())
            GTEST_SKIP() << "runs inside the X server that OnAnXServer starts";
        ASSERT_NE(QGuiApplication::platformName(), "offscreen");
        std::filesystem::current_path(FRoot.Dir());
        WriteFile(FRoot.Path("C/WINDOWS/cnf.INI"), "[EMail]\r\nEMail=work@example.test\r\n");
        WriteFile(FRoot.Path("C/PLAV/SmLogProvider.tsv"),
                  "SmNum\tBegTime\tEndTime\tOperator\r\n5\tb\te\to\r\n6\tb\te\to\r\n");
        WriteFile(FRoot.Path("export/sales.dat"), "sales");
        std::filesystem::create_directories(FRoot.Path("C/PLAV/LogFiles"));
        std::filesystem::create_directories(FRoot.Path("LogFiles"));
    }
    void TearDown() override {
        FWindow.reset();
        if (FLoaded) {
            EXPECT_EQ(FPlugin.Exports().UnLoad(), 0);
        }
    }
    // tznhost's station window with the plug-in loaded; `params` is a [Params] section body.
    void Open(const std::string& params = "") {
        WriteFile(FRoot.Path("host.ini"),
                  "[Host]\nSide=station\nStationCode=12\nDataFile=C:\\PLAV\\DATA\\tzn.dat\n"
                  "ImportDir=import\nExportDir=export\n[Params]\n" +
                      params);
        FHost.emplace(ReadHostConfig(FRoot.Path("host.ini")));
        ASSERT_EQ(FPlugin.Exports().Load(nullptr, 0, &*FHost), 0);
        FLoaded = true;
        FWindow.emplace(FHost->MainMenu(), "tznhost");
        FWindow->show();
    }
    // Clicks the command of the menu path, e.g. {"Настройки", "Электронная почта "}.
    void Click(const std::vector<std::string>& path) {
        QList<QAction*> actions = FWindow->menuBar()->actions();
        for (const std::string& caption : path) {
            QAction* found = nullptr;
            for (QAction* top : actions)
                if (top->menu())
                    for (QAction* a : top->menu()->actions())
                        if (!found && a->text().toStdString() == caption)
                            found = a;
            ASSERT_NE(found, nullptr) << "no menu command " << caption;
            if (&caption == &path.back()) {
                // Later: the command may open a modal window, whose loop runs the hand.
                QTimer::singleShot(0, found, &QAction::trigger);
                return;
            }
            actions = {found};
        }
    }
    // Runs the window thread with `hand` looking at the screen every 20 ms (also inside the
    // modal windows' own loops) until it says it is done.
    bool Work(const std::function<bool()>& hand) {
        bool done = false;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { done = done || hand(); });
        timer.start(20);
        return ProcessMessagesUntil([&] { return done; }, std::chrono::seconds(60));
    }
    size_t OutBoxLetters() const {
        const auto dir = FRoot.Path("C/PLAV/OFFICE/MAIL/OutBox");
        size_t n = 0;
        if (std::filesystem::is_directory(dir))
            for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir))
                ++n;
        return n;
    }

    bool FMailServer = false;
    TempRoot FRoot;
    TPluginLibrary FPlugin{TZN_PLUGIN_PATH};
    std::optional<TConfigHost> FHost;
    std::optional<THostMainWindow> FWindow;
    bool FLoaded = false;
};

TEST_F(OnDisplay, AReportEndsWithItsBoxWhileASecondClickIsRefused) {
    Open();
    Click({"Создать письмо-отчет"});
    std::vector<TSeenBox> boxes;
    int step = 0;
    ASSERT_TRUE(Work([&] {
        if (step == 0) {
            QWidget* dialog = Window("SmListForm");
            if (!dialog)
                return false;
            auto* list = dialog->findChild<QTreeWidget*>("lvShifts");
            EXPECT_EQ(list->topLevelItemCount(), 2);
            list->topLevelItem(1)->setCheckState(0, Qt::Checked);
            dialog->findChild<QAbstractButton*>("OKBtn")->click();
            step = 1;
            return false;
        }
        QMessageBox* box = FacingBox();
        if (!box)
            return false;
        if (step == 1) {
            // The preparation waits on this box: a second click finds it still running.
            boxes.push_back(Read(box));
            Click({"Создать письмо-отчет"});
            step = 2;
        } else if (step == 2 && box->text().toStdString() != boxes.front().Text) {
            boxes.push_back(Read(box));
            Press(box);
            step = 3;
        } else if (step == 3 && box->text().toStdString() == boxes.front().Text) {
            Press(box);
            return true;
        }
        return false;
    })) << "at step "
        << step;
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].Text, "Данные подготовлены (1 писем)");
    EXPECT_EQ(boxes[0].Title, "Связь с офисом.");
    EXPECT_EQ(boxes[0].Icon, QMessageBox::Information);
    EXPECT_TRUE(boxes[0].Modal);
    EXPECT_TRUE(boxes[0].OnTop);
    EXPECT_TRUE(boxes[0].Painted);
    EXPECT_EQ(boxes[1].Text, "Подготовка данных уже выполняется.");
    EXPECT_TRUE(boxes[1].Painted);
    ProcessMessagesUntil([] { return FacingBox() == nullptr; }, std::chrono::seconds(10));
    EXPECT_EQ(OutBoxLetters(), 1u);
}

TEST_F(OnDisplay, AShiftListThatCannotBeLoadedIsToldBeforeTheDialogOpens) {
    Open("7=office-srv\n");
    Click({"Создать письмо-отчет"});
    std::vector<TSeenBox> boxes;
    bool dialogSeen = false; // with the rows it held before, if any
    ASSERT_TRUE(Work([&] {
        if (QMessageBox* box = FacingBox()) {
            boxes.push_back(Read(box));
            Press(box);
            return boxes.size() == 2;
        }
        if (QWidget* dialog = Window("SmListForm"); dialog && !dialogSeen) {
            dialogSeen = true;
            dialog->findChild<QAbstractButton*>("CancelBtn")->click();
        }
        return false;
    }));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_THAT(boxes[0].Text, HasSubstr("Ошибка при загрузке списка смен: "));
    EXPECT_THAT(boxes[0].Text, HasSubstr("office-srv"));
    EXPECT_TRUE(boxes[0].Painted);
    EXPECT_TRUE(dialogSeen);
    EXPECT_EQ(boxes[1].Text, "Error - Сбой при подготовке данных.");
    EXPECT_EQ(boxes[1].Icon, QMessageBox::Critical);
}

TEST_F(OnDisplay, SettingsThatCannotBeSavedAreRefusedWithTheReason) {
    // A file where the mail folder should go: the folders cannot be created.
    WriteFile(FRoot.Path("C/blocker"), "a file");
    Open();
    Click({"Настройки", "Электронная почта "});
    TSeenBox refusal;
    int step = 0;
    ASSERT_TRUE(Work([&] {
        QWidget* dialog = Window("ConfigForm");
        if (step == 0 && dialog) {
            dialog->findChild<QLineEdit*>("edMailDir")->setText("C:\\blocker\\MAIL");
            QTimer::singleShot(0, dialog->findChild<QAbstractButton*>("OKBtn"),
                               &QAbstractButton::click);
            step = 1;
        } else if (QMessageBox* box = step == 1 ? FacingBox() : nullptr) {
            refusal = Read(box);
            Press(box);
            step = 2;
        } else if (step == 2 && dialog) {
            // The dialog stays open with the user's entries, to be corrected or cancelled.
            EXPECT_EQ(dialog->findChild<QLineEdit*>("edMailDir")->text().toStdString(),
                      "C:\\blocker\\MAIL");
            dialog->findChild<QAbstractButton*>("CancelBtn")->click();
            return true;
        }
        return false;
    })) << "at step "
        << step;
    EXPECT_THAT(refusal.Text, HasSubstr("Ошибка сохранения параметров Эл. почты: "));
    EXPECT_EQ(refusal.Title, "Настройка");
    EXPECT_EQ(refusal.Icon, QMessageBox::Critical);
    EXPECT_TRUE(refusal.Painted);
}

TEST_F(OnDisplay, AnUnprocessedLetterHoldsTheReceivingSessionUntilTheUserAnswers) {
    if (!FMailServer)
        GTEST_SKIP() << "no loopback mail server (scripts/mailserver)";
    const test::MailUser& box = User(28); // a mailbox of this file
    Empty(box);
    WriteFile(FRoot.Path("sales.dat"), "sales");
    TMxMessage m;
    m.From().Name = "Office";
    m.From().Address = box.Address;
    m.Recipients.SetEMailAddresses(box.Address);
    m.Subject = "TZN-12 data";
    m.MessageParts.AddAttachment(FRoot.Path("sales.dat").string());
    TMxSMTP smtp;
    ConfigureSmtp(smtp, box);
    smtp.ConnectToServer();
    smtp.SendMail(m);
    smtp.CloseConnection();
    ASSERT_EQ(WaitForCount(box, 1), 1);
    WriteFile(FRoot.Path("C/WINDOWS/cnf.INI"),
              "[EMail]\r\nEMail=" + box.Address +
                  "\r\nSMTPHost=127.0.0.1\r\nPOP3Host=127.0.0.1\r\nSMTPPort=" +
                  std::to_string(FEnv.SmtpPort) + "\r\nPOP3Port=" + std::to_string(FEnv.Pop3Port) +
                  "\r\nUserName=" + box.Login + "\r\nPassword=" +
                  EncodePassword(box.Login, box.Password) + "\r\nCAFile=" + FEnv.CAFile + "\r\n");
    // The host suite's connection library says the computer is online.
    std::filesystem::copy_file(TZN_FAKE_CONNECT_INET, FRoot.Path("C/PLAV/TZNConnectInet.so"));
    ::setenv("TZN_FAKE_INET_Connect", "1", 1);
    // Where the attachment must go a folder stands: the letter cannot be processed.
    std::filesystem::create_directories(FRoot.Path("C/PLAV/DATA/sales.dat/inside"));
    Open();
    Click({"Получить почту"});

    const auto log = [&] { return test::ReadFile(FRoot.Path("LogFiles/TZNMail.log")); };
    const std::string closing(37, '=');
    TSeenBox report;
    std::string logWhileShown;
    ASSERT_TRUE(Work([&] {
        if (QMessageBox* box = FacingBox()) {
            report = Read(box);
            logWhileShown = log();
            Press(box);
        }
        return !report.Text.empty() && log().find(closing) != std::string::npos;
    })) << log();
    ::unsetenv("TZN_FAKE_INET_Connect");
    EXPECT_EQ(report.Text, "Не обработано письмо от Office\rНе удален временный файл с "
                           "предыдущей АЗС");
    EXPECT_EQ(report.Icon, QMessageBox::Warning);
    EXPECT_TRUE(report.Painted);
    // While the box was up the session waited: it had neither left the letter nor ended.
    EXPECT_THAT(logWhileShown, HasSubstr(ru("Получено письмо от: Office")));
    EXPECT_THAT(logWhileShown, Not(HasSubstr(ru("оставлено на сервере"))));
    EXPECT_THAT(log(), HasSubstr(ru("Письмо не обработано, оставлено на сервере: Office")));
    EXPECT_THAT(log(), HasSubstr(ru("Ошибка: не обработано и оставлено на сервере писем: 1")));
    EXPECT_EQ(Count(box), 1);
}

} // namespace
} // namespace tzn
