#include "module/lifecycle.h"

#include "fake_host.h"
#include "fake_window_services.h"
#include "module/activity_log.h"
#include "module/module_layers.h"
#include "module/module_state.h"
#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "stderr_capture.h"
#include "temp_root.h"

#include <gtest/gtest.h>

#include <functional>

namespace tzn {
namespace {

using test::FakeHost;
using test::FakeMenuItem;
using test::TempRoot;

// Layers standing in for the windows and commands above the module, recording what the module
// asks of them.
class FakeLayers final : public TModuleLayers {
public:
    void CreateMailForm() override { Calls.push_back("CreateMailForm"); }
    void FreeMailForm() override {
        if (FreeMailFormFails)
            throw std::runtime_error(ru("окно не закрыто"));
        Calls.push_back("FreeMailForm");
    }
    void CreateShiftDialog() override {
        Calls.push_back("CreateShiftDialog:" + MailSettingsSnapshot().SMTPHost);
    }
    void FreeShiftDialog() override { Calls.push_back("FreeShiftDialog"); }
    bool PostMailStart(int lParam) override {
        Calls.push_back("Post" + std::to_string(lParam));
        return PostResult;
    }
    void ShowMailbox() override { Calls.push_back("Show"); }
    void CreateReportLetter() override { Calls.push_back("Report"); }
    void CreateRequestLetter() override {
        if (RequestFails)
            throw std::runtime_error("no station");
        Calls.push_back("Request");
    }
    void CreateRequestLettersForAll() override { Calls.push_back("RequestAll"); }
    void MailboxSettings() override { Calls.push_back("MailboxSettings"); }
    void RunConfigDialog() override {
        Calls.push_back("Config");
        throw std::runtime_error("dialog failed");
    }
    TWindowServices& WindowServices() override { return Window; }

    std::vector<std::string> Calls;
    bool PostResult = true;
    bool FreeMailFormFails = false;
    bool RequestFails = false;
    test::FakeWindowServices Window;
};

class LifecycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(FRoot.Path("C/PLAV/LogFiles"));
        ResetModuleState();
        SetMailSettings(MailSettings{});
    }
    void TearDown() override {
        ModuleUnLoad(FLayers);
        ResetModuleState();
        SetMailSettings(MailSettings{});
    }

    TempRoot FRoot;
    FakeHost FHost;
    FakeLayers FLayers;
    std::vector<std::string>& FCalls = FLayers.Calls;
};

TEST_F(LifecycleTest, LoadTakesStationCodeDataDirMarkerAndSettingsInOrder) {
    test::WriteFile(FRoot.Path("C/WINDOWS/cnf.INI"), "[EMail]\r\nSMTPHost=smtp.test\r\n");
    MailSettings withList;
    withList.MailAddictionAdressList = {"stale@x.test"};
    SetMailSettings(withList);
    ASSERT_EQ(ModuleLoad(1, &FHost, FLayers), 0);
    EXPECT_EQ(ModuleMode(), 1);
    EXPECT_EQ(Host(), &FHost);
    EXPECT_EQ(StationCode(), "12");
    EXPECT_EQ(DataDir(), "C:\\Data\\Exchange\\");
    EXPECT_TRUE(std::filesystem::is_directory(FRoot.Path("C/Data/Exchange")));
    EXPECT_TRUE(QueryMessageSizes());
    EXPECT_EQ(MailSettingsSnapshot().SMTPHost, "smtp.test");
    EXPECT_TRUE(MailSettingsSnapshot().MailAddictionAdressList.empty());
    EXPECT_TRUE(std::filesystem::is_directory(FRoot.Path("C/PLAV/OFFICE/MAIL/Sent")));
    // Windows first, settings last: the shift dialog saw the defaults.
    EXPECT_EQ(FCalls, (std::vector<std::string>{"CreateMailForm", "CreateShiftDialog:"}));
    EXPECT_EQ(FHost.Root.Count(), 1);
}

TEST_F(LifecycleTest, MarkerFileTurnsSizeQueriesOff) {
    test::WriteFile(FRoot.Path("C/PLAV/NoSizeMSG.ini"), "");
    ASSERT_EQ(ModuleLoad(0, &FHost, FLayers), 0);
    EXPECT_FALSE(QueryMessageSizes());
    std::filesystem::remove(FRoot.Path("C/PLAV/NoSizeMSG.ini"));
    ASSERT_EQ(ModuleLoad(0, &FHost, FLayers), 0);
    EXPECT_TRUE(QueryMessageSizes());
}

TEST_F(LifecycleTest, FailuresMakeLoadReturnOneAndUnLoadStillWorks) {
    test::StderrCapture platformBoxes;
    FHost.FailStationCode = true;
    EXPECT_EQ(ModuleLoad(0, &FHost, FLayers), 1);
    EXPECT_TRUE(FCalls.empty());
    EXPECT_EQ(ModuleUnLoad(FLayers), 0);
    EXPECT_EQ(FCalls, (std::vector<std::string>{"FreeMailForm", "FreeShiftDialog"}));

    FHost.FailStationCode = false;
    FHost.FailMenuAfter = 0;
    FCalls.clear();
    EXPECT_EQ(ModuleLoad(0, &FHost, FLayers), 1);
    EXPECT_EQ(FCalls, std::vector<std::string>{"CreateMailForm"}); // stopped at the menu

    EXPECT_EQ(ModuleLoad(0, nullptr, FLayers), 1);
    EXPECT_TRUE(FLayers.Window.Boxes().empty()); // Load shows nothing
    EXPECT_EQ(platformBoxes.Text(), "");

    // But it logs why, whatever the host threw.
    FHost.ThrowIntFromStationCode = true;
    EXPECT_EQ(ModuleLoad(0, &FHost, FLayers), 1);
    const std::string log = test::ReadFile(NativePath(ModuleLogFileName()));
    for (const char* why : {"station code unavailable", "no host object", "unknown error"})
        EXPECT_NE(log.find(ru("Модуль не загружен: ") + why), std::string::npos) << why << log;
}

TEST_F(LifecycleTest, SettingsFailureFailsLoadOnlyWhenItCannotBeLogged) {
    test::WriteFile(FRoot.Path("C/blocker"), "x");
    test::WriteFile(FRoot.Path("C/WINDOWS/cnf.INI"), "[EMail]\r\nMailDir=C:\\blocker\\M\\\r\n");
    EXPECT_EQ(ModuleLoad(0, &FHost, FLayers), 0);
    std::filesystem::remove_all(FRoot.Path("C/PLAV/LogFiles"));
    EXPECT_EQ(ModuleLoad(0, &FHost, FLayers), 1);
}

TEST_F(LifecycleTest, DataFileWithoutFolderKeepsTheDataDir) {
    FHost.DataFileName = "station.dat";
    ASSERT_EQ(ModuleLoad(0, &FHost, FLayers), 0);
    EXPECT_EQ(DataDir(), "C:\\PLAV\\OFFICE\\");
    FHost.DataFileName = (FRoot.Dir() / "native/exchange/station.dat").string();
    ASSERT_EQ(ModuleLoad(0, &FHost, FLayers), 0);
    EXPECT_EQ(DataDir(), (FRoot.Dir() / "native/exchange").string() + "\\");
    EXPECT_TRUE(std::filesystem::is_directory(FRoot.Dir() / "native/exchange"));
}

TEST_F(LifecycleTest, MenuCommandsCallTheLayersAndReadShowWndAtClickTime) {
    ASSERT_EQ(ModuleLoad(0, &FHost, FLayers), 0);
    FakeMenuItem* comm = FHost.Root.Child(0);
    FCalls.clear();
    comm->Child(2)->Click(); // get mail
    comm->Child(3)->Click(); // send mail
    EXPECT_EQ(FCalls, (std::vector<std::string>{"Show", "Post0", "Show", "Post1"}));
    MailSettings s = MailSettingsSnapshot();
    s.ShowWnd = false;
    SetMailSettings(s);
    FCalls.clear();
    comm->Child(2)->Click();
    comm->Child(1)->Click(); // show mailbox ignores ShowWnd
    EXPECT_EQ(FCalls, (std::vector<std::string>{"Post0", "Show"}));
    // The station side's settings command is the mailbox window's.
    FCalls.clear();
    comm->Child(6)->Child(0)->Click();
    EXPECT_EQ(FCalls, std::vector<std::string>{"MailboxSettings"});
    comm->Child(4)->Click();
    EXPECT_EQ(FCalls, (std::vector<std::string>{"MailboxSettings", "Report"}));
    // After UnLoad the host's items stay, without our handlers; a copy of one that the host
    // kept does nothing.
    const THostMenuItem::ClickHandler kept = comm->Child(2)->OnClick;
    ModuleUnLoad(FLayers);
    FCalls.clear();
    for (int i = 1; i <= 4; ++i)
        EXPECT_FALSE(comm->Child(i)->OnClick) << i;
    EXPECT_FALSE(comm->Child(6)->Child(0)->OnClick);
    kept(comm->Child(2));
    EXPECT_TRUE(FCalls.empty());
}

TEST_F(LifecycleTest, OfficeCommandsReachTheLayersAndAFailureIsShownByTheWindow) {
    ASSERT_EQ(ModuleLoad(1, &FHost, FLayers), 0);
    test::StderrCapture platformBoxes;
    FakeMenuItem* comm = FHost.Root.Child(0);
    FCalls.clear();
    comm->Child(4)->Click();           // "Создать письмо-запрос"
    comm->Child(5)->Click();           // "... для всех АЗС"
    comm->Child(7)->Child(0)->Click(); // settings: the dialog itself, its failure swallowed
    EXPECT_EQ(FCalls, (std::vector<std::string>{"Request", "RequestAll", "Config"}));
    EXPECT_TRUE(FLayers.Window.Boxes().empty());
    FLayers.RequestFails = true;
    comm->Child(4)->Click();
    const auto boxes = FLayers.Window.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, "no station");
    EXPECT_EQ(boxes[0].Flags, static_cast<unsigned>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(platformBoxes.Text().find("no station"), std::string::npos);
}

TEST_F(LifecycleTest, ASecondLoadLeavesTheFirstCommandsWorkingUntilUnLoad) {
    ASSERT_EQ(ModuleLoad(0, &FHost, FLayers), 0);
    ASSERT_EQ(ModuleLoad(0, &FHost, FLayers), 0);
    FakeMenuItem* comm = FHost.Root.Child(0);
    ASSERT_EQ(comm->Count(), 12); // both sets in the one communication item
    FCalls.clear();
    comm->Child(1)->Click(); // the first Load's "show mailbox"
    comm->Child(8)->Click(); // the second's
    EXPECT_EQ(FCalls, (std::vector<std::string>{"Show", "Show"}));
    ModuleUnLoad(FLayers);
    for (int i = 0; i < comm->Count(); ++i)
        EXPECT_FALSE(comm->Child(i)->OnClick) << i;
}

TEST_F(LifecycleTest, AutoSendMailConfigAndVersion) {
    EXPECT_TRUE(ModuleAutoSendMail(FLayers));
    FLayers.PostResult = false;
    EXPECT_FALSE(ModuleAutoSendMail(FLayers));
    EXPECT_EQ(FCalls, (std::vector<std::string>{"Post0", "Post0"}));
    EXPECT_EQ(ModuleConfig(FLayers), 0); // the dialog's failure is swallowed
    EXPECT_EQ(ModuleVersion(), ru("8.01 от 15.12.2008"));
}

TEST_F(LifecycleTest, UnLoadShowsAFailureAndStillFreesTheRest) {
    FLayers.FreeMailFormFails = true;
    ASSERT_EQ(ModuleLoad(0, &FHost, FLayers), 0);
    FCalls.clear();
    EXPECT_EQ(ModuleUnLoad(FLayers), 0);
    EXPECT_EQ(FCalls, std::vector<std::string>{"FreeShiftDialog"});
    const auto boxes = FLayers.Window.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, ru("окно не закрыто"));
    EXPECT_EQ(boxes[0].Caption, "");
    EXPECT_EQ(boxes[0].Flags, static_cast<unsigned>(MB_OK));
}

} // namespace
} // namespace tzn
