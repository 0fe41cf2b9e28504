// Loads the built plug-in the way a host does: dlopen, the exports looked up by name, Load
// called with the host's own services object.
#include "fake_host.h"
#include "platform/cp1251.h"
#include "temp_root.h"
#include "tznmail/host.h"

#include <cstdio>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <set>

namespace tzn {
namespace {

using test::FakeHost;
using test::TempRoot;

class Plugin {
public:
    Plugin() {
        handle_ = ::dlopen(TZN_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!handle_)
            ADD_FAILURE() << ::dlerror();
    }
    ~Plugin() {
        if (handle_)
            ::dlclose(handle_);
    }
    template <typename Fn> Fn Get(const char* name) {
        void* sym = handle_ ? ::dlsym(handle_, name) : nullptr;
        EXPECT_NE(sym, nullptr) << name;
        return reinterpret_cast<Fn>(sym);
    }
    bool Loaded() const { return handle_ != nullptr; }

private:
    void* handle_ = nullptr;
};

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root.Path("C/PLAV/LogFiles"));
        ASSERT_TRUE(plugin.Loaded());
        load = plugin.Get<TznLoadFn>("Load");
        unload = plugin.Get<TznUnLoadFn>("UnLoad");
    }
    TempRoot root;
    Plugin plugin;
    FakeHost host;
    TznLoadFn load = nullptr;
    TznUnLoadFn unload = nullptr;
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
    test::WriteFile(root.Path("C/WINDOWS/cnf.INI"),
                    "[EMail]\r\nMailDir=C:\\Station\\MAIL\r\n[Host]\r\nKeep=1\r\n");
    ASSERT_EQ(load(nullptr, 0, &host), 0);
    // DataDir: the folder of GetDataFileName, created on disk.
    EXPECT_TRUE(std::filesystem::is_directory(root.Path("C/Data/Exchange")));
    // The settings were read: the store lies under the configured MailDir (a "\" is added).
    for (const char* sub : {"InBox", "OutBox", "Sent"})
        EXPECT_TRUE(std::filesystem::is_directory(root.Path(std::string("C/Station/MAIL/") + sub)))
            << sub;
    EXPECT_FALSE(std::filesystem::exists(root.Path("C/PLAV/OFFICE/MAIL")));
    // Loading reads, never writes, the shared settings file.
    EXPECT_EQ(test::ReadFile(root.Path("C/WINDOWS/cnf.INI")),
              "[EMail]\r\nMailDir=C:\\Station\\MAIL\r\n[Host]\r\nKeep=1\r\n");
    // The station side's commands are in the host's menu.
    ASSERT_EQ(host.root.Count(), 1);
    EXPECT_EQ(host.root.Child(0)->caption, ru("Связь с о&фисом"));
    EXPECT_EQ(host.root.Child(0)->Count(), 7);

    EXPECT_EQ(unload(), 0);
    // The items stay with the host; clicking them after UnLoad is harmless.
    ASSERT_EQ(host.root.Count(), 1);
    for (auto& item : host.root.Child(0)->children)
        item->Click();
}

TEST_F(PluginTest, StationCodeComesFromTheHostAndAFailingHostCallFailsLoad) {
    host.failStationCode = true;
    EXPECT_EQ(load(nullptr, 0, &host), 1);
    EXPECT_FALSE(std::filesystem::exists(root.Path("C/Data/Exchange"))); // stopped before
    EXPECT_EQ(unload(), 0); // after a failed Load, UnLoad frees what exists
    host.failStationCode = false;
    host.failMenuAfter = 2;
    EXPECT_EQ(load(nullptr, 1, &host), 1);
    EXPECT_EQ(unload(), 0);
    EXPECT_EQ(load(nullptr, 0, nullptr), 1);
}

TEST_F(PluginTest, NoSizeMarkerAndOtherModesLoadCleanly) {
    test::WriteFile(root.Path("C/PLAV/NoSizeMSG.ini"), "anything");
    EXPECT_EQ(load(nullptr, 2, &host), 0);
    EXPECT_EQ(host.root.Count(), 0); // mode 2: no menu commands
    EXPECT_EQ(test::ReadFile(root.Path("C/PLAV/NoSizeMSG.ini")), "anything");
    EXPECT_TRUE(std::filesystem::is_directory(root.Path("C/PLAV/OFFICE/MAIL/InBox")));
    EXPECT_EQ(unload(), 0);
}

TEST_F(PluginTest, SettingsThatCannotBeReadAreLoggedNotFatal) {
    std::filesystem::create_directories(root.Path("C/WINDOWS/cnf.INI")); // unreadable
    ASSERT_EQ(load(nullptr, 1, &host), 0);
    const std::string log = test::ReadFile(root.Path("C/PLAV/LogFiles/TZNMail.log"));
    EXPECT_NE(log.find(ru(" - Ошибка загрузки параметров Эл. почты: ")), std::string::npos);
    // Without the log folder even that entry fails, and so does Load.
    std::filesystem::remove_all(root.Path("C/PLAV/LogFiles"));
    EXPECT_EQ(load(nullptr, 1, &host), 1);
    EXPECT_EQ(unload(), 0);
}

TEST_F(PluginTest, VersionAndTheInertExports) {
    std::string version = "old";
    plugin.Get<TznGetVersionFn>("GetVersion")(version);
    EXPECT_EQ(version, ru("8.01 от 15.12.2008"));
    EXPECT_EQ(plugin.Get<TznDialFn>("Dial")(), 0);
    plugin.Get<TznVoidFn>("WaitDial")();
    plugin.Get<TznVoidFn>("HangUp")();
    plugin.Get<TznVoidFn>("GetParam")();
    EXPECT_EQ(plugin.Get<TznConfigFn>("Config")(), 0);
}

} // namespace
} // namespace tzn
