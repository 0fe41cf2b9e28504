// Process-wide state of the mail sessions: the lock that makes sessions follow one another,
// the two flags shared with the mailbox window, and the registry of running session threads
// that lets the module wait for them before it destroys the window.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

namespace tzn {

// Held by a session for the whole of its run.
std::mutex& SessionLock();
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

// Runs `body` on a new thread that the registry joins later. Never blocks.
void StartSessionThread(std::function<void()> body);
// Session threads started and not yet finished.
int SessionsRunning();
// Waits until no session thread runs, calling `pump` (the window thread's message
// processing, so that a session waiting for the window can finish) between short waits.
// False when `timeout` passed first.
bool WaitForSessions(const std::function<void()>& pump = {},
                     std::chrono::milliseconds timeout = std::chrono::hours(24));

} // namespace tzn
