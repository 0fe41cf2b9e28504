// The one message-box function. With a display installed (the window layer installs one)
// the box is shown on the window thread while the caller waits; headless, the text goes to
// stderr and to a recorder that tests read, and the box answers OK at once.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tzn {

enum MessageBoxFlags : unsigned {
    MB_OK = 0,
    MB_OKCANCEL = 1,
    MB_YESNO = 4,
    MB_ICONERROR = 0x10,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40
};
enum MessageBoxResult : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

int MessageBox(const std::string& text, const std::string& caption, unsigned flags = MB_OK);

using MessageBoxDisplay =
    std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;
void SetMessageBoxDisplay(MessageBoxDisplay display); // empty: headless
// What a headless box answers (IDOK unless a test chooses another answer, e.g. IDYES).
void SetHeadlessMessageBoxAnswer(int answer);

struct RecordedMessageBox {
    std::string text, caption;
    unsigned flags;
};
std::vector<RecordedMessageBox> RecordedMessageBoxes();
void ClearRecordedMessageBoxes();

} // namespace tzn
