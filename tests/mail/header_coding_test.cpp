// Encoded words in headers: what this system writes for its subjects and names, and what
// it reads back.
#include <gtest/gtest.h>

#include "mail/codecs.h"
#include "mail/header_coding.h"
#include "platform/cp1251.h"
#include "platform/datetime.h"

namespace tzn {
namespace {

// Restores the language after each test.
class HeaderCoding : public ::testing::Test {
protected:
    void TearDown() override { Formats().PrimaryLanguage = 0x19; }
};

std::vector<std::string> SplitCrlf(const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t br; (br = s.find("\r\n", start)) != std::string::npos; start = br + 2)
        out.push_back(s.substr(start, br - start));
    out.push_back(s.substr(start));
    return out;
}

TEST_F(HeaderCoding, PlainAsciiIsWrittenUnchangedEitherWay) {
    const std::string subject = "TZN-0001 report for shift 12";
    EXPECT_EQ(EncodeHeader(subject, {}, true), subject);
    EXPECT_EQ(EncodeHeader(subject, {}, false), subject);
}

TEST_F(HeaderCoding, CyrillicSubjectOnARussianSystem) {
    const std::string word = ru("Отчет");
    // Russian: B words labelled KOI8-R that carry the CP1251 bytes as they are.
    EXPECT_EQ(EncodeHeader("TZN-Office " + word, {}, true),
              "TZN-Office =?KOI8-R?B?" + EncodeBase64(word) + "?=");
    EXPECT_EQ(EncodeBase64(word), "zvL35fI=") << "the CP1251 bytes, not KOI8-R ones";
    EXPECT_EQ(EncodeHeader("TZN-Office " + word, {}, false), "TZN-Office " + word);
    EXPECT_EQ(HeaderEncodingParams(false).Method, TMxHeaderMethod::Raw8Bit);
    EXPECT_EQ(HeaderEncodingParams(false).CharSet, "KOI8-R");
}

TEST_F(HeaderCoding, RunFromFirstToLastForcingWord) {
    const std::string a = ru("Смена"), b = ru("закрыта");
    std::string enc =
        EncodeHeader("TZN-7 " + a + " N 5 " + b + " ok", "", TMxHeaderMethod::B, "KOI8-R");
    EXPECT_EQ(enc, "TZN-7 =?KOI8-R?B?" + EncodeBase64(a + " N 5 " + b) + "?= ok");
    EXPECT_EQ(DecodeHeader(enc), "TZN-7 " + a + " N 5 " + b + " ok");
}

TEST_F(HeaderCoding, QuotedFormAndAddressSpecials) {
    EXPECT_EQ(EncodeHeader("x a_b=c? d", "", TMxHeaderMethod::Q, "ISO-8859-1"),
              "x =?ISO-8859-1?Q?a=5Fb=3Dc=3F?= d");
    EXPECT_EQ(EncodeHeader("caf\xe9 au lait", "", TMxHeaderMethod::Q, "ISO-8859-1"),
              "=?ISO-8859-1?Q?caf=E9?= au lait");
    EXPECT_EQ(EncodeHeader("Ivanov, Ivan", kMxAddressSpecials, TMxHeaderMethod::Q, "ISO-8859-1"),
              "=?ISO-8859-1?Q?Ivanov=2C?= Ivan");
    EXPECT_EQ(EncodeHeader("Ivanov, Ivan", "", TMxHeaderMethod::Q, "ISO-8859-1"), "Ivanov, Ivan");
    Formats().PrimaryLanguage = 0x09; // English
    EXPECT_EQ(EncodeHeader("r\xe9sum\xe9 x", {}, true), "=?ISO-8859-1?Q?r=E9sum=E9?= x");
}

TEST_F(HeaderCoding, LongSubjectsSplitIntoWordsOnContinuationLines) {
    std::string subject;
    for (int i = 0; i < 12; ++i)
        subject += ru("Очень длинная тема ");
    subject += "end";
    for (TMxHeaderMethod m : {TMxHeaderMethod::B, TMxHeaderMethod::Q}) {
        std::string enc = EncodeHeader(subject, "", m, "KOI8-R");
        std::vector<std::string> lines = SplitCrlf(enc);
        ASSERT_GT(lines.size(), 3u);
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_LE(lines[i].size(), 76u);
            if (i > 0) {
                EXPECT_EQ(lines[i][0], ' ');
                EXPECT_EQ(lines[i].substr(1, 10),
                          "=?KOI8-R?" + std::string(1, "BQ"[m == TMxHeaderMethod::Q]));
            }
            std::string word = lines[i].substr(i > 0);
            if (word.rfind("=?", 0) == 0) {
                size_t close = word.find("?=", 10);
                EXPECT_LE(close + 2, 75u) << "one encoded word at most 75 characters";
            }
        }
        EXPECT_EQ(DecodeHeader(enc), subject);
    }
}

TEST_F(HeaderCoding, ParametersByPrimaryLanguage) {
    struct Case {
        int Lang;
        const char* Label;
        TMxHeaderMethod Method;
        bool Jis;
    } cases[] = {
        {0x19, "KOI8-R", TMxHeaderMethod::B, false},
        {0x22, "windows-1251", TMxHeaderMethod::B, false},
        {0x11, "ISO-2022-JP", TMxHeaderMethod::B, true},
        {0x12, "csEUCKR", TMxHeaderMethod::B, false},
        {0x04 | 0x02 << 10, "GB2312", TMxHeaderMethod::B, false},
        {0x04 | 0x01 << 10, "Big5", TMxHeaderMethod::B, false},
        {0x07, "ISO-8859-1", TMxHeaderMethod::Q, false},
    };
    for (const Case& c : cases) {
        TMxHeaderEncoding e = HeaderEncodingParamsFor(c.Lang, true);
        EXPECT_EQ(e.CharSet, c.Label);
        EXPECT_EQ(e.Method, c.Method) << c.Label;
        EXPECT_EQ(e.ConvertToISO2022JP, c.Jis) << c.Label;
        EXPECT_EQ(HeaderEncodingParamsFor(c.Lang, false).Method, TMxHeaderMethod::Raw8Bit);
    }
}

TEST_F(HeaderCoding, DecodingRules) {
    const std::string privet = ru("Привет");
    const std::string b = "=?KOI8-R?B?" + EncodeBase64(privet) + "?=";
    EXPECT_EQ(DecodeHeader("Re: " + b), "Re: " + privet);
    EXPECT_EQ(DecodeHeader(b + " " + b), privet + privet) << "adjacent words join";
    EXPECT_EQ(DecodeHeader(b + "\r\n\t" + b), privet + privet);
    EXPECT_EQ(DecodeHeader(b + " x " + b), privet + " x " + privet);
    const std::string utf8 = "=?UTF-8?B?0J/RgNC40LLQtdGC?=";
    EXPECT_EQ(DecodeHeader(utf8), utf8) << "labels other than ISO/WINDOWS/KOI8 stay";
    EXPECT_EQ(DecodeHeader(utf8 + " " + b), utf8 + " " + privet);
    EXPECT_EQ(DecodeHeader("=?iso-8859-1?q?a_b=3D=e9?="), "a b=\xe9");
    EXPECT_EQ(DecodeHeader("=?windows-1251?B?" + EncodeBase64(privet) + "?="), privet);
    // Both words decode whatever order their labels come in.
    EXPECT_EQ(DecodeHeader(b + " =?ISO-8859-1?Q?x?="), privet + "x");
    EXPECT_EQ(DecodeHeader("a=?KOI8-R?B?" + EncodeBase64(std::string("n\0l", 3)) + "?="), "anl");
    EXPECT_EQ(DecodeHeader("=?broken ?= 1+1=?2"), "=?broken ?= 1+1=?2");
    EXPECT_EQ(DecodeHeader("=?KOI8-R?B?unterminated"), "=?KOI8-R?B?unterminated");
}

TEST_F(HeaderCoding, JapaneseTextIsConvertedBothWays) {
    const std::string sjis = "\x93\xfa\x96\x7b"; // "Japan" in the Japanese code page
    std::string jis = ConvertToISO2022JP(sjis);
    ASSERT_NE(jis, sjis) << "iconv must know ISO-2022-JP";
    EXPECT_EQ(jis.front(), '\x1b');
    Formats().PrimaryLanguage = 0x11;
    std::string enc = EncodeHeader(sjis, {}, true);
    EXPECT_EQ(enc.rfind("=?ISO-2022-JP?B?", 0), 0u);
    EXPECT_EQ(DecodeHeader(enc), sjis);
}

} // namespace
} // namespace tzn
