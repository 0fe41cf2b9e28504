#include "module/settings.h"

#include "module/activity_log.h"
#include "module/settings_table.h"
#include "platform/cp1251.h"
#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/paths.h"

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

void Publish(const MailSettings& s) {
    std::lock_guard<std::mutex> lock(SettingsMutex());
    Current() = s;
}

} // namespace

MailSettings::MailSettings() {
    ApplyDefaults(*this);
}

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
    // The values in memory stand for missing keys (but for the rows that read a default).
    MailSettings s = MailSettingsSnapshot();
    try {
        const TIniContent ini = TIniFile(SettingsFileName()).Load();
        for (const TSettingRow& row : SettingsTable())
            ReadSetting(row, ini, s);
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
    if (!s.MailDir.empty())
        s.MailDir = IncludeTrailingBackslash(s.MailDir);
    for (const TSettingRow& row : SettingsTable())
        CheckSetting(row, s);
    CreateMailFolders(s.MailDir);
    // On this system the Windows folder is ours to create.
    if (!ForceDirectories(WindowsDirectory()))
        throw std::runtime_error(ru("Не удается создать каталог ") + WindowsDirectory());
    TIniFile ini(SettingsFileName());
    // Every key in one update of the file: a failure half-way never leaves a mix of old and
    // new values (a new UserName beside a password scrambled with the old one).
    ini.BeginUpdate();
    for (const TSettingRow& row : SettingsTable())
        WriteSetting(row, ini, s);
    ini.Commit();
    // Readers see the new values only once the file holds them: a failed save leaves memory
    // and file agreeing on the old ones.
    Publish(s);
}

void ReloadConnectionSettings() {
    const TIniContent ini = TIniFile(SettingsFileName()).Load();
    std::lock_guard<std::mutex> lock(SettingsMutex());
    MailSettings s = Current();
    for (const TSettingRow& row : SettingsTable()) {
        if (row.Reread == TDialogReread::No)
            continue;
        TSettingRow reread = row;
        reread.MissingAsDefault = row.Reread == TDialogReread::MissingAsDefault;
        ReadSetting(reread, ini, s);
    }
    Current() = s;
}

bool ReadAutoGetMailLastDate(TDateTime& when) {
    const TIniFile ini(SettingsFileName());
    const std::string text = ini.ReadString(kSettingsSection, "AutoGetMailLastDate", "");
    return !text.empty() && TryStrToDateTime(text, when);
}

void WriteAutoGetMailLastDate(TDateTime when) {
    if (!ForceDirectories(WindowsDirectory()))
        throw std::runtime_error(ru("Не удается создать каталог ") + WindowsDirectory());
    TIniFile ini(SettingsFileName());
    ini.WriteString(kSettingsSection, "AutoGetMailLastDate", DateTimeToStr(when));
}

} // namespace tzn
