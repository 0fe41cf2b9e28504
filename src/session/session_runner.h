// TSessionRunner: where the module's mail sessions start. Whoever wants a session hands the
// runner a request and returns at once; the runner's one thread takes the requests in the order
// they came and runs each to its end as a TMailThread, so sessions never overlap. Observers
// learn, on that thread, when each session starts and ends.
//
// The plug-in root owns the module's runner and lends it to the mailbox window: the window
// turns each WM_MAIL_START into a request, posts WM_MAIL_SESSION_END to itself when a session
// has ended, and before it goes drops what is still queued and waits for the running session
// while it handles its messages (that session may be waiting for the window).
#pragma once

#include "session/mail_thread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tzn {

// One session to run: its mode, the window as the session sees it, and what it needs of the
// module (taken when the request is made).
struct TSessionRequest {
    TSessionMode Mode = TSessionMode::Full;
    TMailWindow Window;
    TSessionContext Context;
};

// Told on the runner's thread, before a session's first step and after its last log line.
// Unset handlers are skipped.
struct TSessionObserver {
    std::function<void(const TSessionRequest&)> Started;
    std::function<void(const TSessionRequest&)> Ended;
};

class TSessionRunner {
public:
    TSessionRunner() = default;
    // Drops the queued requests, waits for the running session, ends the thread.
    ~TSessionRunner();
    TSessionRunner(const TSessionRunner&) = delete;
    TSessionRunner& operator=(const TSessionRunner&) = delete;

    // Queues a session behind those already queued; never waits for one.
    void Request(TSessionRequest request);
    // The requests not yet started start nothing (the module unloads); the running session
    // goes on.
    void DropQueued();

    // No session queued or running.
    bool Idle() const;
    // Waits until Idle(), calling `pump` between short waits; false when `timeout` passed first.
    bool Wait(const std::function<void()>& pump = {},
              std::chrono::milliseconds timeout = std::chrono::hours(24));

    // Adds an observer of every later session; the number given back forgets it. A session
    // already running when its observer is forgotten may still report its end to it.
    int Observe(TSessionObserver observer);
    void Forget(int observer);

private:
    // The runner's thread: one request after another until none is queued. It ends then rather
    // than waiting for the next, so that what the libraries keep per thread (the TLS library's
    // error queue) goes with it and not at process exit, after they were torn down.
    void Run();
    void RunOne(const TSessionRequest& request);

    mutable std::mutex FLock;
    std::condition_variable FIdle; // a session ended
    std::deque<TSessionRequest> FQueue;
    bool FRunning = false;
    bool FThreadAlive = false; // FThread takes requests; false once it left its loop
    std::vector<std::pair<int, TSessionObserver>> FObservers;
    int FLastObserver = 0;
    // Started by a request when none is alive, joined by the next start or the destructor.
    std::thread FThread;
};

} // namespace tzn
