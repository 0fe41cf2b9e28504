#include "plugin/plugin_root.h"

#include "module/module_state.h"
#include "platform/message_box.h"
#include "platform/message_loop.h"
#include "platform/window_messages.h"
#include "session/connect_inet.h"
#include "session/mail_thread.h"
#include "store/composition.h"
#include "ui/config_form.h"
#include "ui/mail_form.h"
#include "ui/sm_list_form.h"

#include <QApplication>

#include <cstdlib>

namespace tzn {
namespace {

// The windows live on the host's window thread, which runs a Qt application (the host's
// contract). A host that has none gets an offscreen one, so that the windows exist and the
// messages of the sessions are handled whenever the host lets Qt process its events.
void EnsureWindowSystem() {
    if (QCoreApplication::instance())
        return;
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "tznmail";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
}

// The shift dialog's one message: show it modally; the result is its modal result.
constexpr UINT WM_SHOW_SHIFT_DIALOG = WM_USER + 20;

} // namespace

TPluginRoot::TPluginRoot() = default;

TPluginRoot::~TPluginRoot() {
    FreeMailForm();
    FreeShiftDialog();
}

void TPluginRoot::CreateMailForm() {
    // The host suite's connection library, when installed, is the sessions' way online. It is
    // looked for at Load rather than when the library is mapped: only then does the host run
    // and its paths hold.
    LoadConnectInetLibrary();
    EnsureWindowSystem();
    FMailForm = std::make_unique<TMailForm>(
        [this] {
            TSessionContext context = TSessionContext::FromModule();
            context.WindowServices = &FWindowServices;
            // The automatic report of a station session with nothing to send: the current
            // shift.
            context.PrepareStationData = [this](const std::vector<std::string>& shifts) {
                PrepareStationData(&shifts, PreparationContext(false));
            };
            return context;
        },
        TMailFormCommands{[this] { MailboxSettings(); }, [this] { CreateReportLetter(); }},
        &FSessions);
    FWindowServices.SetMailbox(FMailForm->Handle());
}

void TPluginRoot::FreeMailForm() {
    // The preparation reports through the mailbox window's services: it ends first.
    EndDataPreparation();
    FWindowServices.SetMailbox({});
    FMailForm.reset(); // drops the queued sessions, waits for the running one
    UnloadConnectInetLibrary();
}

void TPluginRoot::CreateShiftDialog() {
    FreeShiftDialog(); // a second Load replaces the first one's dialog
    EnsureWindowSystem();
    FShiftDialog = std::make_unique<TSmListForm>(FShiftList);
    FShiftDialogWindow = std::make_unique<TMessageWindow>([this](UINT msg, WPARAM, LPARAM) {
        return msg == WM_SHOW_SHIFT_DIALOG && FShiftDialog ? LRESULT(FShiftDialog->ShowModal())
                                                           : LRESULT(0);
    });
}

void TPluginRoot::FreeShiftDialog() {
    EndDataPreparation();
    FShiftDialogWindow.reset();
    FShiftDialog.reset();
}

void TPluginRoot::EndDataPreparation() {
    // A preparation waiting to show the dialog is released (with 0, a cancel) once the
    // dialog's window is gone; no new one can start meanwhile, UnLoad runs on this thread.
    FShiftDialogWindow.reset();
    ProcessMessagesUntil([this] { return !FDataProcess.Running(); }, std::chrono::hours(24));
    FDataProcess.Wait();
}

TPreparationContext TPluginRoot::PreparationContext(bool interactive) {
    TPreparationContext context;
    context.Host = Host();
    context.Window = &FWindowServices;
    context.DataDir = DataDir();
    context.StationCodeReported = [](const std::string& code) {
        if (code != StationCode())
            SetStationCode(code);
    };
    if (interactive) {
        context.ShiftList = &FShiftList;
        context.AppServer = &FAppServer;
        // The handle is taken here, on the window thread; the worker only sends through it.
        TWindowHandle dialog;
        if (FShiftDialogWindow)
            dialog = FShiftDialogWindow->Handle();
        context.ShowShiftDialog = [dialog] {
            const LRESULT result = SendMessage(dialog, WM_SHOW_SHIFT_DIALOG, 0, 0);
            return result == 0 ? IDCANCEL : static_cast<int>(result);
        };
    }
    return context;
}

bool TPluginRoot::PostMailStart(int lParam) {
    return FMailForm &&
           PostMailMessage(FMailForm->Handle(),
                           MailStartMessage(SessionModeOf(static_cast<uint64_t>(lParam))));
}

void TPluginRoot::ShowMailbox() {
    if (FMailForm)
        FMailForm->ShowMailbox();
}

void TPluginRoot::CreateReportLetter() {
    FDataProcess.Start(PreparationContext(true));
}

void TPluginRoot::CreateRequestLetter() {
    OnCreateConfigMail(TSessionContext::FromModule().LocalSide(), FWindowServices);
}

void TPluginRoot::CreateRequestLettersForAll() {
    OnCreateAllConfigMail(TSessionContext::FromModule().LocalSide(), FWindowServices);
}

void TPluginRoot::MailboxSettings() {
    // The mailbox window's settings button opens the same dialog as Config.
    RunConfigDialog();
}

void TPluginRoot::RunConfigDialog() {
    // Config may come before Load: the dialog needs the window system all the same.
    EnsureWindowSystem();
    TConfigForm form(&FWindowServices);
    form.ShowModal();
}

} // namespace tzn
