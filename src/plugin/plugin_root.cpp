#include "plugin/plugin_root.h"

#include "store/composition.h"

namespace tzn {

void TPluginRoot::CreateMailForm() {
    // The hidden mailbox window is created here once it exists.
}

void TPluginRoot::FreeMailForm() {
    // The mailbox window is freed here once it exists.
}

void TPluginRoot::CreateShiftDialog() {
    // The hidden shift dialog is created here once it exists.
}

void TPluginRoot::FreeShiftDialog() {
    // The shift dialog is freed here once it exists.
}

bool TPluginRoot::PostMailStart(int /*lParam*/) {
    // Without the mailbox window and its session thread no request can be queued.
    return false;
}

void TPluginRoot::ShowMailbox() {
    // Shows the mailbox window once it exists.
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
