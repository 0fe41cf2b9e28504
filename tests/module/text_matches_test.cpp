#include "module/text_matches.h"

#include "platform/cp1251.h"

#include <gtest/gtest.h>

namespace tzn {
namespace {

TEST(TextMatches, EqualOrContainedIgnoringCase) {
    EXPECT_TRUE(TextMatches("Re: TZN-12 data", "tzn-12"));
    EXPECT_FALSE(TextMatches("TZN-1", "TZN-12"));
    EXPECT_TRUE(TextMatches("TZN-12", "TZN-1"));
    EXPECT_TRUE(TextMatches(ru("Отчет TZN-Офис"), ru("tzn-офис")));
    EXPECT_TRUE(TextMatches(ru("ёлка"), ru("ЁЛКА")));
    EXPECT_FALSE(TextMatches("TZN-12", "TZN 12"));
}

TEST(TextMatches, EmptyPatternMatchesOnlyEmptyText) {
    EXPECT_TRUE(TextMatches("", ""));
    EXPECT_FALSE(TextMatches("anything", ""));
    EXPECT_FALSE(TextMatches("", "TZN-12"));
}

} // namespace
} // namespace tzn
