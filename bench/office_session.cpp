// The session side of bench/office_session.py: one full office session (retrieval,
// processing, storing, deletion; nothing to send) in a fresh mail root, with a host of its
// own that copies every data file it is asked to import into OUTDIR and answers nothing.
// Prints the session's time, the letters received, the files imported, the error lines of
// the session log and the peak memory of the process (VmHWM, KiB).
//
//   bench_office_session ROOT OUTDIR
// ROOT becomes TZN_ROOT and the current folder. Server and account: TZN_BENCH_HOST,
// TZN_POP3_PORT, TZN_SMTP_PORT, TZN_BENCH_USER, TZN_BENCH_PASS. Both connections plain, as
// the Python peer's.
#include "bench_session.h"
#include "bench_util.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "module/module_state.h"
#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "session/mail_thread.h"
#include "tznmail/host.h"

using tzn::bench::Env;
using tzn::bench::PeakKiB;

namespace {

// The office's host as far as a receiving session needs it: imports are copies.
class TBenchHost final : public tzn::bench::TQuietHost {
public:
    explicit TBenchHost(std::filesystem::path out)
        : TQuietHost("Office", "C:\\DATA\\office.dat"), FOut(std::move(out)) {}

    std::string ImportDataFile(const std::string& fileName) override {
        std::filesystem::copy_file(tzn::NativePath(fileName), FOut / tzn::ExtractFileName(fileName),
                                   std::filesystem::copy_options::overwrite_existing);
        ++Imported;
        return {};
    }

    int Imported = 0;

private:
    std::filesystem::path FOut;
};

int Run(const std::filesystem::path& root, const std::filesystem::path& out) {
    std::filesystem::create_directories(root);
    ::setenv("TZN_ROOT", root.c_str(), 1);
    std::filesystem::current_path(root);
    std::filesystem::create_directories("LogFiles");
    std::filesystem::create_directories(out);

    tzn::MailSettings s;
    s.MailDir = "C:\\MAIL\\";
    s.IsSaveInMail = true;
    s.POP3Host = s.SMTPHost = Env("TZN_BENCH_HOST", "127.0.0.1");
    s.POP3Port = std::atoi(Env("TZN_POP3_PORT", "2110").c_str());
    s.SMTPPort = std::atoi(Env("TZN_SMTP_PORT", "2525").c_str());
    s.POP3Security = s.SMTPSecurity = "none";
    s.UserName = Env("TZN_BENCH_USER");
    s.Password = Env("TZN_BENCH_PASS");
    s.ReadTimeout = 120;
    tzn::SetMailSettings(s);
    tzn::CreateMailFolders(s.MailDir);
    tzn::SetDataDir("C:\\DATA\\");
    if (!tzn::ForceDirectories(tzn::DataDir()))
        throw std::runtime_error("cannot create the data folder");
    tzn::SetModuleMode(1);
    tzn::SetStationCode("Office");
    TBenchHost host(out);
    tzn::SetHost(&host);

    const tzn::bench::TSessionRun run = tzn::bench::RunCountedSession();
    tzn::SetHost(nullptr);
    std::printf("%.6f %d %d %d %ld\n", run.Seconds, run.Received, host.Imported, run.Errors,
                PeakKiB());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_office_session ROOT OUTDIR\n");
        return 2;
    }
    try {
        return Run(std::filesystem::absolute(argv[1]), std::filesystem::absolute(argv[2]));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_office_session: %s\n", e.what());
        return 1;
    }
}
