// Quoted-printable: the exact forms of every rule, line lengths, and round trips.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "mail/codecs.h"

namespace tzn {
namespace {

std::vector<std::string> EncodeLine(std::string_view line) {
    std::vector<std::string> out;
    EncodeQPLine(line, [&](std::string_view l) { out.emplace_back(l); });
    return out;
}

TEST(CodecQP, ExactFormsOfTheRules) {
    using V = std::vector<std::string>;
    EXPECT_EQ(EncodeLine("ends in a blank "), V{"ends in a blank=20"});
    EXPECT_EQ(EncodeLine("ends in a tab\t"), V{"ends in a tab=09"});
    EXPECT_EQ(EncodeLine("inner blanks stay"), V{"inner blanks stay"});
    EXPECT_EQ(EncodeLine(".leading dot"), V{"=2Eleading dot"});
    EXPECT_EQ(EncodeLine("a.b."), V{"a.b."});
    EXPECT_EQ(EncodeLine("1+1=2"), V{"1+1=3D2"});
    EXPECT_EQ(EncodeLine("\xc0\xff\x7f\x01"), V{"=C0=FF=7F=01"});
    EXPECT_EQ(EncodeLine("!\"#<>~"), V{"!\"#<>~"});
    EXPECT_EQ(EncodeLine(""), V{""});
}

TEST(CodecQP, SoftBreaksKeepLinesWithin76) {
    for (std::string line : {std::string(200, 'a'), std::string(100, '\xe9'),
                             std::string(74, 'a') + "\xe9\xe9" + std::string(10, ' '),
                             std::string(71, 'a') + ".dot starts the continuation"}) {
        std::vector<std::string> out = EncodeLine(line);
        ASSERT_GT(out.size(), 1u);
        std::string joined;
        for (size_t i = 0; i < out.size(); ++i) {
            EXPECT_LE(out[i].size(), 76u);
            EXPECT_NE(out[i][0], '.');
            if (i + 1 < out.size()) {
                EXPECT_EQ(out[i].back(), '=');
            }
            joined += out[i] + "\r\n";
        }
        EXPECT_EQ(DecodeQuotedPrintable(joined.substr(0, joined.size() - 2)), line);
    }
    EXPECT_EQ(EncodeLine(std::string(71, 'a') + ".x234")[1], "=2Ex234");
}

TEST(CodecQP, RoundTripsOfTextAndBinary) {
    std::mt19937 rng(11);
    const std::string alphabet = "abc .\t=\xe0\xff\r\n";
    for (int round = 0; round < 300; ++round) {
        std::string text;
        size_t n = rng() % 400;
        for (size_t i = 0; i < n; ++i)
            text += alphabet[rng() % alphabet.size()];
        std::string enc = EncodeQuotedPrintable(text);
        ASSERT_EQ(DecodeQuotedPrintable(enc), text);

        // Line by line through the streaming decoder, as the message reader feeds it.
        std::string back;
        TMxStringSink sink(back);
        TMxDecoderQuotedPrintable dec(sink);
        std::istringstream src(text);
        TMxEncoderQuotedPrintable().Encode(src, [&](std::string_view l) {
            EXPECT_LE(l.size(), 76u);
            dec.DecodeLine(l);
        });
        ASSERT_EQ(back, text);
    }
}

// Mostly plain text, where the encoder copies long plain runs at once: every output line
// must still obey the rules wherever a run meets a line start, a line end or a soft break.
TEST(CodecQP, LongPlainRunsKeepEveryRule) {
    std::mt19937 rng(23);
    const std::string plain = "abcdefghijklmnopqrstuvwxyz0123456789 .,;:!?-\t";
    const std::string rare = "=\xe9\x01\x7f";
    for (int round = 0; round < 500; ++round) {
        std::string line;
        size_t n = rng() % 300;
        for (size_t i = 0; i < n; ++i)
            line += rng() % 40 ? plain[rng() % plain.size()] : rare[rng() % rare.size()];
        std::vector<std::string> out = EncodeLine(line);
        std::string joined;
        for (size_t i = 0; i < out.size(); ++i) {
            const std::string& l = out[i];
            ASSERT_LE(l.size(), 76u);
            ASSERT_TRUE(l.empty() || l[0] != '.') << l;
            ASSERT_TRUE(l.empty() || (l.back() != ' ' && l.back() != '\t')) << l;
            for (size_t k = 0; k < l.size(); ++k) {
                unsigned char c = static_cast<unsigned char>(l[k]);
                ASSERT_TRUE((c >= 33 && c <= 126) || c == ' ' || c == '\t') << int(c);
                if (c == '=' && !(i + 1 < out.size() && k + 1 == l.size())) {
                    ASSERT_TRUE(k + 2 < l.size() && isxdigit(l[k + 1]) && isxdigit(l[k + 2]));
                }
            }
            joined += l + (i + 1 < out.size() ? "\r\n" : "");
        }
        ASSERT_EQ(DecodeQuotedPrintable(joined), line);
    }
}

TEST(CodecQP, DecoderLeniency) {
    EXPECT_EQ(DecodeQuotedPrintable("caf=c3=a9"), "caf\xc3\xa9") << "lower-case hex";
    EXPECT_EQ(DecodeQuotedPrintable("a=ZZb=4"), "a=ZZb=4") << "broken escapes kept";
    EXPECT_EQ(DecodeQuotedPrintable("soft=\r\nbreak  \r\nhard"), "softbreak\r\nhard")
        << "soft break joins; padding blanks dropped";
    EXPECT_EQ(DecodeQuotedPrintable("lf\nonly"), "lf\r\nonly");
}

// Lines of up to 74 encoded characters stay whole; longer ones break into pieces of at most
// 71 characters before the soft-break "=", never splitting an escape.
TEST(CodecQP, SoftBreakPositions) {
    EXPECT_EQ(EncodeLine(std::string(74, 'a')), std::vector<std::string>{std::string(74, 'a')});
    const auto long75 = EncodeLine(std::string(75, 'a'));
    ASSERT_EQ(long75.size(), 2u);
    EXPECT_EQ(long75[0], std::string(71, 'a') + "=");
    EXPECT_EQ(long75[1], "aaaa");
    const auto escaped = EncodeLine(std::string(70, 'a') + "\xE9" + std::string(10, 'b'));
    ASSERT_EQ(escaped.size(), 2u);
    EXPECT_EQ(escaped[0], std::string(70, 'a') + "=");
    EXPECT_EQ(escaped[1], "=E9" + std::string(10, 'b'));
    for (size_t len : {150u, 1000u}) {
        for (const std::string& l : EncodeLine(std::string(len, 'x'))) {
            EXPECT_LE(l.size(), 72u);
        }
    }
}

} // namespace
} // namespace tzn
