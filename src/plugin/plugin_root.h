// The one place where the plug-in's layers are put together: it implements what the module's
// lifecycle and menu commands drive with the layers that exist, and hands each layer the
// window services it needs. The exports own one root for the library's lifetime.
#pragma once

#include "exchange/app_server.h"
#include "exchange/data_process_thread.h"
#include "exchange/shift_list.h"
#include "module/module_layers.h"
#include "session/session_runner.h"
#include "ui/mailbox_window_services.h"

#include <memory>

namespace tzn {

class TMailForm;
class TMessageWindow;
class TSmListForm;

class TPluginRoot final : public TModuleLayers {
public:
    TPluginRoot();
    ~TPluginRoot();
    TPluginRoot(const TPluginRoot&) = delete;
    TPluginRoot& operator=(const TPluginRoot&) = delete;

    void CreateMailForm() override;
    void FreeMailForm() override;
    void CreateShiftDialog() override;
    void FreeShiftDialog() override;
    bool PostMailStart(int lParam) override;
    void ShowMailbox() override;
    void CreateReportLetter() override;
    void CreateRequestLetter() override;
    void CreateRequestLettersForAll() override;
    void MailboxSettings() override;
    void RunConfigDialog() override;
    TWindowServices& WindowServices() override { return FWindowServices; }

private:
    // What a report preparation works with. An interactive one also gets the shift dialog,
    // shown modally on the window thread while the preparation waits (cancel when the dialog
    // has gone meanwhile).
    TPreparationContext PreparationContext(bool interactive);
    // Ends the interactive preparation before the windows it uses go: a preparation waiting
    // for the dialog is answered with cancel, one still working is waited for while the
    // window thread's messages are processed.
    void EndDataPreparation();

    TMailboxWindowServices FWindowServices;
    // The module's mail sessions, one after another; the mailbox window hands it the start
    // requests, from one Load to the next.
    TSessionRunner FSessions;
    std::unique_ptr<TMailForm> FMailForm;
    TShiftList FShiftList;
    TFileAppServer FAppServer;
    std::unique_ptr<TSmListForm> FShiftDialog;
    std::unique_ptr<TMessageWindow> FShiftDialogWindow; // runs the dialog on the window thread
    CDataProcessThread FDataProcess;
};

} // namespace tzn
