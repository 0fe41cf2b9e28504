#include "platform/message_box.h"

#include "platform/cp1251.h"

#include <cstdio>
#include <mutex>

namespace tzn {
namespace {

struct BoxState {
    std::mutex mutex;
    MessageBoxDisplay display;
    std::vector<RecordedMessageBox> recorded;
    int headlessAnswer = IDOK;
};

BoxState& State() {
    static BoxState state;
    return state;
}

} // namespace

int MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    BoxState& s = State();
    MessageBoxDisplay display;
    int answer;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        display = s.display;
        answer = s.headlessAnswer;
        if (!display)
            s.recorded.push_back({text, caption, flags});
    }
    // The display blocks until the user answers; it runs without the lock so that another
    // thread may still report meanwhile.
    if (display)
        return display(text, caption, flags);
    const std::string u8caption = Utf8FromCp1251(caption);
    std::fprintf(stderr, "%s%s%s\n", u8caption.c_str(), u8caption.empty() ? "" : ": ",
                 Utf8FromCp1251(text).c_str());
    return answer;
}

void SetMessageBoxDisplay(MessageBoxDisplay display) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().display = std::move(display);
}

void SetHeadlessMessageBoxAnswer(int answer) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().headlessAnswer = answer;
}

std::vector<RecordedMessageBox> RecordedMessageBoxes() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().recorded;
}

void ClearRecordedMessageBoxes() {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().recorded.clear();
}

} // namespace tzn
