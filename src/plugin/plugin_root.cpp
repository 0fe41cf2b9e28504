#include "plugin/plugin_root.h"

#include "session/connect_inet.h"
#include "session/mail_thread.h"
#include "store/composition.h"
#include "ui/mail_form.h"

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

} // namespace

TPluginRoot::TPluginRoot() = default;

TPluginRoot::~TPluginRoot() {
    FreeMailForm();
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
            return context;
        },
        TMailFormCommands{[this] { MailboxSettings(); }, [this] { CreateReportLetter(); }});
    FWindowServices.SetMailbox(FMailForm->Handle());
}

void TPluginRoot::FreeMailForm() {
    FWindowServices.SetMailbox({});
    FMailForm.reset(); // waits for running sessions
    UnloadConnectInetLibrary();
}

void TPluginRoot::CreateShiftDialog() {
    // The hidden shift dialog is created here once it exists.
}

void TPluginRoot::FreeShiftDialog() {
    // The shift dialog is freed here once it exists.
}

bool TPluginRoot::PostMailStart(int lParam) {
    return FMailForm && PostMessage(FMailForm->Handle(), WM_MAIL_START, 0, lParam);
}

void TPluginRoot::ShowMailbox() {
    if (FMailForm)
        FMailForm->ShowMailbox();
}

void TPluginRoot::CreateReportLetter() {
    // Starts the report's data preparation thread once it exists.
}

void TPluginRoot::CreateRequestLetter() {
    OnCreateConfigMail(FWindowServices);
}

void TPluginRoot::CreateRequestLettersForAll() {
    OnCreateAllConfigMail(FWindowServices);
}

void TPluginRoot::MailboxSettings() {
    // The mailbox window's settings button opens the same dialog as Config.
    RunConfigDialog();
}

void TPluginRoot::RunConfigDialog() {
    // Shows the settings dialog modally once it exists.
}

} // namespace tzn
