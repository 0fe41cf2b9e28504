// Base64: round trips on random data of awkward lengths, the line shape of attachments, and
// a decoder that tolerates what real mailers do to line wrapping.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "mail/codecs.h"

namespace tzn {
namespace {

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng() & 0xff);
    return s;
}

std::vector<std::string> Lines(const std::string& crlfText) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t br; (br = crlfText.find("\r\n", start)) != std::string::npos; start = br + 2)
        lines.push_back(crlfText.substr(start, br - start));
    EXPECT_EQ(start, crlfText.size()) << "text must end with CR LF";
    return lines;
}

// Every case runs on the vector paths (when the processor has them) and the portable ones.
class CodecBase64 : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { FPrevious = SetBase64VectorPaths(GetParam()); }
    void TearDown() override { SetBase64VectorPaths(FPrevious); }
    bool FPrevious = true;
};

TEST_P(CodecBase64, KnownVectors) {
    const char* vectors[][2] = {{"", ""},
                                {"f", "Zg=="},
                                {"fo", "Zm8="},
                                {"foo", "Zm9v"},
                                {"foob", "Zm9vYg=="},
                                {"fooba", "Zm9vYmE="},
                                {"foobar", "Zm9vYmFy"}};
    for (auto& v : vectors) {
        EXPECT_EQ(EncodeBase64(v[0]), v[1]);
        EXPECT_EQ(DecodeBase64(v[1]), v[0]);
    }
    EXPECT_EQ(EncodeBase64("\xff\xfe\xfd\xfc\xfb\xfa\xf9\xf8"), "//79/Pv6+fg=");
}

TEST_P(CodecBase64, RoundTripsAndLineShape) {
    for (size_t n : {0, 1, 2, 3, 5, 6, 7, 8, 56, 57, 58, 113, 114, 115, 1024 * 1024 + 1}) {
        const std::string data = RandomBytes(n, static_cast<unsigned>(n));
        ASSERT_EQ(DecodeBase64(EncodeBase64(data)), data) << n;

        std::string text;
        EncodeBase64Lines(data, text);
        std::vector<std::string> lines = Lines(text);
        ASSERT_EQ(lines.size(), (n + 56) / 57) << n;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (i + 1 < lines.size())
                ASSERT_EQ(lines[i].size(), 76u) << n;
            else
                ASSERT_LE(lines[i].size(), 76u);
            ASSERT_NE(lines[i][0], '.');
        }
        ASSERT_EQ(DecodeBase64(text), data) << n;

        // The streaming pair: file-like source in, lines out, lines back into a sink.
        std::istringstream src(data);
        std::vector<std::string> streamed;
        TMxEncoderMIME().Encode(src, [&](std::string_view l) { streamed.emplace_back(l); });
        ASSERT_EQ(streamed, lines) << n;
        std::string back;
        TMxStringSink sink(back);
        TMxDecoderMIME dec(sink);
        for (const std::string& l : streamed)
            dec.DecodeLine(l);
        dec.Finish();
        ASSERT_EQ(back, data) << n;
    }
}

TEST_P(CodecBase64, DecoderToleratesBadWrappingAndStrayCharacters) {
    const std::string data = RandomBytes(1000, 7);
    const std::string enc = EncodeBase64(data);
    // Lines cut at odd places (groups split between lines), with blanks and tabs around.
    std::mt19937 rng(3);
    std::string back;
    TMxStringSink sink(back);
    TMxDecoderMIME dec(sink);
    for (size_t pos = 0; pos < enc.size();) {
        size_t len = 1 + rng() % 90;
        dec.DecodeLine(" " + enc.substr(pos, len) + "\t");
        pos += len;
    }
    dec.Finish();
    EXPECT_EQ(back, data);

    // Attachment-shaped lines with damage inside: the whole-line fast path must fall back.
    std::string lined;
    EncodeBase64Lines(data, lined);
    std::string damaged = lined;
    damaged.insert(78 * 2 + 30, " ");
    damaged.insert(78 * 5 + 10, "*");
    damaged.insert(78 * 8 + 76, "\t");
    EXPECT_EQ(DecodeBase64(damaged), data);
    std::string bareLf = lined;
    std::erase(bareLf, '\r');
    EXPECT_EQ(DecodeBase64(bareLf), data);

    EXPECT_EQ(DecodeBase64("Zm9v\r\nYmE"), "fooba") << "missing padding";
    EXPECT_EQ(DecodeBase64("Zm9v!!Ym\x01"
                           "Fy"),
              "foobar")
        << "stray bytes skipped";
    EXPECT_EQ(DecodeBase64("Zg==Zm8="), "ffo") << "padding ends a group, data may follow";
    EXPECT_EQ(DecodeBase64("Z"), "") << "a lone character holds no byte";
}

INSTANTIATE_TEST_SUITE_P(Paths, CodecBase64, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& i) {
                             return i.param ? "Vector" : "Portable";
                         });

} // namespace
} // namespace tzn
