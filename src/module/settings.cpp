#include "module/settings.h"

#include "module/activity_log.h"
#include "module/password.h"
#include "platform/cp1251.h"
#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/paths.h"

#include <algorithm>
#include <mutex>
#include <stdexcept>

namespace tzn {
namespace {

std::mutex& SettingsMutex() {
    static std::mutex m;
    return m;
}

MailSettings& Current() {
    static MailSettings settings;
    return settings;
}

const MailSettings kDefaults{};

// Reads one key of section EMail; the value passed in is the default.
void Read(const IniFile& ini, const char* key, std::string& value) {
    value = ini.ReadString(kSettingsSection, key, value);
}
void Read(const IniFile& ini, const char* key, int& value) {
    value = ini.ReadInteger(kSettingsSection, key, value);
}
void Read(const IniFile& ini, const char* key, bool& value) {
    value = ini.ReadBool(kSettingsSection, key, value);
}

// The list is stored as "Count" and "Item1".."ItemN". A count larger than the section can hold
// (a damaged file) is cut to the keys actually present.
std::vector<std::string> ReadAddressList(const IniFile& ini) {
    std::vector<std::string> list;
    const int keys = static_cast<int>(ini.ReadSection(kAddressListSection).size());
    const int count = std::min(ini.ReadInteger(kAddressListSection, "Count", 0), keys);
    for (int i = 1; i <= count; ++i) {
        const std::string item = "Item" + std::to_string(i);
        if (ini.ValueExists(kAddressListSection, item))
            list.push_back(ini.ReadString(kAddressListSection, item, ""));
    }
    return list;
}

void WriteAddressList(IniFile& ini, const std::vector<std::string>& list) {
    ini.EraseSection(kAddressListSection);
    ini.WriteInteger(kAddressListSection, "Count", static_cast<int>(list.size()));
    for (size_t i = 0; i < list.size(); ++i)
        ini.WriteString(kAddressListSection, "Item" + std::to_string(i + 1), list[i]);
}

// The dial-up keys, read in file order (shared by the loader and the dialog's re-read).
void ReadConnectionKeys(const IniFile& ini, MailSettings& s) {
    Read(ini, "UseDefautConnection", s.UseDefautConnection);
    Read(ini, "PhonebookEntry", s.PhonebookEntry);
    Read(ini, "DisconnectOnEnd", s.DisconnectOnEnd);
    Read(ini, "UserData", s.UserData);
    Read(ini, "IntLogin", s.IntLogin);
    Read(ini, "ShowDialUp", s.ShowDialUp);
    std::string stored;
    Read(ini, "IntPassword", stored);
    s.IntPassword = DecodePassword(s.IntLogin, stored);
}

void Publish(const MailSettings& s) {
    std::lock_guard<std::mutex> lock(SettingsMutex());
    Current() = s;
}

} // namespace

std::string SettingsFileName() {
    return WindowsDirectory() + "\\cnf.INI";
}

MailSettings MailSettingsSnapshot() {
    std::lock_guard<std::mutex> lock(SettingsMutex());
    return Current();
}

void SetMailSettings(const MailSettings& settings) {
    Publish(settings);
}

void ClearAdditionalAddresses() {
    std::lock_guard<std::mutex> lock(SettingsMutex());
    Current().MailAddictionAdressList.clear();
}

void CreateMailFolders(const std::string& mailDir) {
    for (const char* sub : {"InBox\\", "OutBox\\", "Sent\\"}) {
        const std::string dir = mailDir + sub;
        if (!ForceDirectories(dir))
            throw std::runtime_error(ru("Не удается создать каталог ") + dir);
    }
}

void LoadMailSettings() {
    LoadMailSettings(nullptr);
}

void LoadMailSettings(std::string* failure) {
    if (failure)
        failure->clear();
    // The current values are the defaults of every key but AutoOnNoMail and AutoAddTovarUp.
    MailSettings s = MailSettingsSnapshot();
    try {
        const IniFile ini(SettingsFileName());
        ini.CheckReadable();
        Read(ini, "EMail", s.EMail);
        Read(ini, "MailDir", s.MailDir);
        // A hand-edited folder without its final "\" would put the store beside it
        // ("MAILInBox"); an empty one would put it at the root.
        s.MailDir = s.MailDir.empty() ? kDefaults.MailDir : IncludeTrailingBackslash(s.MailDir);
        Read(ini, "IsSaveInMail", s.IsSaveInMail);
        Read(ini, "IsSaveOutMail", s.IsSaveOutMail);
        Read(ini, "SMTPHost", s.SMTPHost);
        Read(ini, "POP3Host", s.POP3Host);
        Read(ini, "SMTPPort", s.SMTPPort);
        Read(ini, "POP3Port", s.POP3Port);
        Read(ini, "UserName", s.UserName);
        std::string stored;
        Read(ini, "Password", stored);
        s.Password = DecodePassword(s.UserName, stored);
        Read(ini, "ShowWnd", s.ShowWnd);
        s.AutoOnNoMail = ini.ReadBool(kSettingsSection, "AutoOnNoMail", false);
        s.AutoAddTovarUp = ini.ReadBool(kSettingsSection, "AutoAddTovarUp", false);
        Read(ini, "AddTovarCount", s.AddTovarCount);
        ReadConnectionKeys(ini, s);
        Read(ini, "m_GetMailWithSort", s.m_GetMailWithSort);
        Read(ini, "AutoGetMail", s.AutoGetMail);
        Read(ini, "AutoGetMailPeriod", s.AutoGetMailPeriod);
        Read(ini, "UseAddictionAddress", s.UseAddictionAddress);
        s.MailAddictionAdressList = ReadAddressList(ini);
        Read(ini, "NotUseWorkAddres", s.NotUseWorkAddres);
        Read(ini, "ConnectTimeout", s.ConnectTimeout);
        Read(ini, "ReadTimeout", s.ReadTimeout);
        Read(ini, "SMTPSecurity", s.SMTPSecurity);
        Read(ini, "POP3Security", s.POP3Security);
        Read(ini, "CAFile", s.CAFile);
        // A time-out of zero or less would mean waiting forever.
        if (s.ConnectTimeout <= 0)
            s.ConnectTimeout = kDefaults.ConnectTimeout;
        if (s.ReadTimeout <= 0)
            s.ReadTimeout = kDefaults.ReadTimeout;
        Publish(s);
        CreateMailFolders(s.MailDir);
    } catch (const std::exception& e) {
        Publish(s);
        if (failure)
            *failure = e.what();
        WriteActivityLog(ru("Ошибка загрузки параметров Эл. почты: ") + e.what());
    }
}

void SaveMailSettings(const MailSettings& settings) {
    MailSettings s = settings;
    if (s.MailDir.empty())
        throw std::runtime_error(ru("Не указан каталог почтового ящика"));
    s.MailDir = IncludeTrailingBackslash(s.MailDir);
    CreateMailFolders(s.MailDir);
    Publish(s);
    // On this system the Windows folder is ours to create.
    ForceDirectories(WindowsDirectory());
    IniFile ini(SettingsFileName());
    // Every key in one update of the file: a failure half-way never leaves a mix of old and
    // new values (a new UserName beside a password scrambled with the old one).
    ini.BeginUpdate();
    const char* sec = kSettingsSection;
    ini.WriteString(sec, "EMail", s.EMail);
    ini.WriteString(sec, "MailDir", s.MailDir);
    ini.WriteBool(sec, "IsSaveInMail", s.IsSaveInMail);
    ini.WriteBool(sec, "IsSaveOutMail", s.IsSaveOutMail);
    ini.WriteString(sec, "SMTPHost", s.SMTPHost);
    ini.WriteString(sec, "POP3Host", s.POP3Host);
    ini.WriteString(sec, "UserName", s.UserName);
    ini.WriteString(sec, "Password", EncodePassword(s.UserName, s.Password));
    ini.WriteInteger(sec, "SMTPPort", s.SMTPPort);
    ini.WriteInteger(sec, "POP3Port", s.POP3Port);

    ini.WriteBool(sec, "ShowWnd", s.ShowWnd);
    ini.WriteBool(sec, "AutoOnNoMail", s.AutoOnNoMail);
    ini.WriteBool(sec, "AutoAddTovarUp", s.AutoAddTovarUp);
    ini.WriteInteger(sec, "AddTovarCount", s.AddTovarCount);

    ini.WriteBool(sec, "UseDefautConnection", s.UseDefautConnection);
    ini.WriteString(sec, "PhonebookEntry", s.PhonebookEntry);
    ini.WriteBool(sec, "DisconnectOnEnd", s.DisconnectOnEnd);
    ini.WriteBool(sec, "UserData", s.UserData);
    ini.WriteString(sec, "IntLogin", s.IntLogin);
    ini.WriteBool(sec, "ShowDialUp", s.ShowDialUp);
    ini.WriteString(sec, "IntPassword", EncodePassword(s.IntLogin, s.IntPassword));

    ini.WriteBool(sec, "AutoGetMail", s.AutoGetMail);
    ini.WriteInteger(sec, "AutoGetMailPeriod", s.AutoGetMailPeriod);
    ini.WriteBool(sec, "UseAddictionAddress", s.UseAddictionAddress);

    WriteAddressList(ini, s.MailAddictionAdressList);

    ini.WriteBool(sec, "NotUseWorkAddres", s.NotUseWorkAddres);
    ini.WriteBool(sec, "m_GetMailWithSort", s.m_GetMailWithSort);
    ini.WriteInteger(sec, "ConnectTimeout", s.ConnectTimeout);
    ini.WriteInteger(sec, "ReadTimeout", s.ReadTimeout);
    ini.WriteString(sec, "SMTPSecurity", s.SMTPSecurity);
    ini.WriteString(sec, "POP3Security", s.POP3Security);
    ini.WriteString(sec, "CAFile", s.CAFile);
    ini.Commit();
}

void ReloadConnectionSettings() {
    const IniFile ini(SettingsFileName());
    std::lock_guard<std::mutex> lock(SettingsMutex());
    MailSettings s = Current();
    s.UseDefautConnection = false; // a missing key reads as false here
    ReadConnectionKeys(ini, s);
    Current() = s;
}

bool ReadAutoGetMailLastDate(TDateTime& when) {
    const IniFile ini(SettingsFileName());
    const std::string text = ini.ReadString(kSettingsSection, "AutoGetMailLastDate", "");
    return !text.empty() && TryStrToDateTime(text, when);
}

void WriteAutoGetMailLastDate(TDateTime when) {
    ForceDirectories(WindowsDirectory());
    IniFile ini(SettingsFileName());
    ini.WriteString(kSettingsSection, "AutoGetMailLastDate", DateTimeToStr(when));
}

} // namespace tzn
