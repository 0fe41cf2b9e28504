#include "session/session_state.h"

#include <condition_variable>
#include <list>
#include <thread>

namespace tzn {

std::atomic<bool> MailCancelRequested{false};
std::atomic<bool> MailReceiving{false};
std::atomic<int> LettersLeftOnServer{0};

std::mutex& SessionLock() {
    static std::mutex lock;
    return lock;
}

namespace {

struct SessionThread {
    std::thread Thread;
    bool Finished = false;
};

// Threads are joined, never detached: a detached thread could still be leaving its body when
// the library is unloaded.
struct ThreadRegistry {
    // The library going away (process exit, or the host unloading it) waits for the threads
    // still listed instead of ending the process over a joinable thread.
    ~ThreadRegistry() {
        for (SessionThread& t : Threads)
            if (t.Thread.joinable())
                t.Thread.join();
    }
    std::mutex Lock;
    std::condition_variable Changed;
    std::list<SessionThread> Threads;
    int Running = 0;
};

ThreadRegistry& Registry() {
    static ThreadRegistry registry;
    return registry;
}

// Takes the finished threads out of the list (under the lock) so that they can be joined
// without it.
std::list<SessionThread> TakeFinished(ThreadRegistry& r) {
    std::list<SessionThread> done;
    for (auto it = r.Threads.begin(); it != r.Threads.end();) {
        auto next = std::next(it);
        if (it->Finished)
            done.splice(done.end(), r.Threads, it);
        it = next;
    }
    return done;
}

void JoinAll(std::list<SessionThread>& threads) {
    for (SessionThread& t : threads)
        if (t.Thread.joinable())
            t.Thread.join();
}

} // namespace

void StartSessionThread(std::function<void()> body) {
    ThreadRegistry& r = Registry();
    std::list<SessionThread> done;
    {
        std::lock_guard<std::mutex> lock(r.Lock);
        done = TakeFinished(r);
        SessionThread& entry = r.Threads.emplace_back();
        ++r.Running;
        entry.Thread = std::thread([&r, &entry, body = std::move(body)] {
            try {
                body();
            } catch (...) {
                // The body reports its own failures; nothing may end the process here.
            }
            std::lock_guard<std::mutex> lock(r.Lock);
            entry.Finished = true;
            --r.Running;
            r.Changed.notify_all();
        });
    }
    JoinAll(done);
}

int SessionsRunning() {
    ThreadRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.Lock);
    return r.Running;
}

bool WaitForSessions(const std::function<void()>& pump, std::chrono::milliseconds timeout) {
    ThreadRegistry& r = Registry();
    const auto until = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> lock(r.Lock);
    while (r.Running > 0) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        if (pump) {
            lock.unlock();
            pump();
            lock.lock();
        }
        r.Changed.wait_for(lock, std::chrono::milliseconds(10));
    }
    std::list<SessionThread> done = TakeFinished(r);
    lock.unlock();
    JoinAll(done);
    return true;
}

} // namespace tzn
