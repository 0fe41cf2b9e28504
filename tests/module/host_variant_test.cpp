#include "tznmail/host.h"

#include <gtest/gtest.h>

namespace tzn {
namespace {

TEST(HostVariant, ConvertsAsTheModuleReadsHostParameters) {
    EXPECT_EQ(THostVariant(" 42 ").ToInteger(), 42); // shift number delivered as text
    EXPECT_EQ(THostVariant(3).ToInteger(), 3);
    EXPECT_EQ(THostVariant(2.6).ToInteger(), 3);
    EXPECT_EQ(THostVariant(-2.6).ToInteger(), -3);
    EXPECT_EQ(THostVariant().ToInteger(), 0);
    EXPECT_EQ(THostVariant(true).ToInteger(), 1);
    EXPECT_THROW(THostVariant("12a").ToInteger(), std::invalid_argument);
    EXPECT_THROW(THostVariant("").ToInteger(), std::invalid_argument);
    EXPECT_THROW(THostVariant("99999999999999999999").ToInteger(), std::invalid_argument);
    EXPECT_EQ(THostVariant(7).ToString(), "7");
    EXPECT_EQ(THostVariant(1.5).ToString(), "1.5");
    EXPECT_EQ(THostVariant(false).ToString(), "False");
    EXPECT_EQ(THostVariant("SERVER").ToString(), "SERVER");
    EXPECT_TRUE(THostVariant().IsEmpty());
    EXPECT_EQ(THostVariant("x").GetType(), THostVariant::TType::String);
}

} // namespace
} // namespace tzn
