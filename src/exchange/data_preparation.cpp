#include "exchange/data_preparation.h"

#include "exchange/request_file.h"
#include "exchange/shift_list.h"
#include "exchange/shift_loading.h"
#include "module/activity_log.h"
#include "module/headless_window_services.h"
#include "platform/cp1251.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "store/composition.h"
#include "tznmail/host.h"

#include <exception>
#include <mutex>
#include <stdexcept>

namespace tzn {
namespace {

// An interactive run and the session's automatic one share office.txt: the request is
// written and read by the host under this lock, so neither exports the other's request.
std::mutex RequestLock;

THostServices& HostOf(const TPreparationContext& context) {
    if (!context.Host)
        throw std::runtime_error("No host services");
    return *context.Host;
}

TWindowServices& WindowOf(const TPreparationContext& context) {
    static THeadlessWindowServices headless;
    return context.Window ? *context.Window : headless;
}

std::string ExportRequest(THostServices& host, const std::string& dataDir,
                          const std::vector<std::string>& shifts) {
    if (dataDir.empty())
        throw std::runtime_error("No data exchange folder");
    std::lock_guard<std::mutex> lock(RequestLock);
    const std::string request = WriteRequestFile(dataDir, shifts);
    return request.empty() ? std::string() : host.PrepareExportData(0, request);
}

void ShowBox(const TPreparationContext& context, const std::string& text, unsigned icon) {
    WindowOf(context).ShowMessageBox(text, ru(kPreparationCaption), MB_OK | MB_TOPMOST | icon);
}

} // namespace

TDataFile BuildDataFile(const std::vector<std::string>* shifts,
                        const TPreparationContext& context) {
    TDataFile result;
    try {
        THostServices& host = HostOf(context);
        if (shifts) {
            result.Path = ExportRequest(host, context.DataDir, *shifts);
            result.Outcome = TBuildOutcome::Done;
            return result;
        }
        if (!context.ShiftList || !context.AppServer || !context.ShowShiftDialog)
            throw std::runtime_error("No shift dialog");
        LoadShiftList(*context.ShiftList, *context.AppServer, host, WindowOf(context));
        if (context.ShowShiftDialog() != IDOK) {
            result.Outcome = TBuildOutcome::Cancelled;
            return result;
        }
        result.Path = ExportRequest(host, context.DataDir, context.ShiftList->SelectedShifts());
        result.Outcome = TBuildOutcome::Done;
    } catch (const std::exception& e) {
        WriteActivityLog(ru("Ошибки при подготовке письмиа: ") + e.what());
    } catch (...) {
        // The host may throw anything at all.
        WriteActivityLog(ru("Ошибки при подготовке письмиа: ") + kUnknownError);
    }
    return result;
}

bool PrepareStationData(const std::vector<std::string>* shifts,
                        const TPreparationContext& context) {
    const bool interactive = !shifts;
    std::string failure;
    try {
        THostServices& host = HostOf(context);
        const std::string stationCode = host.GetStationCode();
        if (context.StationCodeReported)
            context.StationCodeReported(stationCode);
        const TDataFile data = BuildDataFile(shifts, context);
        if (data.Outcome != TBuildOutcome::Done || data.Path.empty())
            throw std::runtime_error(ru("Сбой при подготовке данных."));
        const int letters = context.ComposeLetters
                                ? context.ComposeLetters(data.Path)
                                : ComposeReportLetters(data.Path, stationCode, WindowOf(context));
        DeleteFile(data.Path);
        if (interactive) {
            if (letters > 0)
                ShowBox(context,
                        ru("Данные подготовлены (") + std::to_string(letters) + ru(" писем)"),
                        MB_ICONINFORMATION);
            else
                ShowBox(context, ru("Сбой при подготовке данных."), MB_ICONERROR);
        }
        return letters > 0;
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        // The host may throw anything at all.
        failure = kUnknownError;
    }
    try {
        ShowBox(context, "Error - " + failure, MB_ICONERROR);
    } catch (...) {
        // Nobody is left to tell.
    }
    return false;
}

} // namespace tzn
