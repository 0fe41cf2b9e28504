#include "exchange/shift_loading.h"

#include "exchange/app_server.h"
#include "exchange/data_preparation.h"
#include "exchange/shift_list.h"
#include "module/activity_log.h"
#include "module/window_services.h"
#include "platform/cp1251.h"
#include "platform/message_box.h"
#include "tznmail/host.h"

#include <exception>

namespace tzn {

void LoadShiftList(TShiftList& list, TAppServer& server, THostServices& host,
                   TWindowServices& window) {
    list.SetSelectedShifts({});
    try {
        const std::string computer = host.GetParamValue(kHostParamAppServer, 0).ToString();
        const std::unique_ptr<TProviderDataset> dataset =
            server.Open(computer, kShiftLogProvider, {"SmNum", "BegTime", "EndTime", "Operator"});
        list.SetRows({});
        std::vector<std::string> v;
        while (dataset->Next(v))
            list.AppendRow({v[0], v[1], v[2], v[3]});
    } catch (const std::exception& e) {
        // The preparation's caption: the box belongs to the report the user asked for.
        window.ShowMessageBox(ru("Ошибка при загрузке списка смен: ") + e.what(),
                              ru(kPreparationCaption), MB_OK | MB_TOPMOST | MB_ICONERROR);
    } catch (...) {
        // The host's parameter query may throw anything at all.
        window.ShowMessageBox(ru("Ошибка при загрузке списка смен: ") + kUnknownError,
                              ru(kPreparationCaption), MB_OK | MB_TOPMOST | MB_ICONERROR);
    }
}

} // namespace tzn
