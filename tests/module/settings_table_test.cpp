#include "module/settings_table.h"

#include "module/password.h"
#include "platform/cp1251.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>

namespace tzn {
namespace {

TEST(SettingsTable, ANewRecordHoldsTheDocumentedDefaults) {
    const MailSettings s;
    EXPECT_EQ(s.EMail, "");
    EXPECT_EQ(s.MailDir, "C:\\PLAV\\OFFICE\\MAIL\\");
    EXPECT_TRUE(s.IsSaveInMail && s.IsSaveOutMail && s.ShowWnd && s.DisconnectOnEnd &&
                s.ShowDialUp && s.NotUseWorkAddres);
    EXPECT_FALSE(s.AutoOnNoMail || s.AutoAddTovarUp || s.UseDefautConnection || s.UserData ||
                 s.m_GetMailWithSort || s.AutoGetMail || s.UseAddictionAddress);
    EXPECT_EQ(s.SMTPPort, 25);
    EXPECT_EQ(s.POP3Port, 110);
    EXPECT_EQ(s.AddTovarCount, 1);
    EXPECT_EQ(s.AutoGetMailPeriod, 1);
    EXPECT_GT(s.ConnectTimeout, 0);
    EXPECT_GT(s.ReadTimeout, 0);
    EXPECT_TRUE(s.MailAddictionAdressList.empty());
}

// What a new row must get right; each check names the row that breaks it.
TEST(SettingsTable, EveryRowIsCoherent) {
    std::set<std::string> keys;
    std::vector<std::string MailSettings::*> logins;
    for (const TSettingRow& row : SettingsTable()) {
        SCOPED_TRACE(row.Key);
        EXPECT_TRUE(keys.insert(AnsiLowerCase(row.Key)).second) << "key listed twice";
        EXPECT_EQ(FindSetting(AnsiLowerCase(row.Key)), &row);
        const bool text = row.Type == TSettingType::Text || row.Type == TSettingType::Folder ||
                          row.Type == TSettingType::Password || row.Type == TSettingType::Choice;
        EXPECT_EQ(row.Text != nullptr, text);
        EXPECT_EQ(row.Number != nullptr, row.Type == TSettingType::Integer);
        EXPECT_EQ(row.Flag != nullptr, row.Type == TSettingType::Flag);
        EXPECT_EQ(row.Items != nullptr, row.Type == TSettingType::List);
        if (row.Type == TSettingType::Integer) {
            EXPECT_LE(row.Min, row.DefaultNumber);
            EXPECT_GE(row.Max, row.DefaultNumber);
        }
        // A password is read after the user name it is decoded with.
        if (row.Type == TSettingType::Password) {
            EXPECT_NE(std::find(logins.begin(), logins.end(), row.Login), logins.end())
                << "its login is not an earlier row";
        }
        if (row.Type == TSettingType::Text)
            logins.push_back(row.Text);
        EXPECT_NO_THROW(CheckSetting(row, MailSettings{})) << "its default is not allowed";
    }
    EXPECT_EQ(FindSetting("NoSuchKey"), nullptr);
}

TEST(SettingsTable, SettersCheckTypeAndRangeAndChangeNothingOnError) {
    MailSettings s;
    const TSettingRow& port = *FindSetting("SMTPPort");
    SetSettingFromText(port, "65535", s);
    EXPECT_EQ(s.SMTPPort, 65535);
    for (const char* bad : {"0", "65536", "-1", "25x", ""})
        EXPECT_THROW(SetSettingFromText(port, bad, s), ESettingValueError) << bad;
    EXPECT_EQ(s.SMTPPort, 65535);
    try {
        SetSettingFromText(*FindSetting("AutoGetMailPeriod"), "0", s);
        ADD_FAILURE();
    } catch (const ESettingValueError& e) {
        EXPECT_STREQ(e.what(), "AutoGetMailPeriod must lie between 1 and 100");
    }
    const TSettingRow& flag = *FindSetting("ShowWnd");
    SetSettingFromText(flag, "Off", s);
    EXPECT_FALSE(s.ShowWnd);
    SetSettingFromText(flag, "yes", s);
    EXPECT_TRUE(s.ShowWnd);
    EXPECT_THROW(SetSettingFromText(flag, "2", s), ESettingValueError);
    SetSettingFromText(*FindSetting("MailAddictionAdressList"), " a@x , ,b@y,", s);
    EXPECT_EQ(s.MailAddictionAdressList, (std::vector<std::string>{"a@x", "b@y"}));
    EXPECT_THROW(SetSettingFromText(*FindSetting("MailDir"), "", s), ESettingValueError);
    EXPECT_THROW(SetSettingFromText(*FindSetting("EMail"), "a\r\nb", s), ESettingValueError);
}

// A key that takes one of a few words, as a connection's security mode does.
TEST(SettingsTable, AChoiceRowReadsAndSetsOnlyItsWords) {
    TSettingRow row;
    row.Key = "Security";
    row.Type = TSettingType::Choice;
    row.Text = &MailSettings::PhonebookEntry;
    row.Choices = {"none", "starttls", "tls", "auto"};
    row.DefaultText = "auto";
    row.MissingAsDefault = true;
    MailSettings s;
    s.PhonebookEntry = "tls";
    ReadSetting(row, TIniContent("[EMail]\r\n"), s);
    EXPECT_EQ(s.PhonebookEntry, "auto"); // missing
    ReadSetting(row, TIniContent("[EMail]\r\nsecurity=StartTLS\r\n"), s);
    EXPECT_EQ(s.PhonebookEntry, "starttls");
    ReadSetting(row, TIniContent("[EMail]\r\nSecurity=ssl3\r\n"), s);
    EXPECT_EQ(s.PhonebookEntry, "ssl3"); // unknown: kept, so the connection refuses it
    EXPECT_THROW(CheckSetting(row, s), ESettingValueError);
    ReadSetting(row, TIniContent("[EMail]\r\nSecurity=\r\n"), s);
    EXPECT_EQ(s.PhonebookEntry, "auto"); // empty: as missing
    SetSettingFromText(row, "TLS", s);
    EXPECT_EQ(s.PhonebookEntry, "tls");
    EXPECT_THROW(SetSettingFromText(row, "ssl", s), ESettingValueError);
    EXPECT_EQ(s.PhonebookEntry, "tls");
    s.PhonebookEntry = "bogus";
    EXPECT_THROW(CheckSetting(row, s), ESettingValueError);
}

TEST(SettingsTable, APasswordIsReadWithTheLoginOfTheSameFile) {
    MailSettings s;
    const TIniContent ini(
        "[EMail]\r\nIntLogin=dial\r\nIntPassword=" + EncodePassword("dial", "pw") + "\r\n");
    for (const TSettingRow& row : SettingsTable())
        ReadSetting(row, ini, s);
    EXPECT_EQ(s.IntPassword, "pw");
}

} // namespace
} // namespace tzn
