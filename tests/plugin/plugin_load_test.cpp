// Loads the built plug-in the way a host does: dlopen, the exports looked up by name, Load
// called with the host's own services object.
#include "fake_host.h"
#include "platform/cp1251.h"
#include "temp_root.h"
#include "tznmail/host.h"

#include "plugin_host.h"
#include "qt_environment.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

namespace tzn {
namespace {

using test::FakeHost;
using test::FakeMenuItem;
using test::Plugin;
using test::SessionLines;
using test::TempRoot;

// Every item below `item` (itself included) that carries a click handler.
void CollectHandled(FakeMenuItem* item, std::vector<FakeMenuItem*>& out) {
    if (item->OnClick)
        out.push_back(item);
    for (auto& child : item->Children)
        CollectHandled(child.get(), out);
}

std::vector<std::string> CaptionsOf(const std::vector<FakeMenuItem*>& items) {
    std::vector<std::string> out;
    for (FakeMenuItem* item : items)
        out.push_back(Utf8FromCp1251(item->Caption));
    return out;
}

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> out;
    if (std::filesystem::is_directory(dir))
        for (const auto& e : std::filesystem::directory_iterator(dir))
            out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

const auto* const kQtHost = ::testing::AddGlobalTestEnvironment(new test::QtEnvironment);

// The settings dialog is modal: once its event loop runs, this cancels it and counts it.
void CancelSettingsDialog(int& answered) {
    QTimer::singleShot(0, [&answered] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "ConfigForm" && w->isVisible())
                if (auto* cancel = w->findChild<QPushButton*>("CancelBtn")) {
                    cancel->click();
                    ++answered;
                }
    });
}

// Processes the window thread's events until `done` holds (false after 60 s).
bool ProcessEventsUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Answers the plug-in's shift dialog once it shows (inside its own modal loop): ticks the rows
// of these shift numbers and presses OK. The rows it listed go to `listed`.
class ShiftDialogUser {
public:
    ShiftDialogUser(const std::vector<std::string>& tick, std::vector<std::string>& listed) {
        QObject::connect(&FTimer, &QTimer::timeout, [this, tick, &listed] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->objectName() != "SmListForm" || !w->isVisible())
                    continue;
                auto* rows = w->findChild<QTreeWidget*>("lvShifts");
                for (int i = 0; rows && i < rows->topLevelItemCount(); ++i) {
                    QTreeWidgetItem* row = rows->topLevelItem(i);
                    listed.push_back(row->text(0).toStdString());
                    if (std::count(tick.begin(), tick.end(), listed.back()))
                        row->setCheckState(0, Qt::Checked);
                }
                FTimer.stop();
                w->findChild<QAbstractButton*>("OKBtn")->click();
            }
        });
        FTimer.start(10);
    }

private:
    QTimer FTimer;
};

bool MailboxExists() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "MailForm")
            return true;
    return false;
}

bool MailboxShown() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->objectName() == "MailForm")
            return true;
    return false;
}

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(FRoot.Path("C/PLAV/LogFiles"));
        std::filesystem::create_directories(FRoot.Path("LogFiles"));
        std::filesystem::current_path(FRoot.Dir());
        // The host suite's connection library, answering that the computer is online.
        std::filesystem::copy_file(TZN_FAKE_CONNECT_INET, FRoot.Path("C/PLAV/TZNConnectInet.so"));
        ::setenv("TZN_FAKE_INET_Connect", "1", 1);
        ASSERT_TRUE(FPlugin.Loaded());
        FLoad = FPlugin.Get<TznLoadFn>("Load");
        FUnload = FPlugin.Get<TznUnLoadFn>("UnLoad");
    }
    TempRoot FRoot;
    Plugin FPlugin;
    FakeHost FHost;
    TznLoadFn FLoad = nullptr;
    TznUnLoadFn FUnload = nullptr;
};

TEST(PluginExports, ExactlyTheNineNamesAreVisible) {
    FILE* nm = ::popen("nm -D --defined-only '" TZN_PLUGIN_PATH "'", "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> names;
    char line[1024];
    while (std::fgets(line, sizeof line, nm)) {
        std::string l(line);
        const size_t sp = l.find_last_of(' ');
        std::string name = l.substr(sp + 1);
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
            name.pop_back();
        names.insert(name);
    }
    ASSERT_EQ(::pclose(nm), 0);
    EXPECT_EQ(names, (std::set<std::string>{"AutoSendMail", "Config", "Dial", "GetParam",
                                            "GetVersion", "HangUp", "Load", "UnLoad", "WaitDial"}));
}

TEST_F(PluginTest, LoadBuildsDataDirMailFoldersAndMenuThenUnLoads) {
    test::WriteFile(FRoot.Path("C/WINDOWS/cnf.INI"),
                    "[EMail]\r\nMailDir=C:\\Station\\MAIL\r\n[Host]\r\nKeep=1\r\n");
    ASSERT_EQ(FLoad(nullptr, 0, &FHost), 0);
    // The mailbox window exists from Load on, hidden.
    EXPECT_TRUE(MailboxExists());
    EXPECT_FALSE(MailboxShown());
    // DataDir: the folder of GetDataFileName, created on disk.
    EXPECT_TRUE(std::filesystem::is_directory(FRoot.Path("C/Data/Exchange")));
    // The settings were read: the store lies under the configured MailDir (a "\" is added).
    for (const char* sub : {"InBox", "OutBox", "Sent"})
        EXPECT_TRUE(std::filesystem::is_directory(FRoot.Path(std::string("C/Station/MAIL/") + sub)))
            << sub;
    EXPECT_FALSE(std::filesystem::exists(FRoot.Path("C/PLAV/OFFICE/MAIL")));
    // Loading reads, never writes, the shared settings file.
    EXPECT_EQ(test::ReadFile(FRoot.Path("C/WINDOWS/cnf.INI")),
              "[EMail]\r\nMailDir=C:\\Station\\MAIL\r\n[Host]\r\nKeep=1\r\n");
    // The station side's commands are in the host's menu.
    ASSERT_EQ(FHost.Root.Count(), 1);
    EXPECT_EQ(FHost.Root.Child(0)->Caption, ru("Связь с о&фисом"));
    EXPECT_EQ(FHost.Root.Child(0)->Count(), 7);

    EXPECT_EQ(FUnload(), 0);
    // The items stay with the host, without any handler of the plug-in's: the host may click
    // or free them even once the library is gone.
    ASSERT_EQ(FHost.Root.Count(), 1);
    std::vector<FakeMenuItem*> handled;
    CollectHandled(&FHost.Root, handled);
    ASSERT_TRUE(handled.empty());
    FPlugin.Close();
    for (auto& item : FHost.Root.Child(0)->Children)
        item->Click();
    FHost.Root.Children.clear();
}

TEST_F(PluginTest, StationCodeComesFromTheHostAndAFailingHostCallFailsLoad) {
    FHost.FailStationCode = true;
    EXPECT_EQ(FLoad(nullptr, 0, &FHost), 1);
    EXPECT_FALSE(std::filesystem::exists(FRoot.Path("C/Data/Exchange"))); // stopped before
    EXPECT_EQ(FUnload(), 0); // after a failed Load, UnLoad frees what exists
    FHost.FailStationCode = false;
    FHost.FailMenuAfter = 2;
    EXPECT_EQ(FLoad(nullptr, 1, &FHost), 1);
    EXPECT_EQ(FUnload(), 0);
    EXPECT_EQ(FLoad(nullptr, 0, nullptr), 1);
}

TEST_F(PluginTest, NoSizeMarkerAndOtherModesLoadCleanly) {
    test::WriteFile(FRoot.Path("C/PLAV/NoSizeMSG.ini"), "anything");
    EXPECT_EQ(FLoad(nullptr, 2, &FHost), 0);
    EXPECT_EQ(FHost.Root.Count(), 0); // mode 2: no menu commands
    EXPECT_EQ(test::ReadFile(FRoot.Path("C/PLAV/NoSizeMSG.ini")), "anything");
    EXPECT_TRUE(std::filesystem::is_directory(FRoot.Path("C/PLAV/OFFICE/MAIL/InBox")));
    EXPECT_EQ(FUnload(), 0);
}

TEST_F(PluginTest, SettingsThatCannotBeReadAreLoggedNotFatal) {
    std::filesystem::create_directories(FRoot.Path("C/WINDOWS/cnf.INI")); // unreadable
    ASSERT_EQ(FLoad(nullptr, 1, &FHost), 0);
    const std::string log = test::ReadFile(FRoot.Path("C/PLAV/LogFiles/TZNMail.log"));
    EXPECT_NE(log.find(ru(" - Ошибка загрузки параметров Эл. почты: ")), std::string::npos);
    // Without the log folder even that entry fails, and so does Load.
    std::filesystem::remove_all(FRoot.Path("C/PLAV/LogFiles"));
    EXPECT_EQ(FLoad(nullptr, 1, &FHost), 1);
    EXPECT_EQ(FUnload(), 0);
}

TEST_F(PluginTest, VersionAndTheInertExports) {
    std::string version = "old";
    FPlugin.Get<TznGetVersionFn>("GetVersion")(version);
    EXPECT_EQ(version, ru("8.01 от 15.12.2008"));
    EXPECT_EQ(FPlugin.Get<TznDialFn>("Dial")(), 0);
    FPlugin.Get<TznVoidFn>("WaitDial")();
    FPlugin.Get<TznVoidFn>("HangUp")();
    FPlugin.Get<TznVoidFn>("GetParam")();
    // Config shows the settings dialog modally, also before Load.
    int answered = 0;
    CancelSettingsDialog(answered);
    EXPECT_EQ(FPlugin.Get<TznConfigFn>("Config")(), 0);
    EXPECT_EQ(answered, 1);
}

// Every command of both sides while loaded, with settings that let letters be stored: each
// reaches the host or the store where its target exists, and the rest do today's nothing.
class PluginCommandsTest : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        test::WriteFile(FRoot.Path("C/WINDOWS/cnf.INI"),
                        "[EMail]\r\nMailDir=C:\\Mail\r\nEMail=work@example.test\r\n");
        FHost.MakeRequest = [this](const std::string& key) {
            test::WriteFile(FRoot.Path("C/REQ/req" + key + ".txt"), "request for " + key);
            return "C:\\REQ\\req" + key + ".txt";
        };
    }
    std::vector<std::filesystem::path> OutBox() const {
        return FilesIn(FRoot.Path("C/Mail/OutBox"));
    }
    // Clicks the one handled item captioned `caption` (UTF-8).
    void Click(const std::string& caption) {
        std::vector<FakeMenuItem*> handled;
        CollectHandled(&FHost.Root, handled);
        int found = 0;
        for (FakeMenuItem* item : handled)
            if (Utf8FromCp1251(item->Caption) == caption) {
                item->Click();
                ++found;
            }
        EXPECT_EQ(found, 1) << caption;
    }
    // Nothing reached the host's data services, the store or the data exchange folder.
    void ExpectNothingDone(const std::string& what) {
        EXPECT_TRUE(FHost.StationQueries.empty()) << what;
        EXPECT_TRUE(FHost.RequestQueries.empty()) << what;
        EXPECT_TRUE(FHost.ExportQueries.empty()) << what;
        EXPECT_TRUE(FHost.Imports.empty()) << what;
        EXPECT_TRUE(OutBox().empty()) << what;
        EXPECT_TRUE(FilesIn(FRoot.Path("C/Data/Exchange")).empty()) << what;
    }
    // The mailbox command shows the window; getting mail runs a full session, sending one
    // without the receiving part, and the host's automatic call a full one: each to its
    // closing line in the session log. No mail server is configured, so each reports that.
    void ExpectSessionCommands() {
        EXPECT_FALSE(MailboxShown());
        Click("Электронная почта");
        EXPECT_TRUE(MailboxShown());
        const std::string start = ru("======== Старт приема писем =========");
        const std::filesystem::path log = FRoot.Path("LogFiles/TZNMail.log");
        auto count = [](const std::vector<std::string>& lines, const std::string& l) {
            return std::count(lines.begin(), lines.end(), l);
        };
        Click("Получить почту");
        std::vector<std::string> lines = SessionLines(log, 1);
        EXPECT_EQ(count(lines, std::string(37, '=')), 1);
        EXPECT_EQ(count(lines, start), 1);
        EXPECT_EQ(lines.front(), start); // online through the connection library
        Click("Отправить почту");
        lines = SessionLines(log, 2);
        EXPECT_EQ(count(lines, std::string(37, '=')), 2);
        EXPECT_EQ(count(lines, start), 1) << "a send-only session does not receive";
        EXPECT_TRUE(FPlugin.Get<TznAutoSendMailFn>("AutoSendMail")());
        lines = SessionLines(log, 3);
        EXPECT_EQ(count(lines, std::string(37, '=')), 3);
        EXPECT_EQ(count(lines, start), 2);
    }
    void ExpectHandlersCleared() {
        std::vector<FakeMenuItem*> handled;
        CollectHandled(&FHost.Root, handled);
        EXPECT_EQ(CaptionsOf(handled), std::vector<std::string>{});
    }
};

TEST_F(PluginCommandsTest, OfficeSideRequestCommandsReachTheHostAndStoreLetters) {
    FHost.Selected = THostStation{"17", "17", "Station 17"};
    FHost.Stations = {{"1", "1", "Station 1"}, {"2", "2", "Station 2"}};
    ASSERT_EQ(FLoad(nullptr, 1, &FHost), 0);
    std::vector<FakeMenuItem*> handled;
    CollectHandled(&FHost.Root, handled);
    ASSERT_EQ(CaptionsOf(handled),
              (std::vector<std::string>{
                  "Электронная почта", "Получить почту", "Отправить почту", "Создать письмо-запрос",
                  "Создать письмо-запрос для всех АЗС", "Электронная почта "}));

    // The settings command opens the dialog; cancelled, it changes nothing.
    const std::string settings = test::ReadFile(FRoot.Path("C/WINDOWS/cnf.INI"));
    int answered = 0;
    CancelSettingsDialog(answered);
    Click("Электронная почта ");
    EXPECT_EQ(answered, 1);
    ExpectNothingDone("settings");
    EXPECT_EQ(test::ReadFile(FRoot.Path("C/WINDOWS/cnf.INI")), settings);
    ExpectSessionCommands();
    FHost.StationQueries.clear(); // the office's sessions note the host's list for the overview

    Click("Создать письмо-запрос");
    EXPECT_EQ(FHost.StationQueries, std::vector<int>{0}); // the station selected in the host
    EXPECT_EQ(FHost.RequestQueries, std::vector<std::string>{"17"});
    ASSERT_EQ(OutBox().size(), 1u);
    EXPECT_NE(test::ReadFile(OutBox()[0]).find("Subject: TZN-17"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(FRoot.Path("C/REQ/req17.txt"))); // went with the letter

    Click("Создать письмо-запрос для всех АЗС");
    EXPECT_EQ(FHost.StationQueries, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(FHost.RequestQueries, (std::vector<std::string>{"17", "1", "2"}));
    std::set<std::string> subjects;
    for (const auto& file : OutBox()) {
        const std::string text = test::ReadFile(file);
        const size_t at = text.find("Subject: ");
        ASSERT_NE(at, std::string::npos);
        subjects.insert(text.substr(at + 9, text.find('\r', at) - at - 9));
    }
    EXPECT_EQ(subjects, (std::set<std::string>{"TZN-17", "TZN-1", "TZN-2"}));

    EXPECT_EQ(FUnload(), 0);
    ExpectHandlersCleared();
}

TEST_F(PluginCommandsTest, StationSideCommandsReachTheMailboxAndTheSession) {
    ASSERT_EQ(FLoad(nullptr, 0, &FHost), 0);
    std::vector<FakeMenuItem*> handled;
    CollectHandled(&FHost.Root, handled);
    ASSERT_EQ(CaptionsOf(handled),
              (std::vector<std::string>{"Электронная почта", "Получить почту", "Отправить почту",
                                        "Создать письмо-отчет", "Электронная почта "}));
    // The settings command opens the dialog (through the mailbox window's command);
    // cancelled, it leaves the file alone.
    const std::string settings = test::ReadFile(FRoot.Path("C/WINDOWS/cnf.INI"));
    int answered = 0;
    CancelSettingsDialog(answered);
    Click("Электронная почта ");
    EXPECT_EQ(answered, 1);
    ExpectNothingDone("settings");
    EXPECT_EQ(test::ReadFile(FRoot.Path("C/WINDOWS/cnf.INI")), settings);
    ExpectSessionCommands();

    // The report command lists the shift log in the shift dialog; the ticked shift goes into
    // the request, and the host's data file into a letter to the office, then away.
    test::WriteFile(FRoot.Path("C/PLAV/SmLogProvider.tsv"),
                    "SmNum\tBegTime\tEndTime\tOperator\r\n5\tb\te\to\r\n6\tb\te\to\r\n");
    const std::filesystem::path data = FRoot.Path("C/Data/Exchange/data.dat");
    FHost.ExportData = [&](const std::string& request) {
        test::WriteFile(data, "data for " + request);
        return std::string("C:\\Data\\Exchange\\data.dat");
    };
    std::vector<std::string> listed;
    {
        ShiftDialogUser user({"6"}, listed);
        Click("Создать письмо-отчет");
        EXPECT_TRUE(ProcessEventsUntil(
            [&] { return OutBox().size() == 1 && !std::filesystem::exists(data); }));
    }
    EXPECT_EQ(listed, (std::vector<std::string>{"5", "6"}));
    EXPECT_NE(test::ReadFile(FRoot.Path("C/Data/Exchange/office.txt"))
                  .find("[Smena]\r\nCount=1\r\nItem0=6\r\n[Config]\r\nType=1\r\n"),
              std::string::npos);
    ASSERT_EQ(OutBox().size(), 1u);
    EXPECT_NE(test::ReadFile(OutBox()[0]).find("Subject: TZN-Office"), std::string::npos);

    EXPECT_EQ(FUnload(), 0);
    ExpectHandlersCleared();
}

TEST_F(PluginCommandsTest, UnLoadEndsAReportStillWaitingForItsDialog) {
    ASSERT_EQ(FLoad(nullptr, 0, &FHost), 0);
    // The dialog never gets its turn on the window thread: UnLoad answers it with cancel and
    // waits for the preparation to end before the library can go.
    Click("Создать письмо-отчет");
    EXPECT_EQ(FUnload(), 0);
    EXPECT_TRUE(FHost.ExportQueries.empty());
    EXPECT_TRUE(OutBox().empty());
}

TEST_F(PluginCommandsTest, UnLoadClearsTheHandlersOfAFailedAndOfASecondLoad) {
    FHost.FailMenuAfter = 3; // the communication item, "-" and "Электронная почта"
    EXPECT_EQ(FLoad(nullptr, 1, &FHost), 1);
    ASSERT_EQ(FHost.Root.Child(0)->Count(), 2);
    EXPECT_TRUE(FHost.Root.Child(0)->Child(1)->OnClick);
    FHost.FailMenuAfter = -1;
    ASSERT_EQ(FLoad(nullptr, 1, &FHost), 0);
    EXPECT_EQ(FUnload(), 0);
    ExpectHandlersCleared();
}

} // namespace
} // namespace tzn
