#include "module/headless_window_services.h"

#include "platform/message_box.h"

namespace tzn {

int THeadlessWindowServices::ShowMessageBox(const std::string& text, const std::string& caption,
                                            unsigned flags) {
    return MessageBox(text, caption, flags);
}

} // namespace tzn
