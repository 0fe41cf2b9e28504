// Process-wide state of the mail sessions: the two flags shared with the mailbox window, the
// count of letters a session left behind, and the tally of sessions every runner of the process
// has queued or running, for whoever waits for all of them without knowing the runners.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace tzn {

// The lock file in the mail folder that sessions of different processes (the host's plug-in,
// the administrator's tool) hold for the whole of their run.
inline constexpr const char* kMailFolderLockName = "tznmail.lck";

// Set by the mailbox window when it closes during a retrieval; cleared when a session starts.
extern std::atomic<bool> MailCancelRequested;
// True while a retrieval run is in progress.
extern std::atomic<bool> MailReceiving;
// Letters for this side that the running session left on the server because they could not
// be processed or stored; set back to 0 when a session starts. Such a session has failed.
extern std::atomic<int> LettersLeftOnServer;

// MailReceiving is true for the life of the scope (a retrieval run), however it ends.
class TMailReceivingScope {
public:
    TMailReceivingScope() { MailReceiving = true; }
    ~TMailReceivingScope() { MailReceiving = false; }
    TMailReceivingScope(const TMailReceivingScope&) = delete;
    TMailReceivingScope& operator=(const TMailReceivingScope&) = delete;
};

// Sessions queued or running in any runner of the process.
int SessionsRunning();
// Waits until SessionsRunning() is 0, calling `pump` (the window thread's message processing,
// so that a session waiting for the window can finish) between short waits. False when
// `timeout` passed first.
bool WaitForSessions(const std::function<void()>& pump = {},
                     std::chrono::milliseconds timeout = std::chrono::hours(24));
// Waits on `changed` under `lock` until `done()`, calling `pump` unlocked between short waits;
// false when `timeout` passed first. The wait of WaitForSessions and of each runner.
bool WaitPumping(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                 const std::function<bool()>& done, const std::function<void()>& pump,
                 std::chrono::milliseconds timeout);
// For the runners: `delta` sessions taken (+) or ended or dropped (-).
void CountSessions(int delta);

} // namespace tzn
