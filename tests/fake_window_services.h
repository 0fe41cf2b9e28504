// Window services for tests: records every box, answering it as the test chooses (OK unless
// told otherwise), and counts list refreshes. What production code shows the user is read
// here, not from the platform's box.
#pragma once

#include "module/window_services.h"
#include "platform/message_box.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace tzn::test {

struct TRecordedMessageBox {
    std::string Text, Caption;
    unsigned Flags;
};

class FakeWindowServices final : public TWindowServices {
public:
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       unsigned flags) override {
        std::lock_guard<std::mutex> lock(FMutex);
        FBoxes.push_back({text, caption, flags});
        return Answer;
    }
    void RefreshLetterList() override { ++Refreshes; }

    // Oldest first.
    std::vector<TRecordedMessageBox> Boxes() {
        std::lock_guard<std::mutex> lock(FMutex);
        return FBoxes;
    }
    void ClearBoxes() {
        std::lock_guard<std::mutex> lock(FMutex);
        FBoxes.clear();
    }

    std::atomic<int> Answer{IDOK};
    std::atomic<int> Refreshes{0};

private:
    std::mutex FMutex;
    std::vector<TRecordedMessageBox> FBoxes;
};

} // namespace tzn::test
