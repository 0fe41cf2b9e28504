// Mail store commands: list the stored letters (the mailbox window's header scan) and compose
// one letter into OutBox as a given station.
#include "commands.h"
#include "json.h"

#include "mail/message.h"
#include "module/headless_window_services.h"
#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/files.h"
#include "store/composition.h"
#include "store/mail_store.h"

#include <cstdio>
#include <map>
#include <optional>

namespace tzn::tool {

namespace {

// One column of the tab-separated listing: no tabs or line breaks inside.
std::string Column(const std::string& utf8) {
    std::string out = utf8;
    for (char& c : out)
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    return out;
}

const char* FolderWord(MailFolder f) {
    switch (f) {
    case MailFolder::InBox:
        return "inbox";
    case MailFolder::OutBox:
        return "outbox";
    case MailFolder::Sent:
        return "sent";
    default:
        return "all";
    }
}

void LoadSettingsQuietly() {
    try {
        LoadMailSettings();
    } catch (const std::exception& e) {
        // The record keeps what could be read; the listing still works on it.
        std::fprintf(stderr, "tznmail: settings: %s\n", Utf8FromCp1251(e.what()).c_str());
    }
}

int StoreList(const std::vector<std::string>& args) {
    static const std::map<std::string, MailFolder> kWords = {{"inbox", MailFolder::InBox},
                                                             {"outbox", MailFolder::OutBox},
                                                             {"sent", MailFolder::Sent},
                                                             {"all", MailFolder::All}};
    MailFolder folder = MailFolder::All;
    bool json = false, folderGiven = false;
    for (const std::string& a : args) {
        if (a == "--json") {
            json = true;
        } else if (auto it = kWords.find(a); it != kWords.end() && !folderGiven) {
            folder = it->second;
            folderGiven = true;
        } else {
            std::fprintf(stderr, "tznmail: store list: unexpected argument '%s'\n", a.c_str());
            return Usage;
        }
    }
    LoadSettingsQuietly();
    const std::string mailDir = MailSettingsSnapshot().MailDir;
    StoredLetterListVar list;
    LoadFolderHeaders(list, folder);
    if (!list)
        return Ok;
    for (const TStoredLetter& entry : *list) {
        const TMxMessage& m = *entry.Letter;
        const MailFolder f = entry.CurrentFolder().value_or(MailFolder::All);
        const std::string name = entry.FileName();
        const std::string from = m.FromList.Empty() ? "" : m.FromList[0].Text();
        const std::string to = m.Recipients.EMailAddresses();
        const std::string date = m.Date == 0 ? "" : DateTimeToStr(m.Date);
        const long long size = static_cast<long long>(FileSize(FolderPath(mailDir, f) + name));
        if (json) {
            std::printf("{\"folder\":%s,\"file\":%s,\"from\":%s,\"to\":%s,\"subject\":%s,"
                        "\"date\":%s,\"size\":%lld}\n",
                        JsonQuote(FolderWord(f)).c_str(), JsonQuote(Utf8FromCp1251(name)).c_str(),
                        JsonQuote(Utf8FromCp1251(from)).c_str(),
                        JsonQuote(Utf8FromCp1251(to)).c_str(),
                        JsonQuote(Utf8FromCp1251(m.Subject)).c_str(),
                        JsonQuote(Utf8FromCp1251(date)).c_str(), size);
        } else {
            std::printf("%s\t%s\t%s\t%s\t%s\t%s\t%lld\n", FolderWord(f),
                        Column(Utf8FromCp1251(name)).c_str(), Column(Utf8FromCp1251(from)).c_str(),
                        Column(Utf8FromCp1251(to)).c_str(),
                        Column(Utf8FromCp1251(m.Subject)).c_str(),
                        Column(Utf8FromCp1251(date)).c_str(), size);
        }
    }
    return Ok;
}

int Compose(const std::vector<std::string>& args) {
    std::map<std::string, std::optional<std::string>> opts = {
        {"--station", {}}, {"--to-name", {}}, {"--to", {}}, {"--attach", {}}};
    for (size_t i = 0; i < args.size(); ++i) {
        auto it = opts.find(args[i]);
        if (it == opts.end() || i + 1 >= args.size()) {
            std::fprintf(stderr, "tznmail: compose: unexpected or incomplete '%s'\n",
                         args[i].c_str());
            return Usage;
        }
        it->second = args[++i];
    }
    for (const auto& [name, value] : opts) {
        if (!value) {
            std::fprintf(stderr, "tznmail: compose: %s is required\n", name.c_str());
            return Usage;
        }
    }
    const std::string attach = *opts["--attach"];
    if (!FileExists(attach)) {
        std::fprintf(stderr, "tznmail: compose: cannot read attachment '%s'\n", attach.c_str());
        return Failed;
    }
    LoadSettingsQuietly();
    const std::string station = ru(*opts["--station"]);
    std::string stored;
    // The administrator's file is attached, never deleted.
    THeadlessWindowServices window;
    ComposeLetter(ru(*opts["--to-name"]), ru(*opts["--to"]), attach, false, true, true, station,
                  window, &stored);
    if (stored.empty()) {
        std::fprintf(
            stderr, "tznmail: compose: the letter could not be stored in %s\n",
            Utf8FromCp1251(FolderPath(MailSettingsSnapshot().MailDir, MailFolder::OutBox)).c_str());
        return Failed;
    }
    std::printf("%s\n", stored.c_str());
    return Ok;
}

TCommandRegistrar storeList({"store", "list", "store list [inbox|outbox|sent|all] [--json]",
                             StoreList, "tznmail store list outbox"});
TCommandRegistrar compose(
    {"compose", "", "compose --station CODE --to-name NAME --to ADDR --attach FILE", Compose,
     "tznmail compose --station 12 --to-name Office --to office@example.ru --attach report.zip"});

} // namespace

} // namespace tzn::tool
