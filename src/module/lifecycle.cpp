#include "module/lifecycle.h"

#include "module/host_menu.h"
#include "module/module_hooks.h"
#include "module/module_state.h"
#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/paths.h"

#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace tzn {
namespace {

// The click handlers of the host menu commands. The menu items outlive UnLoad (they belong to
// the host), so they hold the handler object weakly: after UnLoad a click does nothing.
class CMenuProc {
public:
    void ShowMailbox() { Call(ModuleHooksSnapshot().ShowMailForm); }
    void GetMail() { StartSession(0); }
    void SendMail() { StartSession(1); }
    void CreateReportLetter() { Call(ModuleHooksSnapshot().StartReportLetter); }
    void CreateRequestLetter() { Call(ModuleHooksSnapshot().RequestLetterForSelected); }
    void CreateRequestLettersForAll() { Call(ModuleHooksSnapshot().RequestLettersForAll); }
    void OfficeSettings() { ModuleConfig(); }
    // The station side's command belongs to the mailbox window (which opens the same dialog).
    void StationSettings() {
        const ModuleHooks hooks = ModuleHooksSnapshot();
        if (hooks.MailFormSettings)
            hooks.MailFormSettings();
        else
            ModuleConfig();
    }

private:
    static void Call(const std::function<void()>& f) {
        if (f)
            f();
    }
    static void StartSession(int lParam) {
        const ModuleHooks hooks = ModuleHooksSnapshot();
        if (MailSettingsSnapshot().ShowWnd)
            Call(hooks.ShowMailForm);
        if (hooks.PostMailStart)
            hooks.PostMailStart(lParam);
    }
};

std::mutex gObjectsMutex;
// One handler object per Load since the last UnLoad: a second Load without UnLoad leaves the
// first set of commands in the host's menu, and they keep working until UnLoad.
std::vector<std::shared_ptr<CMenuProc>> gMenuProcs;

// A handler that calls method on the menu handler object while it exists. A failure inside is
// shown to the user; nothing reaches the host's menu loop.
THostMenuItem::ClickHandler Bind(const std::shared_ptr<CMenuProc>& proc,
                                 void (CMenuProc::*method)()) {
    return [weak = std::weak_ptr<CMenuProc>(proc), method](THostMenuItem*) {
        const std::shared_ptr<CMenuProc> p = weak.lock();
        if (!p)
            return;
        try {
            (p.get()->*method)();
        } catch (const std::exception& e) {
            MessageBox(e.what(), "", MB_OK | MB_ICONERROR);
        }
    };
}

MenuCommands CommandsOf(const std::shared_ptr<CMenuProc>& proc) {
    MenuCommands c;
    c.ShowMailbox = Bind(proc, &CMenuProc::ShowMailbox);
    c.GetMail = Bind(proc, &CMenuProc::GetMail);
    c.SendMail = Bind(proc, &CMenuProc::SendMail);
    c.CreateReportLetter = Bind(proc, &CMenuProc::CreateReportLetter);
    c.CreateRequestLetter = Bind(proc, &CMenuProc::CreateRequestLetter);
    c.CreateRequestLettersForAll = Bind(proc, &CMenuProc::CreateRequestLettersForAll);
    c.Settings =
        Bind(proc, ModuleMode() == 0 ? &CMenuProc::StationSettings : &CMenuProc::OfficeSettings);
    return c;
}

// Folder part of the host's data file name plus "\". A name without a folder would make the
// data exchange folder the file system's root, so the current DataDir is kept instead.
std::string DataDirOf(const std::string& dataFileName) {
    std::string dir = ExtractFilePath(dataFileName);
    while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/'))
        dir.pop_back();
    if (dir.empty())
        return DataDir();
    return dir + "\\";
}

} // namespace

int ModuleLoad(uint8_t mode, THostServices* host) {
    try {
        std::shared_ptr<CMenuProc> proc = std::make_shared<CMenuProc>();
        {
            std::lock_guard<std::mutex> lock(gObjectsMutex);
            gMenuProcs.push_back(proc);
        }
        SetModuleMode(mode);
        SetHost(host);
        if (!host)
            throw std::runtime_error("no host object");
        SetStationCode(host->GetStationCode());
        const std::string dataDir = DataDirOf(host->GetDataFileName());
        SetDataDir(dataDir);
        if (!ForceDirectories(dataDir))
            throw std::runtime_error(ru("Не удается создать каталог ") + dataDir);
        const ModuleHooks hooks = ModuleHooksSnapshot();
        if (hooks.CreateMailForm)
            hooks.CreateMailForm();
        AddHostMenuCommands(*host, mode, CommandsOf(proc));
        ClearAdditionalAddresses();
        SetQueryMessageSizes(!FileExists("C:\\PLAV\\NoSizeMSG.ini"));
        if (hooks.CreateShiftDialog)
            hooks.CreateShiftDialog();
        LoadMailSettings();
        return 0;
    } catch (...) {
        return 1;
    }
}

int ModuleUnLoad() {
    // Every object is freed even when freeing another one failed; the first failure is shown.
    std::string error;
    auto step = [&error](const std::function<void()>& f) {
        try {
            if (f)
                f();
        } catch (const std::exception& e) {
            if (error.empty())
                error = e.what();
        } catch (...) {
            if (error.empty())
                error = "unknown error";
        }
    };
    const ModuleHooks hooks = ModuleHooksSnapshot();
    step([] {
        std::lock_guard<std::mutex> lock(gObjectsMutex);
        gMenuProcs.clear();
    });
    step(hooks.FreeMailForm);
    step(hooks.FreeShiftDialog);
    step(ClearAdditionalAddresses);
    if (!error.empty())
        MessageBox(error, "", MB_OK);
    return 0;
}

int ModuleConfig() {
    try {
        const ModuleHooks hooks = ModuleHooksSnapshot();
        if (hooks.RunConfigDialog)
            hooks.RunConfigDialog();
    } catch (...) {
    }
    return 0;
}

bool ModuleAutoSendMail() {
    try {
        const ModuleHooks hooks = ModuleHooksSnapshot();
        return hooks.PostMailStart && hooks.PostMailStart(0);
    } catch (...) {
        return false;
    }
}

std::string ModuleVersion() {
    return ru("8.01 от 15.12.2008");
}

} // namespace tzn
