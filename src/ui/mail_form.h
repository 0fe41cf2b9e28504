// TMailForm: the module's mailbox window. A folder tree, the letter list of the chosen folder
// and the commands on its letters; the on-screen log and progress gauge of the mail session;
// the auto-receive timer. The sessions talk to it through its handle: it handles their mail
// messages and hands each start request (WM_MAIL_START) to the session runner. Created hidden
// at Load, it lives until UnLoad; closing it only hides it. Every handler runs on the window
// thread except MailClientWork, which only posts.
#pragma once

#include "mail/component.h"
#include "platform/datetime.h"
#include "platform/window_messages.h"
#include "session/mail_thread.h"
#include "session/session_runner.h"
#include "store/letter_files.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace tzn {

class TWindowServices;
class TStationOverviewForm;

// The commands the window leaves to the layers above it; unset ones do nothing.
struct TMailFormCommands {
    std::function<void()> Settings;     // the modal settings dialog
    std::function<void()> CreateReport; // the interactive report preparation
};

class TMailForm {
public:
    // Creates the hidden window on the calling thread, which must be the window thread (a Qt
    // application exists). `context` gives each session what it needs of the module; its
    // WindowServices also serve the window's own letter commands. `runner` runs the window's
    // sessions and outlives the window; none: a runner of the window's own.
    explicit TMailForm(std::function<TSessionContext()> context, TMailFormCommands commands = {},
                       TSessionRunner* runner = nullptr);
    // Drops the sessions still queued and waits for the running one (processing this thread's
    // messages meanwhile, so a session waiting for the window can finish) before the window
    // goes away.
    ~TMailForm();
    TMailForm(const TMailForm&) = delete;
    TMailForm& operator=(const TMailForm&) = delete;

    // What any thread uses to reach the window.
    TWindowHandle Handle() const;
    // The message handler (window thread).
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // Queues one session of this mode (receive then send, or send only) with the runner.
    void StartMailSession(TSessionMode mode);

    // Shows the window and brings it forward (FormShow runs on every show).
    void ShowMailbox();
    bool Visible() const;
    // The top-level widget; its parts carry their component names as object names.
    QWidget* Widget() const;

    // Showing and closing.
    void FormShow();
    void FormClose();

    // The letter list and the enabling of its commands.
    void RefreshLetterList();
    void UpdateCommandState();
    void MailMenuPopup();
    // The folder of the selected tree node; nothing for the root.
    std::optional<MailFolder> SelectedFolder() const;

    // Commands (buttons and menu items share them).
    void btnGetMailClick();
    void btnSendMailClick();
    void OnGetMail();
    void OnSendMail();
    void btnPropClick();
    void miResendClick();
    void miDeleteClick();
    void miProcessMsgClick();
    void N3Click();
    // The office's overview of its stations ("Сводка по АЗС"); created hidden with the window.
    void ShowStationOverview();
    TStationOverviewForm& StationOverview() const { return *FOverview; }

    // One tick of AutoGetMailTimer (every 300000 ms). A missing or unreadable
    // AutoGetMailLastDate counts as due at once: the first tick after auto-receive was turned
    // on collects the mail.
    void AutoGetMailTimerTimer();
    // The clock the timer's rule reads; the system clock unless replaced.
    void SetClock(std::function<TDateTime()> clock);

    // The clients' work events, raised on the session thread: progress is posted only for the
    // transfer the gauge follows (ProgressKind 1 and reading, or 2 and writing).
    void MailClientWork(TMxComponent& sender, TMxWorkMode mode, int64_t count);
    void MailClientWorkBegin(TMxComponent& sender, TMxWorkMode mode, int64_t maximum);
    void MailClientWorkEnd(TMxComponent& sender, TMxWorkMode mode);

    // The log memo's lines (CP1251) and the gauge as they are now (window thread). The memo
    // keeps the newest kMaxLogLines: a host left running for months, or a server that makes a
    // session log without end, must not fill the memory.
    static constexpr int kMaxLogLines = 5000;
    std::vector<std::string> LogLines() const;
    int ProgressKind() const { return FProgressKind.load(); }
    int64_t GaugeMaximum() const { return FGaugeMaximum; }
    int64_t GaugePosition() const { return FGaugePosition; }
    bool GaugeVisible() const;

private:
    struct TParts;

    // The window, one area at a time: the main menu; the tool bar with the flat letter
    // buttons; the folder tree and letter list (returns the tree's width); the list's popup
    // menu; the band of log, attached-data panel and gauge.
    void BuildWindow();
    void BuildMenus();
    QWidget* BuildToolBar();
    int BuildLetterViews();
    void BuildListMenu();
    QWidget* BuildBottomBand();
    void AddLogLine(const std::string& text);
    void SetGauge(int64_t maximum, int64_t position, bool visible);
    void SetFlatButtons(bool process, bool resend, bool remove);
    std::vector<std::string> SelectedFileNames() const;
    TWindowServices& Services();
    // This side as the letter commands hand it to the store: the sessions' context.
    TLocalSide LocalSide();
    TMailWindow SessionWindow();

    std::function<TSessionContext()> FContext;
    TMailFormCommands FCommands;
    std::function<TDateTime()> FClock;
    std::unique_ptr<TParts> FParts;
    std::deque<std::string> FLogLines; // the newest kMaxLogLines
    std::atomic<int> FProgressKind{0}; // 0 none, 1 receiving, 2 sending
    int64_t FGaugeMaximum = 0;
    int64_t FGaugePosition = 0;
    bool FClosing = false;
    std::unique_ptr<TSessionRunner> FOwnRunner; // when none was lent
    TSessionRunner* FRunner = nullptr;
    int FRunnerObserver = 0;
    std::unique_ptr<TMessageWindow> FWindow;
    std::unique_ptr<TStationOverviewForm> FOverview;
};

} // namespace tzn
