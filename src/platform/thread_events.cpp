#include "platform/thread_events.h"

#include <utility>

namespace tzn {

void ThreadEventQueue::Post(std::function<void()> event) {
    const std::lock_guard<std::mutex> guard(FLock);
    FEvents.push_back(std::move(event));
}

size_t ThreadEventQueue::Pending() {
    const std::lock_guard<std::mutex> guard(FLock);
    return FEvents.size();
}

int ThreadEventQueue::Process() {
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

std::shared_ptr<ThreadEventQueue> CurrentThreadEvents() {
    thread_local const auto Queue = std::make_shared<ThreadEventQueue>();
    return Queue;
}

int ProcessThreadEvents() {
    return CurrentThreadEvents()->Process();
}

} // namespace tzn
