#include <gtest/gtest.h>

#include "fuzz/store_targets.h"
#include "fuzz_replay.h"

TEST(FuzzReplayTest, StoreSeedsRunCleanly) {
    tzn::test::ReplayKeptFuzzInputs(tzn::fuzz::kStoreFuzzTargets);
}
