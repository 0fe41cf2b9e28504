// The session side of bench/chain.py: one full mail session (collect, then deliver OutBox) of
// one side of a chain, in that side's own root, with a host of its own.
//
//   bench_chain_session ROOT station CODE [REPORT]   a station; with REPORT (a file) its report
//                                                    letter is composed into OutBox first
//   bench_chain_session ROOT office OUTDIR           the office; every data file it is asked
//                                                    to import is copied into OUTDIR under a
//                                                    name of its own (NNNN-<file name>)
//
// ROOT becomes TZN_ROOT and the current folder. Server and account: TZN_BENCH_HOST,
// TZN_POP3_PORT, TZN_SMTP_PORT, TZN_BENCH_USER, TZN_BENCH_PASS, TZN_BENCH_ADDRESS (the
// shared mailbox every side writes to). Both connections plain, so that a relay in front of
// the POP3 port sees every command. Prints the session's seconds, the letters received, the
// files imported and the error lines of the session log (the lines go to stderr).
#include "bench_session.h"
#include "bench_util.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "module/headless_window_services.h"
#include "module/module_state.h"
#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "session/mail_thread.h"
#include "store/composition.h"
#include "tznmail/host.h"

using tzn::bench::Env;

namespace {

// A side's host as far as a session needs it. The office's imports are copies numbered in the
// order they came, so a file imported twice shows as two copies.
class TChainHost final : public tzn::bench::TQuietHost {
public:
    TChainHost(std::string code, std::filesystem::path out)
        : TQuietHost(std::move(code), "C:\\DATA\\chain.dat"), FOut(std::move(out)) {}

    std::string ImportDataFile(const std::string& fileName) override {
        if (FOut.empty())
            throw std::runtime_error("this side imports nothing");
        char seq[16];
        std::snprintf(seq, sizeof seq, "%04d-", ++Imported);
        std::filesystem::copy_file(tzn::NativePath(fileName),
                                   FOut / (seq + tzn::ExtractFileName(fileName)));
        return {};
    }

    int Imported = 0;

private:
    std::filesystem::path FOut;
};

struct TSide {
    bool Office = false;
    std::string Code;
    std::filesystem::path Out;    // office
    std::filesystem::path Report; // station, optional
};

int Run(const std::filesystem::path& root, const TSide& side) {
    std::filesystem::create_directories(root);
    ::setenv("TZN_ROOT", root.c_str(), 1);
    std::filesystem::current_path(root);
    std::filesystem::create_directories("LogFiles");

    tzn::MailSettings s;
    s.MailDir = "C:\\MAIL\\";
    s.IsSaveInMail = true;
    s.EMail = Env("TZN_BENCH_ADDRESS");
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
    tzn::SetModuleMode(side.Office ? 1 : 0);
    tzn::SetStationCode(side.Code);
    TChainHost host(side.Code, side.Out);
    tzn::SetHost(&host);

    if (!side.Report.empty()) {
        const std::string dataFile = "C:\\DATA\\" + side.Report.filename().string();
        std::filesystem::copy_file(side.Report, tzn::NativePath(dataFile),
                                   std::filesystem::copy_options::overwrite_existing);
        tzn::THeadlessWindowServices window;
        if (tzn::ComposeReportLetters(dataFile, side.Code, window) != 1)
            throw std::runtime_error("the report letter was not stored in OutBox");
    }

    const tzn::bench::TSessionRun run = tzn::bench::RunCountedSession();
    tzn::SetHost(nullptr);
    std::printf("%.6f %d %d %d\n", run.Seconds, run.Received, host.Imported, run.Errors);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string role = argc >= 4 ? argv[2] : "";
    TSide side;
    if (role == "office" && argc == 4) {
        side.Office = true;
        side.Code = "Office";
        side.Out = std::filesystem::absolute(argv[3]);
        std::filesystem::create_directories(side.Out);
    } else if (role == "station" && (argc == 4 || argc == 5)) {
        side.Code = argv[3];
        if (argc == 5)
            side.Report = std::filesystem::absolute(argv[4]);
    } else {
        std::fprintf(stderr, "usage: bench_chain_session ROOT station CODE [REPORT]\n"
                             "       bench_chain_session ROOT office OUTDIR\n");
        return 2;
    }
    try {
        return Run(std::filesystem::absolute(argv[1]), side);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_chain_session: %s\n", e.what());
        return 1;
    }
}
