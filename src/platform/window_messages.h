// Window messages over the Qt event loop: a window lives on the thread that created it (the
// window thread, which runs the Qt event loop); any thread reaches it through its handle.
//
// PostMessage queues the message and returns at once. SendMessage runs the window's handler on
// the window thread and waits for its result; called on that thread it runs the handler at
// once. A sender waiting on another thread is released (with 0) when the window is destroyed
// before it handled the message. The caller must not hold a lock the window thread may wait
// for while it sends: the window thread could never get to the message.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace tzn {

using UINT = unsigned int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t; // may carry a pointer
using LRESULT = std::intptr_t;

constexpr UINT WM_USER = 1024;

// The mail session thread's messages to the mailbox window.
constexpr UINT WM_MAIL_START = WM_USER + 1;     // lParam: 0 full session, 1 send only
constexpr UINT WM_MAIL_LOG = WM_USER + 2;       // lParam: const char* line, sent
constexpr UINT WM_MAIL_BEGIN = WM_USER + 3;     // wParam: 1 receiving, 2 sending; lParam: size
constexpr UINT WM_MAIL_END = WM_USER + 4;       // lParam: the size of the matching begin
constexpr UINT WM_MAIL_PROGRESS = WM_USER + 10; // lParam: bytes transferred so far

// A window's message handler; it runs on the window thread.
using WindowProc = std::function<LRESULT(UINT msg, WPARAM wParam, LPARAM lParam)>;

namespace detail {
struct TWindowCore;
}

// A copyable reference to a window; it stays safe to use after the window is gone (messages
// to it then fail). A default-constructed handle refers to no window.
class TWindowHandle {
public:
    TWindowHandle() = default;
    explicit TWindowHandle(std::shared_ptr<detail::TWindowCore> core) : FCore(std::move(core)) {}
    const std::shared_ptr<detail::TWindowCore>& Core() const { return FCore; }

private:
    std::shared_ptr<detail::TWindowCore> FCore;
};

// The receiving end: create and destroy it on the window thread (a Qt application must exist).
class TMessageWindow {
public:
    explicit TMessageWindow(WindowProc proc);
    // Later messages fail; pending posted messages are dropped; waiting senders get 0.
    ~TMessageWindow();
    TMessageWindow(const TMessageWindow&) = delete;
    TMessageWindow& operator=(const TMessageWindow&) = delete;

    TWindowHandle Handle() const { return TWindowHandle(FCore); }

private:
    std::shared_ptr<detail::TWindowCore> FCore;
};

// True while the window exists.
bool IsWindow(const TWindowHandle& window);
// Queues the message; false when the window does not exist (nothing was queued).
bool PostMessage(const TWindowHandle& window, UINT msg, WPARAM wParam, LPARAM lParam);
// The handler's result; 0 when the window does not exist or went away before handling it.
// A handler that throws also gives 0 (the error is written to stderr).
LRESULT SendMessage(const TWindowHandle& window, UINT msg, WPARAM wParam, LPARAM lParam);

} // namespace tzn
