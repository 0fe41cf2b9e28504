// The window messages between a mail session and the mailbox window, and the seam through
// which the session sends them: the session never touches the window itself.
#pragma once

#include <cstdint>
#include <functional>

namespace tzn {

inline constexpr unsigned WM_USER = 1024;
// Posted to the window to start a session; lParam 0 full session, 1 send only.
inline constexpr unsigned WM_MAIL_START = WM_USER + 1;
// Synchronous; lParam is the address of a NUL-terminated CP1251 line, valid during the call.
inline constexpr unsigned WM_MAIL_LOG = WM_USER + 2;
// Before a letter transfer: wParam the direction, lParam the expected size in bytes.
inline constexpr unsigned WM_MAIL_BEGIN = WM_USER + 3;
// After it: wParam 0, lParam the size of the matching begin.
inline constexpr unsigned WM_MAIL_END = WM_USER + 4;
// Bytes transferred so far in the current work run.
inline constexpr unsigned WM_MAIL_PROGRESS = WM_USER + 10;

inline constexpr uintptr_t kMailDirectionReceiving = 1;
inline constexpr uintptr_t kMailDirectionSending = 2;

// Delivers one message to the mailbox window: synchronously (the caller waits until the
// window has handled it; the handler's result comes back) or posted (queued; the result says
// whether it was queued).
using TMailMessageSink =
    std::function<intptr_t(unsigned msg, uintptr_t wParam, intptr_t lParam, bool synchronous)>;

} // namespace tzn
