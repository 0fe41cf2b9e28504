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
    for (auto& c : item->Children)
        out.push_back(Utf8FromCp1251(c->Caption));
    return out;
}

// Handlers that record which command ran.
TMenuCommands Recording(std::vector<std::string>& log) {
    auto rec = [&log](const char* what) {
        return [&log, what](THostMenuItem*) { log.push_back(what); };
    };
    TMenuCommands c;
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
    host.Root.Add("File");
    std::vector<std::string> log;
    std::vector<THostMenuItem*> handled;
    AddHostMenuCommands(host, 0, Recording(log), handled);
    ASSERT_EQ(host.Root.Count(), 2);
    FakeMenuItem* comm = host.Root.Child(1);
    EXPECT_EQ(Utf8FromCp1251(comm->Caption), "Связь с о&фисом");
    EXPECT_FALSE(comm->OnClick);
    EXPECT_EQ(Captions(comm), (std::vector<std::string>{"-", "Электронная почта", "Получить почту",
                                                        "Отправить почту", "Создать письмо-отчет",
                                                        "-", "Настройки"}));
    FakeMenuItem* settings = comm->Child(6);
    EXPECT_EQ(Captions(settings), std::vector<std::string>{"Электронная почта "});
    EXPECT_FALSE(comm->Child(0)->OnClick); // separators have no handler
    EXPECT_FALSE(settings->OnClick);       // nor submenus
    for (int i = 1; i <= 4; ++i)
        comm->Child(i)->Click();
    settings->Child(0)->Click();
    EXPECT_EQ(log, (std::vector<std::string>{"show", "get", "send", "report", "settings"}));
    // Exactly the items with a handler are handed back, for UnLoad to clear.
    EXPECT_EQ(handled, (std::vector<THostMenuItem*>{comm->Child(1), comm->Child(2), comm->Child(3),
                                                    comm->Child(4), settings->Child(0)}));
    // Every command carries an empty hint, help context 0 and no shortcut.
    for (FakeMenuItem* item : {comm, comm->Child(0), comm->Child(2), settings->Child(0)}) {
        EXPECT_EQ(item->Hint, "");
        EXPECT_EQ(item->HelpContext, 0);
        EXPECT_EQ(item->ShortCut, 0);
    }
}

TEST(HostMenu, OfficeSideReusesExistingItemsMatchedWithoutHotkeysOrCase) {
    FakeHost host;
    FakeMenuItem* comm = host.Root.Add(ru("&СВЯЗЬ"));
    comm->Add("Modem");
    FakeMenuItem* settings = comm->Add(ru("&настройки"));
    settings->Add("Modem settings");
    std::vector<std::string> log;
    std::vector<THostMenuItem*> handled;
    AddHostMenuCommands(host, 1, Recording(log), handled);
    EXPECT_EQ(host.Root.Count(), 1);
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

// The two sides the other way round: the station finds its settings submenu, the office builds
// its item on an empty menu.
TEST(HostMenu, StationReusesItsSettingsAndTheOfficeStartsFromNothing) {
    FakeHost station;
    FakeMenuItem* comm = station.Root.Add(ru("Связь с офисом"));
    FakeMenuItem* settings = comm->Add(ru("НАСТРОЙКИ"));
    std::vector<std::string> log;
    std::vector<THostMenuItem*> handled;
    AddHostMenuCommands(station, 0, Recording(log), handled);
    EXPECT_EQ(station.Root.Count(), 1);
    EXPECT_EQ(Captions(comm),
              (std::vector<std::string>{"НАСТРОЙКИ", "-", "Электронная почта", "Получить почту",
                                        "Отправить почту", "Создать письмо-отчет"}));
    EXPECT_EQ(Captions(settings), std::vector<std::string>{"Электронная почта "});

    FakeHost office;
    AddHostMenuCommands(office, 1, Recording(log), handled);
    ASSERT_EQ(office.Root.Count(), 1);
    FakeMenuItem* link = office.Root.Child(0);
    EXPECT_EQ(Utf8FromCp1251(link->Caption), "Связь");
    EXPECT_EQ(Captions(link),
              (std::vector<std::string>{"-", "Электронная почта", "Получить почту",
                                        "Отправить почту", "Создать письмо-запрос",
                                        "Создать письмо-запрос для всех АЗС", "-", "Настройки"}));
    EXPECT_EQ(Captions(link->Child(7)), std::vector<std::string>{"Электронная почта "});
    link->Child(7)->Child(0)->Click();
    EXPECT_EQ(log, std::vector<std::string>{"settings"});
}

TEST(HostMenu, OtherModesAddNothing) {
    FakeHost host;
    std::vector<std::string> log;
    std::vector<THostMenuItem*> handled;
    AddHostMenuCommands(host, 2, Recording(log), handled);
    EXPECT_EQ(host.Root.Count(), 0);
    EXPECT_TRUE(handled.empty());
    EXPECT_EQ(host.MenuItemsCreated, 0);
}

TEST(HostMenu, AHostFailureStopsTheBuildingAndKeepsWhatWasAdded) {
    FakeHost host;
    host.FailMenuAfter = 3;
    std::vector<std::string> log;
    std::vector<THostMenuItem*> handled;
    EXPECT_THROW(AddHostMenuCommands(host, 0, Recording(log), handled), std::runtime_error);
    ASSERT_EQ(host.Root.Count(), 1);
    EXPECT_EQ(Captions(host.Root.Child(0)), (std::vector<std::string>{"-", "Электронная почта"}));
    // The one command added before the failure is still handed back.
    EXPECT_EQ(handled, std::vector<THostMenuItem*>{host.Root.Child(0)->Child(1)});
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
