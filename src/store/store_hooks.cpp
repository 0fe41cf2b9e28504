#include "store/store_hooks.h"

#include "module/module_hooks.h"
#include "store/composition.h"

namespace tzn {

void InstallStoreHooks() {
    UpdateModuleHooks([](ModuleHooks& hooks) {
        hooks.RequestLetterForSelected = OnCreateConfigMail;
        hooks.RequestLettersForAll = OnCreateAllConfigMail;
    });
}

} // namespace tzn
