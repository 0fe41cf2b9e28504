// CDataProcessThread: the interactive report preparation on a thread of its own, so that the
// window thread stays free to show the shift dialog and the boxes. One runs at a time: both
// would share the shift dialog and the request file, so a second request while one runs is
// refused with a box. The thread is joined, never detached: its owner waits for it before the
// windows it uses go away.
#pragma once

#include "exchange/data_preparation.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace tzn {

class CDataProcessThread {
public:
    CDataProcessThread() = default;
    // Waits for a running preparation (without processing messages: call Wait first when it
    // may need the window thread).
    ~CDataProcessThread();
    CDataProcessThread(const CDataProcessThread&) = delete;
    CDataProcessThread& operator=(const CDataProcessThread&) = delete;

    // Starts PrepareStationData with no shift list (the user picks them). False, with the box
    // "Подготовка данных уже выполняется." shown, while another one runs.
    bool Start(TPreparationContext context);
    bool Running() const { return FRunning.load(); }
    // Waits until no preparation runs, calling `pump` (the window thread's message
    // processing, so that a preparation waiting for the window can end) between short waits.
    // False when `timeout` passed first.
    bool Wait(const std::function<void()>& pump = {},
              std::chrono::milliseconds timeout = std::chrono::hours(24));

private:
    void Join();

    std::mutex FLock; // Start and the join of a finished thread
    std::thread FThread;
    std::atomic<bool> FRunning{false};
};

} // namespace tzn
