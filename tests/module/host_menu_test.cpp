#include "module/host_menu.h"

#include "fake_host.h"
#include "platform/cp1251.h"

#include <gtest/gtest.h>

namespace tzn {
namespace {

using test::FakeHost;
using test::FakeMenuItem;

std::vector<std::string> Captions(FakeMenuItem* item) {
    std::vector<std::string> out;
    for (auto& c : item->children)
        out.push_back(Utf8FromCp1251(c->caption));
    return out;
}

// Handlers that record which command ran.
MenuCommands Recording(std::vector<std::string>& log) {
    auto rec = [&log](const char* what) {
        return [&log, what](THostMenuItem*) { log.push_back(what); };
    };
    MenuCommands c;
    c.ShowMailbox = rec("show");
    c.GetMail = rec("get");
    c.SendMail = rec("send");
    c.CreateReportLetter = rec("report");
    c.CreateRequestLetter = rec("request");
    c.CreateRequestLettersForAll = rec("requestAll");
    c.Settings = rec("settings");
    return c;
}

TEST(HostMenu, StationSideCreatesItsItemWhenTheHostHasNone) {
    FakeHost host;
    host.root.Add("File");
    std::vector<std::string> log;
    AddHostMenuCommands(host, 0, Recording(log));
    ASSERT_EQ(host.root.Count(), 2);
    FakeMenuItem* comm = host.root.Child(1);
    EXPECT_EQ(Utf8FromCp1251(comm->caption), "Связь с о&фисом");
    EXPECT_FALSE(comm->onClick);
    EXPECT_EQ(Captions(comm), (std::vector<std::string>{"-", "Электронная почта", "Получить почту",
                                                        "Отправить почту", "Создать письмо-отчет",
                                                        "-", "Настройки"}));
    FakeMenuItem* settings = comm->Child(6);
    EXPECT_EQ(Captions(settings), std::vector<std::string>{"Электронная почта "});
    EXPECT_FALSE(comm->Child(0)->onClick); // separators have no handler
    EXPECT_FALSE(settings->onClick);       // nor submenus
    for (int i = 1; i <= 4; ++i)
        comm->Child(i)->Click();
    settings->Child(0)->Click();
    EXPECT_EQ(log, (std::vector<std::string>{"show", "get", "send", "report", "settings"}));
    // Every command carries an empty hint, help context 0 and no shortcut.
    for (FakeMenuItem* item : {comm, comm->Child(0), comm->Child(2), settings->Child(0)}) {
        EXPECT_EQ(item->hint, "");
        EXPECT_EQ(item->helpContext, 0);
        EXPECT_EQ(item->shortcut, 0);
    }
}

TEST(HostMenu, OfficeSideReusesExistingItemsMatchedWithoutHotkeysOrCase) {
    FakeHost host;
    FakeMenuItem* comm = host.root.Add(ru("&СВЯЗЬ"));
    comm->Add("Modem");
    FakeMenuItem* settings = comm->Add(ru("&настройки"));
    settings->Add("Modem settings");
    std::vector<std::string> log;
    AddHostMenuCommands(host, 1, Recording(log));
    EXPECT_EQ(host.root.Count(), 1);
    EXPECT_EQ(Captions(comm), (std::vector<std::string>{"Modem", "&настройки", "-",
                                                        "Электронная почта", "Получить почту",
                                                        "Отправить почту", "Создать письмо-запрос",
                                                        "Создать письмо-запрос для всех АЗС"}));
    EXPECT_EQ(Captions(settings),
              (std::vector<std::string>{"Modem settings", "Электронная почта "}));
    comm->Child(6)->Click();
    comm->Child(7)->Click();
    settings->Child(1)->Click();
    EXPECT_EQ(log, (std::vector<std::string>{"request", "requestAll", "settings"}));
}

TEST(HostMenu, OtherModesAddNothing) {
    FakeHost host;
    std::vector<std::string> log;
    AddHostMenuCommands(host, 2, Recording(log));
    EXPECT_EQ(host.root.Count(), 0);
    EXPECT_EQ(host.menuItemsCreated, 0);
}

TEST(HostMenu, AHostFailureStopsTheBuildingAndKeepsWhatWasAdded) {
    FakeHost host;
    host.failMenuAfter = 3;
    std::vector<std::string> log;
    EXPECT_THROW(AddHostMenuCommands(host, 0, Recording(log)), std::runtime_error);
    ASSERT_EQ(host.root.Count(), 1);
    EXPECT_EQ(Captions(host.root.Child(0)), (std::vector<std::string>{"-", "Электронная почта"}));
}

TEST(HostMenu, FindMenuChildTakesTheFirstMatch) {
    FakeMenuItem root;
    root.Add("A&b");
    FakeMenuItem* first = root.Add("&Settings");
    root.Add("settings");
    EXPECT_EQ(FindMenuChild(&root, "SETTINGS"), first);
    EXPECT_EQ(FindMenuChild(&root, "ab"), root.Child(0));
    EXPECT_EQ(FindMenuChild(&root, "none"), nullptr);
    EXPECT_EQ(FindMenuChild(nullptr, "x"), nullptr);
}

} // namespace
} // namespace tzn
