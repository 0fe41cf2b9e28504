#include "module/settings_table.h"

#include "module/password.h"
#include "platform/cp1251.h"
#include "platform/paths.h"

#include <algorithm>
#include <charconv>

namespace tzn {
namespace {

using Field = std::string MailSettings::*;

TSettingRow TextKey(const char* key, Field field, std::string def = {}) {
    TSettingRow row;
    row.Key = key;
    row.Type = TSettingType::Text;
    row.Text = field;
    row.DefaultText = std::move(def);
    return row;
}

TSettingRow FolderKey(const char* key, Field field, std::string def) {
    TSettingRow row = TextKey(key, field, std::move(def));
    row.Type = TSettingType::Folder;
    return row;
}

TSettingRow PasswordKey(const char* key, Field field, Field login) {
    TSettingRow row = TextKey(key, field);
    row.Type = TSettingType::Password;
    row.Login = login;
    return row;
}

TSettingRow IntegerKey(const char* key, int MailSettings::*field, int def, int min, int max) {
    TSettingRow row;
    row.Key = key;
    row.Type = TSettingType::Integer;
    row.Number = field;
    row.DefaultNumber = def;
    row.Min = min;
    row.Max = max;
    return row;
}

TSettingRow FlagKey(const char* key, bool MailSettings::*field, bool def) {
    TSettingRow row;
    row.Key = key;
    row.Type = TSettingType::Flag;
    row.Flag = field;
    row.DefaultFlag = def;
    return row;
}

// For keys that take one of a few words; `def` stands for a missing or empty value.
TSettingRow ChoiceKey(const char* key, Field field, std::vector<std::string> choices,
                      std::string def) {
    TSettingRow row = TextKey(key, field, std::move(def));
    row.Type = TSettingType::Choice;
    row.Choices = std::move(choices);
    return row;
}

TSettingRow ListKey(const char* section, std::vector<std::string> MailSettings::*field) {
    TSettingRow row;
    row.Key = section;
    row.Type = TSettingType::List;
    row.Items = field;
    return row;
}

TSettingRow MissingReadsDefault(TSettingRow row) {
    row.MissingAsDefault = true;
    return row;
}

TSettingRow Reread(TSettingRow row, TDialogReread how = TDialogReread::Yes) {
    row.Reread = how;
    return row;
}

std::vector<TSettingRow> BuildTable() {
    using S = MailSettings;
    return {
        TextKey("EMail", &S::EMail),
        FolderKey("MailDir", &S::MailDir, "C:\\PLAV\\OFFICE\\MAIL\\"),
        FlagKey("IsSaveInMail", &S::IsSaveInMail, true),
        FlagKey("IsSaveOutMail", &S::IsSaveOutMail, true),
        TextKey("SMTPHost", &S::SMTPHost),
        TextKey("POP3Host", &S::POP3Host),
        TextKey("UserName", &S::UserName),
        PasswordKey("Password", &S::Password, &S::UserName),
        IntegerKey("SMTPPort", &S::SMTPPort, 25, 1, 65535),
        IntegerKey("POP3Port", &S::POP3Port, 110, 1, 65535),

        FlagKey("ShowWnd", &S::ShowWnd, true),
        MissingReadsDefault(FlagKey("AutoOnNoMail", &S::AutoOnNoMail, false)),
        MissingReadsDefault(FlagKey("AutoAddTovarUp", &S::AutoAddTovarUp, false)),
        IntegerKey("AddTovarCount", &S::AddTovarCount, 1, 1, 100),

        Reread(FlagKey("UseDefautConnection", &S::UseDefautConnection, false),
               TDialogReread::MissingAsDefault),
        Reread(TextKey("PhonebookEntry", &S::PhonebookEntry)),
        Reread(FlagKey("DisconnectOnEnd", &S::DisconnectOnEnd, true)),
        Reread(FlagKey("UserData", &S::UserData, false)),
        Reread(TextKey("IntLogin", &S::IntLogin)),
        Reread(FlagKey("ShowDialUp", &S::ShowDialUp, true)),
        Reread(PasswordKey("IntPassword", &S::IntPassword, &S::IntLogin)),

        FlagKey("AutoGetMail", &S::AutoGetMail, false),
        IntegerKey("AutoGetMailPeriod", &S::AutoGetMailPeriod, 1, 1, 100),
        FlagKey("UseAddictionAddress", &S::UseAddictionAddress, false),
        ListKey("MailAddictionAdressList", &S::MailAddictionAdressList),
        FlagKey("NotUseWorkAddres", &S::NotUseWorkAddres, true),
        FlagKey("m_GetMailWithSort", &S::m_GetMailWithSort, false),

        // A mail session never waits forever on a silent server: seconds for connecting and
        // for each read (zero would mean no limit).
        IntegerKey("ConnectTimeout", &S::ConnectTimeout, 60, 1, 86400),
        IntegerKey("ReadTimeout", &S::ReadTimeout, 600, 1, 86400),

        // Protection of the two connections: "auto" (also a missing key, so older files keep
        // working) takes STARTTLS when the server offers it; "starttls" and "tls" require it.
        ChoiceKey("SMTPSecurity", &S::SMTPSecurity, {"auto", "none", "starttls", "tls"}, "auto"),
        ChoiceKey("POP3Security", &S::POP3Security, {"auto", "none", "starttls", "tls"}, "auto"),
        // Trusted certificates (PEM) for both servers; empty: the system's CA store.
        TextKey("CAFile", &S::CAFile, ""),
        // Non-ASCII header words go out as encoded words, which every server passes and every
        // reader shows; a network whose peers read only raw 8-bit headers can switch back.
        FlagKey("RawHeaders", &S::RawHeaders, false),
        // Two processes on one mail folder (the host and an administrator's tool) take turns:
        // the second waits this long, then gives up without touching the mailbox.
        IntegerKey("MailFolderWait", &S::MailFolderWait, 300, 1, 86400),
        // A letter larger than this once decoded stays on the server: an endless attachment
        // must not fill the disk.
        IntegerKey("MaxLetterSize", &S::MaxLetterSize, 2048, 1, 1 << 20),
        // A station that has sent nothing for this many hours stands first in the office's
        // overview, marked; a day's shift report plus a night's delay is the usual rhythm.
        IntegerKey("LateHours", &S::LateHours, 26, 1, 24 * 400),
    };
}

std::string Trimmed(std::string_view s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos)
        return {};
    return std::string(s.substr(b, s.find_last_not_of(" \t") - b + 1));
}

// The canonical spelling of a choice, or nullptr when the text is none of them.
const std::string* MatchChoice(const TSettingRow& row, std::string_view text) {
    for (const std::string& choice : row.Choices)
        if (AnsiSameText(choice, text))
            return &choice;
    return nullptr;
}

std::string ChoiceList(const TSettingRow& row) {
    std::string list;
    for (const std::string& choice : row.Choices)
        list += (list.empty() ? "" : ", ") + choice;
    return list;
}

bool InRange(const TSettingRow& row, int value) {
    return value >= row.Min && value <= row.Max;
}

std::vector<std::string> ReadList(const TIniContent& ini, const std::string& section) {
    std::vector<std::string> list;
    // A count larger than the section can hold (a damaged file) is cut to the keys present.
    const int keys = static_cast<int>(ini.ReadSection(section).size());
    const int count = std::min(ini.ReadInteger(section, "Count", 0), keys);
    for (int i = 1; i <= count; ++i) {
        const std::string item = "Item" + std::to_string(i);
        if (ini.ValueExists(section, item))
            list.push_back(ini.ReadString(section, item, ""));
    }
    return list;
}

void WriteList(TIniFile& ini, const std::string& section, const std::vector<std::string>& list) {
    ini.EraseSection(section);
    ini.WriteInteger(section, "Count", static_cast<int>(list.size()));
    for (size_t i = 0; i < list.size(); ++i)
        ini.WriteString(section, "Item" + std::to_string(i + 1), list[i]);
}

bool ParseFlag(const TSettingRow& row, const std::string& text) {
    const std::string t = AnsiLowerCase(Trimmed(text));
    if (t == "1" || t == "true" || t == "yes" || t == "on")
        return true;
    if (t == "0" || t == "false" || t == "no" || t == "off")
        return false;
    throw ESettingValueError(std::string(row.Key) + " takes true or false (1 or 0), not \"" + text +
                             "\"");
}

int ParseNumber(const TSettingRow& row, const std::string& text) {
    const std::string t = Trimmed(text);
    int n = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size())
        throw ESettingValueError(std::string(row.Key) + " takes a whole number, not \"" + text +
                                 "\"");
    return n;
}

std::vector<std::string> ParseList(const std::string& text) {
    std::vector<std::string> list;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t comma = text.find(',', pos);
        if (comma == std::string::npos)
            comma = text.size();
        std::string item = Trimmed(std::string_view(text).substr(pos, comma - pos));
        if (!item.empty())
            list.push_back(std::move(item));
        pos = comma + 1;
    }
    return list;
}

} // namespace

std::string TSettingRow::Section() const {
    return Type == TSettingType::List ? Key : kSettingsSection;
}

const std::vector<TSettingRow>& SettingsTable() {
    static const std::vector<TSettingRow> table = BuildTable();
    return table;
}

const TSettingRow* FindSetting(std::string_view key) {
    for (const TSettingRow& row : SettingsTable())
        if (AnsiSameText(row.Key, key))
            return &row;
    return nullptr;
}

void ApplyDefaults(MailSettings& settings) {
    for (const TSettingRow& row : SettingsTable()) {
        switch (row.Type) {
        case TSettingType::Text:
        case TSettingType::Folder:
        case TSettingType::Password:
        case TSettingType::Choice:
            settings.*row.Text = row.DefaultText;
            break;
        case TSettingType::Integer:
            settings.*row.Number = row.DefaultNumber;
            break;
        case TSettingType::Flag:
            settings.*row.Flag = row.DefaultFlag;
            break;
        case TSettingType::List:
            (settings.*row.Items).clear();
            break;
        }
    }
}

void ReadSetting(const TSettingRow& row, const TIniContent& ini, MailSettings& settings) {
    const std::string section = row.Section();
    switch (row.Type) {
    case TSettingType::Text:
    case TSettingType::Choice: {
        std::string& field = settings.*row.Text;
        const std::string fallback = row.MissingAsDefault ? row.DefaultText : field;
        const std::string value = ini.ReadString(section, row.Key, fallback);
        if (row.Type == TSettingType::Text) {
            field = value;
        } else {
            // An unknown word is kept as written, so that its user refuses it with an error
            // naming the key: a mistyped "starttls" must not quietly become plain text.
            const std::string* choice = MatchChoice(row, value);
            field = choice ? *choice : value.empty() ? row.DefaultText : value;
        }
        break;
    }
    case TSettingType::Folder: {
        // A hand-edited folder without its final "\" would put the store beside it
        // ("MAILInBox"); an empty one would put it at the root.
        std::string& field = settings.*row.Text;
        const std::string value =
            ini.ReadString(section, row.Key, row.MissingAsDefault ? row.DefaultText : field);
        field = value.empty() ? row.DefaultText : IncludeTrailingBackslash(value);
        break;
    }
    case TSettingType::Password:
        // A missing password reads as empty, whatever is in memory.
        settings.*row.Text =
            DecodePassword(settings.*row.Login, ini.ReadString(section, row.Key, ""));
        break;
    case TSettingType::Integer: {
        int& field = settings.*row.Number;
        const int fallback = row.MissingAsDefault ? row.DefaultNumber : field;
        const int value = ini.ReadInteger(section, row.Key, fallback);
        // A value no setter would accept (a port of 0, a time-out of -3) is treated as
        // unreadable: the file keeps it, the record does not take it.
        field = InRange(row, value) ? value : fallback;
        break;
    }
    case TSettingType::Flag: {
        bool& field = settings.*row.Flag;
        field = ini.ReadBool(section, row.Key, row.MissingAsDefault ? row.DefaultFlag : field);
        break;
    }
    case TSettingType::List:
        settings.*row.Items = ReadList(ini, section);
        break;
    }
}

void WriteSetting(const TSettingRow& row, TIniFile& ini, const MailSettings& settings) {
    const std::string section = row.Section();
    switch (row.Type) {
    case TSettingType::Text:
    case TSettingType::Folder:
    case TSettingType::Choice:
        ini.WriteString(section, row.Key, settings.*row.Text);
        break;
    case TSettingType::Password:
        ini.WriteString(section, row.Key, EncodePassword(settings.*row.Login, settings.*row.Text));
        break;
    case TSettingType::Integer:
        ini.WriteInteger(section, row.Key, settings.*row.Number);
        break;
    case TSettingType::Flag:
        ini.WriteBool(section, row.Key, settings.*row.Flag);
        break;
    case TSettingType::List:
        WriteList(ini, section, settings.*row.Items);
        break;
    }
}

void CheckSetting(const TSettingRow& row, const MailSettings& settings) {
    const auto noLineBreak = [&row](const std::string& value) {
        if (value.find_first_of("\r\n") != std::string::npos)
            throw ESettingValueError(std::string(row.Key) + " cannot hold a line break");
    };
    switch (row.Type) {
    case TSettingType::Text:
    case TSettingType::Password:
        noLineBreak(settings.*row.Text);
        break;
    case TSettingType::Folder:
        if ((settings.*row.Text).empty())
            throw ESettingValueError(ru("Не указан каталог почтового ящика"));
        noLineBreak(settings.*row.Text);
        break;
    case TSettingType::Choice:
        if (!MatchChoice(row, settings.*row.Text))
            throw ESettingValueError(std::string(row.Key) + " takes one of " + ChoiceList(row) +
                                     ", not \"" + settings.*row.Text + "\"");
        break;
    case TSettingType::Integer:
        if (!InRange(row, settings.*row.Number))
            throw ESettingValueError(std::string(row.Key) + " must lie between " +
                                     std::to_string(row.Min) + " and " + std::to_string(row.Max));
        break;
    case TSettingType::Flag:
        break;
    case TSettingType::List:
        for (const std::string& item : settings.*row.Items)
            noLineBreak(item);
        break;
    }
}

void SetSettingFromText(const TSettingRow& row, const std::string& text, MailSettings& settings) {
    MailSettings changed = settings;
    switch (row.Type) {
    case TSettingType::Text:
    case TSettingType::Folder:
    case TSettingType::Password:
        changed.*row.Text = text;
        break;
    case TSettingType::Choice: {
        const std::string* choice = MatchChoice(row, Trimmed(text));
        changed.*row.Text = choice ? *choice : text; // an unknown one fails the check below
        break;
    }
    case TSettingType::Integer:
        changed.*row.Number = ParseNumber(row, text);
        break;
    case TSettingType::Flag:
        changed.*row.Flag = ParseFlag(row, text);
        break;
    case TSettingType::List:
        changed.*row.Items = ParseList(text);
        break;
    }
    CheckSetting(row, changed);
    settings = std::move(changed);
}

} // namespace tzn
