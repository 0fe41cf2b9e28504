#include "session/session_state.h"

#include <condition_variable>
#include <mutex>

namespace tzn {

std::atomic<bool> MailCancelRequested{false};
std::atomic<bool> MailReceiving{false};
std::atomic<int> LettersLeftOnServer{0};

namespace {

struct TSessionTally {
    std::mutex Lock;
    std::condition_variable Changed;
    int Count = 0;
};

TSessionTally& Tally() {
    static TSessionTally tally;
    return tally;
}

} // namespace

void CountSessions(int delta) {
    TSessionTally& t = Tally();
    std::lock_guard<std::mutex> lock(t.Lock);
    t.Count += delta;
    t.Changed.notify_all();
}

int SessionsRunning() {
    TSessionTally& t = Tally();
    std::lock_guard<std::mutex> lock(t.Lock);
    return t.Count;
}

bool WaitPumping(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                 const std::function<bool()>& done, const std::function<void()>& pump,
                 std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        if (pump) {
            lock.unlock();
            pump();
            lock.lock();
        }
        changed.wait_for(lock, std::chrono::milliseconds(10));
    }
    return true;
}

bool WaitForSessions(const std::function<void()>& pump, std::chrono::milliseconds timeout) {
    TSessionTally& t = Tally();
    std::unique_lock<std::mutex> lock(t.Lock);
    return WaitPumping(
        lock, t.Changed, [&t] { return t.Count == 0; }, pump, timeout);
}

} // namespace tzn
