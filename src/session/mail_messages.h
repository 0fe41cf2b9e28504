// The seam through which a mail session sends its window messages (platform/window_messages.h)
// to the mailbox window: the session never touches the window itself.
#pragma once

#include "platform/window_messages.h"

#include <cstdint>
#include <functional>

namespace tzn {

inline constexpr uintptr_t kMailDirectionReceiving = 1;
inline constexpr uintptr_t kMailDirectionSending = 2;
// Posted by a session when it has ended (after its last log line).
inline constexpr unsigned WM_MAIL_SESSION_END = WM_USER + 21;

// Delivers one message to the mailbox window: synchronously (the caller waits until the
// window has handled it; the handler's result comes back) or posted (queued; the result says
// whether it was queued).
using TMailMessageSink =
    std::function<intptr_t(unsigned msg, uintptr_t wParam, intptr_t lParam, bool synchronous)>;

} // namespace tzn
