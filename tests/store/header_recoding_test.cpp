#include "store/header_recoding.h"

#include "mail/message.h"
#include "platform/cp1251.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace tzn {
namespace {

const std::string kMarker = "=?ISO-8859-1?Q?";

TEST(HexToChar, ReadsOneOrTwoDigitsOfEitherCase) {
    EXPECT_EQ(HexToChar("3D"), "=");
    EXPECT_EQ(HexToChar("e9"), "\xE9");
    EXPECT_EQ(HexToChar("Ff"), "\xFF");
    EXPECT_EQ(HexToChar("7"), "\x07");
    EXPECT_EQ(HexToChar("00"), std::string(1, '\0'));
    EXPECT_THROW(HexToChar(""), std::invalid_argument);
    EXPECT_THROW(HexToChar("G1"), std::invalid_argument);
    EXPECT_THROW(HexToChar("?="), std::invalid_argument);
    EXPECT_THROW(HexToChar("-1"), std::invalid_argument);
}

TEST(RecodeHeaderText, PlainTextIsCutAt199Characters) {
    const std::string exact(199, 'a');
    EXPECT_EQ(RecodeHeaderText(exact), exact);
    EXPECT_EQ(RecodeHeaderText(exact + "bcd"), exact);
    EXPECT_EQ(RecodeHeaderText(""), "");
    EXPECT_EQ(RecodeHeaderText("TZN-12"), "TZN-12");
}

TEST(RecodeHeaderText, UnescapesWordKeepingPrefixAndTail) {
    // Bytes are taken as they are: =C4=E0 are CP1251 letters; underscores stay underscores.
    EXPECT_EQ(RecodeHeaderText("Re: " + kMarker + "=C4=E0_x?= tail"), "Re: \xC4\xE0_x tail");
    EXPECT_EQ(RecodeHeaderText(kMarker + "abc?="), "abc");
}

TEST(RecodeHeaderText, TailAfterTerminatorIsCutAt99) {
    const std::string tail(150, 't');
    EXPECT_EQ(RecodeHeaderText("P " + kMarker + "=41?=" + tail), "P A" + std::string(99, 't'));
}

TEST(RecodeHeaderText, PrefixCountsAgainstNoLimitButWordPartIs199) {
    // The limit counts from the marker on: a long prefix is kept whole.
    const std::string prefix(250, 'p');
    const std::string word = kMarker + "=41?=";
    const std::string tail(300, 't');
    const std::string out = RecodeHeaderText(prefix + word + tail);
    // 199 characters from the marker: the 20-character word plus 179 of the tail, which the
    // 99-character tail limit then cuts further.
    EXPECT_EQ(out, prefix + "A" + std::string(99, 't'));
}

TEST(RecodeHeaderText, SecondWordInTailIsDecodedToo) {
    const std::string text = "a" + kMarker + "=31?= b " + kMarker + "=32=33?= c";
    EXPECT_EQ(RecodeHeaderText(text), "a1 b 23 c");
}

TEST(RecodeHeaderText, LowerCaseMarkerIsRecognised) {
    EXPECT_EQ(RecodeHeaderText("x=?iso-8859-1?q?=41=42?=y"), "xABy");
    EXPECT_EQ(FindQWordMarker("zz=?Iso-8859-1?Q?"), 3u);
    EXPECT_EQ(FindQWordMarker("=?ISO-8859-2?Q?"), 0u);
}

TEST(RecodeHeaderText, EscapedEqualsConsumesItsDigitsOnly) {
    // The digits of =3D are not copied; the character after them is handled normally, even
    // when it is another escape.
    EXPECT_EQ(RecodeHeaderText(kMarker + "a=3Db=3D=41?="), "a=b=A");
    EXPECT_EQ(RecodeHeaderText(kMarker + "=3D3D?="), "=3D");
}

TEST(RecodeHeaderText, MalformedWordsLeaveTextWhole) {
    const std::string longTail(300, 'z');
    // Missing terminator: the whole text comes back, not even shortened.
    const std::string noEnd = "S: " + kMarker + "=41" + longTail;
    EXPECT_EQ(RecodeHeaderText(noEnd), noEnd);
    // Not hexadecimal.
    const std::string badHex = kMarker + "=G1?=";
    EXPECT_EQ(RecodeHeaderText(badHex), badHex);
    // "=" at the very end.
    const std::string eqEnd = "x" + kMarker + "ab=";
    EXPECT_EQ(RecodeHeaderText(eqEnd), eqEnd);
    // Only "?" at the end: the terminator is incomplete.
    const std::string qEnd = kMarker + "ab?";
    EXPECT_EQ(RecodeHeaderText(qEnd), qEnd);
    // A 300-character word that is cut at 199 loses its terminator and so stays whole.
    const std::string cut = kMarker + std::string(290, 'w') + "?=";
    EXPECT_EQ(RecodeHeaderText(cut), cut);
}

TEST(RecodeHeaderText, WordEndingRightAfterMarkerLeavesPrefix) {
    EXPECT_EQ(RecodeHeaderText("before " + kMarker), "before ");
    EXPECT_EQ(RecodeHeaderText(kMarker), "");
}

TEST(DecodeQWord, WorksOnOnePositionAndThrowsOnMalformedWord) {
    const std::string text = "ab" + kMarker + "=41?=cd";
    EXPECT_EQ(DecodeQWord(text, 3), "abAcd");
    EXPECT_THROW(DecodeQWord("ab" + kMarker + "x", 3), std::runtime_error);
    EXPECT_THROW(DecodeQWord(kMarker + "=zz?=", 1), std::invalid_argument);
}

} // namespace
} // namespace tzn

namespace tzn {
namespace {

TEST(RecodeMessageHeaders, RecodesFromRecipientsAndSubject) {
    TMxMessage letter;
    letter.From() = TMxEMailAddressItem("=?ISO-8859-1?Q?=C0=C7=D1?=", "st@example.test");
    letter.Recipients.Add(TMxEMailAddressItem("=?iso-8859-1?q?=4F=66?=", "of@example.test"));
    letter.Recipients.Add(TMxEMailAddressItem("", "two@example.test"));
    letter.Subject = "TZN-=?ISO-8859-1?Q?12?=";
    std::vector<std::string> log;
    RecodeMessageHeaders(letter, [&](const std::string& l) { log.push_back(l); });
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(letter.From().Name, "\xC0\xC7\xD1");
    EXPECT_EQ(letter.From().Address, "st@example.test");
    ASSERT_EQ(letter.Recipients.Count(), 2u);
    EXPECT_EQ(letter.Recipients[0].Name, "Of");
    EXPECT_EQ(letter.Recipients[1].Address, "two@example.test");
    EXPECT_EQ(letter.Subject, "TZN-12");
}

TEST(RecodeMessageHeaders, UnparsableResultIsLoggedAndStopsThere) {
    TMxMessage letter;
    // Unescaped, the name becomes an address followed by a stray "@".
    letter.From() = TMxEMailAddressItem("=?ISO-8859-1?Q?=3Cq=40r=3E_s=40t?=", "a@b.c");
    letter.Subject = "=?ISO-8859-1?Q?=41?=";
    std::vector<std::string> log;
    RecodeMessageHeaders(letter, [&](const std::string& l) { log.push_back(l); });
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind(ru("Ошибка кодировки: "), 0), 0u) << log[0];
    EXPECT_NE(log[0].find("@ Outside address"), std::string::npos);
    EXPECT_EQ(letter.Subject, "=?ISO-8859-1?Q?=41?="); // not reached
    // Without a log (the store's scans) the same letter passes silently.
    EXPECT_NO_THROW(RecodeMessageHeaders(letter));
}

} // namespace
} // namespace tzn
