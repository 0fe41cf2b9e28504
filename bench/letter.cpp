// Writing and reading a letter with one 64 MiB attachment: our writer and reader against
// Python's standard email package in the same run (throughput ratio), and the peak memory
// (max RSS) of each side's write and read run as separate processes, above a baseline run
// of the same program on a tiny letter.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "mail/message.h"
#include "mail/message_reader.h"
#include "mail/message_writer.h"
#include "platform/paths.h"
#include "ratio_reporter.h"

namespace {

namespace fs = std::filesystem;
using namespace tzn;

constexpr size_t kSize = 64u << 20;
fs::path BenchDir;

fs::path Src() {
    return BenchDir / "data.bin";
}
fs::path Ours() {
    return BenchDir / "ours.eml";
}
fs::path Theirs() {
    return BenchDir / "python.eml";
}

std::string PeerScript() {
    if (const char* p = std::getenv("TZN_BENCH_PEER"); p && *p)
        return p;
    return (fs::path(__FILE__).parent_path() / "letter_peer.py").string();
}

void MakeData(const fs::path& path, size_t size) {
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 rng(42);
    std::vector<uint64_t> block(1 << 16);
    for (size_t done = 0; done < size;) {
        for (auto& v : block)
            v = rng();
        size_t n = std::min(size - done, block.size() * 8);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        done += n;
    }
}

void WriteOurs(const fs::path& src, const fs::path& out) {
    TMxMessage m;
    m.From() = TMxEMailAddressItem("Station 1", "st1@example.ru");
    m.Sender = m.From();
    m.Recipients.Add(TMxEMailAddressItem("Office", "office@example.ru"));
    m.Subject = "TZN-Office";
    m.MessageParts.AddAttachment(src.string());
    m.SetUseNowForDate(true);
    WriteMessageFile(m, out.string());
}

void WriteBenchmark(benchmark::State& state) {
    for (auto _ : state) {
        fs::remove(Ours());
        WriteOurs(Src(), Ours());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void ReadBenchmark(benchmark::State& state) {
    for (auto _ : state) {
        TMxMessage m;
        m.AttachmentTempDirectory = BenchDir.string();
        ReadMessageFile(m, Ours().string());
        if (m.MessageParts.Count() != 1 ||
            m.MessageParts[0].AsAttachment()->ContentSize() != static_cast<int64_t>(kSize))
            state.SkipWithError("attachment lost");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

double RunPeer(const std::string& args) {
    std::string cmd = "python3 '" + PeerScript() + "' " + args;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return -1;
    double secs = -1;
    if (std::fscanf(p, "%lf", &secs) != 1)
        secs = -1;
    return ::pclose(p) == 0 ? secs : -1;
}

void PeerBenchmark(benchmark::State& state, bool write) {
    fs::create_directories(BenchDir / "py");
    for (auto _ : state) {
        double s =
            write ? RunPeer("write '" + Src().string() + "' '" + Theirs().string() + "'")
                  : RunPeer("read '" + Ours().string() + "' '" + (BenchDir / "py").string() + "'");
        if (s < 0) {
            state.SkipWithError("python peer failed");
            break;
        }
        state.SetIterationTime(s);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

// Max RSS (KiB) of a child process running `argv`.
long MaxRssKiB(const std::vector<std::string>& argv) {
    pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> a;
        for (const auto& s : argv)
            a.push_back(const_cast<char*>(s.c_str()));
        a.push_back(nullptr);
        int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, 1);
        ::execvp(a[0], a.data());
        ::_exit(127);
    }
    int status = 0;
    rusage ru{};
    if (pid < 0 || ::wait4(pid, &status, 0, &ru) < 0 || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return ru.ru_maxrss;
}

void ReportMemory(const std::string& tool) {
    MakeData(BenchDir / "tiny.bin", 1000);
    auto fresh = [](const fs::path& p) {
        fs::remove(p);
        return p.string();
    };
    auto make = [&](const fs::path& src, const fs::path& out) {
        return MaxRssKiB({tool, "letter", "make", "--from", "S <s@example.ru>", "--to",
                          "O <o@example.ru>", "--subject", "TZN-Office", "--attach", src.string(),
                          "--out", fresh(out)});
    };
    auto show = [&](const fs::path& in) {
        return MaxRssKiB({tool, "letter", "show", in.string(), "--json"});
    };
    auto py = [&](const char* mode, const fs::path& a, const fs::path& b) {
        return MaxRssKiB({"python3", PeerScript(), mode, a.string(), b.string()});
    };
    long ourWriteBase = make(BenchDir / "tiny.bin", BenchDir / "tiny.eml");
    long ourWrite = make(Src(), BenchDir / "big.eml");
    long ourReadBase = show(BenchDir / "tiny.eml");
    long ourRead = show(BenchDir / "big.eml");
    long pyWriteBase = py("write", BenchDir / "tiny.bin", BenchDir / "tiny-py.eml");
    long pyWrite = py("write", Src(), BenchDir / "big-py.eml");
    long pyReadBase = py("read", BenchDir / "tiny-py.eml", BenchDir / "py");
    long pyRead = py("read", BenchDir / "big-py.eml", BenchDir / "py");
    std::printf("\nPeak memory (max RSS, separate processes), 64 MiB attachment:\n");
    std::printf("  %-28s %8s %8s %10s\n", "", "baseline", "64 MiB", "increase");
    auto row = [](const char* name, long base, long big) {
        std::printf("  %-28s %6ld K %6ld K %8.1f MiB\n", name, base, big, (big - base) / 1024.0);
    };
    row("tznmail letter make", ourWriteBase, ourWrite);
    row("tznmail letter show", ourReadBase, ourRead);
    row("python email write", pyWriteBase, pyWrite);
    row("python email read", pyReadBase, pyRead);
}

} // namespace

int main(int argc, char** argv) {
    std::string tmpl = (SystemTempDirectory() / "tzn-bench-letter-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    BenchDir = tmpl;
    int status = 0;
    try {
        MakeData(Src(), kSize);
        WriteOurs(Src(), Ours()); // the read benchmarks need it first
        benchmark::Initialize(&argc, argv);
        benchmark::RegisterBenchmark("letter_write_64MiB/ours", WriteBenchmark)
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("letter_write_64MiB/peer_python_email",
                                     [](benchmark::State& s) { PeerBenchmark(s, true); })
            ->Iterations(2)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("letter_read_64MiB/ours", ReadBenchmark)
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("letter_read_64MiB/peer_python_email",
                                     [](benchmark::State& s) { PeerBenchmark(s, false); })
            ->Iterations(2)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        tzn::bench::TRatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        benchmark::Shutdown();
        fs::path tool = fs::read_symlink("/proc/self/exe").parent_path() / "tznmail";
        if (fs::exists(tool))
            ReportMemory(tool.string());
        else
            std::printf("\n(no %s: build tznmail_tool for the memory figures)\n", tool.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_letter: %s\n", e.what());
        status = 1;
    }
    std::error_code ec;
    fs::remove_all(BenchDir, ec);
    return status;
}
