// Line reading throughput over a 64 MiB stream of 80-byte lines: our handler (each byte
// scanned once, buffer filled in 32 KiB blocks) against std::getline on the same stream in
// the same run. Long lines check that the search resumes where it stopped rather than
// rescanning the buffer after every block.
#include <benchmark/benchmark.h>

#include <istream>
#include <streambuf>
#include <string>

#include "mail/exceptions.h"
#include "mail/io_handler.h"
#include "ratio_reporter.h"

namespace {

constexpr size_t kSize = 64u << 20;

std::string MakeLines(size_t lineLen) {
    std::string s;
    s.reserve(kSize + lineLen);
    std::string line(lineLen - 2, 'x');
    for (size_t i = 0; s.size() < kSize; ++i) {
        line[i % line.size()] = static_cast<char>('a' + i % 26);
        s += line;
        s += "\r\n";
    }
    return s;
}

// A read-only stream over text already in memory, so no copy of the 64 MiB is measured.
struct TMemoryBuf : std::streambuf {
    explicit TMemoryBuf(const std::string& s) {
        char* p = const_cast<char*>(s.data());
        setg(p, p, p + s.size());
    }
};

const std::string& Lines80() {
    static const std::string s = MakeLines(80);
    return s;
}
const std::string& Lines16K() {
    static const std::string s = MakeLines(16000);
    return s;
}

void ReadAll(benchmark::State& st, const std::string& text, bool view, int recvSize = 32768) {
    for (auto _ : st) {
        TMemoryBuf buf(text);
        std::istream in(&buf);
        tzn::TMxIOHandlerStream io(&in, nullptr);
        io.RecvBufferSize = recvSize;
        size_t lines = 0;
        try {
            for (;;) {
                if (view)
                    benchmark::DoNotOptimize(io.ReadLineView().data());
                else
                    benchmark::DoNotOptimize(io.ReadLine().data());
                ++lines;
            }
        } catch (const tzn::EMxConnClosedGracefully&) {
        }
        benchmark::DoNotOptimize(lines);
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * text.size()));
}

void ReadLineView80(benchmark::State& st) {
    ReadAll(st, Lines80(), true);
}
void ReadLine80(benchmark::State& st) {
    ReadAll(st, Lines80(), false);
}
void ReadLine16K(benchmark::State& st) {
    ReadAll(st, Lines16K(), false);
}
// Thirty-two reads per line: a search that restarted at the buffer's start after every
// read would scan each line about sixteen times and show here.
void ReadLine16KSmallReads(benchmark::State& st) {
    ReadAll(st, Lines16K(), false, 512);
}

void Getline80(benchmark::State& st) {
    for (auto _ : st) {
        TMemoryBuf buf(Lines80());
        std::istream in(&buf);
        std::string line;
        size_t lines = 0;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            ++lines;
        }
        benchmark::DoNotOptimize(lines);
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * Lines80().size()));
}

} // namespace

BENCHMARK(ReadLineView80)->Name("ReadLine80/ours_view")->Unit(benchmark::kMillisecond);
BENCHMARK(ReadLine80)->Name("ReadLine80/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(Getline80)->Name("ReadLine80/peer_std_getline")->Unit(benchmark::kMillisecond);
BENCHMARK(ReadLine16K)->Name("ReadLine16000/long_lines")->Unit(benchmark::kMillisecond);
BENCHMARK(ReadLine16KSmallReads)
    ->Name("ReadLine16000/long_lines_512_byte_reads")
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    return tzn::bench::RunWithRatios(argc, argv);
}
