#include "tool_util.h"

#include "mail/exceptions.h"
#include "mail/pop3.h"
#include "mail/smtp.h"
#include "platform/cp1251.h"
#include "session/connection_security.h"
#include "session/session_state.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace tzn::tool {
namespace {

int Milliseconds(int seconds) {
    return seconds > 0 ? std::min(seconds, 24 * 3600) * 1000 : 0;
}

// The SMTP and the POP3 client share the account, the time limits and the trusted
// certificates of the settings; each has its own server and protection.
template <typename Client>
void Configure(Client& c, const std::string& host, int port, const std::string& security,
               const char* securityKey, const MailSettings& s) {
    c.UseTLS = TlsOptionsFromSettings(security, securityKey, s);
    c.Host = host;
    c.Port = static_cast<uint16_t>(port);
    c.Username = s.UserName;
    c.Password = s.Password;
    c.ConnectTimeout = Milliseconds(s.ConnectTimeout);
    c.ReadTimeout = Milliseconds(s.ReadTimeout);
}

} // namespace

// The log entry is written as well when the log folder exists.
MailSettings LoadSettingsWithWarning() {
    std::string failure;
    try {
        LoadMailSettings(&failure);
    } catch (const std::exception&) {
        if (failure.empty())
            throw;
    }
    if (!failure.empty())
        std::fprintf(stderr, "tznmail: warning: %s%s\n",
                     Utf8FromCp1251(ru("Ошибка загрузки параметров Эл. почты: ")).c_str(),
                     Utf8FromCp1251(failure).c_str());
    return MailSettingsSnapshot();
}

bool LockMailFolder(TFolderLock& lock, const MailSettings& s) {
    try {
        if (lock.Acquire(s.MailDir, kMailFolderLockName, s.MailFolderWait * 1000))
            return true;
        std::fprintf(stderr, "tznmail: the mail folder is in use by another session: %s\n",
                     Utf8FromCp1251(s.MailDir).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tznmail: %s\n", Utf8FromCp1251(e.what()).c_str());
    }
    return false;
}

void ConfigureSmtp(TMxSMTP& c, const MailSettings& s) {
    Configure(c, s.SMTPHost, s.SMTPPort, s.SMTPSecurity, "SMTPSecurity", s);
}

void ConfigurePop3(TMxPOP3& c, const MailSettings& s) {
    Configure(c, s.POP3Host, s.POP3Port, s.POP3Security, "POP3Security", s);
}

// The mail layer's own text; the empty-text errors of a missing host or port get a word.
std::string ErrorText(const std::exception& e) {
    if (dynamic_cast<const EMxHostRequired*>(&e))
        return "no host set";
    if (dynamic_cast<const EMxPortRequired*>(&e))
        return "no port set";
    std::string text = Utf8FromCp1251(e.what());
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

} // namespace tzn::tool
