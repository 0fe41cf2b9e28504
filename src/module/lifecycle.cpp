#include "module/lifecycle.h"

#include "module/activity_log.h"
#include "module/host_menu.h"
#include "module/module_layers.h"
#include "module/module_state.h"
#include "module/settings.h"
#include "module/window_services.h"
#include "platform/cp1251.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/paths.h"

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace tzn {
namespace {

// A module log entry made while a failure is being handled: it must not throw itself.
void LogQuietly(const std::string& text) {
    try {
        WriteActivityLog(text);
    } catch (...) {
        // No channel is left: the log was the report.
    }
}

void LogLoadFailure(const std::string& why) {
    LogQuietly(ru("Модуль не загружен: ") + why);
}

// The click handlers of the host menu commands, calling into the layers above the module.
class CMenuProc {
public:
    explicit CMenuProc(TModuleLayers& layers) : FLayers(layers) {}

    void ShowMailbox() { FLayers.ShowMailbox(); }
    void GetMail() { StartSession(0); }
    void SendMail() { StartSession(1); }
    void CreateReportLetter() { FLayers.CreateReportLetter(); }
    void CreateRequestLetter() { FLayers.CreateRequestLetter(); }
    void CreateRequestLettersForAll() { FLayers.CreateRequestLettersForAll(); }
    void OfficeSettings() { ModuleConfig(FLayers); }
    // The station side's command belongs to the mailbox window (which opens the same dialog).
    void StationSettings() { FLayers.MailboxSettings(); }

    TWindowServices& WindowServices() { return FLayers.WindowServices(); }

private:
    void StartSession(int lParam) {
        if (MailSettingsSnapshot().ShowWnd)
            FLayers.ShowMailbox();
        FLayers.PostMailStart(lParam);
    }

    TModuleLayers& FLayers;
};

// What Load hands out and UnLoad takes back. A second Load without UnLoad leaves the first
// set of commands in the host's menu, working until UnLoad, which takes back both sets.
struct TLoadedObjects {
    std::mutex Mutex;
    std::vector<std::shared_ptr<CMenuProc>> MenuProcs;
    // The host's items that carry one of our handlers; kept only until UnLoad clears them.
    std::vector<THostMenuItem*> HandledItems;
};

TLoadedObjects& Loaded() {
    static TLoadedObjects objects;
    return objects;
}

// A handler that calls method on the menu handler object while it exists: a click that
// reaches a handler after its object was freed does nothing. A failure inside is shown to the
// user; nothing reaches the host's menu loop.
THostMenuItem::ClickHandler Bind(const std::shared_ptr<CMenuProc>& proc,
                                 void (CMenuProc::*method)()) {
    return [weak = std::weak_ptr<CMenuProc>(proc), method](THostMenuItem*) {
        const std::shared_ptr<CMenuProc> p = weak.lock();
        if (!p)
            return;
        try {
            (p.get()->*method)();
        } catch (const std::exception& e) {
            try {
                p->WindowServices().ShowMessageBox(e.what(), "", MB_OK | MB_ICONERROR);
            } catch (...) {
                // The box was the report; nothing may reach the host's menu loop.
            }
        } catch (...) {
            try {
                p->WindowServices().ShowMessageBox(kUnknownError, "", MB_OK | MB_ICONERROR);
            } catch (...) {
                // The box was the report; nothing may reach the host's menu loop.
            }
        }
    };
}

TMenuCommands CommandsOf(const std::shared_ptr<CMenuProc>& proc) {
    TMenuCommands c;
    c.ShowMailbox = Bind(proc, &CMenuProc::ShowMailbox);
    c.GetMail = Bind(proc, &CMenuProc::GetMail);
    c.SendMail = Bind(proc, &CMenuProc::SendMail);
    c.CreateReportLetter = Bind(proc, &CMenuProc::CreateReportLetter);
    c.CreateRequestLetter = Bind(proc, &CMenuProc::CreateRequestLetter);
    c.CreateRequestLettersForAll = Bind(proc, &CMenuProc::CreateRequestLettersForAll);
    c.Settings = Bind(proc, ModuleSide() == TModuleSide::Station ? &CMenuProc::StationSettings
                                                                 : &CMenuProc::OfficeSettings);
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

void AddMenu(THostServices& host, uint8_t mode, const std::shared_ptr<CMenuProc>& proc) {
    std::vector<THostMenuItem*> handled;
    // Commands added before a failure of the host stay in its menu, so they are kept too.
    auto keep = [&handled] {
        std::lock_guard<std::mutex> lock(Loaded().Mutex);
        Loaded().HandledItems.insert(Loaded().HandledItems.end(), handled.begin(), handled.end());
    };
    try {
        AddHostMenuCommands(host, mode, CommandsOf(proc), handled);
    } catch (...) {
        keep();
        throw;
    }
    keep();
}

// The host may free its items or unload the library once UnLoad returns: no handler of ours
// may stay behind in them, as even destroying one runs this library's code.
void ReleaseMenuCommands() {
    std::vector<THostMenuItem*> items;
    std::vector<std::shared_ptr<CMenuProc>> procs;
    {
        std::lock_guard<std::mutex> lock(Loaded().Mutex);
        items.swap(Loaded().HandledItems);
        procs.swap(Loaded().MenuProcs);
    }
    std::exception_ptr failure;
    for (THostMenuItem* item : items) {
        try {
            item->SetOnClick(nullptr);
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace

int ModuleLoad(uint8_t mode, THostServices* host, TModuleLayers& layers) {
    try {
        std::shared_ptr<CMenuProc> proc = std::make_shared<CMenuProc>(layers);
        {
            std::lock_guard<std::mutex> lock(Loaded().Mutex);
            Loaded().MenuProcs.push_back(proc);
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
        layers.CreateMailForm();
        AddMenu(*host, mode, proc);
        ClearAdditionalAddresses();
        SetQueryMessageSizes(!FileExists("C:\\PLAV\\NoSizeMSG.ini"));
        layers.CreateShiftDialog();
        LoadMailSettings();
        return 0;
    } catch (const std::exception& e) {
        LogLoadFailure(e.what());
    } catch (...) {
        LogLoadFailure(kUnknownError);
    }
    return 1;
}

int ModuleUnLoad(TModuleLayers& layers) {
    // Every object is freed even when freeing another one failed; the first failure is shown.
    std::string error;
    auto step = [&error](const std::function<void()>& f) {
        try {
            f();
        } catch (const std::exception& e) {
            if (error.empty())
                error = e.what();
        } catch (...) {
            if (error.empty())
                error = kUnknownError;
        }
    };
    step(ReleaseMenuCommands);
    step([&layers] { layers.FreeMailForm(); });
    step([&layers] { layers.FreeShiftDialog(); });
    step(ClearAdditionalAddresses);
    if (!error.empty()) {
        try {
            layers.WindowServices().ShowMessageBox(error, "", MB_OK);
        } catch (...) {
            // The box was the report; UnLoad returns 0 whatever happens.
        }
    }
    return 0;
}

int ModuleConfig(TModuleLayers& layers) {
    try {
        layers.RunConfigDialog();
    } catch (const std::exception& e) {
        LogQuietly(ru("Ошибка окна настроек: ") + e.what());
    } catch (...) {
        LogQuietly(ru("Ошибка окна настроек: ") + kUnknownError);
    }
    return 0;
}

bool ModuleAutoSendMail(TModuleLayers& layers) {
    try {
        return layers.PostMailStart(0);
    } catch (...) {
        return false;
    }
}

std::string ModuleVersion() {
    return ru("8.01 от 15.12.2008");
}

} // namespace tzn
