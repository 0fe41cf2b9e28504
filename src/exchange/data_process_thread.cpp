#include "exchange/data_process_thread.h"

#include "module/headless_window_services.h"
#include "module/window_services.h"
#include "platform/cp1251.h"
#include "platform/message_box.h"

namespace tzn {

CDataProcessThread::~CDataProcessThread() {
    Join();
}

void CDataProcessThread::Join() {
    std::lock_guard<std::mutex> lock(FLock);
    if (FThread.joinable())
        FThread.join();
}

bool CDataProcessThread::Start(TPreparationContext context) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (!FRunning.exchange(true)) {
            if (FThread.joinable())
                FThread.join(); // the previous run has ended: its thread is leaving
            FThread = std::thread([this, context = std::move(context)] {
                try {
                    PrepareStationData(nullptr, context);
                } catch (...) {
                    // It reports its own failures; nothing may end the process here.
                }
                FRunning = false;
            });
            return true;
        }
    }
    static THeadlessWindowServices headless;
    TWindowServices& window = context.Window ? *context.Window : headless;
    window.ShowMessageBox(ru("Подготовка данных уже выполняется."), ru(kPreparationCaption),
                          MB_OK | MB_TOPMOST | MB_ICONINFORMATION);
    return false;
}

bool CDataProcessThread::Wait(const std::function<void()>& pump,
                              std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (FRunning) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        if (pump)
            pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Join();
    return true;
}

} // namespace tzn
