#include "module/password.h"

#include "platform/cp1251.h"

#include <gtest/gtest.h>

namespace tzn {
namespace {

// Expected stored forms were worked out by hand from the fixed phrase and the key rule.
TEST(Password, StoredFormIsByteExact) {
    EXPECT_EQ(EncodePassword("user", "secret"), "6A7768747575");
    EXPECT_EQ(EncodePassword(ru("Иван"), ru("Пароль")), "6B637E77466C");
    // 40 bytes: the 31-byte key repeats from position 31 on.
    EXPECT_EQ(EncodePassword("station12", std::string(40, 'A')),
              "5E544E414D5C410317405C464147584A02105D59445D495C4D1F0145544C595E544E414D5C410317");
}

TEST(Password, RoundTripsAnyBytesIncludingZeroAndCyrillic) {
    const std::string pwd = ru("Пароль №1 ё") + std::string("\0\xFF\x80", 3);
    for (const std::string& name : {std::string("u"), ru("Пользователь"), std::string(50, 'x')}) {
        const std::string stored = EncodePassword(name, pwd);
        EXPECT_EQ(stored.size(), pwd.size() * 2);
        EXPECT_EQ(stored.find_first_not_of("0123456789ABCDEF"), std::string::npos);
        EXPECT_EQ(DecodePassword(name, stored), pwd);
    }
    // A byte equal to its key byte ('l' ^ 'u' = 0x19) scrambles to zero.
    EXPECT_EQ(EncodePassword("u", "\x19"), "00");
    EXPECT_EQ(ScrambleText("u", "\x19"), std::string(1, '\0'));
}

TEST(Password, EmptyNamesAndPasswords) {
    EXPECT_EQ(EncodePassword("", "secret"), "");
    EXPECT_EQ(DecodePassword("", "6A7768747575"), "");
    EXPECT_EQ(EncodePassword("user", ""), "");
    EXPECT_EQ(DecodePassword("user", ""), "");
}

TEST(Password, NamesBeyond31BytesDoNotMatter) {
    const std::string base(31, 'n');
    const std::string pwd(40, 'p'); // long enough to use every key byte
    EXPECT_EQ(EncodePassword(base + "tail", pwd), EncodePassword(base, pwd));
    // ...while the 31st byte of the name still counts.
    EXPECT_NE(EncodePassword(base.substr(0, 30) + "m", pwd), EncodePassword(base, pwd));
}

TEST(Password, WrongNameGivesAnotherTextOfTheSameLength) {
    const std::string stored = EncodePassword("alice", "secret");
    const std::string other = DecodePassword("bob", stored);
    EXPECT_EQ(other.size(), 6u);
    EXPECT_NE(other, "secret");
}

TEST(Password, DecodingToleratesLowerCaseOddLengthAndJunk) {
    EXPECT_EQ(DecodePassword("user", "6a7768747575"), "secret");
    EXPECT_EQ(DecodePassword("user", "6A77687475757"), "secret"); // trailing odd digit ignored
    EXPECT_EQ(DecodePassword("user", "6A77ZZ747575"), "se");      // cut at the first non-hex pair
    EXPECT_EQ(ScrambleText("k", ScrambleText("k", "abc")), "abc");
}

} // namespace
} // namespace tzn
