// The messages between the mail sessions and the mailbox window, and what each carries. The ids
// and their numbers are the window's contract (platform/window_messages.h has the ones the host
// suite shares); a message is made and read only through the helpers here, so no caller packs
// or unpacks an LPARAM by hand. The session never touches the window itself: it hands its
// messages to a TMailMessageSink.
#pragma once

#include "platform/window_messages.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tzn {

// Posted to the mailbox window once a session has ended (after its last log line); the window
// posts it to itself as an observer of its session runner.
inline constexpr unsigned WM_MAIL_SESSION_END = WM_USER + 21;

// What a session does: a full session receives, then sends; send only skips the receiving.
enum class TSessionMode : uint16_t { Full = 0, SendOnly = 1 };

// The transfer the window's gauge follows (WM_MAIL_BEGIN's wParam).
inline constexpr uintptr_t kMailDirectionReceiving = 1;
inline constexpr uintptr_t kMailDirectionSending = 2;

// One message as it travels: its id and the two words it carries.
struct TMailMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
};

// WM_MAIL_START: start a session. wParam 0; lParam 0 full session, any other value send only.
inline TMailMessage MailStartMessage(TSessionMode mode) {
    return {WM_MAIL_START, 0, mode == TSessionMode::Full ? 0 : 1};
}
inline TSessionMode SessionModeOf(uint64_t request) {
    return request == 0 ? TSessionMode::Full : TSessionMode::SendOnly;
}
inline TSessionMode ReadMailStart(LPARAM lParam) {
    return SessionModeOf(static_cast<uint64_t>(lParam));
}

// WM_MAIL_LOG: one log line. lParam points into `line`, so the message is sent (the sender
// waits until the window has copied it), never posted.
inline TMailMessage MailLogMessage(const std::string& line) {
    return {WM_MAIL_LOG, 0, reinterpret_cast<LPARAM>(line.c_str())};
}
// The line, or null for a message without one; valid while the handler runs.
inline const char* ReadMailLog(LPARAM lParam) {
    return reinterpret_cast<const char*>(lParam); // NOLINT(performance-no-int-to-ptr)
}

// WM_MAIL_BEGIN: a transfer of `Size` bytes starts in `Direction` (kMailDirection...).
// WM_MAIL_END: the transfer ends; it carries the size of its begin.
struct TMailTransfer {
    uintptr_t Direction = 0;
    int64_t Size = 0;
};
inline TMailMessage MailBeginMessage(uintptr_t direction, int64_t size) {
    return {WM_MAIL_BEGIN, direction, static_cast<LPARAM>(size)};
}
inline TMailMessage MailEndMessage(int64_t size) {
    return {WM_MAIL_END, 0, static_cast<LPARAM>(size)};
}
inline TMailTransfer ReadMailTransfer(WPARAM wParam, LPARAM lParam) {
    return {wParam, static_cast<int64_t>(lParam)};
}

// WM_MAIL_PROGRESS: bytes transferred so far in the current transfer.
inline TMailMessage MailProgressMessage(int64_t bytes) {
    return {WM_MAIL_PROGRESS, 0, static_cast<LPARAM>(bytes)};
}
inline int64_t ReadMailProgress(LPARAM lParam) {
    return static_cast<int64_t>(lParam);
}

// WM_MAIL_SESSION_END: nothing but the id.
inline TMailMessage MailSessionEndMessage() {
    return {WM_MAIL_SESSION_END, 0, 0};
}

// Delivers one message to the mailbox window: synchronously (the caller waits until the
// window has handled it; the handler's result comes back) or posted (queued; the result says
// whether it was queued).
using TMailMessageSink =
    std::function<intptr_t(unsigned msg, uintptr_t wParam, intptr_t lParam, bool synchronous)>;

// The same through a window handle, for the window and those who start its sessions.
inline bool PostMailMessage(const TWindowHandle& window, const TMailMessage& m) {
    return PostMessage(window, m.Msg, m.WParam, m.LParam);
}
inline LRESULT SendMailMessage(const TWindowHandle& window, const TMailMessage& m) {
    return SendMessage(window, m.Msg, m.WParam, m.LParam);
}

} // namespace tzn
