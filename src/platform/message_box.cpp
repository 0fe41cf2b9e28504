#include "platform/message_box.h"

#include "platform/cp1251.h"

#include <cstdio>
#include <deque>
#include <mutex>

namespace tzn {
namespace {

struct BoxState {
    std::mutex Mutex;
    std::deque<RecordedMessageBox> Recorded;
    int HeadlessAnswer = IDOK;
};

BoxState& State() {
    static BoxState state;
    return state;
}

} // namespace

int MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    BoxState& s = State();
    int answer;
    {
        std::lock_guard<std::mutex> lock(s.Mutex);
        answer = s.HeadlessAnswer;
        s.Recorded.push_back({text, caption, flags});
        while (s.Recorded.size() > kMaxRecordedMessageBoxes)
            s.Recorded.pop_front();
    }
    const std::string u8caption = Utf8FromCp1251(caption);
    std::fprintf(stderr, "%s%s%s\n", u8caption.c_str(), u8caption.empty() ? "" : ": ",
                 Utf8FromCp1251(text).c_str());
    return answer;
}

void SetHeadlessMessageBoxAnswer(int answer) {
    std::lock_guard<std::mutex> lock(State().Mutex);
    State().HeadlessAnswer = answer;
}

std::vector<RecordedMessageBox> RecordedMessageBoxes() {
    std::lock_guard<std::mutex> lock(State().Mutex);
    return {State().Recorded.begin(), State().Recorded.end()};
}

void ClearRecordedMessageBoxes() {
    std::lock_guard<std::mutex> lock(State().Mutex);
    State().Recorded.clear();
}

} // namespace tzn
