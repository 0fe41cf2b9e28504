#include "module/module_hooks.h"

#include <mutex>

namespace tzn {
namespace {

std::mutex& HooksMutex() {
    static std::mutex m;
    return m;
}

ModuleHooks& Hooks() {
    static ModuleHooks hooks;
    return hooks;
}

} // namespace

void UpdateModuleHooks(const std::function<void(ModuleHooks&)>& edit) {
    std::lock_guard<std::mutex> lock(HooksMutex());
    edit(Hooks());
}

ModuleHooks ModuleHooksSnapshot() {
    std::lock_guard<std::mutex> lock(HooksMutex());
    return Hooks();
}

} // namespace tzn
