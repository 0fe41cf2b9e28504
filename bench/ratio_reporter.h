// Console output plus, at the end, each of our benchmarks' throughput as a ratio to its peer
// measured in the same run. Pairs are named "<case>/ours" and "<case>/peer...".
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace tzn::bench {

class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred)
                continue;
            auto it = r.counters.find("bytes_per_second");
            if (it != r.counters.end())
                FRates[r.benchmark_name()] = it->second.value;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nThroughput (MB/s) and ratio ours/peer, same run:\n");
        for (const auto& [name, rate] : FRates) {
            size_t slash = name.find("/ours");
            if (slash == std::string::npos) {
                if (name.find("/peer") == std::string::npos)
                    std::printf("  %-40s %9.1f MB/s\n", name.c_str(), rate / 1e6);
                continue;
            }
            std::string base = name.substr(0, slash);
            std::printf("  %-40s %9.1f MB/s\n", name.c_str(), rate / 1e6);
            for (const auto& [peer, peerRate] : FRates)
                if (peer.rfind(base + "/peer", 0) == 0)
                    std::printf("      vs %-37s %9.1f MB/s  ratio %.2f\n", peer.c_str(),
                                peerRate / 1e6, rate / peerRate);
        }
    }

private:
    std::map<std::string, double> FRates;
};

inline int RunWithRatios(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

} // namespace tzn::bench
