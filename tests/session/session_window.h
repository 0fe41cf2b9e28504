// A recording mailbox window for session tests: every message the session sends or posts,
// with the text of each log line copied while it is valid.
#pragma once

#include "session/mail_messages.h"
#include "session/mail_thread.h"

#include <mutex>
#include <string>
#include <vector>

namespace tzn::test {

struct WindowMessage {
    unsigned Msg;
    uintptr_t WParam;
    intptr_t LParam;
    bool Synchronous;
};

class RecordingWindow {
public:
    TMailWindow Window() {
        TMailWindow w;
        w.Send = [this](unsigned msg, uintptr_t wParam, intptr_t lParam, bool sync) -> intptr_t {
            std::lock_guard<std::mutex> lock(FLock);
            FMessages.push_back({msg, wParam, lParam, sync});
            if (msg == WM_MAIL_LOG) {
                FLines.emplace_back(ReadMailLog(lParam));
                if (OnLine)
                    OnLine(FLines.back());
            }
            return 1;
        };
        return w;
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> lock(FLock);
        return FLines;
    }
    std::vector<WindowMessage> Messages() {
        std::lock_guard<std::mutex> lock(FLock);
        return FMessages;
    }
    // Called (under the recorder's lock) with each log line as it arrives.
    std::function<void(const std::string&)> OnLine;

private:
    std::mutex FLock;
    std::vector<WindowMessage> FMessages;
    std::vector<std::string> FLines;
};

} // namespace tzn::test
