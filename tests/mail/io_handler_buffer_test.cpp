// The input buffer under irregular reads: short reads, lines far longer than one read, and
// partial lines moved to the front between reads must all come back whole and in order.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "mail/exceptions.h"
#include "mail/io_handler.h"

namespace tzn {
namespace {

// A stream that hands out a varying, often small, part of what is asked for, as a socket
// under load does.
class ChoppyStream : public TMxIOHandlerStream {
public:
    using TMxIOHandlerStream::TMxIOHandlerStream;

protected:
    int RecvBytes(char* buffer, int size, int timeoutMs) override {
        const int cap = static_cast<int>(FRng() % 1500) + 1;
        return TMxIOHandlerStream::RecvBytes(buffer, std::min(size, cap), timeoutMs);
    }

private:
    std::mt19937 FRng{7};
};

TEST(IOHandlerBuffer, IrregularReadsAndLongLinesComeBackWhole) {
    std::mt19937 rng(11);
    std::vector<std::string> lines;
    std::string text;
    for (int i = 0; i < 400; ++i) {
        // Mostly short lines, now and then one several reads long.
        const size_t len = i % 17 == 0 ? 1000 + rng() % 6000 : rng() % 120;
        std::string line(len, 'a' + static_cast<char>(i % 26));
        line += std::to_string(i);
        lines.push_back(line);
        text += line + (i % 2 ? "\r\n" : "\n");
    }
    std::istringstream in(text);
    ChoppyStream io(&in, nullptr);
    io.RecvBufferSize = 1024;
    for (size_t i = 0; i < lines.size(); ++i)
        ASSERT_EQ(io.ReadLine(), lines[i]) << "line " << i;
    EXPECT_THROW(io.ReadLine(), EMxConnClosedGracefully);
}

TEST(IOHandlerBuffer, TryReadTakesOnlyWholeBufferedLinesAndNeverWaits) {
    std::istringstream in("ab\r\n" + std::string(50, 'x') + "\nc");
    TMxIOHandlerStream io(&in, nullptr);
    std::string_view line;
    EXPECT_FALSE(io.TryReadLineView(line)) << "nothing buffered yet";
    io.ReadFromSource(false);
    ASSERT_TRUE(io.TryReadLineView(line, 10));
    EXPECT_EQ(line, "ab");
    // Longer than asked: left for the reading call that raises or splits.
    EXPECT_FALSE(io.TryReadLineView(line, 10));
    EXPECT_EQ(io.ReadLine(), std::string(50, 'x'));
    EXPECT_FALSE(io.TryReadLineView(line)) << "a last line without its end";
    EXPECT_EQ(io.InputBuffer(), "c");
}

} // namespace
} // namespace tzn
