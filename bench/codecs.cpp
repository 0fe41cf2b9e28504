// Base64 and quoted-printable throughput on 64 MiB, against OpenSSL's block coder in the
// same run. Our base64 is measured with its line breaks (76-character lines, CR LF), as
// letters carry it; the peer is measured both on the same line shape (one call per line)
// and on one unbroken block, its best case.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>

#include "mail/codecs.h"
#include "ratio_reporter.h"

namespace {

constexpr size_t kSize = 64u << 20;

const std::string& Binary() {
    static const std::string data = [] {
        std::string s(kSize, '\0');
        std::mt19937_64 rng(42);
        for (size_t i = 0; i + 8 <= s.size(); i += 8) {
            uint64_t v = rng();
            std::memcpy(&s[i], &v, 8);
        }
        return s;
    }();
    return data;
}

const std::string& Lines() {
    static const std::string text = [] {
        std::string t;
        tzn::EncodeBase64Lines(Binary(), t);
        return t;
    }();
    return text;
}

const std::string& Unbroken() {
    static const std::string text = tzn::EncodeBase64(Binary());
    return text;
}

// Mostly-ASCII text: words, punctuation, about one 8-bit byte in 50, lines of 40..100.
const std::string& Text() {
    static const std::string text = [] {
        std::string t;
        t.reserve(kSize + 128);
        std::mt19937 rng(7);
        const char* words[] = {
            "station", "shift", "report", "fuel", "Total:", "12.50", "a", "the", "data=", "file"};
        while (t.size() < kSize) {
            size_t len = 40 + rng() % 60, start = t.size();
            while (t.size() - start < len) {
                if (rng() % 50 == 0)
                    t += static_cast<char>(0xC0 + rng() % 64);
                else
                    t += words[rng() % 10];
                t += ' ';
            }
            t.pop_back();
            t += "\r\n";
        }
        return t;
    }();
    return text;
}

void Base64EncodeOurs(benchmark::State& st) {
    const std::string& in = Binary();
    // Both sides write into a buffer made once, so only the coding is measured.
    std::string out(Lines().size() + 128, '\0');
    for (auto _ : st) {
        tzn::EncodeBase64LinesTo(reinterpret_cast<const unsigned char*>(in.data()), in.size(),
                                 out.data());
        benchmark::DoNotOptimize(out.data());
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * in.size()));
}

// The same without vector instructions, for processors that lack them.
void Base64EncodePortable(benchmark::State& st) {
    bool previous = tzn::SetBase64VectorPaths(false);
    Base64EncodeOurs(st);
    tzn::SetBase64VectorPaths(previous);
}

void Base64EncodePeerLines(benchmark::State& st) {
    const std::string& in = Binary();
    std::string out(Lines().size() + 128, '\0');
    auto src = reinterpret_cast<const unsigned char*>(in.data());
    for (auto _ : st) {
        auto o = reinterpret_cast<unsigned char*>(out.data());
        for (size_t pos = 0; pos < in.size(); pos += 57) {
            int n = EVP_EncodeBlock(o, src + pos,
                                    static_cast<int>(std::min<size_t>(57, in.size() - pos)));
            o[n] = '\r';
            o[n + 1] = '\n';
            o += n + 2;
        }
        benchmark::DoNotOptimize(out.data());
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * in.size()));
}

void Base64EncodePeerUnbroken(benchmark::State& st) {
    const std::string& in = Binary();
    std::string out(Unbroken().size() + 128, '\0');
    for (auto _ : st) {
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(in.data()),
                        static_cast<int>(in.size()));
        benchmark::DoNotOptimize(out.data());
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * in.size()));
}

void Base64DecodeOurs(benchmark::State& st) {
    const std::string& in = Lines();
    std::string out(tzn::Base64DecodeRoom(in.size()), '\0');
    for (auto _ : st) {
        if (tzn::DecodeBase64To(in, out.data()) != kSize)
            st.SkipWithError("wrong size");
        benchmark::DoNotOptimize(out.data());
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * kSize));
}

void Base64DecodePortable(benchmark::State& st) {
    bool previous = tzn::SetBase64VectorPaths(false);
    Base64DecodeOurs(st);
    tzn::SetBase64VectorPaths(previous);
}

void Base64DecodePeerLines(benchmark::State& st) {
    const std::string& in = Lines();
    std::string out(kSize + 128, '\0');
    for (auto _ : st) {
        auto o = reinterpret_cast<unsigned char*>(out.data());
        size_t pos = 0;
        while (pos < in.size()) {
            size_t br = in.find('\r', pos);
            int n = EVP_DecodeBlock(o, reinterpret_cast<const unsigned char*>(in.data() + pos),
                                    static_cast<int>(br - pos));
            o += n; // padding bytes of the last line are not trimmed; irrelevant here
            pos = br + 2;
        }
        benchmark::DoNotOptimize(out.data());
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * kSize));
}

void Base64DecodePeerUnbroken(benchmark::State& st) {
    const std::string& in = Unbroken();
    std::string out(kSize + 128, '\0');
    for (auto _ : st) {
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(in.data()),
                        static_cast<int>(in.size()));
        benchmark::DoNotOptimize(out.data());
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * kSize));
}

void QPEncode(benchmark::State& st) {
    const std::string& in = Text();
    for (auto _ : st) {
        std::string out = tzn::EncodeQuotedPrintable(in);
        benchmark::DoNotOptimize(out.data());
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * in.size()));
}

void QPDecode(benchmark::State& st) {
    static const std::string enc = tzn::EncodeQuotedPrintable(Text());
    for (auto _ : st) {
        std::string out = tzn::DecodeQuotedPrintable(enc);
        benchmark::DoNotOptimize(out.data());
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * Text().size()));
}

// The message reader's way: one line at a time through the streaming decoder.
void QPDecodeLines(benchmark::State& st) {
    static const std::string enc = tzn::EncodeQuotedPrintable(Text());
    for (auto _ : st) {
        std::string out;
        out.reserve(Text().size());
        tzn::TMxStringSink sink(out);
        tzn::TMxDecoderQuotedPrintable dec(sink);
        size_t pos = 0;
        while (pos < enc.size()) {
            size_t br = enc.find("\r\n", pos);
            if (br == std::string::npos)
                br = enc.size();
            dec.DecodeLine(std::string_view(enc).substr(pos, br - pos));
            pos = br + 2;
        }
        benchmark::DoNotOptimize(out.data());
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * Text().size()));
}

} // namespace

BENCHMARK(Base64EncodeOurs)->Name("Base64Encode/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(Base64EncodePeerLines)
    ->Name("Base64Encode/peer_openssl_lines")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Base64EncodePeerUnbroken)
    ->Name("Base64Encode/peer_openssl_unbroken")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Base64EncodePortable)->Name("Base64Encode/ours_portable")->Unit(benchmark::kMillisecond);
BENCHMARK(Base64DecodeOurs)->Name("Base64Decode/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(Base64DecodePeerLines)
    ->Name("Base64Decode/peer_openssl_lines")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Base64DecodePeerUnbroken)
    ->Name("Base64Decode/peer_openssl_unbroken")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Base64DecodePortable)->Name("Base64Decode/ours_portable")->Unit(benchmark::kMillisecond);
BENCHMARK(QPEncode)->Name("QPEncode/mostly_ascii")->Unit(benchmark::kMillisecond);
BENCHMARK(QPDecode)->Name("QPDecode/mostly_ascii")->Unit(benchmark::kMillisecond);
BENCHMARK(QPDecodeLines)->Name("QPDecode/line_by_line")->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    return tzn::bench::RunWithRatios(argc, argv);
}
