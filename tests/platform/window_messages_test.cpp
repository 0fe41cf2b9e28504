// Window messages between a worker thread and the window thread (this test's main thread, with
// a Qt application and no running loop: messages arrive only while ProcessMessagesUntil runs).
#include "platform/message_loop.h"
#include "platform/window_messages.h"

#include <QCoreApplication>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tzn {
namespace {

using namespace std::chrono_literals;

// True once the thread `id` of this process is asleep in the kernel, within `timeout`.
bool AsleepWithin(const std::atomic<pid_t>& id, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
        if (id != 0) {
            std::ifstream stat("/proc/self/task/" + std::to_string(id) + "/stat");
            std::string line;
            std::getline(stat, line);
            // The state follows the command name, which is in parentheses.
            const std::size_t close = line.rfind(')');
            if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S')
                return true;
        }
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

class WindowMessagesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "tzn_platform_tests";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }

    // A window that records what it handled, and on which thread.
    struct Recorder {
        std::mutex Mutex;
        std::vector<std::string> Seen;
        std::atomic<int> Count{0};
        std::atomic<bool> OffThread{false};
        std::thread::id WindowThread = std::this_thread::get_id();

        WindowProc Proc() {
            return [this](UINT msg, WPARAM w, LPARAM l) -> LRESULT {
                if (std::this_thread::get_id() != WindowThread)
                    OffThread = true;
                // A log line's lParam is the text's address, as the session sends it.
                const char* text =
                    msg == WM_MAIL_LOG
                        ? reinterpret_cast<const char*>(l) // NOLINT(performance-no-int-to-ptr)
                        : nullptr;
                std::string entry = std::to_string(msg) + ":" + std::to_string(w) + ":";
                entry += text ? std::string(text) : std::to_string(l);
                {
                    std::lock_guard<std::mutex> lock(Mutex);
                    Seen.push_back(entry);
                }
                ++Count;
                if (text)
                    return static_cast<LRESULT>(std::strlen(text));
                return static_cast<LRESULT>(msg) + l % 1000;
            };
        }
    };
};

TEST_F(WindowMessagesTest, PostsFromAWorkerArriveOnTheWindowThreadInOrder) {
    Recorder rec;
    TMessageWindow window(rec.Proc());
    const TWindowHandle h = window.Handle();
    std::atomic<bool> allQueued{true};
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i)
            allQueued = allQueued && PostMessage(h, WM_MAIL_PROGRESS, 0, i);
        allQueued = allQueued && PostMessage(h, WM_MAIL_END, 0, 7);
    });
    worker.join();
    EXPECT_TRUE(allQueued);
    EXPECT_EQ(rec.Count, 0); // queued, not run: the window thread has not looked yet
    ASSERT_TRUE(ProcessMessagesUntil([&] { return rec.Count == 51; }, 5s));
    EXPECT_FALSE(rec.OffThread);
    std::lock_guard<std::mutex> lock(rec.Mutex);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(rec.Seen[i], "1034:0:" + std::to_string(i));
    EXPECT_EQ(rec.Seen[50], "1028:0:7");
}

TEST_F(WindowMessagesTest, SendFromAWorkerWaitsForTheHandlerAndGetsItsResult) {
    Recorder rec;
    const WindowProc record = rec.Proc();
    std::atomic<bool> returned{false};
    bool waitingWhenHandled = false;
    // The handler runs only while this thread processes messages; whenever that is, the worker
    // must still be waiting for it.
    auto window = std::make_unique<TMessageWindow>([&](UINT msg, WPARAM w, LPARAM l) {
        waitingWhenHandled = !returned;
        return record(msg, w, l);
    });
    const TWindowHandle h = window->Handle();
    LRESULT result = -1;
    std::thread worker([&] {
        std::string line = "line of the session"; // valid only during the call
        result = SendMessage(h, WM_MAIL_LOG, 0, reinterpret_cast<LPARAM>(line.c_str()));
        line.assign(line.size(), 'x');
        returned = true;
    });
    EXPECT_TRUE(ProcessMessagesUntil([&] { return returned.load(); }, 5s));
    window.reset(); // releases a worker still waiting after the deadline
    worker.join();
    EXPECT_TRUE(waitingWhenHandled);
    EXPECT_FALSE(rec.OffThread);
    ASSERT_EQ(rec.Seen.size(), 1u);
    EXPECT_EQ(rec.Seen[0], "1026:0:line of the session");
    EXPECT_EQ(result, 19);
}

TEST_F(WindowMessagesTest, SendOnTheWindowThreadRunsAtOnce) {
    Recorder rec;
    TMessageWindow window(rec.Proc());
    EXPECT_EQ(SendMessage(window.Handle(), WM_MAIL_BEGIN, 2, 4096), 1027 + 96);
    EXPECT_EQ(rec.Count, 1);
    EXPECT_EQ(rec.Seen[0], "1027:2:4096");
}

TEST_F(WindowMessagesTest, MessagesToAGoneWindowFailWithoutHarm) {
    Recorder rec;
    TWindowHandle h;
    EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(PostMessage(h, WM_MAIL_START, 0, 0));
    EXPECT_EQ(SendMessage(h, WM_MAIL_START, 0, 0), 0);
    {
        TMessageWindow window(rec.Proc());
        h = window.Handle();
        EXPECT_TRUE(IsWindow(h));
        EXPECT_TRUE(PostMessage(h, WM_MAIL_START, 0, 1)); // still queued when it goes
    }
    EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(PostMessage(h, WM_MAIL_START, 0, 0));
    EXPECT_EQ(SendMessage(h, WM_MAIL_START, 0, 0), 0);
    LRESULT fromWorker = -1;
    std::thread([&] { fromWorker = SendMessage(h, WM_MAIL_BEGIN, 1, 1); }).join();
    EXPECT_EQ(fromWorker, 0);
    ProcessMessagesUntil([] { return false; }, 50ms);
    EXPECT_EQ(rec.Count, 0);
}

TEST_F(WindowMessagesTest, AWaitingSenderIsReleasedWhenTheWindowGoesAway) {
    Recorder rec;
    auto window = std::make_unique<TMessageWindow>(rec.Proc());
    const TWindowHandle h = window->Handle();
    std::atomic<bool> returned{false};
    LRESULT result = -1;
    std::atomic<pid_t> workerId{0};
    std::thread worker([&] {
        workerId = static_cast<pid_t>(::syscall(SYS_gettid));
        result = SendMessage(h, WM_MAIL_BEGIN, 1, 500);
        returned = true;
    });
    // Nothing else can put the worker to sleep: asleep, it waits for its answer.
    ASSERT_TRUE(AsleepWithin(workerId, 5s));
    EXPECT_FALSE(returned);
    window.reset();
    const bool released = ProcessMessagesUntil([&] { return returned.load(); }, 5s);
    ASSERT_TRUE(released);
    worker.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(rec.Count, 0);
}

TEST_F(WindowMessagesTest, AWindowDestroyedByItsOwnHandlerDropsWhatFollows) {
    std::unique_ptr<TMessageWindow> window;
    int handled = 0;
    window = std::make_unique<TMessageWindow>([&](UINT, WPARAM, LPARAM) -> LRESULT {
        ++handled;
        window.reset();
        return 1;
    });
    const TWindowHandle h = window->Handle();
    EXPECT_TRUE(PostMessage(h, WM_MAIL_END, 0, 0));
    EXPECT_TRUE(PostMessage(h, WM_MAIL_END, 0, 0));
    ProcessMessagesUntil([] { return false; }, 100ms);
    EXPECT_EQ(handled, 1);
    EXPECT_FALSE(IsWindow(h));
}

TEST_F(WindowMessagesTest, ProcessMessagesUntilGivesUpAfterItsTimeOut) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ProcessMessagesUntil([] { return false; }, 120ms));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 120ms);
    EXPECT_LT(waited, 2s);
}

} // namespace
} // namespace tzn
