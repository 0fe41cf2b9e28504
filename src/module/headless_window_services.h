// Window services without a window: boxes go to the headless message box (stderr and the
// recorder), and there is no letter list to refresh. What the plug-in uses until its mailbox
// window exists, and what the command-line tool uses for good.
#pragma once

#include "module/window_services.h"

namespace tzn {

class THeadlessWindowServices final : public TWindowServices {
public:
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       unsigned flags) override;
    void RefreshLetterList() override {}
};

} // namespace tzn
