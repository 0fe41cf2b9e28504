// Encoded words in header values (RFC 2047) the way this system writes and reads them.
#include "mail/header_coding.h"

#include <algorithm>
#include <iconv.h>

#include "mail/codecs.h"
#include "mail/exceptions.h"
#include "mail/message_limits.h"
#include "mail/text_util.h"
#include "platform/cp1251.h"
#include "platform/datetime.h"
#include "platform/text.h"

namespace tzn {

namespace {

constexpr int kLangChinese = 0x04;
constexpr int kLangJapanese = 0x11;
constexpr int kLangKorean = 0x12;
constexpr int kLangRussian = 0x19;
constexpr int kLangUkrainian = 0x22;
constexpr int kSubLangChineseSimplified = 0x02;
constexpr size_t kMaxEncodedWord = 75;
constexpr char kHex[] = "0123456789ABCDEF";

bool IsWordBreak(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsForcing(unsigned char c, std::string_view specials) {
    return c < 32 || c >= 127 || c == '?' || c == '=' || c == '_' ||
           specials.find(static_cast<char>(c)) != std::string_view::npos;
}

std::string Recode(std::string_view text, const char* to, const char* from) {
    iconv_t cd = ::iconv_open(to, from);
    // iconv reports failure as the handle (iconv_t)-1.
    if (cd == reinterpret_cast<iconv_t>(-1)) // NOLINT(performance-no-int-to-ptr)
        return std::string(text);
    std::string out(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* o = out.data();
    size_t outLeft = out.size();
    size_t rc = ::iconv(cd, &in, &inLeft, &o, &outLeft);
    bool ok = rc != static_cast<size_t>(-1) &&
              ::iconv(cd, nullptr, nullptr, &o, &outLeft) != static_cast<size_t>(-1);
    ::iconv_close(cd);
    if (!ok)
        return std::string(text);
    out.resize(out.size() - outLeft);
    return out;
}

// The data of B words: whole groups of three bytes per word, padding only at the end.
void AppendBWords(std::string_view run, const std::string& prefix, std::string& out) {
    size_t maxData = kMaxEncodedWord > prefix.size() + 2 ? kMaxEncodedWord - prefix.size() - 2 : 4;
    size_t bytesPerWord = std::max<size_t>(1, maxData / 4) * 3;
    for (size_t pos = 0; pos < run.size() || pos == 0; pos += bytesPerWord) {
        if (pos)
            out += "\r\n ";
        out += prefix;
        out += EncodeBase64(run.substr(pos, bytesPerWord));
        out += "?=";
        if (run.empty())
            break;
    }
}

void AppendQWords(std::string_view run, std::string_view specials, const std::string& prefix,
                  std::string& out) {
    std::string word = prefix;
    for (unsigned char c : run) {
        char tok[3];
        size_t len = 1;
        if (c == ' ') {
            tok[0] = '_';
        } else if (IsForcing(c, specials)) {
            tok[0] = '=';
            tok[1] = kHex[c >> 4];
            tok[2] = kHex[c & 15];
            len = 3;
        } else {
            tok[0] = static_cast<char>(c);
        }
        if (word.size() + len + 2 > kMaxEncodedWord && word.size() > prefix.size()) {
            out += word;
            out += "?=\r\n ";
            word = prefix;
        }
        word.append(tok, len);
    }
    out += word;
    out += "?=";
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (AnsiUpperChar(s[i]) != prefix[i])
            return false;
    return true;
}

// Decodes one encoded word starting at `pos` ("=?"); false when none is there or its
// label is not one we decode. `end` is the position after "?=".
bool DecodeWordAt(std::string_view v, size_t pos, size_t& end, std::string& decoded, bool& known) {
    size_t q1 = v.find('?', pos + 2);
    if (q1 == std::string_view::npos || q1 + 2 >= v.size() || v[q1 + 2] != '?')
        return false;
    // The label first: a text of many "=? ?Q?" starts must not search for a close each time.
    std::string_view label = v.substr(pos + 2, q1 - pos - 2);
    if (label.empty() || label.find_first_of(" \t\r\n") != std::string_view::npos)
        return false;
    size_t close = v.find("?=", q1 + 3);
    if (close == std::string_view::npos)
        return false;
    end = close + 2;
    known = StartsWithNoCase(label, "ISO") || StartsWithNoCase(label, "WINDOWS") ||
            StartsWithNoCase(label, "KOI8");
    if (!known)
        return true;
    char method = v[q1 + 1];
    std::string_view data = v.substr(q1 + 3, close - q1 - 3);
    decoded.clear();
    if (method == 'Q' || method == 'q') {
        for (size_t i = 0; i < data.size(); ++i) {
            char c = data[i];
            if (c == '_') {
                decoded += ' ';
            } else if (c == '=' && i + 2 < data.size() && HexDigitValue(data[i + 1]) >= 0 &&
                       HexDigitValue(data[i + 2]) >= 0) {
                decoded +=
                    static_cast<char>(HexDigitValue(data[i + 1]) << 4 | HexDigitValue(data[i + 2]));
                i += 2;
            } else {
                decoded += c;
            }
        }
    } else {
        decoded = DecodeBase64(data);
    }
    if (AnsiSameText(label, "ISO-2022-JP"))
        decoded = ConvertFromISO2022JP(decoded);
    return true;
}

} // namespace

TMxHeaderEncoding HeaderEncodingParamsFor(int languageId, bool encodeWords) {
    TMxHeaderEncoding e;
    const int primary = languageId & 0x3ff;
    const int sub = languageId >> 10;
    switch (primary) {
    case kLangRussian:
        e.CharSet = "KOI8-R";
        break;
    case kLangUkrainian:
        e.CharSet = "windows-1251";
        break;
    case kLangJapanese:
        e.CharSet = "ISO-2022-JP";
        e.ConvertToISO2022JP = true;
        break;
    case kLangKorean:
        e.CharSet = "csEUCKR";
        break;
    case kLangChinese:
        e.CharSet = sub == kSubLangChineseSimplified ? "GB2312" : "Big5";
        break;
    default:
        e.CharSet = "ISO-8859-1";
        e.Method = TMxHeaderMethod::Q;
        break;
    }
    if (!encodeWords)
        e.Method = TMxHeaderMethod::Raw8Bit;
    return e;
}

TMxHeaderEncoding HeaderEncodingParams(bool encodeWords) {
    return HeaderEncodingParamsFor(Formats().PrimaryLanguage, encodeWords);
}

std::string EncodeHeader(std::string_view text, std::string_view specials, TMxHeaderMethod method,
                         std::string_view charSet, bool convertToISO2022JP) {
    std::string converted;
    if (convertToISO2022JP) {
        converted = ConvertToISO2022JP(text);
        text = converted;
    }
    if (method == TMxHeaderMethod::Raw8Bit)
        return std::string(text);

    // The run to encode: from the first word holding a forcing character to the end of the
    // last such word.
    size_t runStart = std::string_view::npos, runEnd = 0;
    for (size_t i = 0; i < text.size();) {
        while (i < text.size() && IsWordBreak(text[i]))
            ++i;
        size_t w = i;
        bool forcing = false;
        while (i < text.size() && !IsWordBreak(text[i])) {
            forcing = forcing || IsForcing(static_cast<unsigned char>(text[i]), specials);
            ++i;
        }
        if (forcing) {
            if (runStart == std::string_view::npos)
                runStart = w;
            runEnd = i;
        }
    }
    if (runStart == std::string_view::npos)
        return std::string(text);

    std::string prefix =
        "=?" + std::string(charSet) + "?" + (method == TMxHeaderMethod::B ? "B" : "Q") + "?";
    std::string out(text.substr(0, runStart));
    std::string_view run = text.substr(runStart, runEnd - runStart);
    if (method == TMxHeaderMethod::B)
        AppendBWords(run, prefix, out);
    else
        AppendQWords(run, specials, prefix, out);
    out.append(text.substr(runEnd));
    return out;
}

namespace {

bool NeedsEncodedWord(std::string_view word) {
    for (unsigned char c : word)
        if (c < 32 || c >= 127)
            return true;
    // A bare word that looks like an encoded one would be decoded by the reader.
    return word.find("=?") != std::string_view::npos;
}

} // namespace

std::string EncodeHeaderWords(std::string_view text, std::string_view charSet) {
    const std::string prefix = "=?" + std::string(charSet) + "?B?";
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = pos;
        const bool blank = IsWordBreak(text[pos]);
        while (end < text.size() && IsWordBreak(text[end]) == blank)
            ++end;
        if (blank || !NeedsEncodedWord(text.substr(pos, end - pos))) {
            out.append(text.substr(pos, end - pos));
            pos = end;
            continue;
        }
        // The run goes on over blanks as long as the next word needs encoding too.
        size_t runEnd = end;
        for (;;) {
            size_t next = runEnd;
            while (next < text.size() && IsWordBreak(text[next]))
                ++next;
            size_t nextEnd = next;
            while (nextEnd < text.size() && !IsWordBreak(text[nextEnd]))
                ++nextEnd;
            if (next == runEnd || next == text.size() ||
                !NeedsEncodedWord(text.substr(next, nextEnd - next)))
                break;
            runEnd = nextEnd;
        }
        AppendBWords(text.substr(pos, runEnd - pos), prefix, out);
        pos = runEnd;
    }
    return out;
}

std::string EncodeDisplayName(std::string_view name, std::string_view charSet) {
    bool printable = true;
    for (unsigned char c : name)
        if (c < 0x20 || c > 0x7E)
            printable = false;
    if (printable)
        return QuotedString(std::string(name));
    std::string out;
    AppendBWords(name, "=?" + std::string(charSet) + "?B?", out);
    return out;
}

std::string EncodeHeader(std::string_view text, std::string_view specials, bool encodeWords) {
    TMxHeaderEncoding e = HeaderEncodingParams(encodeWords);
    return EncodeHeader(text, specials, e.Method, e.CharSet, e.ConvertToISO2022JP);
}

std::string DecodeHeader(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    size_t pos = 0;            // first input byte not yet copied
    bool afterDecoded = false; // the last thing copied was a decoded word
    std::string decoded;
    // No word can end after the last "?=": starts beyond it are not even looked at.
    const size_t lastClose = value.rfind("?=");
    const size_t lastStart = lastClose == std::string_view::npos ? 0 : lastClose;
    size_t words = 0;
    for (size_t p = value.find("=?"); p < lastStart; p = value.find("=?", p)) {
        size_t end = 0;
        bool known = false;
        if (!DecodeWordAt(value, p, end, decoded, known)) {
            p += 2;
            continue;
        }
        if (++words > kMxMaxEncodedWords)
            throw EMxLimitExceeded("More than " + std::to_string(kMxMaxEncodedWords) +
                                   " encoded words in one header.");
        if (!known) {
            // Left as it is; it separates what comes before from what follows.
            out.append(value.substr(pos, end - pos));
            pos = end;
            p = end;
            afterDecoded = false;
            continue;
        }
        std::string_view gap = value.substr(pos, p - pos);
        bool onlySpace = gap.find_first_not_of(" \t\r\n") == std::string_view::npos;
        if (!(afterDecoded && onlySpace))
            out.append(gap);
        out += decoded;
        pos = p = end;
        afterDecoded = true;
    }
    out.append(value.substr(pos));
    std::erase(out, '\0');
    return out;
}

std::string ConvertToISO2022JP(std::string_view text) {
    return Recode(text, "ISO-2022-JP", "CP932");
}

std::string ConvertFromISO2022JP(std::string_view text) {
    return Recode(text, "CP932", "ISO-2022-JP");
}

} // namespace tzn
