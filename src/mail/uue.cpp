// UUE and XXE: the line formats of attachments inside old plain-text letters. Each line
// starts with a character giving its byte count, then groups of four characters carry three
// bytes; the two differ only in their alphabet.
#include <algorithm>
#include <istream>

#include "mail/codecs.h"

namespace tzn {

namespace {

constexpr char kUUEAlphabet[] =
    "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
constexpr char kXXEAlphabet[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr size_t kBytesPerLine = 45;

} // namespace

TMxDecoderUUE::TMxDecoderUUE(TMxByteSink& sink) : TMxDecoderUUE(sink, kUUEAlphabet) {
    // Old encoders wrote a blank for zero.
    FTable[static_cast<unsigned char>(' ')] = 0;
}

TMxDecoderUUE::TMxDecoderUUE(TMxByteSink& sink, const char* alphabet) : TMxPartDecoder(sink) {
    for (signed char& t : FTable)
        t = -1;
    for (int i = 0; i < 64; ++i)
        FTable[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
}

TMxDecoderXXE::TMxDecoderXXE(TMxByteSink& sink) : TMxDecoderUUE(sink, kXXEAlphabet) {}

bool TMxDecoderUUE::DecodeLine(std::string_view line) {
    if (FEnded)
        return false;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    if (line.substr(0, 3) == "end" && (line.size() == 3 || line[3] == ' ')) {
        FEnded = true;
        return false;
    }
    if (line.empty())
        return true;
    int count = FTable[static_cast<unsigned char>(line[0])];
    if (count <= 0)
        return true; // the zero-length line before "end", or not a data line
    FBuf.clear();
    auto sextet = [&](size_t i) -> uint32_t {
        // Mailers strip trailing blanks: missing characters count as zero.
        if (i >= line.size())
            return 0;
        int v = FTable[static_cast<unsigned char>(line[i])];
        return v < 0 ? 0 : static_cast<uint32_t>(v);
    };
    for (size_t i = 1; static_cast<int>(FBuf.size()) < count; i += 4) {
        uint32_t v = sextet(i) << 18 | sextet(i + 1) << 12 | sextet(i + 2) << 6 | sextet(i + 3);
        char b[3] = {static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
        FBuf.append(b, std::min<size_t>(3, static_cast<size_t>(count) - FBuf.size()));
    }
    FSink.Write(FBuf);
    return true;
}

bool ParseUUEBeginLine(std::string_view line, std::string* fileName) {
    if (line.substr(0, 6) != "begin ")
        return false;
    size_t i = 6;
    size_t digits = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '7') {
        ++i;
        ++digits;
    }
    if (digits < 3 || digits > 4 || i >= line.size() || line[i] != ' ')
        return false;
    std::string_view name = line.substr(i + 1);
    while (!name.empty() && (name.back() == '\r' || name.back() == ' '))
        name.remove_suffix(1);
    if (name.empty())
        return false;
    if (fileName)
        *fileName = std::string(name);
    return true;
}

std::string DetectUUEKind(std::string_view firstDataLine) {
    if (!firstDataLine.empty() && firstDataLine[0] == 'h')
        return "XXE";
    for (char c : firstDataLine)
        if (c >= 'a' && c <= 'z')
            return "XXE"; // lower case exists only in the XXE alphabet
    return "UUE";
}

// ---- encoders ------------------------------------------------------------------------------

TMxEncoderUUE::TMxEncoderUUE() : FAlphabet(kUUEAlphabet) {}
TMxEncoderUUE::TMxEncoderUUE(const char* alphabet) : FAlphabet(alphabet) {}
TMxEncoderXXE::TMxEncoderXXE() : TMxEncoderUUE(kXXEAlphabet) {}

void TMxEncoderUUE::EncodeChunk(const unsigned char* p, size_t n, const TMxLineSink& out) {
    while (n > 0) {
        size_t len = std::min(n, kBytesPerLine);
        std::string line(1, FAlphabet[len]);
        for (size_t i = 0; i < len; i += 3) {
            uint32_t v = static_cast<uint32_t>(p[i]) << 16 |
                         (i + 1 < len ? static_cast<uint32_t>(p[i + 1]) << 8 : 0) |
                         (i + 2 < len ? p[i + 2] : 0);
            line += FAlphabet[v >> 18];
            line += FAlphabet[(v >> 12) & 63];
            line += FAlphabet[(v >> 6) & 63];
            line += FAlphabet[v & 63];
        }
        out(line);
        p += len;
        n -= len;
    }
}

void TMxEncoderUUE::EncodeBytes(std::string_view data, const TMxLineSink& out) {
    EncodeChunk(reinterpret_cast<const unsigned char*>(data.data()), data.size(), out);
    out(std::string(1, FAlphabet[0]));
    out("end");
}

void TMxEncoderUUE::Encode(std::istream& in, const TMxLineSink& out) {
    char buf[kBytesPerLine * 256];
    for (;;) {
        size_t have = 0;
        while (have < sizeof buf) {
            std::streamsize got = in.rdbuf()->sgetn(buf + have, sizeof buf - have);
            if (got <= 0)
                break;
            have += static_cast<size_t>(got);
        }
        EncodeChunk(reinterpret_cast<const unsigned char*>(buf), have, out);
        if (have < sizeof buf)
            break;
    }
    out(std::string(1, FAlphabet[0]));
    out("end");
}

} // namespace tzn
