#include "platform/message_loop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <thread>

namespace tzn {

bool ProcessMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    constexpr std::chrono::milliseconds kTick(10);
    const Clock::time_point deadline = Clock::now() + timeout;
    if (done())
        return true;
    if (!QCoreApplication::instance()) {
        while (!done()) {
            if (Clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(kTick);
        }
        return true;
    }
    QEventLoop loop;
    // Wakes the wait below, so that a condition set by another thread without a message is
    // seen in time.
    QTimer tick;
    tick.start(kTick);
    while (!done()) {
        if (Clock::now() >= deadline)
            return false;
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace tzn
