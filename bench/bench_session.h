// One mail session run the way the benchmarks' session programs run it: the network taken as
// up, the log lines counted instead of shown (letters received, error lines, the latter echoed
// to standard error), the wall time measured.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "platform/cp1251.h"
#include "session/mail_thread.h"
#include "tznmail/host.h"

namespace tzn::bench {

// A host of one station (or the office) that answers nothing but its code and leaves the
// import to the benchmark: no menu, no parameters, no station list, no export.
class TQuietHost : public THostServices {
public:
    TQuietHost(std::string code, std::string dataFile)
        : FCode(std::move(code)), FDataFile(std::move(dataFile)) {}

    int GetCount() override { return 1; }
    std::string GetStationCode() override { return FCode; }
    std::string GetDataFileName() override { return FDataFile; }
    std::string MakeStationRequestFile(const std::string&) override { return {}; }
    std::string ImportDataFileFrom(const std::string&, const std::string& fileName) override {
        return ImportDataFile(fileName);
    }
    THostMenuItem* GetMainMenuItems() override { return nullptr; }
    THostMenuItem* NewMenuItem(THostMenuItem*, int) override { return nullptr; }
    THostVariant GetParamValue(int, int) override { return {}; }
    std::optional<THostStation> GetStation(int) override { return std::nullopt; }
    std::string PrepareExportData(int, const std::string&) override { return {}; }

private:
    std::string FCode;
    std::string FDataFile;
};

struct TSessionRun {
    double Seconds = 0;
    int Received = 0;
    int Errors = 0;
};

inline TSessionRun RunCountedSession() {
    TSessionRun run;
    const std::string receivedLine = ru("Получено письмо от: ");
    const std::string errorWord = ru("Ошибка");
    TMailWindow window;
    window.Send = [&](unsigned msg, uintptr_t, intptr_t lParam, bool) -> intptr_t {
        if (msg != WM_MAIL_LOG)
            return 1;
        // The log line travels as the message's lParam, as to the real window.
        const std::string line =
            reinterpret_cast<const char*>(lParam); // NOLINT(performance-no-int-to-ptr)
        run.Received += line.rfind(receivedLine, 0) == 0;
        if (line.find(errorWord) != std::string::npos) {
            ++run.Errors;
            std::fprintf(stderr, "%s\n", line.c_str());
        }
        return 1;
    };
    TSessionContext context = TSessionContext::FromModule();
    context.ConnectNetwork = [] { return true; };
    const auto start = std::chrono::steady_clock::now();
    TMailThread(TSessionMode::Full, window, context).Execute();
    run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

} // namespace tzn::bench
