// Window services for tests: records every box (answering OK) and counts list refreshes.
#pragma once

#include "module/window_services.h"
#include "platform/message_box.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace tzn::test {

class FakeWindowServices final : public TWindowServices {
public:
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       unsigned flags) override {
        std::lock_guard<std::mutex> lock(FMutex);
        FBoxes.push_back({text, caption, flags});
        return IDOK;
    }
    void RefreshLetterList() override { ++Refreshes; }

    std::vector<TRecordedMessageBox> Boxes() {
        std::lock_guard<std::mutex> lock(FMutex);
        return FBoxes;
    }

    std::atomic<int> Refreshes{0};

private:
    std::mutex FMutex;
    std::vector<TRecordedMessageBox> FBoxes;
};

} // namespace tzn::test
