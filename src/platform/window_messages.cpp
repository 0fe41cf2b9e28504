#include "platform/window_messages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>

namespace tzn {
namespace detail {

class TMessageReceiver;

struct TWindowCore {
    std::mutex Mutex;                     // guards Receiver against a concurrent destroy
    TMessageReceiver* Receiver = nullptr; // null once the window is destroyed
    std::atomic<bool> Alive{false};       // false from the start of the destroy on
    std::thread::id Thread;               // the window thread
    int Dispatching = 0;                  // handler calls running now (window thread only)
    std::shared_ptr<const WindowProc> Proc;
};

} // namespace detail

namespace {

using detail::TWindowCore;

// A sender's wait for the result of its message. The first Finish wins: the handler's result,
// or 0 when the message is dropped unhandled.
class TReply {
public:
    void Finish(LRESULT result) {
        {
            std::lock_guard<std::mutex> lock(FMutex);
            if (FDone)
                return;
            FResult = result;
            FDone = true;
        }
        FDoneChanged.notify_all();
    }
    LRESULT Wait() {
        std::unique_lock<std::mutex> lock(FMutex);
        FDoneChanged.wait(lock, [this] { return FDone; });
        return FResult;
    }

private:
    std::mutex FMutex;
    std::condition_variable FDoneChanged;
    bool FDone = false;
    LRESULT FResult = 0;
};

const QEvent::Type kMessageEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class TMessageEvent final : public QEvent {
public:
    TMessageEvent(UINT msg, WPARAM wParam, LPARAM lParam, std::shared_ptr<TReply> reply)
        : QEvent(kMessageEventType), Msg(msg), WParam(wParam), LParam(lParam),
          Reply(std::move(reply)) {}
    // Qt deletes the events still queued for a receiver that is deleted, so a sender whose
    // message never reached the handler is released here.
    ~TMessageEvent() override {
        if (Reply)
            Reply->Finish(0);
    }
    TMessageEvent(const TMessageEvent&) = delete;
    TMessageEvent& operator=(const TMessageEvent&) = delete;

    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    std::shared_ptr<TReply> Reply;
};

// Runs the handler on the window thread. An exception must not unwind through Qt's event loop.
LRESULT Dispatch(TWindowCore& core, UINT msg, WPARAM wParam, LPARAM lParam) {
    const std::shared_ptr<const WindowProc> proc = core.Proc; // survives a destroy inside
    ++core.Dispatching;
    LRESULT result = 0;
    try {
        result = (*proc)(msg, wParam, lParam);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "window message %u: %s\n", msg, e.what());
    } catch (...) {
        std::fprintf(stderr, "window message %u: unknown error\n", msg);
    }
    --core.Dispatching;
    return result;
}

bool OnWindowThread(const TWindowCore& core) {
    return std::this_thread::get_id() == core.Thread;
}

} // namespace

namespace detail {

class TMessageReceiver final : public QObject {
public:
    explicit TMessageReceiver(std::shared_ptr<TWindowCore> core) : FCore(std::move(core)) {}

    bool event(QEvent* e) override {
        // The sender built and queued the event under the core's lock; taking it here makes
        // that hand-over visible to thread checkers, which cannot see Qt's own queue locking.
        { std::lock_guard<std::mutex> lock(FCore->Mutex); }
        if (e->type() != kMessageEventType)
            return QObject::event(e);
        auto* m = static_cast<TMessageEvent*>(e);
        // A window destroyed while its handler ran is deleted later; what reaches it until then
        // is dropped (a sender gets 0 from the event's destructor).
        if (FCore->Alive) {
            const LRESULT result = Dispatch(*FCore, m->Msg, m->WParam, m->LParam);
            if (m->Reply)
                m->Reply->Finish(result);
        }
        return true;
    }

private:
    std::shared_ptr<TWindowCore> FCore;
};

} // namespace detail

TMessageWindow::TMessageWindow(WindowProc proc) : FCore(std::make_shared<TWindowCore>()) {
    FCore->Thread = std::this_thread::get_id();
    FCore->Proc = std::make_shared<const WindowProc>(std::move(proc));
    FCore->Receiver = new detail::TMessageReceiver(FCore);
    FCore->Alive = true;
}

TMessageWindow::~TMessageWindow() {
    detail::TMessageReceiver* receiver = nullptr;
    {
        std::lock_guard<std::mutex> lock(FCore->Mutex);
        receiver = FCore->Receiver;
        FCore->Receiver = nullptr;
        FCore->Alive = false;
    }
    if (!receiver)
        return;
    // Deleting the receiver drops its queued messages and so releases their senders. From
    // inside its own handler, or from another thread, Qt must do that on the window thread.
    if (OnWindowThread(*FCore) && FCore->Dispatching == 0)
        delete receiver;
    else
        receiver->deleteLater();
}

bool IsWindow(const TWindowHandle& window) {
    return window.Core() && window.Core()->Alive;
}

bool PostMessage(const TWindowHandle& window, UINT msg, WPARAM wParam, LPARAM lParam) {
    TWindowCore* core = window.Core().get();
    if (!core)
        return false;
    std::lock_guard<std::mutex> lock(core->Mutex);
    if (!core->Receiver)
        return false;
    QCoreApplication::postEvent(core->Receiver, new TMessageEvent(msg, wParam, lParam, nullptr));
    return true;
}

LRESULT SendMessage(const TWindowHandle& window, UINT msg, WPARAM wParam, LPARAM lParam) {
    TWindowCore* core = window.Core().get();
    if (!core)
        return 0;
    if (OnWindowThread(*core))
        return core->Alive ? Dispatch(*core, msg, wParam, lParam) : 0;
    auto reply = std::make_shared<TReply>();
    {
        std::lock_guard<std::mutex> lock(core->Mutex);
        if (!core->Receiver)
            return 0;
        QCoreApplication::postEvent(core->Receiver, new TMessageEvent(msg, wParam, lParam, reply));
    }
    return reply->Wait();
}

} // namespace tzn
