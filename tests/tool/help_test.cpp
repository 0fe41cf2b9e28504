// The tool's --help: every command it has comes with a whole example command line.
#include "tool_runner.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace tzn {
namespace {

TEST(ToolHelp, EveryCommandHasAnExampleStartingWithItsOwnWords) {
    const test::ToolRun r = test::RunCommand(test::ToolCommand({"--help"}));
    ASSERT_EQ(r.Status, 0) << r.Out;
    std::istringstream in(r.Out);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    // Each usage line's first word, and its second where several commands share the first.
    const std::string usage = "  tznmail ", example = "      e.g. tznmail ";
    std::vector<std::pair<size_t, std::vector<std::string>>> commands;
    std::map<std::string, int> groups;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(usage, 0) != 0)
            continue;
        std::istringstream words(lines[i].substr(usage.size()));
        std::string first, second;
        words >> first >> second;
        commands.push_back({i, {first, second}});
        ++groups[first];
    }
    for (const auto& [i, words] : commands) {
        const std::string prefix =
            example + words[0] + (groups[words[0]] > 1 ? " " + words[1] : "");
        ASSERT_LT(i + 1, lines.size()) << lines[i];
        EXPECT_EQ(lines[i + 1].rfind(prefix, 0), 0u)
            << "no example for \"" << lines[i] << "\": " << lines[i + 1];
    }
    EXPECT_GE(commands.size(), 10u) << r.Out;
    EXPECT_NE(r.Out.find("TZN_ROOT"), std::string::npos);
}

} // namespace
} // namespace tzn
