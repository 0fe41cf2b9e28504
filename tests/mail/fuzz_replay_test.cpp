#include <gtest/gtest.h>

#include "fuzz/mail_targets.h"
#include "fuzz_replay.h"

TEST(FuzzReplayTest, KeptFindingsAndSeedsRunCleanly) {
    EXPECT_GT(tzn::test::ReplayKeptFuzzInputs(tzn::fuzz::kMailFuzzTargets), 0u);
}
