#include "session/session_runner.h"

#include "session/session_state.h"

namespace tzn {

TSessionRunner::~TSessionRunner() {
    DropQueued();
    Wait();
    // Joined, never detached: a detached thread could still be leaving its session when the
    // library is unloaded.
    if (FThread.joinable())
        FThread.join();
}

void TSessionRunner::Request(TSessionRequest request) {
    std::thread ended;
    {
        std::lock_guard<std::mutex> lock(FLock);
        FQueue.push_back(std::move(request));
        CountSessions(1);
        if (!FThreadAlive) {
            ended = std::move(FThread);
            FThreadAlive = true;
            FThread = std::thread([this] { Run(); });
        }
    }
    // The thread of the last run has left its loop; only its exit is left to wait for.
    if (ended.joinable())
        ended.join();
}

void TSessionRunner::DropQueued() {
    std::deque<TSessionRequest> dropped;
    {
        std::lock_guard<std::mutex> lock(FLock);
        dropped.swap(FQueue);
        CountSessions(-static_cast<int>(dropped.size()));
    }
    FIdle.notify_all();
    // The requests go here, outside the lock: what they hold is the requesters' to release.
}

bool TSessionRunner::Idle() const {
    std::lock_guard<std::mutex> lock(FLock);
    return !FRunning && FQueue.empty();
}

bool TSessionRunner::Wait(const std::function<void()>& pump, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(FLock);
    return WaitPumping(
        lock, FIdle, [this] { return !FRunning && FQueue.empty(); }, pump, timeout);
}

int TSessionRunner::Observe(TSessionObserver observer) {
    std::lock_guard<std::mutex> lock(FLock);
    FObservers.emplace_back(++FLastObserver, std::move(observer));
    return FLastObserver;
}

void TSessionRunner::Forget(int observer) {
    std::lock_guard<std::mutex> lock(FLock);
    std::erase_if(FObservers, [observer](const auto& o) { return o.first == observer; });
}

void TSessionRunner::Run() {
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        if (FQueue.empty()) {
            FThreadAlive = false;
            return;
        }
        {
            const TSessionRequest request = std::move(FQueue.front());
            FQueue.pop_front();
            FRunning = true;
            lock.unlock();
            RunOne(request);
        }
        CountSessions(-1);
        lock.lock();
        FRunning = false;
        FIdle.notify_all();
    }
}

void TSessionRunner::RunOne(const TSessionRequest& request) {
    std::vector<std::pair<int, TSessionObserver>> observers;
    {
        std::lock_guard<std::mutex> lock(FLock);
        observers = FObservers;
    }
    // Neither a session nor an observer may end the runner's thread: each reports its own
    // failures.
    for (const auto& [id, o] : observers)
        if (o.Started)
            try {
                o.Started(request);
            } catch (...) {
            }
    try {
        TMailThread(request.Mode, request.Window, request.Context).Execute();
    } catch (...) {
    }
    for (const auto& [id, o] : observers)
        if (o.Ended)
            try {
                o.Ended(request);
            } catch (...) {
            }
}

} // namespace tzn
