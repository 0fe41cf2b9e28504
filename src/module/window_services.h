// The window-side services the lower layers need: the store and the session report to the
// user and keep the mailbox window's list current through this, never through a window of
// their own. The plug-in passes one implementation down to every layer that needs it; tests
// pass one that records what the user would have been shown.
#pragma once

#include <string>

namespace tzn {

class TWindowServices {
public:
    // Shows a message box (flags and result as in platform/message_box.h) and waits for the
    // answer: modal to the calling thread, whichever thread that is.
    virtual int ShowMessageBox(const std::string& text, const std::string& caption,
                               unsigned flags) = 0;
    // Letters were composed or moved: the mailbox window, when it is showing, lists the
    // folders again on its own thread. Callable from any thread.
    virtual void RefreshLetterList() = 0;

protected:
    ~TWindowServices() = default;
};

} // namespace tzn
