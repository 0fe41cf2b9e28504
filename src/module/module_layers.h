// Everything above the module that its lifecycle and host menu commands drive: the windows,
// the mail session requests, the report preparation and the letter commands. The plug-in
// implements it once and hands it to the lifecycle; every operation is pure virtual, so a
// layer cannot be left unwired.
#pragma once

namespace tzn {

class TWindowServices;

class TModuleLayers {
public:
    virtual void CreateMailForm() = 0;    // Load: the hidden mailbox window
    virtual void FreeMailForm() = 0;      // UnLoad
    virtual void CreateShiftDialog() = 0; // Load: the hidden shift dialog
    virtual void FreeShiftDialog() = 0;   // UnLoad
    // Posts WM_MAIL_START (wParam 0; lParam 0 full session, 1 send only) to the mailbox window;
    // whether it was queued.
    virtual bool PostMailStart(int lParam) = 0;
    virtual void ShowMailbox() = 0;                // shows the mailbox window, brought forward
    virtual void CreateReportLetter() = 0;         // the interactive report preparation
    virtual void CreateRequestLetter() = 0;        // request to the station selected in the host
    virtual void CreateRequestLettersForAll() = 0; // requests to every station
    virtual void MailboxSettings() = 0;            // the mailbox window's settings command
    virtual void RunConfigDialog() = 0;            // the modal settings dialog (Config)
    // How the module itself reports to the user (failed menu commands, UnLoad).
    virtual TWindowServices& WindowServices() = 0;

protected:
    ~TModuleLayers() = default;
};

} // namespace tzn
