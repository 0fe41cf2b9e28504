// Replays every kept fuzz input (the inputs of past findings and the seed corpora) through
// its target, so that a fixed crash, hang or unexpected error never comes back unnoticed.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/targets.h"

using namespace tzn::fuzz;

namespace {

std::vector<std::filesystem::path> InputsOf(const std::string& folder, std::string_view target) {
    std::vector<std::filesystem::path> out;
    const auto dir = std::filesystem::path(TZN_SOURCE_DIR) / "fuzz" / folder / target;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        if (e.is_regular_file())
            out.push_back(e.path());
    return out;
}

// Runs one input; an input taking seconds is as much a finding as a crash.
void Replay(const TFuzzTarget& target, const std::filesystem::path& input) {
    std::ifstream in(input, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NO_THROW(target.Run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()))
        << input;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << input;
}

} // namespace

TEST(FuzzReplayTest, KeptFindingsAndSeedsRunCleanly) {
    size_t findings = 0;
    for (const TFuzzTarget& target : kFuzzTargets) {
        const auto seeds = InputsOf("corpus", target.Name);
        EXPECT_FALSE(seeds.empty()) << target.Name << " has no seed corpus";
        for (const auto& input : seeds)
            Replay(target, input);
        for (const auto& input : InputsOf("regressions", target.Name)) {
            Replay(target, input);
            ++findings;
        }
    }
    EXPECT_GT(findings, 0u);
}
