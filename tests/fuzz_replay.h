// Replays every kept fuzz input of a layer's targets (the inputs of past findings and the seed
// corpora), so that a fixed crash, hang or unexpected error never comes back unnoticed.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "fuzz/targets.h"

namespace tzn::test {

inline std::vector<std::filesystem::path> FuzzInputsOf(const std::string& folder,
                                                       std::string_view target) {
    std::vector<std::filesystem::path> out;
    const auto dir = std::filesystem::path(TZN_SOURCE_DIR) / "fuzz" / folder / target;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        if (e.is_regular_file())
            out.push_back(e.path());
    return out;
}

// Runs one input. Slowness is the fuzzer's to find (its own timeout, on one target at a
// time); the ceiling here only tells a hang from a loaded machine, inputs taking milliseconds.
inline void ReplayFuzzInput(const tzn::fuzz::TFuzzTarget& target,
                            const std::filesystem::path& input) {
    std::ifstream in(input, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NO_THROW(target.Run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()))
        << input;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60)) << input;
}

// Replays the seeds (every target must have some) and the kept findings; returns how many
// findings there were.
inline size_t ReplayKeptFuzzInputs(std::span<const tzn::fuzz::TFuzzTarget> targets) {
    size_t findings = 0;
    for (const tzn::fuzz::TFuzzTarget& target : targets) {
        const auto seeds = FuzzInputsOf("corpus", target.Name);
        EXPECT_FALSE(seeds.empty()) << target.Name << " has no seed corpus";
        for (const auto& input : seeds)
            ReplayFuzzInput(target, input);
        for (const auto& input : FuzzInputsOf("regressions", target.Name)) {
            ReplayFuzzInput(target, input);
            ++findings;
        }
    }
    return findings;
}

} // namespace tzn::test
