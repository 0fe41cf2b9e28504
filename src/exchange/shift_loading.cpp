#include "exchange/shift_loading.h"

#include "exchange/app_server.h"
#include "exchange/shift_list.h"
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
        const std::string computer = host.GetParamValue(7, 0).ToString();
        const std::unique_ptr<TProviderDataset> dataset =
            server.Open(computer, kShiftLogProvider, {"SmNum", "BegTime", "EndTime", "Operator"});
        list.SetRows({});
        std::vector<std::string> v;
        while (dataset->Next(v))
            list.AppendRow({v[0], v[1], v[2], v[3]});
    } catch (const std::exception& e) {
        window.ShowMessageBox(ru("Ошибка при загрузке списка смен: ") + e.what(), "",
                              MB_OK | MB_ICONERROR);
    }
}

} // namespace tzn
