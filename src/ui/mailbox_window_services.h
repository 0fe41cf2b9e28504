// The window services of the loaded module once the mailbox window exists: message boxes as
// before, and a letter-list refresh that any thread can ask for. The request is posted to
// the window, so the list is rebuilt on the window thread; with no window (before Load, after
// UnLoad) it is dropped.
#pragma once

#include "module/window_services.h"
#include "platform/window_messages.h"

#include <mutex>

namespace tzn {

// The request the mailbox window handles by listing its folder again when it is showing.
constexpr UINT WM_MAIL_REFRESH = WM_USER + 20;

class TMailboxWindowServices final : public TWindowServices {
public:
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       unsigned flags) override;
    void RefreshLetterList() override;

    // The window that receives refresh requests; a default handle for none.
    void SetMailbox(TWindowHandle mailbox);

private:
    std::mutex FLock;
    TWindowHandle FMailbox;
};

} // namespace tzn
