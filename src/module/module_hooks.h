// Seams through which the window layers (mailbox window, settings dialog, shift dialog, report
// preparation) take part in the module's lifecycle and menu commands. Each layer installs its
// hooks once, before the host calls Load; a hook left empty does nothing, so Load, UnLoad and
// the menu work before those layers exist.
#pragma once

#include <functional>

namespace tzn {

struct ModuleHooks {
    std::function<void()> CreateMailForm;    // Load: the hidden mailbox window
    std::function<void()> FreeMailForm;      // UnLoad
    std::function<void()> CreateShiftDialog; // Load: the hidden shift dialog
    std::function<void()> FreeShiftDialog;   // UnLoad
    // Posts WM_MAIL_START (wParam 0, this lParam: 0 full session, 1 send only) to the mailbox
    // window; false when it could not be queued (no window).
    std::function<bool(int lParam)> PostMailStart;
    std::function<void()> ShowMailForm;             // shows it and brings it forward
    std::function<void()> StartReportLetter;        // the interactive report preparation
    std::function<void()> RequestLetterForSelected; // request letter to the host's station
    std::function<void()> RequestLettersForAll;     // request letters to every station
    std::function<void()> MailFormSettings;         // the mailbox window's settings command
    std::function<void()> RunConfigDialog;          // the modal settings dialog (Config)
};

// Lets a layer fill its hooks: edit runs under the hooks' lock.
void UpdateModuleHooks(const std::function<void(ModuleHooks&)>& edit);
// A copy of the installed hooks.
ModuleHooks ModuleHooksSnapshot();

} // namespace tzn
