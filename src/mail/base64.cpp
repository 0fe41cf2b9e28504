// Base64 (RFC 2045). Every data file the stations send passes through here, so both
// directions are table-driven: the encoder turns 12 input bits into two characters with
// one lookup and six bytes into eight characters per step; the decoder turns four
// characters into three bytes with four lookups and falls back to a careful path only at
// line breaks, padding and stray characters.
#include <atomic>
#include <bit>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <cstring>
#include <istream>

#include "mail/codecs.h"

namespace tzn {

static_assert(std::endian::native == std::endian::little, "tables assume little-endian");

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint32_t kBad = 0x01000000u;

struct TMxBase64Tables {
    uint16_t Pair[4096]; // 12 bits -> two characters, first in the low byte
    uint32_t D0[256], D1[256], D2[256], D3[256];
    signed char Value[256];
    TMxBase64Tables() {
        for (int i = 0; i < 4096; ++i)
            Pair[i] = static_cast<uint16_t>(static_cast<unsigned char>(kAlphabet[i >> 6]) |
                                            static_cast<unsigned char>(kAlphabet[i & 63]) << 8);
        for (int i = 0; i < 256; ++i) {
            Value[i] = -1;
            D0[i] = D1[i] = D2[i] = D3[i] = kBad;
        }
        for (uint32_t v = 0; v < 64; ++v) {
            unsigned char c = static_cast<unsigned char>(kAlphabet[v]);
            Value[c] = static_cast<signed char>(v);
            D0[c] = v << 18;
            D1[c] = v << 12;
            D2[c] = v << 6;
            D3[c] = v;
        }
    }
};
const TMxBase64Tables kT;

inline void Put2(char* out, uint32_t twelveBits) {
    std::memcpy(out, &kT.Pair[twelveBits], 2);
}

// Six bytes (read as eight, so two bytes past them must be readable) into eight characters.
inline void Encode6(const unsigned char* in, char* out) {
    uint64_t v;
    std::memcpy(&v, in, 8);
    v = __builtin_bswap64(v);
    uint64_t o = static_cast<uint64_t>(kT.Pair[(v >> 52) & 0xfff]) |
                 static_cast<uint64_t>(kT.Pair[(v >> 40) & 0xfff]) << 16 |
                 static_cast<uint64_t>(kT.Pair[(v >> 28) & 0xfff]) << 32 |
                 static_cast<uint64_t>(kT.Pair[(v >> 16) & 0xfff]) << 48;
    std::memcpy(out, &o, 8);
}

inline void Encode3(const unsigned char* in, char* out) {
    uint32_t v = static_cast<uint32_t>(in[0]) << 16 | static_cast<uint32_t>(in[1]) << 8 | in[2];
    Put2(out, v >> 12);
    Put2(out + 2, v & 0xfff);
}

// The last one or two bytes, padded.
inline void EncodeTail(const unsigned char* in, size_t n, char* out) {
    uint32_t v =
        static_cast<uint32_t>(in[0]) << 16 | (n > 1 ? static_cast<uint32_t>(in[1]) << 8 : 0);
    out[0] = kAlphabet[v >> 18];
    out[1] = kAlphabet[(v >> 12) & 63];
    out[2] = n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    out[3] = '=';
}

// One full line: 57 bytes into 76 characters.
void EncodeLine57Scalar(const unsigned char* in, char* out) {
    for (int i = 0; i < 9; ++i)
        Encode6(in + 6 * i, out + 8 * i);
    Encode3(in + 54, out + 72);
}

#if defined(__x86_64__)
// Twelve bytes (read as sixteen) into sixteen characters with byte shuffles: the bits are
// spread into 6-bit fields by a shuffle and two multiplies, and the fields turned into
// characters by a range-offset lookup, all sixteen at once.
__attribute__((target("ssse3"))) inline void Encode12(const unsigned char* in, char* out) {
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i spread =
        _mm_shuffle_epi8(raw, _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1));
    const __m128i hi = _mm_mulhi_epu16(_mm_and_si128(spread, _mm_set1_epi32(0x0fc0fc00)),
                                       _mm_set1_epi32(0x04000040));
    const __m128i lo = _mm_mullo_epi16(_mm_and_si128(spread, _mm_set1_epi32(0x003f03f0)),
                                       _mm_set1_epi32(0x01000010));
    const __m128i idx = _mm_or_si128(hi, lo);
    __m128i range = _mm_subs_epu8(idx, _mm_set1_epi8(51));
    const __m128i upper = _mm_cmpgt_epi8(_mm_set1_epi8(26), idx);
    range = _mm_or_si128(range, _mm_and_si128(upper, _mm_set1_epi8(13)));
    const __m128i offsets =
        _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                      '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
    const __m128i chars = _mm_add_epi8(_mm_shuffle_epi8(offsets, range), idx);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), chars);
}

__attribute__((target("ssse3"))) void EncodeLine57Ssse3(const unsigned char* in, char* out) {
    for (int i = 0; i < 4; ++i)
        Encode12(in + 12 * i, out + 16 * i);
    Encode6(in + 48, out + 64);
    Encode3(in + 54, out + 72);
}

// Bulk of an unbroken encoding; leaves fewer than 16 bytes for the caller.
__attribute__((target("ssse3"))) size_t EncodeBulkSsse3(const unsigned char* in, size_t n,
                                                        char* out) {
    size_t done = 0;
    for (; n - done >= 16; done += 12, out += 16)
        Encode12(in + done, out);
    return done;
}

const bool kCpuHasSsse3 = __builtin_cpu_supports("ssse3");
#else
const bool kCpuHasSsse3 = false;
void EncodeLine57Ssse3(const unsigned char* in, char* out) {
    EncodeLine57Scalar(in, out);
}
size_t EncodeBulkSsse3(const unsigned char*, size_t, char*) {
    return 0;
}
#endif

// On when the processor has the instructions; tests and benchmarks may turn it off to
// check the portable paths.
std::atomic<bool> UseSsse3{kCpuHasSsse3};

inline void EncodeLine57(const unsigned char* in, char* out) {
    if (UseSsse3.load(std::memory_order_relaxed))
        EncodeLine57Ssse3(in, out);
    else
        EncodeLine57Scalar(in, out);
}

struct TMxDecodeState {
    uint32_t Acc = 0;
    int Count = 0;
};

inline char* Put3(char* out, uint32_t x) {
    out[0] = static_cast<char>(x >> 16);
    out[1] = static_cast<char>(x >> 8);
    out[2] = static_cast<char>(x);
    return out + 3;
}

// What an unfinished group holds: two characters give one byte, three give two.
inline char* FlushPartial(TMxDecodeState& st, char* out) {
    if (st.Count == 2) {
        *out++ = static_cast<char>(st.Acc >> 4);
    } else if (st.Count == 3) {
        *out++ = static_cast<char>(st.Acc >> 10);
        *out++ = static_cast<char>(st.Acc >> 2);
    }
    st = TMxDecodeState{};
    return out;
}

inline uint32_t Quad(const unsigned char* s) {
    return kT.D0[s[0]] | kT.D1[s[1]] | kT.D2[s[2]] | kT.D3[s[3]];
}

// Eight characters into six bytes (stored as eight); false, with nothing kept, when one of
// them is not in the alphabet.
inline bool Decode8(const unsigned char* s, char* out) {
    const uint32_t x = Quad(s), y = Quad(s + 4);
    const uint64_t v = __builtin_bswap64((static_cast<uint64_t>(x) << 24 | y) << 16);
    std::memcpy(out, &v, 8);
    return !((x | y) & kBad);
}

// A whole attachment line: 76 characters and CR LF, checked once at the end.
inline bool DecodeLine76(const unsigned char* s, char* out) {
    uint32_t bad = 0;
    for (int k = 0; k < 9; ++k) {
        const uint32_t x = Quad(s + 8 * k), y = Quad(s + 8 * k + 4);
        bad |= x | y;
        const uint64_t v = __builtin_bswap64((static_cast<uint64_t>(x) << 24 | y) << 16);
        std::memcpy(out + 6 * k, &v, 8);
    }
    const uint32_t z = Quad(s + 72);
    bad |= z;
    const uint32_t w = __builtin_bswap32(z << 8);
    std::memcpy(out + 54, &w, 4);
    return !(bad & kBad) && s[76] == '\r' && s[77] == '\n';
}

#if defined(__x86_64__)
// Sixteen characters into twelve bytes (stored as sixteen): each character's value comes
// from the range it falls in, the ranges tested all at once; false when any of them is
// outside the alphabet (nothing is kept then).
__attribute__((target("ssse3"))) inline bool Decode16(const unsigned char* s, char* out) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    auto in = [&](char lo, char hi) {
        return _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8(static_cast<char>(lo - 1))),
                             _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(hi + 1)), c));
    };
    const __m128i upper = in('A', 'Z'), lower = in('a', 'z'), digit = in('0', '9');
    const __m128i plus = _mm_cmpeq_epi8(c, _mm_set1_epi8('+'));
    const __m128i slash = _mm_cmpeq_epi8(c, _mm_set1_epi8('/'));
    const __m128i valid =
        _mm_or_si128(_mm_or_si128(upper, lower), _mm_or_si128(_mm_or_si128(digit, plus), slash));
    if (_mm_movemask_epi8(valid) != 0xFFFF)
        return false;
    const __m128i shift =
        _mm_or_si128(_mm_or_si128(_mm_and_si128(upper, _mm_set1_epi8(-65)),
                                  _mm_and_si128(lower, _mm_set1_epi8(-71))),
                     _mm_or_si128(_mm_and_si128(digit, _mm_set1_epi8(4)),
                                  _mm_or_si128(_mm_and_si128(plus, _mm_set1_epi8(19)),
                                               _mm_and_si128(slash, _mm_set1_epi8(16)))));
    const __m128i values = _mm_add_epi8(c, shift);
    // a*64 + b and c*64 + d per 16 bits, then those two joined into 24 bits per 32.
    const __m128i pairs = _mm_maddubs_epi16(values, _mm_set1_epi32(0x01400140));
    const __m128i words = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
    const __m128i bytes = _mm_shuffle_epi8(
        words, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    return true;
}

__attribute__((target("ssse3"))) inline bool DecodeLine76Ssse3(const unsigned char* s, char* out) {
    if (s[76] != '\r' || s[77] != '\n')
        return false;
    for (int k = 0; k < 4; ++k)
        if (!Decode16(s + 16 * k, out + 12 * k))
            return false;
    const uint32_t last = Quad(s + 72);
    if (!Decode8(s + 64, out + 48) || (last & kBad))
        return false;
    Put3(out + 54, last);
    return true;
}

// The fast paths with sixteen characters a step; returns how far it got.
__attribute__((target("ssse3"))) size_t DecodeRunSsse3(const unsigned char* s, size_t n,
                                                       char*& out) {
    size_t i = 0;
    while (i + 78 <= n && DecodeLine76Ssse3(s + i, out)) {
        out += 57;
        i += 78;
    }
    while (i + 16 <= n && Decode16(s + i, out)) {
        out += 12;
        i += 16;
    }
    return i;
}
#else
size_t DecodeRunSsse3(const unsigned char*, size_t, char*&) {
    return 0;
}
#endif

// Decodes `n` characters into `out`, which must have room for n / 4 * 3 + 8 bytes (the
// fast paths store a little past what they keep); returns the end of the decoded bytes.
char* DecodeCore(const unsigned char* s, size_t n, TMxDecodeState& st, char* out) {
    size_t i = 0;
    while (i < n) {
        if (st.Count == 0) {
            if (UseSsse3.load(std::memory_order_relaxed))
                i += DecodeRunSsse3(s + i, n - i, out);
            while (i + 78 <= n && DecodeLine76(s + i, out)) {
                out += 57;
                i += 78;
            }
            while (i + 8 <= n && Decode8(s + i, out)) {
                out += 6;
                i += 8;
            }
            while (i + 4 <= n) {
                const uint32_t x = Quad(s + i);
                if (x & kBad)
                    break;
                const uint32_t v = __builtin_bswap32(x << 8);
                std::memcpy(out, &v, 4);
                out += 3;
                i += 4;
            }
            if (i >= n)
                break;
            if (s[i] == '\r' && i + 1 < n && s[i + 1] == '\n') {
                i += 2;
                continue;
            }
        }
        unsigned char c = s[i++];
        int v = kT.Value[c];
        if (v >= 0) {
            st.Acc = st.Acc << 6 | static_cast<uint32_t>(v);
            if (++st.Count == 4) {
                out = Put3(out, st.Acc);
                st = TMxDecodeState{};
            }
        } else if (c == '=') {
            out = FlushPartial(st, out);
        }
        // Anything else (line breaks, blanks, stray characters) is skipped.
    }
    return out;
}

} // namespace

bool SetBase64VectorPaths(bool on) {
    return UseSsse3.exchange(on && kCpuHasSsse3);
}

size_t Base64EncodedLength(size_t n) {
    return (n + 2) / 3 * 4;
}

size_t Base64DecodeRoom(size_t textLength) {
    return textLength / 4 * 3 + 8;
}

size_t EncodeBase64To(const unsigned char* in, size_t n, char* out) {
    char* o = out;
    if (UseSsse3.load(std::memory_order_relaxed) && n >= 16) {
        size_t done = EncodeBulkSsse3(in, n, o);
        in += done;
        n -= done;
        o += done / 3 * 4;
    }
    while (n >= 8) {
        Encode6(in, o);
        in += 6;
        n -= 6;
        o += 8;
    }
    while (n >= 3) {
        Encode3(in, o);
        in += 3;
        n -= 3;
        o += 4;
    }
    if (n) {
        EncodeTail(in, n, o);
        o += 4;
    }
    return static_cast<size_t>(o - out);
}

std::string EncodeBase64(std::string_view data) {
    std::string out(Base64EncodedLength(data.size()), '\0');
    EncodeBase64To(reinterpret_cast<const unsigned char*>(data.data()), data.size(), out.data());
    return out;
}

size_t Base64LinesLength(size_t n) {
    const size_t rest = n % kMxBase64LineBytes;
    return n / kMxBase64LineBytes * 78 + (rest ? Base64EncodedLength(rest) + 2 : 0);
}

size_t EncodeBase64LinesTo(const unsigned char* in, size_t n, char* out) {
    char* o = out;
    for (; n >= kMxBase64LineBytes; n -= kMxBase64LineBytes) {
        EncodeLine57(in, o);
        o[76] = '\r';
        o[77] = '\n';
        in += kMxBase64LineBytes;
        o += 78;
    }
    if (n) {
        o += EncodeBase64To(in, n, o);
        *o++ = '\r';
        *o++ = '\n';
    }
    return static_cast<size_t>(o - out);
}

void EncodeBase64Lines(std::string_view data, std::string& out) {
    const size_t old = out.size();
    out.resize(old + Base64LinesLength(data.size()));
    EncodeBase64LinesTo(reinterpret_cast<const unsigned char*>(data.data()), data.size(),
                        out.data() + old);
}

size_t DecodeBase64To(std::string_view text, char* out) {
    TMxDecodeState st;
    char* end =
        DecodeCore(reinterpret_cast<const unsigned char*>(text.data()), text.size(), st, out);
    return static_cast<size_t>(FlushPartial(st, end) - out);
}

std::string DecodeBase64(std::string_view text) {
    std::string out(Base64DecodeRoom(text.size()), '\0');
    TMxDecodeState st;
    char* end = DecodeCore(reinterpret_cast<const unsigned char*>(text.data()), text.size(), st,
                           out.data());
    end = FlushPartial(st, end);
    out.resize(static_cast<size_t>(end - out.data()));
    return out;
}

// ---- streaming ---------------------------------------------------------------------------

bool TMxDecoderMIME::DecodeLine(std::string_view line) {
    FBuf.resize(Base64DecodeRoom(line.size()));
    TMxDecodeState st{FAcc, FCount};
    char* end = DecodeCore(reinterpret_cast<const unsigned char*>(line.data()), line.size(), st,
                           FBuf.data());
    FAcc = st.Acc;
    FCount = st.Count;
    if (end != FBuf.data())
        FSink.Write(std::string_view(FBuf.data(), static_cast<size_t>(end - FBuf.data())));
    return true;
}

void TMxDecoderMIME::Finish() {
    char tail[3];
    TMxDecodeState st{FAcc, FCount};
    char* end = FlushPartial(st, tail);
    FAcc = 0;
    FCount = 0;
    if (end != tail)
        FSink.Write(std::string_view(tail, static_cast<size_t>(end - tail)));
}

void TMxEncoderMIME::EncodeBytes(std::string_view data, const TMxLineSink& out) {
    char line[80];
    auto in = reinterpret_cast<const unsigned char*>(data.data());
    size_t n = data.size();
    while (n >= kMxBase64LineBytes) {
        EncodeLine57(in, line);
        out(std::string_view(line, 76));
        in += kMxBase64LineBytes;
        n -= kMxBase64LineBytes;
    }
    if (n)
        out(std::string_view(line, EncodeBase64To(in, n, line)));
}

void TMxEncoderMIME::Encode(std::istream& in, const TMxLineSink& out) {
    constexpr size_t kChunk = kMxBase64LineBytes * 1024; // whole lines per read
    std::string buf(kChunk, '\0');
    for (;;) {
        // Fill the chunk completely unless the stream ends, so only the last line is short.
        size_t have = 0;
        while (have < kChunk) {
            std::streamsize got =
                in.rdbuf()->sgetn(buf.data() + have, static_cast<std::streamsize>(kChunk - have));
            if (got <= 0)
                break;
            have += static_cast<size_t>(got);
        }
        if (have)
            EncodeBytes(std::string_view(buf.data(), have), out);
        if (have < kChunk)
            break;
    }
}

} // namespace tzn
