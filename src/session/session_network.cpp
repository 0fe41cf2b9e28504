#include "session/session_network.h"

#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/ras_dialer.h"
#include "platform/thread_events.h"
#include "session/connect_inet.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <thread>

namespace tzn {

namespace {

// The session's log texts. The three "... c Internet ..." lines carry a Latin "c" where the
// Russian word wants a Cyrillic one; the log readers of the host suite know them so.
std::string ConnectedLine(uint32_t flags) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(flags));
    return ru("Соединение ") + "c" + ru(" Internet установлено(") + hex + ").";
}
std::string MadeLine() {
    return ru("Соединение ") + "c" + ru(" Internet произведено.");
}
std::string NotMadeLine() {
    return ru("Соединение ") + "c" + ru(" Internet не установлено.");
}
std::string DialingLine() {
    return ru("Соединение с Internet...");
}
std::string HangingUpLine() {
    return ru("Разрыв соединения с Internet...");
}
std::string ErrorLine(const std::exception& e) {
    return ru("Ошибка: ") + e.what();
}

// The system's query fills a buffer of 256 characters; the name is its text up to the NUL.
constexpr size_t kConnectionNameBuffer = 256;

std::string ConnectionName(const std::string& name) {
    return name.substr(0, std::min(name.find('\0'), kConnectionNameBuffer - 1));
}

constexpr auto kDialWaitStep = std::chrono::milliseconds(100);

} // namespace

TSessionNetwork::TSessionNetwork(LogWriter addSessionLog, TSessionNetworkOptions options)
    : FLog(std::move(addSessionLog)), FOptions(std::move(options)) {}

TSessionNetwork::~TSessionNetwork() {
    ReleaseDialer();
}

bool TSessionNetwork::Start() {
    if (ConnectInetLibraryLoaded())
        return InetConnect(1);
    return CheckInternet();
}

void TSessionNetwork::End() {
    try {
        if (ConnectInetLibraryLoaded() && InetGetConnectState(2) && InetAutoDisconnectValue(2))
            InetDisconnect(2);
        else if (MailSettingsSnapshot().DisconnectOnEnd)
            HangUpInternet();
    } catch (...) { // NOLINT(bugprone-empty-catch): the end of a session ignores its errors
    }
    // Neither rule took the connection down: it stays up for whoever comes next.
    ReleaseDialer();
}

bool TSessionNetwork::CheckInternet() {
    constexpr uint32_t kAny = kConnectionModem | kConnectionLan | kConnectionProxy;
    uint32_t flags = 0;
    std::string name;
    if (FOptions.StateQuery(flags, name) && (flags & kAny) != 0) {
        FLog(ConnectedLine(flags));
        FLog(ConnectionName(name));
        return true;
    }
    DialInternet();
    flags = 0;
    FOptions.StateQuery(flags, name);
    if ((flags & (kConnectionModem | kConnectionProxy)) != 0) {
        FLog(MadeLine());
        return true;
    }
    FLog(NotMadeLine());
    return false;
}

void TSessionNetwork::DialInternet() {
    try {
        FLog(DialingLine());
        if (!FRasDialer) {
            FRasDialer = std::make_unique<TRasDialer>();
            FRasDialer->DialTimeout = FOptions.DialWaitLimit;
            FRasDialer->OnConnected = [this](TRasDialer* sender) { RasDialerConnected(sender); };
            FRasDialer->OnDialError = [this](TRasDialer* sender, int error) {
                RasDialerDialError(sender, error);
            };
        }
        FDialFailed = false;
        FDialConnected = false;
        const MailSettings settings = MailSettingsSnapshot();
        FRasDialer->SetEntryName(settings.PhonebookEntry);
        FRasDialer->GetDialParams();
        if (settings.UserData) {
            FRasDialer->UserName = settings.IntLogin;
            FRasDialer->Password = settings.IntPassword;
        }
        const int r = settings.ShowDialUp ? FRasDialer->DialDlg() : FRasDialer->Dial();
        if (r != 0) {
            FLog(TRasDialer::ErrorText(r));
            return;
        }
        if (!settings.ShowDialUp) {
            // The dialer's events run here, on this thread, while it processes them.
            while (!FDialConnected && !FDialFailed) {
                std::this_thread::sleep_for(kDialWaitStep);
                ProcessThreadEvents();
            }
        }
        if (FDialFailed)
            FLog(TRasDialer::ErrorText(FDialErrorCode));
    } catch (const std::exception& e) {
        FLog(ErrorLine(e));
    }
}

void TSessionNetwork::HangUpInternet() {
    try {
        if (!FRasDialer)
            return;
        FLog(HangingUpLine());
        FRasDialer->HangUp();
        FRasDialer.reset();
    } catch (const std::exception& e) {
        FLog(ErrorLine(e));
    }
}

void TSessionNetwork::RasDialerConnected(TRasDialer* /*sender*/) {
    FDialConnected = true;
}

void TSessionNetwork::RasDialerDialError(TRasDialer* /*sender*/, int error) {
    FDialFailed = true;
    FDialErrorCode = error;
}

void TSessionNetwork::ReleaseDialer() {
    if (!FRasDialer)
        return;
    FRasDialer->HangupOnDestroy = false;
    FRasDialer.reset();
}

} // namespace tzn
