// The shared POP3 mailbox of cnf.INI as the administrator sees it: what lies there, and the
// removal of one letter by its unique id (one that no side takes, or one that breaks every
// session that reaches it) without touching the others.
#include "commands.h"
#include "tool_util.h"

#include "mail/message.h"
#include "mail/pop3.h"
#include "module/settings.h"
#include "platform/cp1251.h"

#include <cstdio>
#include <map>
#include <vector>

namespace tzn::tool {
namespace {

// One column of the tab-separated listing, safe for a terminal: a letter's header decides
// what is printed, so no control characters (tabs, line breaks, escape sequences) pass.
std::string Column(const std::string& cp1251) {
    std::string out = Utf8FromCp1251(cp1251);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return out;
}

// "sender<TAB>subject" from TOP n 0; a header that cannot be read is said in their place.
std::string SenderAndSubject(TMxPOP3& pop, int n) {
    TMxMessage m;
    try {
        pop.FetchHeader(n, m);
    } catch (const std::exception& e) {
        if (!pop.IsConnected())
            throw;
        return "\t(header unreadable: " + ErrorText(e) + ")";
    }
    return Column(m.FromList.Empty() ? "" : m.FromList[0].Text()) + "\t" + Column(m.Subject);
}

// Opens the mailbox with the settings under the mail folder lock; false (said on standard
// error) when either fails.
bool Open(TMxPOP3& pop, TFolderLock& folder) {
    const MailSettings s = LoadSettingsWithWarning();
    if (!LockMailFolder(folder, s))
        return false;
    try {
        ConfigurePop3(pop, s);
        pop.ConnectToServer();
        return true;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tznmail: POP3: %s\n", ErrorText(e).c_str());
        return false;
    }
}

// QUIT, which makes a deletion take effect; false (said) when it failed.
bool Close(TMxPOP3& pop) {
    try {
        pop.CloseConnection();
        return true;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tznmail: POP3: closing: %s\n", ErrorText(e).c_str());
        return false;
    }
}

int List(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "usage: tznmail server list\n");
        return Usage;
    }
    TFolderLock folder;
    TMxPOP3 pop;
    if (!Open(pop, folder))
        return Failed;
    try {
        const int count = pop.MessageCount();
        std::map<int, std::string> ids;
        if (!pop.UniqueIds(ids))
            std::fprintf(stderr, "tznmail: the server does not offer UIDL: no unique ids\n");
        for (int n = 1; n <= count; ++n) {
            const auto id = ids.find(n);
            const long long size = pop.MessageSize(n);
            std::printf("%d\t%s\t%lld\t%s\n", n, id == ids.end() ? "-" : Column(id->second).c_str(),
                        size, SenderAndSubject(pop, n).c_str());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tznmail: POP3: %s\n", ErrorText(e).c_str());
        if (pop.IsConnected())
            Close(pop);
        return Failed;
    }
    return Close(pop) ? Ok : Failed;
}

int Delete(const std::vector<std::string>& args) {
    if (args.size() != 1 || args[0].empty()) {
        std::fprintf(stderr, "usage: tznmail server delete ID\n");
        return Usage;
    }
    const std::string& wanted = args[0];
    TFolderLock folder;
    TMxPOP3 pop;
    if (!Open(pop, folder))
        return Failed;
    try {
        std::map<int, std::string> ids;
        if (!pop.UniqueIds(ids)) {
            std::fprintf(stderr, "tznmail: the server does not offer UIDL: a letter cannot be "
                                 "found by its unique id, nothing deleted\n");
            Close(pop);
            return Failed;
        }
        std::vector<int> found;
        for (const auto& [n, id] : ids)
            if (id == wanted)
                found.push_back(n);
        if (found.size() != 1) {
            if (found.empty())
                std::fprintf(stderr, "tznmail: no letter with unique id %s on the server\n",
                             Column(wanted).c_str());
            else
                std::fprintf(stderr,
                             "tznmail: the server lists unique id %s for %zu letters: it cannot "
                             "tell which one to delete, nothing deleted\n",
                             Column(wanted).c_str(), found.size());
            Close(pop);
            return Failed;
        }
        const int n = found.front();
        const std::string what = SenderAndSubject(pop, n);
        pop.DeleteMessage(n);
        if (!Close(pop)) {
            std::fprintf(stderr, "tznmail: the deletion of letter %d may not have taken effect\n",
                         n);
            return Failed;
        }
        std::printf("deleted %d\t%s\t%s\n", n, Column(wanted).c_str(), what.c_str());
        return Ok;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tznmail: POP3: %s; nothing deleted\n", ErrorText(e).c_str());
        if (pop.IsConnected())
            pop.CloseConnection(false);
        return Failed;
    }
}

TCommandRegistrar serverList({"server", "list",
                              "server list            the letters in the POP3 mailbox of cnf.INI: "
                              "number, unique id, size, sender, subject (tab-separated)",
                              List, "tznmail server list"});
TCommandRegistrar serverDelete({"server", "delete",
                                "server delete ID       delete the one letter whose unique id (as "
                                "server list shows it) is ID",
                                Delete, "tznmail server delete 00000001575f4e1c"});

} // namespace
} // namespace tzn::tool
