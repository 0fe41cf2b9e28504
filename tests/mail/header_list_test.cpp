// Header lines: lookup with continuations, in-place replacement, removal and folding.
#include <gtest/gtest.h>

#include "mail/header_list.h"

using namespace tzn;

TEST(HeaderListTest, LookupIsCaseInsensitiveAndJoinsContinuations) {
    TMxHeaderList h;
    h.Add("Received: from a");
    h.Add("\tby b;");
    h.Add("   Thu, 5 Dec 2024");
    h.Add("Subject:   hello  ");
    h.Add("X-Empty:");
    EXPECT_EQ(h.Values("RECEIVED"), "from a by b; Thu, 5 Dec 2024");
    EXPECT_EQ(h.Values("subject"), "hello");
    EXPECT_EQ(h.Values("x-empty"), "");
    EXPECT_EQ(h.Values("Missing"), "");
    EXPECT_EQ(h.IndexOfName("Subject"), 3);
    EXPECT_EQ(h.Name(1), "");
}

TEST(HeaderListTest, SetReplacesInPlaceAppendsAndEmptyRemoves) {
    TMxHeaderList h;
    h.Add("A: 1");
    h.Add("Long: x");
    h.Add(" continued");
    h.Add("B: 2");
    h.SetValue("long", "short");
    ASSERT_EQ(h.Count(), 3u);
    EXPECT_EQ(h[1], "long: short");
    h.SetValue("C", "3");
    EXPECT_EQ(h[3], "C: 3");
    h.SetValue("A", "");
    ASSERT_EQ(h.Count(), 3u);
    EXPECT_EQ(h[0], "long: short");
    h.SetValue("Nothing", ""); // removing what is not there changes nothing
    EXPECT_EQ(h.Count(), 3u);
}

TEST(HeaderListTest, FoldingBreaksAfterBlanksOrCommasOutsideQuotes) {
    TMxHeaderList h;
    std::string value = "\"Quoted, name with, commas, that, must, not, break, here\" <q@b.ru>, "
                        "second@b.ru, third@b.ru, fourth@b.ru";
    h.SetValue("To", value);
    ASSERT_GT(h.Count(), 1u);
    for (size_t i = 0; i < h.Count(); ++i) {
        EXPECT_LE(h[i].size(), 78u) << h[i];
        EXPECT_NE(h[i].back(), ' ');
        if (i > 0) {
            EXPECT_EQ(h[i][0], ' ');
        }
    }
    EXPECT_NE(h[0].find("\"Quoted, name with, commas, that, must, not, break, here\""),
              std::string::npos);
    EXPECT_EQ(h.Values("To"), value);
    // A word longer than the line stays whole; breaks given in the value stay.
    h.Clear();
    h.SetValue("X", std::string(100, 'a'));
    EXPECT_EQ(h.Count(), 1u);
    h.SetValue("Content-Type", "text/plain;\r\n\tcharset=\"koi8-r\"");
    ASSERT_EQ(h.Count(), 3u);
    EXPECT_EQ(h[1], "Content-Type: text/plain;");
    EXPECT_EQ(h[2], "\tcharset=\"koi8-r\"");
    EXPECT_EQ(h.Values("content-type"), "text/plain; charset=\"koi8-r\"");
}

// The Q form of an encoded word may carry bare commas; folding must not break inside it.
TEST(HeaderListTest, FoldingNeverSplitsAnEncodedWord) {
    TMxHeaderList h;
    const std::string word = "=?ISO-8859-1?Q?Rapport,_station,_d=E9cembre,_totaux,_caisse?=";
    h.SetValue("Subject", "Shift report " + word + " and more words after it");
    ASSERT_GT(h.Count(), 1u);
    std::string all;
    for (size_t i = 0; i < h.Count(); ++i)
        all += h[i] + "\n";
    EXPECT_NE(all.find(word), std::string::npos) << all;
}
