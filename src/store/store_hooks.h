// Connects the store's request-letter commands to the module's menu and mailbox hooks.
#pragma once

namespace tzn {

// Sets ModuleHooks::RequestLetterForSelected and RequestLettersForAll to OnCreateConfigMail
// and OnCreateAllConfigMail. Call once before the host's Load, like the other layers' hooks.
void InstallStoreHooks();

} // namespace tzn
