#include "platform/thread_events.h"

#include <utility>

namespace tzn {

void TThreadEventQueue::Post(std::function<void()> event) {
    const std::lock_guard<std::mutex> guard(FLock);
    FEvents.push_back(std::move(event));
}

size_t TThreadEventQueue::Pending() {
    const std::lock_guard<std::mutex> guard(FLock);
    return FEvents.size();
}

int TThreadEventQueue::Process() {
    std::deque<std::function<void()>> ready;
    {
        const std::lock_guard<std::mutex> guard(FLock);
        ready.swap(FEvents);
    }
    // Run outside the lock: an event may post again, or destroy the object that posted it.
    for (auto& event : ready)
        event();
    return static_cast<int>(ready.size());
}

std::shared_ptr<TThreadEventQueue> CurrentThreadEvents() {
    thread_local const auto queue = std::make_shared<TThreadEventQueue>();
    return queue;
}

int ProcessThreadEvents() {
    return CurrentThreadEvents()->Process();
}

} // namespace tzn
