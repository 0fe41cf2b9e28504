// Mail addresses: the four combined forms, parsing with quotes, comments and brackets,
// lists with groups, and the way back.
#include <gtest/gtest.h>

#include "mail/email_address.h"
#include "mail/exceptions.h"
#include "platform/cp1251.h"
#include "raised.h"

using namespace tzn;

TEST(AddressTest, CombinedTextForms) {
    EXPECT_EQ(TMxEMailAddressItem().Text(), "");
    EXPECT_EQ(TMxEMailAddressItem("", "a@b.ru").Text(), "a@b.ru");
    EXPECT_EQ(TMxEMailAddressItem("A@B.RU", "a@b.ru").Text(), "<a@b.ru>");
    EXPECT_EQ(TMxEMailAddressItem("Station 12", "a@b.ru").Text(), "Station 12 <a@b.ru>");
    EXPECT_EQ(TMxEMailAddressItem("Doe, \"J\\\"", "a@b.ru").Text(),
              "\"Doe, \\\"J\\\\\\\"\" <a@b.ru>");
    EXPECT_EQ(TMxEMailAddressItem(ru("АЗС 5"), "a@b.ru").Text(),
              "\"" + ru("АЗС 5") + "\" <a@b.ru>");
    EXPECT_EQ(TMxEMailAddressItem("", "john doe@b.ru").Text(), "\"john doe\"@b.ru");
}

TEST(AddressTest, ParsingOneAddress) {
    struct Case {
        std::string Text, Name, Address;
    } cases[] = {
        {"plain", "", "plain"},
        {"  a@b.ru ", "", "a@b.ru"},
        {"a@b.ru\r\n", "", "a@b.ru"}, // a line break at the end is trimmed too
        {"\r\nJohn <j@b.ru>\r\n", "John", "j@b.ru"},
        {"John Doe <j@b.ru>", "John Doe", "j@b.ru"},
        {"\"Doe, John\" <j@b.ru>", "Doe, John", "j@b.ru"},
        {"\t John \t<j@b.ru>", "John", "j@b.ru"},
        {"j@b.ru (John (the) Doe)", "", "j@b.ru"},
        {"(c) \"A \\\"B\\\"\" <x@y>", "A \"B\"", "x@y"},
        {"<x@y>", "", "x@y"},
        {"\"john doe\"@b.ru", "", "john doe@b.ru"},
        {"Name <\"q p\"@b.ru>", "Name", "q p@b.ru"},
    };
    for (const auto& c : cases) {
        TMxEMailAddressItem item(c.Text);
        EXPECT_EQ(item.Name, c.Name) << c.Text;
        EXPECT_EQ(item.Address, c.Address) << c.Text;
    }
    if (const auto e =
            test::Raised<EMxEmailParseError>([&] { TMxEMailAddressItem bad("<a@b> x@y"); })) {
        EXPECT_STREQ(e->what(), "@ Outside address");
    }
}

TEST(AddressTest, TextParsesBackToTheSameItem) {
    const TMxEMailAddressItem items[] = {
        {"", "a@b.ru"},
        {"Station 12", "a@b.ru"},
        {"Doe, \"J\" (x)", "a@b.ru"},
        {ru("Иван Петров"), "ivan@b.ru"},
        {"back\\slash", "q@b.ru"},
        {"", "odd local@b.ru"},
    };
    for (const auto& item : items) {
        TMxEMailAddressItem back(item.Text());
        EXPECT_EQ(back, item) << item.Text();
    }
}

TEST(AddressTest, ListsSplitAtCommasOutsideQuotesAndHandleGroups) {
    TMxEMailAddressList l;
    l.SetEMailAddresses("\"Doe, John\" <j@b.ru>, a@b.ru (x, y), ,<>, Team: m1@b.ru, "
                        "\"M 2\" <m2@b.ru>; last@b.ru, Empty:;");
    ASSERT_EQ(l.Count(), 5u);
    EXPECT_EQ(l[0].Name, "Doe, John");
    EXPECT_EQ(l[1].Address, "a@b.ru");
    EXPECT_EQ(l[2].Address, "m1@b.ru");
    EXPECT_EQ(l[3].Name, "M 2");
    EXPECT_EQ(l[4].Address, "last@b.ru");
    TMxEMailAddressList back;
    back.SetEMailAddresses(l.EMailAddresses());
    ASSERT_EQ(back.Count(), l.Count());
    for (size_t i = 0; i < l.Count(); ++i)
        EXPECT_EQ(back[i], l[i]);
    EXPECT_EQ(l.EMailAddresses().find("\"Doe, John\" <j@b.ru>, a@b.ru, "), 0u);
    l.SetEMailAddresses("");
    EXPECT_TRUE(l.Empty());
}
