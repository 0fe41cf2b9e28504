// The processing order of selected received letters: by sender, newest first within one.
#include "ui/letter_commands.h"

#include "platform/cp1251.h"

#include <gtest/gtest.h>

namespace tzn {
namespace {

TEST(ProcessingGroupsTest, SendersSortCaseInsensitivelyAndGroupExactly) {
    const TDateTime d1 = EncodeDateTime(2024, 1, 1), d2 = EncodeDateTime(2024, 1, 2);
    const std::vector<TProcessCandidate> selected{{ru("Яков"), d1, "0"}, {"bob", d1, "1"},
                                                  {"Bob", d2, "2"},      {"bob", d2, "3"},
                                                  {"ann", d1, "4"},      {ru("Яков"), d1, "5"}};
    // "bob" and "Bob" sort together (in selection order) but group only with exactly equal
    // neighbours.
    EXPECT_EQ(ProcessingGroups(selected),
              (std::vector<std::vector<size_t>>{{4}, {1}, {2}, {3}, {0, 5}}));
}

TEST(ProcessingGroupsTest, LargeGroupsAreOrderedInFull) {
    std::vector<TProcessCandidate> selected;
    selected.reserve(250);
    for (int i = 0; i < 250; ++i)
        selected.push_back({"same", EncodeDateTime(2024, 1, 1) + i / 1440.0, std::to_string(i)});
    const auto groups = ProcessingGroups(selected);
    ASSERT_EQ(groups.size(), 1u);
    ASSERT_EQ(groups[0].size(), 250u);
    EXPECT_EQ(groups[0].front(), 249u);
    EXPECT_EQ(groups[0].back(), 0u);
}

} // namespace
} // namespace tzn
