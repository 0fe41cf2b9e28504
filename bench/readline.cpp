// Line reading throughput over a 64 MiB stream of 80-byte lines: our handler (each byte
// scanned once, buffer filled in 32 KiB blocks) against std::getline on the same stream in
// the same run. Long lines check that the search resumes where it stopped rather than
// rescanning the buffer after every block.
#include <benchmark/benchmark.h>

#include <sstream>
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

const std::string& Lines80() {
    static const std::string s = MakeLines(80);
    return s;
}
const std::string& Lines16K() {
    static const std::string s = MakeLines(16000);
    return s;
}

void ReadAll(benchmark::State& st, const std::string& text, bool view) {
    for (auto _ : st) {
        std::istringstream in(text);
        tzn::TMxIOHandlerStream io(&in, nullptr);
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

void Getline80(benchmark::State& st) {
    for (auto _ : st) {
        std::istringstream in(Lines80());
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

int main(int argc, char** argv) {
    return tzn::bench::RunWithRatios(argc, argv);
}
