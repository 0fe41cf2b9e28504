// The mail settings: section EMail of "cnf.INI" in the Windows folder, and the in-memory record
// every part of the module reads. Several threads read the record while the settings dialog may
// replace it, so readers take a consistent copy (MailSettingsSnapshot) and writers replace it as
// a whole.
#pragma once

#include "platform/datetime.h"

#include <string>
#include <vector>

namespace tzn {

// Every key of section EMail, named as in the file. The keys, their defaults and allowed
// values are described in one table (settings_table.h); a new record holds the defaults.
struct MailSettings {
    MailSettings();

    std::string EMail;   // sender, and recipient of data letters
    std::string MailDir; // root of the mail store, ends in "\"
    bool IsSaveInMail{};
    bool IsSaveOutMail{};
    std::string SMTPHost;
    std::string POP3Host;
    int SMTPPort{};
    int POP3Port{};
    std::string UserName;
    std::string Password; // plain in memory, scrambled with UserName in the file
    bool ShowWnd{};
    bool AutoOnNoMail{};
    bool AutoAddTovarUp{};
    int AddTovarCount{};
    bool UseDefautConnection{};
    std::string PhonebookEntry;
    bool DisconnectOnEnd{};
    bool UserData{};
    std::string IntLogin;
    std::string IntPassword; // plain in memory, scrambled with IntLogin in the file
    bool ShowDialUp{};
    bool m_GetMailWithSort{};
    bool AutoGetMail{};
    int AutoGetMailPeriod{}; // hours
    bool UseAddictionAddress{};
    bool NotUseWorkAddres{};
    int ConnectTimeout{};     // seconds
    int ReadTimeout{};        // seconds
    std::string SMTPSecurity; // auto, none, starttls or tls
    std::string POP3Security;
    std::string CAFile;   // trusted certificates; empty: the system's store
    bool RawHeaders{};    // delivery writes 8-bit header words raw instead of as encoded words
    int MailFolderWait{}; // seconds a session waits for another one using the mail folder
    int MaxLetterSize{};  // MiB a received letter's decoded parts may take on disk
    int LateHours{};      // the office's overview marks a station silent this long as late
    // The additional addresses: section MailAddictionAdressList.
    std::vector<std::string> MailAddictionAdressList;
};

// Section and key names.
inline constexpr const char* kSettingsSection = "EMail";
inline constexpr const char* kAddressListSection = "MailAddictionAdressList";

// The Windows folder + "\cnf.INI".
std::string SettingsFileName();

// A consistent copy of the in-memory record.
MailSettings MailSettingsSnapshot();
// Replaces the in-memory record (no file write).
void SetMailSettings(const MailSettings& settings);
// Empties the additional address list (Load creates it empty).
void ClearAdditionalAddresses();

// Reads every key into the in-memory record from one parse of the file (defaults for missing
// keys, unreadable integers and values outside their range), decodes both passwords, fills the
// address list and creates MailDir's InBox, OutBox and Sent. On a failure it stops there, keeps
// what it has read and writes the module log entry "Ошибка загрузки параметров Эл. почты:
// <error>"; it throws only when that entry cannot be written.
void LoadMailSettings();
// The same; *failure receives the error text of a failed read ("" when none), also when the
// log entry then cannot be written.
void LoadMailSettings(std::string* failure);

// The settings dialog's apply: makes MailDir end in "\", creates the store folders and writes
// every key in one update of the file, passwords scrambled; only once the file is in place
// does the in-memory record become the new one. Keys of other sections and unknown keys are
// kept. Throws ESettingValueError (a std::runtime_error) for a value outside its range, and
// std::runtime_error when the folders or the file cannot be written; the file and the record
// are then unchanged.
void SaveMailSettings(const MailSettings& settings);

// The dialog re-reads the dial-up keys each time it opens (UseDefautConnection, PhonebookEntry,
// DisconnectOnEnd, UserData, IntLogin, ShowDialUp, IntPassword) into the in-memory record.
void ReloadConnectionSettings();

// MailDir + "InBox\", "OutBox\", "Sent\", with missing parents; throws when one fails.
void CreateMailFolders(const std::string& mailDir);

// AutoGetMailLastDate (section EMail): false when missing or unreadable.
bool ReadAutoGetMailLastDate(TDateTime& when);
void WriteAutoGetMailLastDate(TDateTime when); // throws when the file cannot be written

} // namespace tzn
