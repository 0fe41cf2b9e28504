// Events handed to a particular thread: a worker posts a closure to another thread's queue, and
// that thread runs it when it next processes its pending events (as a thread processes its
// window messages). Objects that report outcomes asynchronously (the dialer) use it so that
// their events run on the thread that created them.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace tzn {

class TThreadEventQueue {
public:
    // Queues an event; any thread may post.
    void Post(std::function<void()> event);
    // Runs the events queued so far, in order, on the calling thread; returns how many ran.
    // Events posted while it runs wait for the next call.
    int Process();
    // The events waiting for the next Process.
    size_t Pending();

private:
    std::mutex FLock;
    std::deque<std::function<void()>> FEvents;
};

// The calling thread's queue (created on first use, kept alive by whoever holds it).
std::shared_ptr<TThreadEventQueue> CurrentThreadEvents();
// Runs the calling thread's pending events; how many ran.
int ProcessThreadEvents();

} // namespace tzn
