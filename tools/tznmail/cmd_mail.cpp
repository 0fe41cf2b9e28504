// Mail server commands with the settings of cnf.INI: check the connection an administrator
// has just configured, deliver stored letters, and download a mailbox into a folder.
#include "commands.h"
#include "tool_util.h"

#include "mail/message.h"
#include "mail/message_reader.h"
#include "mail/message_writer.h"
#include "mail/pop3.h"
#include "mail/smtp.h"
#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/files.h"
#include "session/wire_form.h"

#include <cstdio>
#include <stdexcept>

namespace tzn::tool {
namespace {

std::string U(const std::string& cp1251) {
    return Utf8FromCp1251(cp1251);
}

// Whether the connection is encrypted, and with what, for the administrator.
void PrintProtection(const TMxTCPClient& c) {
    const TMxTLSInfo tls = c.TLSInfo();
    if (!tls.Encrypted) {
        std::printf("  encrypted: no\n");
        return;
    }
    std::printf("  encrypted: yes, %s, %s\n  certificate: %s\n  issued by: %s\n",
                tls.Version.c_str(), tls.Cipher.c_str(), tls.Subject.c_str(), tls.Issuer.c_str());
}

// A stored-message file that never overwrites an existing one: N.eml, else N-2.eml ...
std::string FreshName(const std::string& dir, int n) {
    std::string base = dir;
    if (!base.empty() && base.back() != '/' && base.back() != '\\')
        base += '/';
    for (int k = 1;; ++k) {
        std::string path =
            base + std::to_string(n) + (k > 1 ? "-" + std::to_string(k) : "") + ".eml";
        if (CreateFileExclusive(path))
            return path;
        if (!FileExists(path))
            throw std::runtime_error("cannot create " + path);
    }
}

int Check(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "usage: tznmail check\n");
        return Usage;
    }
    const MailSettings s = LoadSettingsWithWarning();
    bool ok = true;

    std::printf("SMTP %s:%d\n", U(s.SMTPHost).c_str(), s.SMTPPort);
    try {
        TMxSMTP smtp;
        ConfigureSmtp(smtp, s);
        smtp.ConnectToServer();
        std::printf("  connected\n");
        PrintProtection(smtp);
        std::printf("  capabilities:%s\n", smtp.Capabilities().empty() ? " none" : "");
        for (const std::string& cap : smtp.Capabilities())
            std::printf("    %s\n", U(cap).c_str());
        const auto mechs = smtp.AuthMechanisms();
        const std::string mech = DefaultMechanism(mechs);
        // Fails when the server offers log-in methods but none this client runs.
        const bool used = smtp.Authenticate();
        std::printf("  AUTH %s: %s\n", mech.empty() ? "LOGIN" : mech.c_str(),
                    used                 ? "used, accepted"
                    : s.UserName.empty() ? "not used (no user name set)"
                    : mechs.empty()      ? "not used (not offered by the server)"
                                         : "not used");
        smtp.CloseConnection();
    } catch (const std::exception& e) {
        std::printf("  error: %s\n", ErrorText(e).c_str());
        ok = false;
    }

    std::printf("POP3 %s:%d\n", U(s.POP3Host).c_str(), s.POP3Port);
    try {
        TMxPOP3 pop;
        ConfigurePop3(pop, s);
        pop.ConnectToServer();
        std::printf("  connected, logged on as %s\n", U(s.UserName).c_str());
        PrintProtection(pop);
        std::printf("  messages: %d\n", pop.MessageCount());
        pop.CloseConnection();
    } catch (const std::exception& e) {
        std::printf("  error: %s\n", ErrorText(e).c_str());
        ok = false;
    }
    return ok ? Ok : Failed;
}

std::string RecipientText(const TMxMessage& m) {
    std::string text;
    for (const TMxEMailAddressList* list : {&m.Recipients, &m.CCList, &m.BccList})
        for (const auto& item : *list)
            text += (text.empty() ? "" : ", ") + item.Text();
    return text;
}

// Delivers over one connection, in order. A refused letter is reported and the next one
// tried (the connection is reset and stays usable); a broken connection ends the run.
int Send(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::fprintf(stderr, "usage: tznmail send FILE.eml ...\n");
        return Usage;
    }
    const MailSettings s = LoadSettingsWithWarning();
    TFolderLock folder;
    if (!LockMailFolder(folder, s))
        return Failed;
    TMxSMTP smtp;
    // Letters go out as a mail session sends them.
    smtp.WriteOptions = DeliveryWriteOptions(s);
    try {
        ConfigureSmtp(smtp, s);
        smtp.ConnectToServer();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tznmail: SMTP: %s\n", ErrorText(e).c_str());
        return Failed;
    }
    int sent = 0, failed = 0;
    for (const std::string& file : args) {
        try {
            TMxMessage m;
            ReadMessageFile(m, file);
            smtp.SendMail(m);
            ++sent;
            std::printf("sent %s to %s\n", file.c_str(), U(RecipientText(m)).c_str());
        } catch (const std::exception& e) {
            ++failed;
            std::printf("FAILED %s: %s\n", file.c_str(), ErrorText(e).c_str());
            if (!smtp.IsConnected())
                break;
        }
    }
    try {
        if (smtp.IsConnected())
            smtp.CloseConnection();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tznmail: SMTP: closing: %s\n", ErrorText(e).c_str());
    }
    std::printf("%d of %zu sent\n", sent, args.size());
    return failed == 0 && sent == static_cast<int>(args.size()) ? Ok : Failed;
}

// Downloads every letter into DIR as N.eml. With --delete a letter is deleted on the server
// only after its file was written, and the deletions take effect at the closing QUIT.
int Fetch(const std::vector<std::string>& args) {
    bool del = false, headersOnly = false;
    std::vector<std::string> dirs;
    for (const std::string& a : args) {
        if (a == "--delete")
            del = true;
        else if (a == "--headers-only")
            headersOnly = true;
        else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "tznmail: unknown option %s\n", a.c_str());
            return Usage;
        } else {
            dirs.push_back(a);
        }
    }
    if (dirs.size() != 1) {
        std::fprintf(stderr, "usage: tznmail fetch [--delete] [--headers-only] DIR\n");
        return Usage;
    }
    // Deleting letters of which only the header was kept would lose them.
    if (del && headersOnly) {
        std::fprintf(stderr, "tznmail: --delete cannot be combined with --headers-only\n");
        return Usage;
    }
    const std::string& dir = dirs.front();
    if (!ForceDirectories(dir)) {
        std::fprintf(stderr, "tznmail: cannot create %s\n", dir.c_str());
        return Failed;
    }
    const MailSettings s = LoadSettingsWithWarning();
    TFolderLock folder;
    if (!LockMailFolder(folder, s))
        return Failed;
    TMxPOP3 pop;
    int count = 0, saved = 0, failed = 0;
    try {
        ConfigurePop3(pop, s);
        pop.ConnectToServer();
        count = pop.MessageCount();
        std::printf("%d messages on the server\n", count);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tznmail: POP3: %s\n", ErrorText(e).c_str());
        return Failed;
    }
    for (int i = 1; i <= count; ++i) {
        try {
            TMxMessage m;
            // As in a session: an endless letter must not fill the disk.
            m.MaxSpooledBytes = int64_t{s.MaxLetterSize} << 20;
            if (headersOnly) {
                pop.FetchHeader(i, m);
            } else if (!pop.FetchMessage(i, m)) {
                ++failed;
                std::printf("FAILED %d: refused by the server\n", i);
                continue;
            }
            const std::string path = FreshName(dir, i);
            try {
                WriteMessageFile(m, path, {.HeadersOnly = headersOnly});
            } catch (...) {
                DeleteFile(path);
                throw;
            }
            ++saved;
            std::printf("%d -> %s  %s\n", i, path.c_str(), U(m.Subject).c_str());
            if (del)
                pop.DeleteMessage(i);
        } catch (const std::exception& e) {
            ++failed;
            std::printf("FAILED %d: %s\n", i, ErrorText(e).c_str());
            if (!pop.IsConnected())
                break;
        }
    }
    try {
        if (pop.IsConnected())
            pop.CloseConnection();
        else if (del)
            std::fprintf(stderr, "tznmail: connection lost: nothing was deleted on the server\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tznmail: POP3: closing: %s\n", ErrorText(e).c_str());
        failed++;
    }
    std::printf("%d of %d saved\n", saved, count);
    return failed == 0 ? Ok : Failed;
}

TCommandRegistrar check({"check", "",
                         "check                  connect to the SMTP and POP3 servers of "
                         "cnf.INI, log in, report",
                         Check, "tznmail check"});
TCommandRegistrar send({"send", "",
                        "send FILE.eml ...       deliver stored letters over one "
                        "SMTP connection",
                        Send, "tznmail send $TZN_ROOT/C/PLAV/OFFICE/MAIL/OutBox/*.eml"});
TCommandRegistrar fetch({"fetch", "",
                         "fetch [--delete] [--headers-only] DIR   download the mailbox into "
                         "DIR as N.eml",
                         Fetch, "tznmail fetch --delete /tmp/mailbox"});

} // namespace
} // namespace tzn::tool
