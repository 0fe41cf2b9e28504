#include "module/lifecycle.h"

#include "fake_host.h"
#include "module/module_hooks.h"
#include "module/module_state.h"
#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/message_box.h"
#include "temp_root.h"

#include <gtest/gtest.h>

namespace tzn {
namespace {

using test::FakeHost;
using test::FakeMenuItem;
using test::TempRoot;

// Hooks standing in for the window layers, recording what the module asks of them.
class LifecycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root.Path("C/PLAV/LogFiles"));
        ResetModuleState();
        SetMailSettings(MailSettings{});
        ClearRecordedMessageBoxes();
        UpdateModuleHooks([this](ModuleHooks& h) {
            h = ModuleHooks{};
            h.CreateMailForm = [this] { calls.push_back("CreateMailForm"); };
            h.FreeMailForm = [this] { calls.push_back("FreeMailForm"); };
            h.CreateShiftDialog = [this] {
                calls.push_back("CreateShiftDialog:" + MailSettingsSnapshot().SMTPHost);
            };
            h.FreeShiftDialog = [this] { calls.push_back("FreeShiftDialog"); };
            h.ShowMailForm = [this] { calls.push_back("Show"); };
            h.PostMailStart = [this](int lParam) {
                calls.push_back("Post" + std::to_string(lParam));
                return postResult;
            };
            h.RunConfigDialog = [this] {
                calls.push_back("Config");
                throw std::runtime_error("dialog failed");
            };
        });
    }
    void TearDown() override {
        ModuleUnLoad();
        UpdateModuleHooks([](ModuleHooks& h) { h = ModuleHooks{}; });
        ResetModuleState();
        SetMailSettings(MailSettings{});
    }

    TempRoot root;
    FakeHost host;
    std::vector<std::string> calls;
    bool postResult = true;
};

TEST_F(LifecycleTest, LoadTakesStationCodeDataDirMarkerAndSettingsInOrder) {
    test::WriteFile(root.Path("C/WINDOWS/cnf.INI"), "[EMail]\r\nSMTPHost=smtp.test\r\n");
    MailSettings withList;
    withList.MailAddictionAdressList = {"stale@x.test"};
    SetMailSettings(withList);
    ASSERT_EQ(ModuleLoad(1, &host), 0);
    EXPECT_EQ(ModuleMode(), 1);
    EXPECT_EQ(Host(), &host);
    EXPECT_EQ(StationCode(), "12");
    EXPECT_EQ(DataDir(), "C:\\Data\\Exchange\\");
    EXPECT_TRUE(std::filesystem::is_directory(root.Path("C/Data/Exchange")));
    EXPECT_TRUE(QueryMessageSizes());
    EXPECT_EQ(MailSettingsSnapshot().SMTPHost, "smtp.test");
    EXPECT_TRUE(MailSettingsSnapshot().MailAddictionAdressList.empty());
    EXPECT_TRUE(std::filesystem::is_directory(root.Path("C/PLAV/OFFICE/MAIL/Sent")));
    // Windows first, settings last: the shift dialog saw the defaults.
    EXPECT_EQ(calls, (std::vector<std::string>{"CreateMailForm", "CreateShiftDialog:"}));
    EXPECT_EQ(host.root.Count(), 1);
}

TEST_F(LifecycleTest, MarkerFileTurnsSizeQueriesOff) {
    test::WriteFile(root.Path("C/PLAV/NoSizeMSG.ini"), "");
    ASSERT_EQ(ModuleLoad(0, &host), 0);
    EXPECT_FALSE(QueryMessageSizes());
    std::filesystem::remove(root.Path("C/PLAV/NoSizeMSG.ini"));
    ASSERT_EQ(ModuleLoad(0, &host), 0);
    EXPECT_TRUE(QueryMessageSizes());
}

TEST_F(LifecycleTest, FailuresMakeLoadReturnOneAndUnLoadStillWorks) {
    host.failStationCode = true;
    EXPECT_EQ(ModuleLoad(0, &host), 1);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(ModuleUnLoad(), 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"FreeMailForm", "FreeShiftDialog"}));

    host.failStationCode = false;
    host.failMenuAfter = 0;
    calls.clear();
    EXPECT_EQ(ModuleLoad(0, &host), 1);
    EXPECT_EQ(calls, std::vector<std::string>{"CreateMailForm"}); // stopped at the menu

    EXPECT_EQ(ModuleLoad(0, nullptr), 1);
    EXPECT_TRUE(RecordedMessageBoxes().empty()); // Load shows nothing
}

TEST_F(LifecycleTest, SettingsFailureFailsLoadOnlyWhenItCannotBeLogged) {
    test::WriteFile(root.Path("C/blocker"), "x");
    test::WriteFile(root.Path("C/WINDOWS/cnf.INI"), "[EMail]\r\nMailDir=C:\\blocker\\M\\\r\n");
    EXPECT_EQ(ModuleLoad(0, &host), 0);
    std::filesystem::remove_all(root.Path("C/PLAV/LogFiles"));
    EXPECT_EQ(ModuleLoad(0, &host), 1);
}

TEST_F(LifecycleTest, DataFileWithoutFolderKeepsTheDataDir) {
    host.dataFileName = "station.dat";
    ASSERT_EQ(ModuleLoad(0, &host), 0);
    EXPECT_EQ(DataDir(), "C:\\PLAV\\OFFICE\\");
    host.dataFileName = (root.Dir() / "native/exchange/station.dat").string();
    ASSERT_EQ(ModuleLoad(0, &host), 0);
    EXPECT_EQ(DataDir(), (root.Dir() / "native/exchange").string() + "\\");
    EXPECT_TRUE(std::filesystem::is_directory(root.Dir() / "native/exchange"));
}

TEST_F(LifecycleTest, MenuCommandsUseHooksAndShowWndAtClickTime) {
    ASSERT_EQ(ModuleLoad(0, &host), 0);
    FakeMenuItem* comm = host.root.Child(0);
    calls.clear();
    comm->Child(2)->Click(); // get mail
    comm->Child(3)->Click(); // send mail
    EXPECT_EQ(calls, (std::vector<std::string>{"Show", "Post0", "Show", "Post1"}));
    MailSettings s = MailSettingsSnapshot();
    s.ShowWnd = false;
    SetMailSettings(s);
    calls.clear();
    comm->Child(2)->Click();
    comm->Child(1)->Click(); // show mailbox ignores ShowWnd
    EXPECT_EQ(calls, (std::vector<std::string>{"Post0", "Show"}));
    // Station-side settings without a mailbox window fall back to the dialog.
    calls.clear();
    comm->Child(6)->Child(0)->Click();
    EXPECT_EQ(calls, std::vector<std::string>{"Config"});
    // After UnLoad the host's items stay but do nothing.
    ModuleUnLoad();
    calls.clear();
    comm->Child(2)->Click();
    EXPECT_TRUE(calls.empty());
}

TEST_F(LifecycleTest, ASecondLoadLeavesTheFirstCommandsWorkingUntilUnLoad) {
    ASSERT_EQ(ModuleLoad(0, &host), 0);
    ASSERT_EQ(ModuleLoad(0, &host), 0);
    FakeMenuItem* comm = host.root.Child(0);
    ASSERT_EQ(comm->Count(), 12); // both sets in the one communication item
    calls.clear();
    comm->Child(1)->Click(); // the first Load's "show mailbox"
    comm->Child(8)->Click(); // the second's
    EXPECT_EQ(calls, (std::vector<std::string>{"Show", "Show"}));
    ModuleUnLoad();
    calls.clear();
    comm->Child(1)->Click();
    comm->Child(8)->Click();
    EXPECT_TRUE(calls.empty());
}

TEST_F(LifecycleTest, AutoSendMailConfigAndVersion) {
    EXPECT_TRUE(ModuleAutoSendMail());
    postResult = false;
    EXPECT_FALSE(ModuleAutoSendMail());
    EXPECT_EQ(calls, (std::vector<std::string>{"Post0", "Post0"}));
    EXPECT_EQ(ModuleConfig(), 0); // the dialog's failure is swallowed
    EXPECT_EQ(ModuleVersion(), ru("8.01 от 15.12.2008"));
    UpdateModuleHooks([](ModuleHooks& h) { h.PostMailStart = nullptr; });
    EXPECT_FALSE(ModuleAutoSendMail());
}

TEST_F(LifecycleTest, UnLoadShowsAFailureAndStillFreesTheRest) {
    UpdateModuleHooks([this](ModuleHooks& h) {
        h.FreeMailForm = [] { throw std::runtime_error(ru("окно не закрыто")); };
    });
    ASSERT_EQ(ModuleLoad(0, &host), 0);
    calls.clear();
    EXPECT_EQ(ModuleUnLoad(), 0);
    EXPECT_EQ(calls, std::vector<std::string>{"FreeShiftDialog"});
    const auto boxes = RecordedMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, ru("окно не закрыто"));
    EXPECT_EQ(boxes[0].caption, "");
    EXPECT_EQ(boxes[0].flags, static_cast<unsigned>(MB_OK));
}

} // namespace
} // namespace tzn
