// The message box. With a display (a widget application on any X server) the box is shown,
// modal, on the window thread while the calling thread waits for the user's answer. Headless
// (the offscreen platform, or no widget application) the text goes to stderr and the box
// answers at once. Either way the newest boxes are recorded for tests to read.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tzn {

enum TMessageBoxFlags : unsigned {
    MB_OK = 0,
    MB_OKCANCEL = 1,
    MB_YESNO = 4,
    MB_ICONERROR = 0x10,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_TOPMOST = 0x00040000
};
enum TMessageBoxResult : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

int MessageBox(const std::string& text, const std::string& caption, unsigned flags = MB_OK);

// What a headless box answers (IDOK unless a test chooses another answer, e.g. IDYES).
void SetHeadlessMessageBoxAnswer(int answer);

struct TRecordedMessageBox {
    std::string Text, Caption;
    unsigned Flags;
};
// The recorder keeps only the newest boxes, so a long-running headless host does not grow.
inline constexpr std::size_t kMaxRecordedMessageBoxes = 100;
// Oldest first.
std::vector<TRecordedMessageBox> RecordedMessageBoxes();
void ClearRecordedMessageBoxes();

} // namespace tzn
