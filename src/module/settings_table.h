// The keys of the mail settings in one table. Each row names its key as the settings file spells
// it (installations share the file, so the spelling never changes), the field of MailSettings
// it fills, its type, its default and the values it allows. The loader, the writer, the
// administrator's tool and the settings dialog all work from this table: a new key is a new
// field in MailSettings and a new row here.
#pragma once

#include "module/settings.h"
#include "platform/ini_file.h"

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tzn {

enum class TSettingType {
    Text,     // stored as it is
    Folder,   // a folder path: never empty, always ending in "\"
    Password, // plain in memory; in the file scrambled with the value of its Login field
    Integer,  // decimal, within Min..Max
    Flag,     // 1 or 0; any non-zero integer reads as true
    Choice,   // one of Choices, compared ignoring case
    List,     // a section of its own: "Count" plus "Item1".."ItemN"
};

// What the settings dialog does with a key each time it opens.
enum class TDialogReread {
    No,
    Yes,              // reads it again; a missing key keeps the value in memory
    MissingAsDefault, // reads it again; a missing key reads as the default
};

// One key. Exactly one field pointer is set, the one that fits Type.
struct TSettingRow {
    const char* Key = "";
    TSettingType Type = TSettingType::Text;
    std::string MailSettings::*Text = nullptr;               // Text, Folder, Password, Choice
    int MailSettings::*Number = nullptr;                     // Integer
    bool MailSettings::*Flag = nullptr;                      // Flag
    std::vector<std::string> MailSettings::*Items = nullptr; // List

    std::string DefaultText; // Text, Folder, Password, Choice
    int DefaultNumber = 0;
    bool DefaultFlag = false;
    int Min = 0, Max = 0;                       // Integer
    std::vector<std::string> Choices;           // Choice
    std::string MailSettings::*Login = nullptr; // Password: the user name it is scrambled with

    // A key missing from the file normally keeps the value in memory; these read the default.
    bool MissingAsDefault = false;
    TDialogReread Reread = TDialogReread::No;

    // The section the key lives in (a List row is a section of its own).
    std::string Section() const;
};

// Every row, in the order the writer puts the keys into the file. Reading takes every key from
// one parse of the file, so the order it visits them in has no effect; the one dependency,
// a password on its user name, is kept by the order (each Login row comes before its Password).
const std::vector<TSettingRow>& SettingsTable();
// The row of a key, its name compared ignoring case; nullptr when there is none.
const TSettingRow* FindSetting(std::string_view key);

// A value the table does not allow; the message names the key and what it takes.
struct ESettingValueError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Sets every field to the default of its row.
void ApplyDefaults(MailSettings& settings);
// Takes the row's key from a parsed file into the record. A missing key, an unreadable integer
// and a value outside the row's range keep the value in memory (the default for rows with
// MissingAsDefault); a password is decoded with the login already in the record.
void ReadSetting(const TSettingRow& row, const TIniContent& ini, MailSettings& settings);
// Writes the row's key into the file (inside an update): a password scrambled with its login.
void WriteSetting(const TSettingRow& row, TIniFile& ini, const MailSettings& settings);
// Throws ESettingValueError when the record's value is one the row does not allow.
void CheckSetting(const TSettingRow& row, const MailSettings& settings);
// Sets the field from text as a person types it (CP1251): integers in decimal, flags as
// 1/0, true/false, yes/no or on/off, a list as comma-separated items. Throws ESettingValueError
// for a value the row does not allow; the record is then unchanged.
void SetSettingFromText(const TSettingRow& row, const std::string& text, MailSettings& settings);

} // namespace tzn
