// The message box. With a display (a widget application on any X server) the box is shown,
// modal, on the window thread while the calling thread waits for the user's answer. Headless
// (the offscreen platform, or no widget application) the box is one line on standard error,
// "caption: text" (or the text alone), which is how a headless host shows it, and answers OK
// at once. The layers above reach it only through their window services, so a test replaces
// the box with services of its own instead of watching this one.
#pragma once

#include <string>

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

} // namespace tzn
