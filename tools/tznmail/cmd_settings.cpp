// Settings provisioning: show the EMail section as the module reads it, and set one key
// through the module's own writer (passwords scrambled, mail folders created).
#include "commands.h"
#include "json.h"
#include "tool_util.h"

#include "mail/tls_options.h"
#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/datetime.h"
#include "platform/ini_file.h"

#include <charconv>
#include <cstdio>
#include <functional>
#include <stdexcept>

namespace tzn::tool {
namespace {

enum class Kind { String, Integer, Boolean, Password, List, Security };

// One key of the record: its type, the range the settings dialog allows for integers, and
// access to its field.
struct Key {
    const char* name;
    Kind kind;
    std::function<void*(MailSettings&)> field;
    int min = 0, max = 0;
};

template <typename T> std::function<void*(MailSettings&)> F(T MailSettings::*member) {
    return [member](MailSettings& s) -> void* { return &(s.*member); };
}

// In the order the module reads them.
const std::vector<Key>& Keys() {
    static const std::vector<Key> keys = {
        {"EMail", Kind::String, F(&MailSettings::EMail)},
        {"MailDir", Kind::String, F(&MailSettings::MailDir)},
        {"IsSaveInMail", Kind::Boolean, F(&MailSettings::IsSaveInMail)},
        {"IsSaveOutMail", Kind::Boolean, F(&MailSettings::IsSaveOutMail)},
        {"SMTPHost", Kind::String, F(&MailSettings::SMTPHost)},
        {"POP3Host", Kind::String, F(&MailSettings::POP3Host)},
        {"SMTPPort", Kind::Integer, F(&MailSettings::SMTPPort), 1, 65535},
        {"POP3Port", Kind::Integer, F(&MailSettings::POP3Port), 1, 65535},
        {"UserName", Kind::String, F(&MailSettings::UserName)},
        {"Password", Kind::Password, F(&MailSettings::Password)},
        {"ShowWnd", Kind::Boolean, F(&MailSettings::ShowWnd)},
        {"AutoOnNoMail", Kind::Boolean, F(&MailSettings::AutoOnNoMail)},
        {"AutoAddTovarUp", Kind::Boolean, F(&MailSettings::AutoAddTovarUp)},
        {"AddTovarCount", Kind::Integer, F(&MailSettings::AddTovarCount), 1, 100},
        {"UseDefautConnection", Kind::Boolean, F(&MailSettings::UseDefautConnection)},
        {"PhonebookEntry", Kind::String, F(&MailSettings::PhonebookEntry)},
        {"DisconnectOnEnd", Kind::Boolean, F(&MailSettings::DisconnectOnEnd)},
        {"UserData", Kind::Boolean, F(&MailSettings::UserData)},
        {"IntLogin", Kind::String, F(&MailSettings::IntLogin)},
        {"ShowDialUp", Kind::Boolean, F(&MailSettings::ShowDialUp)},
        {"IntPassword", Kind::Password, F(&MailSettings::IntPassword)},
        {"m_GetMailWithSort", Kind::Boolean, F(&MailSettings::m_GetMailWithSort)},
        {"AutoGetMail", Kind::Boolean, F(&MailSettings::AutoGetMail)},
        {"AutoGetMailPeriod", Kind::Integer, F(&MailSettings::AutoGetMailPeriod), 1, 100},
        {"UseAddictionAddress", Kind::Boolean, F(&MailSettings::UseAddictionAddress)},
        {"MailAddictionAdressList", Kind::List, F(&MailSettings::MailAddictionAdressList)},
        {"NotUseWorkAddres", Kind::Boolean, F(&MailSettings::NotUseWorkAddres)},
        {"ConnectTimeout", Kind::Integer, F(&MailSettings::ConnectTimeout), 1, 86400},
        {"ReadTimeout", Kind::Integer, F(&MailSettings::ReadTimeout), 1, 86400},
        {"SMTPSecurity", Kind::Security, F(&MailSettings::SMTPSecurity)},
        {"POP3Security", Kind::Security, F(&MailSettings::POP3Security)},
        {"CAFile", Kind::String, F(&MailSettings::CAFile)},
    };
    return keys;
}

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
            return kUsage;
        }
    }
    MailSettings s;
    try {
        s = LoadSettingsWithWarning();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tznmail: %s\n", Utf8FromCp1251(e.what()).c_str());
        return kFailed;
    }
    const std::string lastDate =
        IniFile(SettingsFileName()).ReadString(kSettingsSection, kLastDateKey, "");

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
    for (const Key& k : Keys()) {
        void* f = k.field(s);
        switch (k.kind) {
        case Kind::Security:
        case Kind::String: {
            const std::string v = Utf8FromCp1251(*static_cast<std::string*>(f));
            emit(k.name, JsonQuote(v), v);
            break;
        }
        case Kind::Password: {
            const std::string& p = *static_cast<std::string*>(f);
            const std::string v = reveal || p.empty() ? Utf8FromCp1251(p) : "***";
            emit(k.name, JsonQuote(v), v);
            break;
        }
        case Kind::Integer: {
            const std::string v = std::to_string(*static_cast<int*>(f));
            emit(k.name, v, v);
            break;
        }
        case Kind::Boolean: {
            const std::string v = *static_cast<bool*>(f) ? "true" : "false";
            emit(k.name, v, v);
            break;
        }
        case Kind::List: {
            std::string arr = "[", text;
            for (const std::string& item : *static_cast<std::vector<std::string>*>(f)) {
                arr += (arr.size() > 1 ? ", " : "") + JsonQuote(Utf8FromCp1251(item));
                text += (text.empty() ? "" : ",") + Utf8FromCp1251(item);
            }
            emit(k.name, arr + "]", text);
            break;
        }
        }
    }
    emit(kLastDateKey, JsonQuote(lastDate), lastDate);
    if (json)
        out += "\n}\n";
    std::fputs(out.c_str(), stdout);
    return kOk;
}

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Terminal text is UTF-8; the file holds CP1251, so a character without a CP1251 form would
// be silently changed into "?": refuse it instead.
std::string ToCp1251(const std::string& utf8, const std::string& key) {
    std::string cp = ru(utf8);
    if (Utf8FromCp1251(cp) != utf8)
        throw UsageError("the value of " + key + " has characters that Windows-1251 cannot hold");
    return cp;
}

bool ParseBool(const std::string& v, const std::string& key) {
    const std::string l = AnsiLowerCase(v);
    if (l == "1" || l == "true" || l == "yes" || l == "on")
        return true;
    if (l == "0" || l == "false" || l == "no" || l == "off")
        return false;
    throw UsageError(key + " takes true or false (1 or 0), not \"" + v + "\"");
}

int ParseInt(const std::string& v, const Key& k) {
    int n = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (v.empty() || ec != std::errc() || end != v.data() + v.size())
        throw UsageError(std::string(k.name) + " takes a whole number, not \"" + v + "\"");
    if (n < k.min || n > k.max)
        throw UsageError(std::string(k.name) + " must lie between " + std::to_string(k.min) +
                         " and " + std::to_string(k.max));
    return n;
}

// Stored in lower case, as the administrator's choice reads best in the file.
std::string ParseSecurity(const std::string& v, const std::string& key) {
    TMxTLSMode mode{};
    if (v.empty() || !TryTlsModeFromName(v, mode))
        throw UsageError(key + " takes none, starttls, tls or auto, not \"" + v + "\"");
    return AnsiLowerCase(v);
}

std::vector<std::string> ParseList(const std::string& v, const std::string& key) {
    std::vector<std::string> list;
    size_t pos = 0;
    while (pos <= v.size() && !v.empty()) {
        size_t comma = v.find(',', pos);
        if (comma == std::string::npos)
            comma = v.size();
        std::string item = v.substr(pos, comma - pos);
        const size_t b = item.find_first_not_of(" \t");
        item = b == std::string::npos ? "" : item.substr(b, item.find_last_not_of(" \t") - b + 1);
        if (!item.empty())
            list.push_back(ToCp1251(item, key));
        pos = comma + 1;
    }
    return list;
}

int Set(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: tznmail settings set KEY VALUE\n");
        return kUsage;
    }
    const std::string& name = args[0];
    const std::string& value = args[1];
    try {
        if (AnsiSameText(name, kLastDateKey)) {
            TDateTime when = 0;
            if (!TryStrToDateTime(value, when))
                throw UsageError(std::string(kLastDateKey) + " takes a date and time like \"" +
                                 DateTimeToStr(Now()) + "\", not \"" + value + "\"");
            LoadSettingsWithWarning();
            WriteAutoGetMailLastDate(when);
            return kOk;
        }
        const Key* key = nullptr;
        for (const Key& k : Keys())
            if (AnsiSameText(name, k.name))
                key = &k;
        if (!key)
            throw UsageError("unknown setting \"" + name + "\" (see: tznmail settings show)");
        // Check the value before anything is read or written.
        std::function<void(MailSettings&)> apply;
        switch (key->kind) {
        case Kind::String:
        case Kind::Password: {
            const std::string v = ToCp1251(value, key->name);
            if (v.empty() && AnsiSameText(key->name, "MailDir"))
                throw UsageError("MailDir cannot be empty");
            apply = [key, v](MailSettings& s) { *static_cast<std::string*>(key->field(s)) = v; };
            break;
        }
        case Kind::Security: {
            const std::string v = ParseSecurity(value, key->name);
            apply = [key, v](MailSettings& s) { *static_cast<std::string*>(key->field(s)) = v; };
            break;
        }
        case Kind::Integer: {
            const int v = ParseInt(value, *key);
            apply = [key, v](MailSettings& s) { *static_cast<int*>(key->field(s)) = v; };
            break;
        }
        case Kind::Boolean: {
            const bool v = ParseBool(value, key->name);
            apply = [key, v](MailSettings& s) { *static_cast<bool*>(key->field(s)) = v; };
            break;
        }
        case Kind::List: {
            const std::vector<std::string> v = ParseList(value, key->name);
            apply = [key, v](MailSettings& s) {
                *static_cast<std::vector<std::string>*>(key->field(s)) = v;
            };
            break;
        }
        }
        // Read as the module does (passwords decoded under their current names), change the
        // one field and write everything back: a renamed UserName or IntLogin re-stores its
        // password under the new name.
        MailSettings s = LoadSettingsWithWarning();
        apply(s);
        // A password is stored scrambled with its user name, and with no name it is stored as
        // nothing: refuse what would silently drop it.
        auto guard = [](const std::string& user, const std::string& pwd, const char* userKey,
                        const char* pwdKey) {
            if (user.empty() && !pwd.empty())
                throw UsageError(std::string(pwdKey) + " is stored under " + userKey +
                                 ", which is empty: set " + userKey + " first (or clear " + pwdKey +
                                 ")");
        };
        guard(s.UserName, s.Password, "UserName", "Password");
        guard(s.IntLogin, s.IntPassword, "IntLogin", "IntPassword");
        SaveMailSettings(s);
        return kOk;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "tznmail: %s\n", e.what());
        return kUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tznmail: %s\n", Utf8FromCp1251(e.what()).c_str());
        return kFailed;
    }
}

CommandRegistrar showCmd({"settings", "show", "settings show [--json] [--reveal]", Show});
CommandRegistrar setCmd({"settings", "set", "settings set KEY VALUE", Set});

} // namespace
} // namespace tzn::tool
