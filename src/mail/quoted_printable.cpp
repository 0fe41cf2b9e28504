// Quoted-printable (RFC 2045) as the letters of this system use it: each line encoded on
// its own, soft breaks keeping lines within 76 characters, and a leading "." always
// escaped so that no encoded line can be taken for the end of a message.
#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <istream>

#include "mail/codecs.h"

namespace tzn {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// 0: written as it is; 1: always "=XX"; 2: blank or tab (escaped only at the line's end).
struct TMxQPTables {
    unsigned char Class[256];
    signed char Hex[256];
    TMxQPTables() {
        for (int c = 0; c < 256; ++c) {
            Class[c] = (c >= '!' && c <= '~' && c != '=') ? 0 : 1;
            Hex[c] = -1;
        }
        Class[static_cast<unsigned char>(' ')] = 2;
        Class[static_cast<unsigned char>('\t')] = 2;
        for (int i = 0; i < 10; ++i)
            Hex['0' + i] = static_cast<signed char>(i);
        for (int i = 0; i < 6; ++i) {
            Hex['A' + i] = static_cast<signed char>(10 + i);
            Hex['a' + i] = static_cast<signed char>(10 + i);
        }
    }
};
const TMxQPTables kQ;

// Room for the encoded form of `n` bytes: three characters each at most, plus "=\r\n"
// for every soft break.
size_t QPLineRoom(size_t n) {
    return n * 3 + (n * 3 / 68 + 2) * 3;
}

// True when all 16 bytes may be copied as they are in the middle of a line: "!".."~"
// except "=", and blank and tab (which only the line's last byte must escape).
inline bool SixteenPlain(const unsigned char* p) {
#if defined(__SSE2__)
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i inRange = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(0x1F)),
                                          _mm_cmplt_epi8(v, _mm_set1_epi8(0x7F)));
    const __m128i plain =
        _mm_or_si128(_mm_andnot_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('=')), inRange),
                     _mm_cmpeq_epi8(v, _mm_set1_epi8('\t')));
    return _mm_movemask_epi8(plain) == 0xFFFF;
#else
    for (int k = 0; k < 16; ++k)
        if (kQ.Class[p[k]] == 1)
            return false;
    return true;
#endif
}

// An encoded line is left whole while it fits in 74 characters; a longer one is broken
// into pieces of at most 71 characters plus the soft-break "=", the shape every letter
// this system writes has always had.
constexpr size_t kQPWholeLine = 74;
constexpr size_t kQPPiece = 71;

// Encodes one line into `o` (QPLineRoom bytes); soft breaks are "=\r\n", no final line
// break. Returns the end. Each output line is written greedily up to 74 characters; when
// the input does not end by then, the line is cut back to where it passed 71.
char* EncodeQPLineTo(const unsigned char* s, size_t n, char* o) {
    char* lineStart = o;
    char* cutOut = nullptr; // where the output line first passed 71, and its input index
    size_t cutIn = 0;
    size_t i = 0;
    while (i < n) {
        const size_t col = static_cast<size_t>(o - lineStart);
        // Sixteen at a time while they are plain, not at the line's start (a leading ".")
        // and not the line's last byte (a trailing blank), and stay within 71.
        if (col != 0 && col + 16 <= kQPPiece && i + 16 < n && SixteenPlain(s + i)) {
            std::memcpy(o, s + i, 16);
            o += 16;
            i += 16;
            continue;
        }
        const unsigned char c = s[i];
        const unsigned cls = kQ.Class[c];
        const bool literal = (cls == 0 || (cls == 2 && i + 1 < n)) && !(c == '.' && col == 0);
        const size_t width = literal ? 1 : 3;
        if (col + width > kQPPiece && cutOut == nullptr) {
            cutOut = o;
            cutIn = i;
        }
        if (col + width > kQPWholeLine) {
            o = cutOut;
            i = cutIn;
            *o++ = '=';
            *o++ = '\r';
            *o++ = '\n';
            lineStart = o;
            cutOut = nullptr;
            continue;
        }
        if (literal) {
            *o++ = static_cast<char>(c);
        } else {
            o[0] = '=';
            o[1] = kHex[c >> 4];
            o[2] = kHex[c & 15];
            o += 3;
        }
        ++i;
    }
    return o;
}

void AppendQPLine(std::string_view line, std::string& out) {
    const size_t old = out.size();
    out.resize(old + QPLineRoom(line.size()));
    char* end = EncodeQPLineTo(reinterpret_cast<const unsigned char*>(line.data()), line.size(),
                               out.data() + old);
    out.resize(static_cast<size_t>(end - out.data()));
}

// Decodes one encoded line (without its break) onto `out`; true when it ends in a soft
// break. Trailing blanks a transport may have added are ignored; a "=" not followed by two
// hexadecimal digits is kept as it is.
bool AppendQPDecodedLine(std::string_view line, std::string& out) {
    size_t n = line.size();
    while (n > 0 && (line[n - 1] == ' ' || line[n - 1] == '\t'))
        --n;
    bool soft = n > 0 && line[n - 1] == '=';
    if (soft)
        --n;
    const size_t old = out.size();
    out.resize(old + n);
    char* o = out.data() + old;
    const char* s = line.data();
    size_t i = 0;
    while (i < n) {
        const char* eq = static_cast<const char*>(std::memchr(s + i, '=', n - i));
        size_t run = (eq ? static_cast<size_t>(eq - s) : n) - i;
        std::memcpy(o, s + i, run);
        o += run;
        i += run;
        if (i >= n)
            break;
        int h = i + 2 < n ? kQ.Hex[static_cast<unsigned char>(s[i + 1])] : -1;
        int l = i + 2 < n ? kQ.Hex[static_cast<unsigned char>(s[i + 2])] : -1;
        if (h >= 0 && l >= 0) {
            *o++ = static_cast<char>(h << 4 | l);
            i += 3;
        } else {
            *o++ = '=';
            ++i;
        }
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return soft;
}

} // namespace

void EncodeQPLine(std::string_view line, const TMxLineSink& out) {
    std::string enc;
    AppendQPLine(line, enc);
    size_t start = 0;
    for (;;) {
        size_t br = enc.find("\r\n", start);
        if (br == std::string::npos) {
            out(std::string_view(enc).substr(start));
            return;
        }
        out(std::string_view(enc).substr(start, br - start));
        start = br + 2;
    }
}

std::string EncodeQuotedPrintable(std::string_view text) {
    // Sized for mostly plain text and grown when a line could not fit, so the result is
    // written in place without a worst-case buffer or a final copy.
    std::string out(text.size() + text.size() / 8 + 64, '\0');
    size_t pos = 0;
    auto s = reinterpret_cast<const unsigned char*>(text.data());
    size_t start = 0;
    for (;;) {
        size_t br = text.find("\r\n", start);
        size_t end = br == std::string_view::npos ? text.size() : br;
        size_t room = QPLineRoom(end - start) + 2;
        if (out.size() - pos < room)
            out.resize(std::max(out.size() * 2, pos + room));
        char* o = EncodeQPLineTo(s + start, end - start, out.data() + pos);
        pos = static_cast<size_t>(o - out.data());
        if (br == std::string_view::npos)
            break;
        out[pos++] = '\r';
        out[pos++] = '\n';
        start = br + 2;
    }
    out.resize(pos);
    return out;
}

std::string DecodeQuotedPrintable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t start = 0;
    bool pendingBreak = false;
    for (;;) {
        size_t lf = text.find('\n', start);
        std::string_view line =
            text.substr(start, lf == std::string_view::npos ? text.npos : lf - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (pendingBreak)
            out.append("\r\n", 2);
        pendingBreak = !AppendQPDecodedLine(line, out);
        if (lf == std::string_view::npos)
            break;
        start = lf + 1;
    }
    return out;
}

bool TMxDecoderQuotedPrintable::DecodeLine(std::string_view line) {
    FBuf.clear();
    if (FPendingBreak)
        FBuf.append("\r\n", 2);
    FPendingBreak = !AppendQPDecodedLine(line, FBuf);
    if (!FBuf.empty())
        FSink.Write(FBuf);
    return true;
}

void TMxEncoderQuotedPrintable::EncodeBytes(std::string_view data, const TMxLineSink& out) {
    size_t start = 0;
    for (;;) {
        size_t br = data.find("\r\n", start);
        EncodeQPLine(data.substr(start, br == std::string_view::npos ? data.npos : br - start),
                     out);
        if (br == std::string_view::npos)
            return;
        start = br + 2;
    }
}

void TMxEncoderQuotedPrintable::Encode(std::istream& in, const TMxLineSink& out) {
    // Lines are encoded as they complete; only the unfinished line is kept.
    std::string pending;
    char buf[65536];
    for (;;) {
        std::streamsize got = in.rdbuf()->sgetn(buf, sizeof buf);
        if (got <= 0)
            break;
        size_t scanFrom = pending.empty() ? 0 : pending.size() - 1;
        pending.append(buf, static_cast<size_t>(got));
        size_t start = 0;
        for (;;) {
            size_t br = pending.find("\r\n", std::max(start, scanFrom));
            if (br == std::string::npos)
                break;
            EncodeQPLine(std::string_view(pending).substr(start, br - start), out);
            start = br + 2;
        }
        pending.erase(0, start);
    }
    EncodeQPLine(pending, out);
}

} // namespace tzn
