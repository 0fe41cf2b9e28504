// The mailbox listing of a large InBox: LoadFolderHeaders over 10,000 stored letters, each
// with a 100 KiB attachment, against Python's email.parser.BytesHeaderParser reading the
// same files (bench/store_scan_peer.py), in the same run. A second set with 1 KiB attachments
// shows the scan's cost does not grow with the letters' bodies; bytes read per letter come
// from /proc/self/io. The letters live in a temporary folder that is removed at the end.
#include "mail/message.h"
#include "module/headless_window_services.h"
#include "module/settings.h"
#include "platform/paths.h"
#include "store/composition.h"
#include "store/letter_files.h"
#include "store/mail_store.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace tzn;

int BenchLetters = 10000;

struct TDataSet {
    std::string MailDir; // Windows form, under TZN_ROOT
    fs::path Inbox;      // native
    long long FileBytes = 0;
    double BestSeconds = 1e99;
    long long BytesReadPerLetter = 0;
};

TDataSet BenchBig, BenchSmall;
double BenchPythonSeconds = 0;
long long BenchPythonBytesPerLetter = 0;
int BenchPythonLetters = 0;

long long BytesRead() {
    std::ifstream in("/proc/self/io");
    for (std::string key; in >> key;) {
        long long v = 0;
        in >> v;
        if (key == "rchar:")
            return v;
    }
    return 0;
}

// One composed letter, stored, then copied under 10,000 names (the scan reads each file on
// its own, so identical contents do not help it).
TDataSet Make(const fs::path& root, const std::string& name, size_t attachmentBytes) {
    TDataSet d;
    d.MailDir = "C:\\" + name + "\\";
    MailSettings s = MailSettingsSnapshot();
    s.MailDir = d.MailDir;
    s.EMail = "office@example.test";
    SetMailSettings(s);
    CreateMailFolders(d.MailDir);
    d.Inbox = root / "C" / name / "InBox";

    const fs::path data = root / (name + ".dat");
    {
        std::mt19937 rng(7);
        std::string bytes(attachmentBytes, '\0');
        for (char& c : bytes)
            c = static_cast<char>(rng());
        std::ofstream(data, std::ios::binary) << bytes;
    }
    THeadlessWindowServices window;
    auto letter = ComposeLetter("12", "station12@example.test", data.string(), true, false, false,
                                "12", window);
    if (!letter)
        throw std::runtime_error("composing the sample letter failed");
    const TSaveResult saved = SaveLetterToFolderEx(*letter, MailFolder::InBox);
    if (saved.Outcome != TSaveOutcome::Saved)
        throw std::runtime_error("storing the sample letter failed");
    const fs::path sample = d.Inbox / saved.FileName;
    std::string text;
    {
        std::ifstream in(sample, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    fs::remove(sample);
    d.FileBytes = static_cast<long long>(text.size());
    const TDateTime when = EncodeDateTime(2024, 12, 6, 14, 30, 5);
    for (int i = 0; i < BenchLetters; ++i)
        std::ofstream(d.Inbox / LetterFileName(when, static_cast<uint32_t>(i)), std::ios::binary)
            << text;
    return d;
}

void UseMailDir(const std::string& mailDir) {
    MailSettings s = MailSettingsSnapshot();
    s.MailDir = mailDir;
    SetMailSettings(s);
}

void ScanBenchmark(benchmark::State& state, TDataSet* d) {
    UseMailDir(d->MailDir);
    size_t count = 0;
    for (auto _ : state) {
        const long long r0 = BytesRead();
        const auto t0 = std::chrono::steady_clock::now();
        StoredLetterListVar list;
        LoadFolderHeaders(list, MailFolder::InBox);
        count = list ? list->Count() : 0;
        list.reset();
        const double secs =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const long long read = BytesRead() - r0;
        if (secs < d->BestSeconds) {
            d->BestSeconds = secs;
            d->BytesReadPerLetter = read / std::max<long long>(1, static_cast<long long>(count));
        }
    }
    if (count != static_cast<size_t>(BenchLetters))
        state.SkipWithError("the scan did not list every letter");
    state.counters["letters"] = static_cast<double>(count);
    state.counters["file_bytes_per_letter"] = static_cast<double>(d->FileBytes);
    state.counters["bytes_read_per_letter"] = static_cast<double>(d->BytesReadPerLetter);
}

std::string PeerScript() {
    if (const char* p = std::getenv("TZN_BENCH_PEER"); p && *p)
        return p;
    return (fs::path(__FILE__).parent_path() / "store_scan_peer.py").string();
}

void PythonBenchmark(benchmark::State& state) {
    for (auto _ : state) {
        const std::string cmd =
            "python3 '" + PeerScript() + "' '" + BenchBig.Inbox.string() + "' 3";
        FILE* p = ::popen(cmd.c_str(), "r");
        double secs = 0;
        long long perLetter = 0;
        int letters = 0;
        const bool ok = p && std::fscanf(p, "%lf %lld %d", &secs, &perLetter, &letters) == 3;
        if (p)
            ::pclose(p);
        if (!ok || letters != BenchLetters) {
            state.SkipWithError("the Python peer did not run");
            return;
        }
        BenchPythonSeconds = secs;
        BenchPythonBytesPerLetter = perLetter;
        BenchPythonLetters = letters;
        state.SetIterationTime(secs);
    }
    state.counters["letters"] = BenchPythonLetters;
    state.counters["bytes_read_per_letter"] = static_cast<double>(BenchPythonBytesPerLetter);
}

} // namespace

int main(int argc, char** argv) {
    if (const char* n = std::getenv("TZN_BENCH_LETTERS"); n && std::atoi(n) > 0)
        BenchLetters = std::atoi(n);
    std::string tmpl = (SystemTempDirectory() / "tzn-bench-store-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path root = tmpl;
    ::setenv("TZN_ROOT", root.c_str(), 1);
    int status = 0;
    try {
        std::fprintf(stderr, "writing %d letters with 100 KiB and %d with 1 KiB attachments...\n",
                     BenchLetters, BenchLetters);
        BenchBig = Make(root, "BIG", 100 * 1024);
        BenchSmall = Make(root, "SMALL", 1024);

        benchmark::Initialize(&argc, argv);
        benchmark::RegisterBenchmark("LoadFolderHeaders/100KiB", ScanBenchmark, &BenchBig)
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("LoadFolderHeaders/1KiB", ScanBenchmark, &BenchSmall)
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("PythonBytesHeaderParser/100KiB", PythonBenchmark)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();

        std::printf("\nletters per set: %d; stored file size: %lld bytes (100 KiB set), %lld bytes "
                    "(1 KiB set)\n",
                    BenchLetters, BenchBig.FileBytes, BenchSmall.FileBytes);
        std::printf("LoadFolderHeaders, best of 3: %.1f ms (100 KiB set), %.1f ms (1 KiB set); "
                    "time ratio big/small %.2f\n",
                    BenchBig.BestSeconds * 1e3, BenchSmall.BestSeconds * 1e3,
                    BenchBig.BestSeconds / BenchSmall.BestSeconds);
        std::printf("bytes read per letter: %lld of %lld (%.1f%%)\n", BenchBig.BytesReadPerLetter,
                    BenchBig.FileBytes, 100.0 * BenchBig.BytesReadPerLetter / BenchBig.FileBytes);
        if (BenchPythonSeconds > 0) {
            std::printf(
                "Python BytesHeaderParser, best of 3: %.1f ms, bytes read per letter %lld\n",
                BenchPythonSeconds * 1e3, BenchPythonBytesPerLetter);
            std::printf("speed-up over Python: %.1fx (goal: at least 5x)\n",
                        BenchPythonSeconds / BenchBig.BestSeconds);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_store_scan: %s\n", e.what());
        status = 1;
    }
    std::error_code ec;
    fs::remove_all(root, ec);
    return status;
}
