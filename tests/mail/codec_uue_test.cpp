// UUE / XXE decoding of old plain-text attachments, and the coder registry.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "mail/codecs.h"

namespace tzn {
namespace {

std::string DecodeWith(const std::string& name, const std::vector<std::string>& lines) {
    std::string out;
    TMxStringSink sink(out);
    auto dec = CreateMessageDecoder(name, sink);
    EXPECT_NE(dec, nullptr);
    for (const std::string& l : lines)
        if (!dec->DecodeLine(l))
            break;
    dec->Finish();
    return out;
}

TEST(CodecUUE, KnownLinesAndBeginLine) {
    EXPECT_EQ(DecodeWith("UUE", {"#0V%T", "`", "end"}), "Cat");
    EXPECT_EQ(DecodeWith("UUE", {"#0V%T", " ", "end", "#0V%T"}), "Cat") << "nothing after end";
    EXPECT_EQ(DecodeWith("XXE", {"1Eq3o", "+", "end"}), "Cat");
    std::string name;
    EXPECT_TRUE(ParseUUEBeginLine("begin 644 report 01.txt", &name));
    EXPECT_EQ(name, "report 01.txt");
    EXPECT_FALSE(ParseUUEBeginLine("begin the letter"));
    EXPECT_FALSE(ParseUUEBeginLine("begin 644 "));
    EXPECT_EQ(DetectUUEKind("M86)C9&5F"), "UUE");
    EXPECT_EQ(DetectUUEKind("h5VYpOKB"), "XXE");
}

TEST(CodecUUE, RoundTripsThroughTheRegistry) {
    std::mt19937 rng(5);
    for (const char* name : {"UUE", "xxe", "MIME", "qp"}) {
        for (size_t n : {0, 1, 44, 45, 46, 1000}) {
            std::string data(n, '\0');
            for (char& c : data)
                c = static_cast<char>(rng());
            auto enc = CreateMessageEncoder(name);
            ASSERT_NE(enc, nullptr) << name;
            std::vector<std::string> lines;
            std::istringstream src(data);
            enc->Encode(src, [&](std::string_view l) { lines.emplace_back(l); });
            EXPECT_EQ(DecodeWith(name, lines), data) << name << " " << n;
        }
    }
    EXPECT_TRUE(MessageCoderExists("Mime"));
    EXPECT_FALSE(MessageCoderExists("binhex"));
    std::string sink;
    TMxStringSink s(sink);
    EXPECT_EQ(CreateMessageDecoder("yEnc", s), nullptr);
}

TEST(CodecUUE, TrailingBlanksStrippedByMailers) {
    // 45 zero bytes encode to "M" + 60 "`"; a mailer that dropped trailing characters
    // must not lose the line's byte count.
    std::string line = "M";
    EXPECT_EQ(DecodeWith("UUE", {line, "end"}), std::string(45, '\0'));
}

} // namespace
} // namespace tzn
