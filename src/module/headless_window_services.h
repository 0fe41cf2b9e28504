// Window services without a window: boxes go to the platform's box (on standard error when
// there is no display), and there is no letter list to refresh. What the plug-in uses until
// its mailbox window exists, and what the command-line tool uses for good.
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
