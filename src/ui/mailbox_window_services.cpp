#include "ui/mailbox_window_services.h"

#include "platform/message_box.h"

namespace tzn {

int TMailboxWindowServices::ShowMessageBox(const std::string& text, const std::string& caption,
                                           unsigned flags) {
    return MessageBox(text, caption, flags);
}

void TMailboxWindowServices::RefreshLetterList() {
    TWindowHandle mailbox;
    {
        std::lock_guard<std::mutex> lock(FLock);
        mailbox = FMailbox;
    }
    // A window already gone makes this fail quietly: nothing is left to refresh.
    PostMessage(mailbox, WM_MAIL_REFRESH, 0, 0);
}

void TMailboxWindowServices::SetMailbox(TWindowHandle mailbox) {
    std::lock_guard<std::mutex> lock(FLock);
    FMailbox = std::move(mailbox);
}

} // namespace tzn
