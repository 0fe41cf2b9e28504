// Line I/O over plain byte streams (letter files, memory) and the work events.
#include <gtest/gtest.h>

#include <sstream>

#include "mail/exceptions.h"
#include "mail/io_handler.h"
#include "raised.h"

namespace tzn {
namespace {

// What the message reader does on top: an end-of-message line when the stream runs dry.
class EndLineHandler : public TMxIOHandlerStream {
public:
    using TMxIOHandlerStream::TMxIOHandlerStream;

protected:
    int RecvBytes(char* buffer, int size, int timeoutMs) override {
        int n = TMxIOHandlerStream::RecvBytes(buffer, size, timeoutMs);
        if (n > 0) {
            FLast = buffer[n - 1];
            return n;
        }
        if (FDelivered)
            return 0;
        FDelivered = true;
        std::string end = FLast == '\n' ? ".\r\n" : FLast == '\r' ? "\n.\r\n" : "\r\n.\r\n";
        end.copy(buffer, end.size());
        return static_cast<int>(end.size());
    }

private:
    char FLast = 0;
    bool FDelivered = false;
};

TEST(TransportStream, LinesStraddlingSmallReads) {
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "line " + std::to_string(i) + (i % 3 ? "\r\n" : "\n");
    std::istringstream in(text);
    TMxIOHandlerStream io(&in, nullptr);
    io.RecvBufferSize = 7; // lines straddle many reads
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(io.ReadLine(), "line " + std::to_string(i));
    EXPECT_THROW(io.ReadLine(), EMxConnClosedGracefully);
}

TEST(TransportStream, MultiByteTerminatorSplitAcrossReads) {
    std::istringstream in("abc\r\n.\r\ndef\r\n.\r\n");
    TMxIOHandlerStream io(&in, nullptr);
    io.RecvBufferSize = 3;
    EXPECT_EQ(io.ReadLine("\r\n.\r\n"), "abc");
    EXPECT_EQ(io.ReadLine("\r\n.\r\n"), "def");
}

TEST(TransportStream, EndOfMessageHookSuppliesTheLastLine) {
    for (std::string body : {"a\r\nb", "a\r\nb\r\n", "a\r\nb\r"}) {
        std::istringstream in(body);
        EndLineHandler io(&in, nullptr);
        std::vector<std::string> lines;
        for (std::string l; (l = io.ReadLine()) != ".";)
            lines.push_back(l);
        EXPECT_EQ(lines, (std::vector<std::string>{"a", "b"})) << body;
        EXPECT_THROW(io.ReadLine(), EMxConnClosedGracefully);
    }
}

TEST(TransportStream, ReadingWithoutASourceOrPastTheLimit) {
    std::ostringstream out;
    TMxIOHandlerStream writeOnly(nullptr, &out);
    if (const auto e = test::Raised<EMxException>([&] { writeOnly.ReadLine(); })) {
        EXPECT_STREQ(e->what(), "Not Connected");
    }
    std::istringstream in(std::string(100, 'z') + "\n");
    TMxIOHandlerStream io(&in, nullptr);
    EXPECT_THROW(io.ReadLine({}, -1, 50), EMxReadLnMaxLineLengthExceeded);
}

TEST(TransportStream, NonEmptyLinesAreTrimmed) {
    std::istringstream in("\r\n   \r\n  hello  \r\n\r\n\r\nlast\r\n");
    TMxIOHandlerStream io(&in, nullptr);
    EXPECT_EQ(io.ReadNonEmptyLine(), "hello");
    EXPECT_EQ(io.ReadNonEmptyLine(2), "") << "two tries see only blank lines";
    EXPECT_EQ(io.ReadNonEmptyLine(), "last");
}

TEST(TransportStream, WritingTextLinesAndStreams) {
    std::ostringstream out;
    TMxIOHandlerStream io(nullptr, &out);
    io.WriteText("a");
    io.WriteLine("b");
    io.WriteLine();
    io.WriteLines({"c", "d"});
    EXPECT_EQ(out.str(), "ab\r\n\r\nc\r\nd\r\n");

    std::ostringstream out2;
    TMxIOHandlerStream io2(nullptr, &out2);
    io2.SendBufferSize = 4;
    int64_t maximum = -1, last = 0;
    int begins = 0, ends = 0, works = 0;
    io2.OnWorkBegin = [&](TMxComponent&, TMxWorkMode, int64_t m) { maximum = m, ++begins; };
    io2.OnWork = [&](TMxComponent&, TMxWorkMode, int64_t c) { last = c, ++works; };
    io2.OnWorkEnd = [&](TMxComponent&, TMxWorkMode) { ++ends; };
    std::istringstream src("0123456789");
    src.seekg(3);
    io2.WriteStream(src); // 0: the whole stream from its start
    EXPECT_EQ(out2.str(), "0123456789");
    EXPECT_EQ(maximum, 10);
    EXPECT_EQ(last, 10);
    EXPECT_EQ(works, 3); // chunks of SendBufferSize
    EXPECT_EQ(begins, 1);
    EXPECT_EQ(ends, 1);

    src.clear();
    src.seekg(6);
    io2.WriteStream(src, -1); // the rest from the current position
    EXPECT_EQ(out2.str(), "01234567896789");

    std::istringstream shortSrc("abc");
    if (const auto e = test::Raised<EMxNoDataToRead>([&] { io2.WriteStream(shortSrc, 10); })) {
        EXPECT_STREQ(e->what(), "No data to read.");
    }
    EXPECT_EQ(io2.WorkLevel(TMxWorkMode::Write), 0) << "the work bracket closes on failure";
}

TEST(TransportWork, NestingLevelsAndForwarding) {
    TMxComponent owner;
    std::vector<std::string> events;
    owner.OnWorkBegin = [&](TMxComponent&, TMxWorkMode, int64_t m) {
        events.push_back("begin " + std::to_string(m));
    };
    owner.OnWork = [&](TMxComponent&, TMxWorkMode, int64_t c) {
        events.push_back("work " + std::to_string(c));
    };
    owner.OnWorkEnd = [&](TMxComponent&, TMxWorkMode) { events.push_back("end"); };
    std::istringstream in("x\r\ny\r\n");
    TMxIOHandlerStream io(&in, nullptr);
    io.WorkTarget = &owner;
    io.DoWork(TMxWorkMode::Read, 5); // outside a bracket: not reported
    owner.BeginWork(TMxWorkMode::Read, 100);
    owner.BeginWork(TMxWorkMode::Read, 7); // nested: no second begin
    io.ReadLine();
    io.ReadLine();
    owner.EndWork(TMxWorkMode::Read);
    owner.EndWork(TMxWorkMode::Read);
    owner.EndWork(TMxWorkMode::Read); // unbalanced end is ignored
    EXPECT_EQ(events, (std::vector<std::string>{"begin 100", "work 6", "end"}));
    EXPECT_EQ(owner.WorkMax(TMxWorkMode::Read), 100);
}

} // namespace
} // namespace tzn
