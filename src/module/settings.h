// The mail settings: section EMail of "cnf.INI" in the Windows folder, and the in-memory record
// every part of the module reads. Several threads read the record while the settings dialog may
// replace it, so readers take a consistent copy (MailSettingsSnapshot) and writers replace it as
// a whole.
#pragma once

#include "platform/datetime.h"

#include <string>
#include <vector>

namespace tzn {

// Every key of section EMail, named as in the file, with its default.
struct MailSettings {
    std::string EMail;                                // sender, and recipient of data letters
    std::string MailDir = "C:\\PLAV\\OFFICE\\MAIL\\"; // root of the mail store, ends in "\"
    bool IsSaveInMail = true;
    bool IsSaveOutMail = true;
    std::string SMTPHost;
    std::string POP3Host;
    int SMTPPort = 25;
    int POP3Port = 110;
    std::string UserName;
    std::string Password; // plain in memory, scrambled with UserName in the file
    bool ShowWnd = true;
    bool AutoOnNoMail = false;
    bool AutoAddTovarUp = false;
    int AddTovarCount = 1;
    bool UseDefautConnection = false;
    std::string PhonebookEntry;
    bool DisconnectOnEnd = true;
    bool UserData = false;
    std::string IntLogin;
    std::string IntPassword; // plain in memory, scrambled with IntLogin in the file
    bool ShowDialUp = true;
    bool m_GetMailWithSort = false;
    bool AutoGetMail = false;
    int AutoGetMailPeriod = 1; // hours
    bool UseAddictionAddress = false;
    bool NotUseWorkAddres = true;
    // A mail session never waits forever on a silent server: seconds for connecting and for
    // each read.
    int ConnectTimeout = 60;
    int ReadTimeout = 600;
    // Protection of the two connections: "none", "starttls" (required), "tls" (from the first
    // byte) or "auto" (STARTTLS when the server offers it; also a missing key, so older files
    // keep working). Kept as written; the mail clients refuse a value they do not know.
    std::string SMTPSecurity = "auto";
    std::string POP3Security = "auto";
    // Trusted certificates (PEM) for both servers; empty: the system's CA store.
    std::string CAFile;
    // The additional addresses: section MailAddictionAdressList, "Count" plus "Item1".."ItemN".
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

// Reads every key into the in-memory record (defaults for missing keys and unreadable
// integers), decodes both passwords, fills the address list and creates MailDir's InBox,
// OutBox and Sent. On a failure it stops there, keeps what it has read and writes the module
// log entry "Ошибка загрузки параметров Эл. почты: <error>"; it throws only when that entry
// cannot be written.
void LoadMailSettings();
// The same; *failure receives the error text of a failed read ("" when none), also when the
// log entry then cannot be written.
void LoadMailSettings(std::string* failure);

// The settings dialog's apply: makes MailDir end in "\", creates the store folders, stores the
// record in memory and writes every key in the fixed order, passwords scrambled. Keys of other
// sections and unknown keys are kept. Throws std::runtime_error when the file cannot be
// written.
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
