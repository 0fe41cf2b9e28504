// The session runner: sessions in the order asked for and never side by side, a caller that
// never waits, an unload that starts nothing queued and waits for the running session while
// the window's messages are handled.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/message_loop.h"
#include "session/session_runner.h"
#include "session/session_state.h"
#include "session_window.h"
#include "store/store_fixture.h"

namespace tzn {
namespace {

const std::string kClosing(37, '=');

// A gate sessions stop at until the test opens it.
class TGate {
public:
    void Open() {
        std::lock_guard<std::mutex> lock(FLock);
        FOpen = true;
        FChanged.notify_all();
    }
    void Pass() {
        std::unique_lock<std::mutex> lock(FLock);
        ++FWaiting;
        FChanged.notify_all();
        // Bounded, so that a failed test ends instead of holding its runner for ever.
        FChanged.wait_for(lock, std::chrono::seconds(30), [this] { return FOpen; });
    }
    // True once `n` have reached the gate within `wait`.
    bool Reached(int n, std::chrono::milliseconds wait = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(FLock);
        return FChanged.wait_for(lock, wait, [&] { return FWaiting >= n; });
    }

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FOpen = false;
    int FWaiting = 0;
};

class SessionRunnerTest : public test::StoreTest {
protected:
    void SetUp() override {
        test::StoreTest::SetUp();
        std::filesystem::current_path(FRoot.Dir());
        std::filesystem::create_directories(FRoot.Dir() / "LogFiles");
    }
    // A session that passes the gate and finds no network: only its closing line.
    TSessionRequest Request(TSessionMode mode, test::RecordingWindow& window) {
        TSessionContext c = TSessionContext::FromModule();
        c.ConnectNetwork = [g = FGate.get()] {
            g->Pass();
            return false;
        };
        return {mode, window.Window(), c};
    }
    // What the observer saw: "+F" a full session started, "-S" a send-only one ended...
    int Record(TSessionRunner& runner) {
        auto note = [this](char sign) {
            return [this, sign](const TSessionRequest& r) {
                std::lock_guard<std::mutex> lock(FEventsLock);
                FEvents += sign;
                FEvents += r.Mode == TSessionMode::Full ? 'F' : 'S';
                FEvents += ' ';
            };
        };
        return runner.Observe({note('+'), note('-')});
    }
    std::string Events() {
        std::lock_guard<std::mutex> lock(FEventsLock);
        return FEvents;
    }

    std::unique_ptr<TGate> FGate = std::make_unique<TGate>();
    std::mutex FEventsLock;
    std::string FEvents;
};

TEST_F(SessionRunnerTest, SessionsRunInTheOrderAskedOneAtATime) {
    TSessionRunner runner;
    Record(runner);
    test::RecordingWindow first, second, third;
    runner.Request(Request(TSessionMode::SendOnly, first));
    ASSERT_TRUE(FGate->Reached(1));
    // The first one holds the runner: the others were taken without waiting for it.
    runner.Request(Request(TSessionMode::Full, second));
    runner.Request(Request(TSessionMode::SendOnly, third));
    EXPECT_EQ(SessionsRunning(), 3);
    EXPECT_FALSE(runner.Idle());
    EXPECT_FALSE(FGate->Reached(2, std::chrono::milliseconds(100)))
        << "a second session began while the first ran";
    EXPECT_EQ(Events(), "+S ");
    FGate->Open();
    ASSERT_TRUE(runner.Wait({}, std::chrono::seconds(20)));
    EXPECT_TRUE(runner.Idle());
    EXPECT_EQ(SessionsRunning(), 0);
    EXPECT_EQ(Events(), "+S -S +F -F +S -S ");
    for (test::RecordingWindow* w : {&first, &second, &third})
        EXPECT_EQ(w->Lines(), std::vector<std::string>{kClosing});
}

TEST_F(SessionRunnerTest, DroppedRequestsStartNothingAndTheRunningOneEnds) {
    test::RecordingWindow first, queued;
    std::thread opener;
    {
        TSessionRunner runner;
        const int observer = Record(runner);
        runner.Request(Request(TSessionMode::Full, first));
        ASSERT_TRUE(FGate->Reached(1));
        runner.Request(Request(TSessionMode::SendOnly, queued));
        runner.DropQueued();
        EXPECT_EQ(SessionsRunning(), 1);
        FGate->Open();
        ASSERT_TRUE(runner.Wait({}, std::chrono::seconds(20)));
        EXPECT_EQ(Events(), "+F -F ");
        EXPECT_EQ(first.Lines(), std::vector<std::string>{kClosing});
        EXPECT_TRUE(queued.Messages().empty());

        // Still taking requests after the drop; a forgotten observer hears nothing more.
        runner.Forget(observer);
        runner.Request(Request(TSessionMode::SendOnly, queued));
        ASSERT_TRUE(runner.Wait({}, std::chrono::seconds(20)));
        EXPECT_EQ(queued.Lines(), std::vector<std::string>{kClosing});
        EXPECT_EQ(Events(), "+F -F ");

        // A runner going away with a request queued behind a running one drops it and
        // waits for the running one (let through once the drop is seen).
        FGate = std::make_unique<TGate>();
        runner.Request(Request(TSessionMode::Full, first));
        ASSERT_TRUE(FGate->Reached(1));
        runner.Request(Request(TSessionMode::Full, queued));
        opener = std::thread([this] {
            ProcessMessagesUntil([] { return SessionsRunning() == 1; }, std::chrono::seconds(10));
            FGate->Open();
        });
    }
    opener.join();
    EXPECT_EQ(first.Lines(), (std::vector<std::string>{kClosing, kClosing}));
    EXPECT_EQ(queued.Lines(), std::vector<std::string>{kClosing});
    EXPECT_EQ(SessionsRunning(), 0);
}

TEST_F(SessionRunnerTest, WaitingHandlesTheMessagesARunningSessionWaitsFor) {
    // A window whose log lines are handled only when its thread pumps them.
    std::mutex lock;
    std::condition_variable handled;
    int sent = 0, done = 0;
    TMailWindow window;
    window.Send = [&](unsigned, uintptr_t, intptr_t, bool synchronous) -> intptr_t {
        if (!synchronous)
            return 1;
        std::unique_lock<std::mutex> l(lock);
        const int mine = ++sent;
        handled.wait(l, [&] { return done >= mine; });
        return 1;
    };
    auto pump = [&] {
        std::lock_guard<std::mutex> l(lock);
        done = sent;
        handled.notify_all();
    };
    TSessionContext c = TSessionContext::FromModule();
    c.ConnectNetwork = [] { return false; };
    TSessionRunner runner;
    runner.Request({TSessionMode::Full, window, c});
    EXPECT_FALSE(runner.Wait({}, std::chrono::milliseconds(200))) << "the closing line waits";
    EXPECT_TRUE(runner.Wait(pump, std::chrono::seconds(20)));
    EXPECT_EQ(sent, 1);
}

} // namespace
} // namespace tzn
