#include "session/mail_thread.h"

#include "mail/tcp_client.h"
#include "module/activity_log.h"
#include "module/headless_window_services.h"
#include "module/module_state.h"
#include "platform/cp1251.h"
#include "platform/datetime.h"
#include "platform/folder_lock.h"
#include "platform/paths.h"
#include "platform/sync_group.h"
#include "session/connection_security.h"
#include "session/session_network.h"
#include "session/session_state.h"
#include "store/leftovers.h"
#include "store/letter_files.h"
#include "tznmail/host.h"

#include <optional>
#include <stdexcept>

namespace tzn {

TSessionContext TSessionContext::FromModule() {
    TSessionContext c;
    c.Host = tzn::Host();
    c.Side = tzn::ModuleSide();
    c.StationCode = tzn::StationCode();
    c.DataDir = tzn::DataDir();
    c.QueryMessageSizes = tzn::QueryMessageSizes();
    return c;
}

TMailThread::TMailThread(TSessionMode mode, TMailWindow window, TSessionContext context)
    : FSessionMode(mode), FWindow(std::move(window)), FContext(std::move(context)) {
    // The window's own rule for its gauge, for a window that leaves the handlers to us.
    if (!FWindow.OnWork)
        FWindow.OnWork = [this](TMxComponent&, TMxWorkMode mode, int64_t count) {
            const uintptr_t direction = FDirection.load();
            if ((direction == kMailDirectionReceiving && mode == TMxWorkMode::Read) ||
                (direction == kMailDirectionSending && mode == TMxWorkMode::Write))
                PostToWindow(MailProgressMessage(count));
        };
}

TWindowServices& TMailThread::WindowServices() const {
    static THeadlessWindowServices headless;
    return FContext.WindowServices ? *FContext.WindowServices : headless;
}

TMailThread::~TMailThread() {
    if (FOutMail)
        ClearLetterList(*FOutMail);
}

MailSettings TMailThread::Settings() const {
    return FContext.Settings ? FContext.Settings() : MailSettingsSnapshot();
}

intptr_t TMailThread::SendToWindow(const TMailMessage& m) {
    if (!FWindow.Send)
        return 0;
    try {
        return FWindow.Send(m.Msg, m.WParam, m.LParam, true);
    } catch (...) {
        // A window that cannot take the message must not end the session.
        return 0;
    }
}

void TMailThread::PostToWindow(const TMailMessage& m) {
    if (!FWindow.Send)
        return;
    try {
        FWindow.Send(m.Msg, m.WParam, m.LParam, false);
    } catch (...) {
        // Progress is for the eye only; a window that cannot take it does not stop the run.
    }
}

void TMailThread::BeginTransfer(uintptr_t direction, int64_t size, bool synchronous) {
    FDirection = direction;
    if (synchronous)
        SendToWindow(MailBeginMessage(direction, size));
    else
        PostToWindow(MailBeginMessage(direction, size));
}

void TMailThread::EndTransfer(int64_t size, bool synchronous) {
    FDirection = 0;
    if (synchronous)
        SendToWindow(MailEndMessage(size));
    else
        PostToWindow(MailEndMessage(size));
}

void TMailThread::AddSessionLog(const std::string& text) {
    // No lock is held here: the window thread may itself wait for LogLock.
    SendToWindow(MailLogMessage(text));
    try {
        AppendSessionLogLine(text);
    } catch (const std::exception& e) {
        // The line has reached the window; one notice there is enough, and the mail work
        // goes on rather than stopping half-way over a log file.
        if (!FLogFileFailed) {
            FLogFileFailed = true;
            const std::string notice = ru("Ошибка записи журнала сеанса: ") + e.what();
            SendToWindow(MailLogMessage(notice));
        }
    }
}

void TMailThread::ConfigureClient(TMxTCPClient& client, const std::string& host, int port,
                                  const std::string& security, const char* securityKey,
                                  const MailSettings& settings) {
    client.Host = host;
    client.Port = static_cast<uint16_t>(port);
    client.UseTLS = TlsOptionsFromSettings(security, securityKey, settings);
    client.ConnectTimeout =
        settings.ConnectTimeout > 0 ? settings.ConnectTimeout * 1000 : kMxSessionConnectTimeoutMs;
    client.ReadTimeout =
        settings.ReadTimeout > 0 ? settings.ReadTimeout * 1000 : kMxSessionReadTimeoutMs;
    client.OnWork = FWindow.OnWork;
    client.OnWorkBegin = FWindow.OnWorkBegin;
    client.OnWorkEnd = FWindow.OnWorkEnd;
}

void TMailThread::PrepareStationReports() {
    if (!FContext.Host)
        throw std::runtime_error("No host services");
    const int64_t shift = FContext.Host->GetParamValue(kHostParamShift, 0).ToInteger();
    const std::vector<std::string> shifts{std::to_string(shift)};
    if (FContext.PrepareStationData)
        FContext.PrepareStationData(shifts);
    else
        AddSessionLog(ru("Подготовка данных смены ") + shifts.front() +
                      ru(" пропущена: подготовка данных недоступна"));
}

bool TMailThread::LockMailFolder(TFolderLock& lock) {
    const MailSettings settings = Settings();
    try {
        if (lock.Acquire(settings.MailDir, kMailFolderLockName, 0))
            return true;
        // Said at once: a host that follows the log sees the session alive while it waits.
        AddSessionLog(ru("Почтовая папка занята другим сеансом, ожидание (до ") +
                      std::to_string(settings.MailFolderWait) + ru(" с)..."));
        if (lock.Acquire(settings.MailDir, kMailFolderLockName, settings.MailFolderWait * 1000,
                         [] { return MailCancelRequested.load(); }))
            return true;
        AddSessionLog(ru("Ошибка: почтовая папка занята другим сеансом, сеанс не выполнен: ") +
                      settings.MailDir);
    } catch (const std::exception& e) {
        AddSessionLog(ru("Ошибка: ") + e.what());
    }
    return false;
}

void TMailThread::Execute() {
    try {
        // Every session postpones the next automatic one, whatever happens after.
        WriteAutoGetMailLastDate(Now());
    } catch (const std::exception& e) {
        AddSessionLog(ru("Ошибка: ") + e.what());
    }
    MailCancelRequested = false;
    // Another process's session on this folder would load the journal beside ours and import
    // every letter again; the whole run, delivery included, waits its turn.
    TFolderLock folder;
    if (!LockMailFolder(folder)) {
        AddSessionLog(std::string(37, '='));
        return;
    }
    RemoveLeftoverFiles(Settings().MailDir, SystemTempDirectory());
    MaintainLedger();
    for (const std::string& name : DropDeliveredFromOutBox())
        AddSessionLog(ru("Письмо уже было отправлено, удалено из исходящих: ") + name);
    // The session's files reach the disk in groups, at the barriers it places itself.
    std::optional<TSyncGroup> durable;
    try {
        durable.emplace(Settings().MailDir);
    } catch (const std::exception&) {
        // Without a group every file is flushed on its own, as outside sessions.
    }
    LettersLeftOnServer = 0;
    ResetLetterFileCounter();
    FOutMail.reset();
    std::optional<TSessionNetwork> network;
    try {
        bool networkUp = false;
        if (FContext.ConnectNetwork) {
            networkUp = FContext.ConnectNetwork();
        } else {
            network.emplace([this](const std::string& line) { AddSessionLog(line); });
            networkUp = network->Start();
        }
        if (networkUp) {
            if (FSessionMode == TSessionMode::Full) {
                if (Settings().m_GetMailWithSort)
                    GetMailSorted();
                else
                    GetMail();
            }
            LoadFolderLetters(FOutMail, MailFolder::OutBox);
            if ((!FOutMail || FOutMail->Empty()) && FContext.Side == TModuleSide::Station &&
                Settings().AutoOnNoMail) {
                PrepareStationReports();
                LoadFolderLetters(FOutMail, MailFolder::OutBox);
            }
            SendOutBox();
            ApplyLetterMoves(FOutMail, WindowServices());
        }
    } catch (const std::exception& e) {
        AddSessionLog(ru("Ошибка: ") + e.what());
    } catch (...) {
        AddSessionLog(ru("Ошибка: ") + kUnknownError);
    }
    if (FOutMail) {
        ClearLetterList(*FOutMail);
        FOutMail.reset();
    }
    // What the session wrote besides the mail it moved (prepared reports, the journal) is on
    // disk when it ends.
    if (durable) {
        try {
            durable->Barrier();
        } catch (const std::exception& e) {
            AddSessionLog(ru("Ошибка: ") + e.what());
        }
    }
    try {
        if (network)
            network->End();
        else if (FContext.EndNetwork)
            FContext.EndNetwork();
    } catch (...) {
        // The end of a session ignores its own failures.
    }
    // Letters left unprocessed make the session a failure, however well the rest went: the
    // line tells the user (and a host that follows the log) that mail is still waiting.
    if (const int left = LettersLeftOnServer; left > 0)
        AddSessionLog(ru("Ошибка: не обработано и оставлено на сервере писем: ") +
                      std::to_string(left));
    AddSessionLog(std::string(37, '='));
}

} // namespace tzn
