// Settings provisioning: show the EMail section as the module reads it, and set one key
// through the module's own writer (passwords scrambled, mail folders created).
#include "commands.h"
#include "json.h"
#include "tool_util.h"

#include "mail/tls_options.h"
#include "module/settings.h"
#include "module/settings_table.h"
#include "platform/cp1251.h"
#include "platform/datetime.h"
#include "platform/ini_file.h"

#include <cstdio>
#include <stdexcept>

namespace tzn::tool {
namespace {

constexpr const char* kLastDateKey = "AutoGetMailLastDate";

int Show(const std::vector<std::string>& args) {
    bool json = false, reveal = false;
    for (const std::string& a : args) {
        if (a == "--json")
            json = true;
        else if (a == "--reveal")
            reveal = true;
        else {
            std::fprintf(stderr, "tznmail: unknown option %s\n", a.c_str());
            return Usage;
        }
    }
    MailSettings s;
    try {
        s = LoadSettingsWithWarning();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tznmail: %s\n", Utf8FromCp1251(e.what()).c_str());
        return Failed;
    }
    const std::string lastDate =
        TIniFile(SettingsFileName()).ReadString(kSettingsSection, kLastDateKey, "");

    std::string out = json ? "{" : "";
    bool first = true;
    auto emit = [&](const std::string& name, const std::string& jsonValue,
                    const std::string& textValue) {
        if (json) {
            out += std::string(first ? "\n  " : ",\n  ") + JsonQuote(name) + ": " + jsonValue;
        } else {
            out += name + " = " + textValue + "\n";
        }
        first = false;
    };
    for (const TSettingRow& row : SettingsTable()) {
        switch (row.Type) {
        case TSettingType::Text:
        case TSettingType::Folder:
        case TSettingType::Choice: {
            const std::string v = Utf8FromCp1251(s.*row.Text);
            emit(row.Key, JsonQuote(v), v);
            break;
        }
        case TSettingType::Password: {
            const std::string& p = s.*row.Text;
            const std::string v = reveal || p.empty() ? Utf8FromCp1251(p) : "***";
            emit(row.Key, JsonQuote(v), v);
            break;
        }
        case TSettingType::Integer: {
            const std::string v = std::to_string(s.*row.Number);
            emit(row.Key, v, v);
            break;
        }
        case TSettingType::Flag: {
            const std::string v = s.*row.Flag ? "true" : "false";
            emit(row.Key, v, v);
            break;
        }
        case TSettingType::List: {
            std::string arr = "[", text;
            for (const std::string& item : s.*row.Items) {
                arr += (arr.size() > 1 ? ", " : "") + JsonQuote(Utf8FromCp1251(item));
                text += (text.empty() ? "" : ",") + Utf8FromCp1251(item);
            }
            emit(row.Key, arr + "]", text);
            break;
        }
        }
    }
    emit(kLastDateKey, JsonQuote(lastDate), lastDate);
    if (json)
        out += "\n}\n";
    std::fputs(out.c_str(), stdout);
    return Ok;
}

struct EUsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Terminal text is UTF-8; the file holds CP1251, so a character without a CP1251 form would
// be silently changed into "?": refuse it instead.
std::string ToCp1251(const std::string& utf8, const std::string& key) {
    std::string cp = ru(utf8);
    if (Utf8FromCp1251(cp) != utf8)
        throw EUsageError("the value of " + key + " has characters that Windows-1251 cannot hold");
    return cp;
}

// A password is stored scrambled with its user name, and with no name it is stored as nothing:
// refuse what would silently drop it.
void RefuseDroppedPasswords(const MailSettings& s) {
    for (const TSettingRow& pwd : SettingsTable()) {
        if (pwd.Type != TSettingType::Password || !(s.*pwd.Login).empty() || (s.*pwd.Text).empty())
            continue;
        std::string login = "its user name";
        for (const TSettingRow& row : SettingsTable())
            if (row.Text == pwd.Login)
                login = row.Key;
        std::string text = pwd.Key;
        for (const char* part : {" is stored under ", login.c_str(), ", which is empty: set ",
                                 login.c_str(), " first (or clear ", pwd.Key, ")"})
            text += part;
        throw EUsageError(text);
    }
}

int Set(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: tznmail settings set KEY VALUE\n");
        return Usage;
    }
    const std::string& name = args[0];
    const std::string& value = args[1];
    try {
        if (AnsiSameText(name, kLastDateKey)) {
            TDateTime when = 0;
            if (!TryStrToDateTime(value, when))
                throw EUsageError(std::string(kLastDateKey) + " takes a date and time like \"" +
                                  DateTimeToStr(Now()) + "\", not \"" + value + "\"");
            LoadSettingsWithWarning();
            WriteAutoGetMailLastDate(when);
            return Ok;
        }
        const TSettingRow* row = FindSetting(name);
        if (!row)
            throw EUsageError("unknown setting \"" + name + "\" (see: tznmail settings show)");
        // Check the value before anything is read or written.
        const std::string text = ToCp1251(value, row->Key);
        MailSettings probe;
        SetSettingFromText(*row, text, probe);
        // Read as the module does (passwords decoded under their current names), change the
        // one field and write everything back: a renamed UserName or IntLogin re-stores its
        // password under the new name.
        MailSettings s = LoadSettingsWithWarning();
        SetSettingFromText(*row, text, s);
        RefuseDroppedPasswords(s);
        SaveMailSettings(s);
        return Ok;
    } catch (const EUsageError& e) {
        std::fprintf(stderr, "tznmail: %s\n", e.what());
        return Usage;
    } catch (const ESettingValueError& e) {
        std::fprintf(stderr, "tznmail: %s\n", Utf8FromCp1251(e.what()).c_str());
        return Usage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tznmail: %s\n", Utf8FromCp1251(e.what()).c_str());
        return Failed;
    }
}

TCommandRegistrar showCmd({"settings", "show", "settings show [--json] [--reveal]", Show,
                           "tznmail settings show --json"});
TCommandRegistrar setCmd({"settings", "set", "settings set KEY VALUE", Set,
                          "tznmail settings set SMTPHost mail.example.ru"});

} // namespace
} // namespace tzn::tool
