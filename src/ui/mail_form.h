// TMailForm: the module's mailbox window. This unit is its message-handling core: the window
// handle the sessions talk to, the handler of the five mail messages, the start of a session
// per start request, the log memo and the progress gauge. The window is created hidden at Load
// and lives until UnLoad; closing it only hides it.
#pragma once

#include "mail/component.h"
#include "platform/window_messages.h"
#include "session/mail_thread.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;
class QPlainTextEdit;
class QProgressBar;

namespace tzn {

class TMailForm {
public:
    // Creates the hidden window on the calling thread, which must be the window thread (a Qt
    // application exists). `context` gives each session what it needs of the module.
    explicit TMailForm(std::function<TSessionContext()> context);
    // Waits for running sessions (processing this thread's messages meanwhile, so a session
    // waiting for the window can finish) before the window goes away.
    ~TMailForm();
    TMailForm(const TMailForm&) = delete;
    TMailForm& operator=(const TMailForm&) = delete;

    // What any thread uses to reach the window.
    TWindowHandle Handle() const;
    // The message handler (window thread).
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // Starts one TMailThread of this mode (0 receive then send, 1 send only).
    void StartMailSession(uint16_t mode);

    // Shows the window and brings it forward.
    void ShowMailbox();
    bool Visible() const;

    // The clients' work events, raised on the session thread: progress is posted only for the
    // transfer the gauge follows (ProgressKind 1 and reading, or 2 and writing).
    void MailClientWork(TMxComponent& sender, TMxWorkMode mode, int64_t count);
    void MailClientWorkBegin(TMxComponent& sender, TMxWorkMode mode, int64_t maximum);
    void MailClientWorkEnd(TMxComponent& sender, TMxWorkMode mode);

    // The log memo's lines (CP1251) and the gauge as they are now (window thread).
    std::vector<std::string> LogLines() const;
    int ProgressKind() const { return FProgressKind.load(); }
    int64_t GaugeMaximum() const { return FGaugeMaximum; }
    int64_t GaugePosition() const { return FGaugePosition; }
    bool GaugeVisible() const;

private:
    void AddLogLine(const std::string& text);
    void SetGauge(int64_t maximum, int64_t position, bool visible);
    TMailWindow SessionWindow();

    std::function<TSessionContext()> FContext;
    std::unique_ptr<QWidget> FWidget;
    QPlainTextEdit* FMemo1 = nullptr;
    QProgressBar* FGauge1 = nullptr;
    std::vector<std::string> FLogLines;
    std::atomic<int> FProgressKind{0}; // 0 none, 1 receiving, 2 sending
    int64_t FGaugeMaximum = 0;
    int64_t FGaugePosition = 0;
    bool FClosing = false;
    std::unique_ptr<TMessageWindow> FWindow;
};

} // namespace tzn
