#include "store/header_recoding.h"

#include "mail/message.h"
#include "platform/cp1251.h"
#include "platform/text.h"

#include <stdexcept>

namespace tzn {

namespace {

constexpr std::string_view kMarker = "=?ISO-8859-1?Q?";
constexpr std::size_t kMarkerLength = 15;
constexpr std::size_t kHeaderLimit = 199; // from the first marker on
constexpr std::size_t kTailLimit = 99;    // after each terminator

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Copy(text, from, count) with a 1-based start, clipped to the text like the classic routine.
std::string Copy(const std::string& text, std::size_t from, std::size_t count) {
    if (from < 1 || from > text.size())
        return {};
    return text.substr(from - 1, count);
}

} // namespace

std::size_t FindQWordMarker(std::string_view text) {
    if (text.size() < kMarkerLength)
        return 0;
    for (std::size_t i = 0; i + kMarkerLength <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < kMarkerLength && AsciiUpper(text[i + k]) == kMarker[k])
            ++k;
        if (k == kMarkerLength)
            return i + 1;
    }
    return 0;
}

std::string HexToChar(std::string_view two) {
    const auto invalid = [&] {
        return std::invalid_argument("'$" + std::string(two) + "' is not a valid integer value");
    };
    if (two.empty() || two.size() > 2)
        throw invalid();
    int value = 0;
    for (char c : two) {
        const int d = HexDigitValue(c);
        if (d < 0)
            throw invalid();
        value = value * 16 + d;
    }
    return std::string(1, static_cast<char>(static_cast<unsigned char>(value)));
}

std::string DecodeQWord(const std::string& text, std::size_t p) {
    std::string out = Copy(text, 1, p > 0 ? p - 1 : 0);
    const std::size_t s = p + kMarkerLength;
    if (text.size() < s)
        return out;
    std::size_t consumedUpTo = 0;
    for (std::size_t i = s; i <= text.size(); ++i) {
        const char c = text[i - 1];
        if (c == '?' || i == text.size()) {
            // A word must end with "?=" before the text does; the last character can never
            // start a terminator.
            if (i == text.size())
                throw std::runtime_error("Encoded word without terminator");
            if (text[i] == '=') {
                out += Copy(text, i + 2, kTailLimit);
                return out;
            }
        }
        if (c == '=' && i > consumedUpTo) {
            out += HexToChar(std::string_view(text).substr(i, 2));
            consumedUpTo = i + 2;
        } else if (i > consumedUpTo) {
            out += c;
        }
    }
    return out; // not reached: the loop either returns or throws
}

std::string RecodeHeaderText(const std::string& text) {
    try {
        std::size_t p = FindQWordMarker(text);
        std::string result;
        if (p > 1)
            result = Copy(text, 1, p - 1);
        result += Copy(text, p == 0 ? 1 : p, kHeaderLimit);
        while (p != 0) {
            result = DecodeQWord(result, p);
            p = FindQWordMarker(result);
        }
        return result;
    } catch (const std::exception&) {
        return text;
    }
}

void RecodeMessageHeaders(TMxMessage& letter, const TRecodeErrorLog& log) {
    try {
        TMxEMailAddressItem& from = letter.From();
        from.SetText(RecodeHeaderText(from.Text()));
        letter.Recipients.SetEMailAddresses(RecodeHeaderText(letter.Recipients.EMailAddresses()));
        letter.Subject = RecodeHeaderText(letter.Subject);
    } catch (const std::exception& e) {
        if (log)
            log(ru("Ошибка кодировки: ") + e.what());
    }
}

} // namespace tzn
