#include "module/settings.h"

#include "module/password.h"
#include "module/settings_table.h"
#include "platform/cp1251.h"
#include "platform/ini_file.h"
#include "temp_root.h"

#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace tzn {
namespace {

using test::ReadFile;
using test::TempRoot;
using test::WriteFile;

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetMailSettings(MailSettings{});
        std::filesystem::create_directories(FRoot.Path("C/PLAV/LogFiles"));
    }
    void TearDown() override { SetMailSettings(MailSettings{}); }
    std::string Log() { return ReadFile(FRoot.Path("C/PLAV/LogFiles/TZNMail.log")); }

    TempRoot FRoot;
    std::filesystem::path FCnf = FRoot.Path("C/WINDOWS/cnf.INI");
};

// Every field set away from its default, to see each one travel.
MailSettings Changed() {
    MailSettings s;
    s.EMail = "station12@example.test";
    s.MailDir = "C:\\Mail\\Box"; // no trailing separator: the writer adds it
    s.IsSaveInMail = false;
    s.IsSaveOutMail = false;
    s.SMTPHost = "smtp.example.test";
    s.POP3Host = "pop.example.test";
    s.SMTPPort = 2525;
    s.POP3Port = 1110;
    s.UserName = ru("Станция");
    s.Password = ru("пароль%1");
    s.ShowWnd = false;
    s.AutoOnNoMail = true;
    s.AutoAddTovarUp = true;
    s.AddTovarCount = 7;
    s.UseDefautConnection = true;
    s.PhonebookEntry = "provider";
    s.DisconnectOnEnd = false;
    s.UserData = true;
    s.IntLogin = "dialer";
    s.IntPassword = "dialpass";
    s.ShowDialUp = false;
    s.m_GetMailWithSort = true;
    s.AutoGetMail = true;
    s.AutoGetMailPeriod = 12;
    s.UseAddictionAddress = true;
    s.NotUseWorkAddres = false;
    s.ConnectTimeout = 5;
    s.ReadTimeout = 9;
    s.SMTPSecurity = "tls";
    s.POP3Security = "starttls";
    s.CAFile = "C:\\PLAV\\ca.pem";
    s.MailAddictionAdressList = {"a@x.test", ru("второй@x.test"), ""};
    return s;
}

void ExpectSame(const MailSettings& a, const MailSettings& b) {
    EXPECT_EQ(a.EMail, b.EMail);
    EXPECT_EQ(a.MailDir, b.MailDir);
    EXPECT_EQ(a.IsSaveInMail, b.IsSaveInMail);
    EXPECT_EQ(a.IsSaveOutMail, b.IsSaveOutMail);
    EXPECT_EQ(a.SMTPHost, b.SMTPHost);
    EXPECT_EQ(a.POP3Host, b.POP3Host);
    EXPECT_EQ(a.SMTPPort, b.SMTPPort);
    EXPECT_EQ(a.POP3Port, b.POP3Port);
    EXPECT_EQ(a.UserName, b.UserName);
    EXPECT_EQ(a.Password, b.Password);
    EXPECT_EQ(a.ShowWnd, b.ShowWnd);
    EXPECT_EQ(a.AutoOnNoMail, b.AutoOnNoMail);
    EXPECT_EQ(a.AutoAddTovarUp, b.AutoAddTovarUp);
    EXPECT_EQ(a.AddTovarCount, b.AddTovarCount);
    EXPECT_EQ(a.UseDefautConnection, b.UseDefautConnection);
    EXPECT_EQ(a.PhonebookEntry, b.PhonebookEntry);
    EXPECT_EQ(a.DisconnectOnEnd, b.DisconnectOnEnd);
    EXPECT_EQ(a.UserData, b.UserData);
    EXPECT_EQ(a.IntLogin, b.IntLogin);
    EXPECT_EQ(a.IntPassword, b.IntPassword);
    EXPECT_EQ(a.ShowDialUp, b.ShowDialUp);
    EXPECT_EQ(a.m_GetMailWithSort, b.m_GetMailWithSort);
    EXPECT_EQ(a.AutoGetMail, b.AutoGetMail);
    EXPECT_EQ(a.AutoGetMailPeriod, b.AutoGetMailPeriod);
    EXPECT_EQ(a.UseAddictionAddress, b.UseAddictionAddress);
    EXPECT_EQ(a.NotUseWorkAddres, b.NotUseWorkAddres);
    EXPECT_EQ(a.ConnectTimeout, b.ConnectTimeout);
    EXPECT_EQ(a.ReadTimeout, b.ReadTimeout);
    EXPECT_EQ(a.SMTPSecurity, b.SMTPSecurity);
    EXPECT_EQ(a.POP3Security, b.POP3Security);
    EXPECT_EQ(a.CAFile, b.CAFile);
    EXPECT_EQ(a.MailAddictionAdressList, b.MailAddictionAdressList);
}

TEST_F(SettingsTest, NoFileKeepsDefaultsAndCreatesTheStoreFolders) {
    LoadMailSettings();
    ExpectSame(MailSettingsSnapshot(), MailSettings{});
    // Older files have no security keys: STARTTLS when offered, clear text otherwise.
    EXPECT_EQ(MailSettingsSnapshot().SMTPSecurity, "auto");
    EXPECT_EQ(MailSettingsSnapshot().POP3Security, "auto");
    for (const char* sub : {"InBox", "OutBox", "Sent"})
        EXPECT_TRUE(
            std::filesystem::is_directory(FRoot.Path(std::string("C/PLAV/OFFICE/MAIL/") + sub)));
    EXPECT_FALSE(std::filesystem::exists(FRoot.Path("C/PLAV/OFFICE/MAIL/TMPinMail")));
    EXPECT_FALSE(std::filesystem::exists(FCnf)); // reading never creates the file
}

TEST_F(SettingsTest, EveryKeyRoundTripsThroughWriterAndReader) {
    const MailSettings s = Changed();
    SaveMailSettings(s);
    MailSettings expected = s;
    expected.MailDir = "C:\\Mail\\Box\\";
    ExpectSame(MailSettingsSnapshot(), expected);
    SetMailSettings(MailSettings{});
    LoadMailSettings();
    ExpectSame(MailSettingsSnapshot(), expected);
    EXPECT_TRUE(std::filesystem::is_directory(FRoot.Path("C/Mail/Box/OutBox")));
    // Passwords are never on disk in plain text.
    const std::string file = ReadFile(FCnf);
    EXPECT_EQ(file.find(ru("пароль%1")), std::string::npos);
    EXPECT_NE(file.find("Password=" + EncodePassword(ru("Станция"), ru("пароль%1")) + "\r\n"),
              std::string::npos);
    EXPECT_NE(file.find("IntPassword=" + EncodePassword("dialer", "dialpass") + "\r\n"),
              std::string::npos);
}

TEST_F(SettingsTest, WriterFollowsTheFixedKeyOrderInAFreshFile) {
    SaveMailSettings(Changed());
    const std::string file = ReadFile(FCnf);
    const std::vector<std::string> order = {"[EMail]",
                                            "EMail=",
                                            "MailDir=",
                                            "IsSaveInMail=",
                                            "IsSaveOutMail=",
                                            "SMTPHost=",
                                            "POP3Host=",
                                            "UserName=",
                                            "Password=",
                                            "SMTPPort=",
                                            "POP3Port=",
                                            "ShowWnd=",
                                            "AutoOnNoMail=",
                                            "AutoAddTovarUp=",
                                            "AddTovarCount=",
                                            "UseDefautConnection=",
                                            "PhonebookEntry=",
                                            "DisconnectOnEnd=",
                                            "UserData=",
                                            "IntLogin=",
                                            "ShowDialUp=",
                                            "IntPassword=",
                                            "AutoGetMail=",
                                            "AutoGetMailPeriod=",
                                            "UseAddictionAddress=",
                                            "NotUseWorkAddres=",
                                            "m_GetMailWithSort=",
                                            "ConnectTimeout=",
                                            "ReadTimeout=",
                                            "SMTPSecurity=tls",
                                            "POP3Security=starttls",
                                            "CAFile=C:\\PLAV\\ca.pem",
                                            "[MailAddictionAdressList]",
                                            "Count=3",
                                            "Item1=a@x.test",
                                            "Item2=",
                                            "Item3="};
    size_t pos = 0;
    for (const std::string& key : order) {
        size_t at = pos == 0 && file.rfind(key, 0) == 0 ? 0 : file.find("\n" + key, pos);
        ASSERT_NE(at, std::string::npos) << key << " missing or out of order in\n" << file;
        if (at != 0)
            ++at;
        pos = at + key.size();
    }
    EXPECT_NE(file.find("IsSaveInMail=0\r\n"), std::string::npos);
    EXPECT_NE(file.find("AutoOnNoMail=1\r\n"), std::string::npos);
}

TEST_F(SettingsTest, OtherSectionsAndUnknownKeysSurviveAWrite) {
    const std::string host = "; shared by the host suite\r\n[Main]\r\nDB=C:\\PLAV\\DB\\\r\n\r\n";
    const std::string other = "\r\n[Zeta]\r\nz=" + ru("Хвост") + "\r\n";
    WriteFile(FCnf, host + "[email]\r\nsmtphost=old\r\nHostOwnKey=keep\r\n" + other);
    SaveMailSettings(Changed());
    const std::string file = ReadFile(FCnf);
    EXPECT_EQ(file.rfind(host + "[email]\r\nsmtphost=smtp.example.test\r\nHostOwnKey=keep\r\n", 0),
              0u)
        << file;
    EXPECT_NE(file.find(other), std::string::npos);
    EXPECT_EQ(TIniFile(SettingsFileName()).ReadString("Zeta", "z", ""), ru("Хвост"));
}

TEST_F(SettingsTest, UnreadableValuesFallBackAndNonZeroIsTrue) {
    WriteFile(FCnf, "[EMail]\r\nSMTPPort=abc\r\nPOP3Port=\r\nIsSaveInMail=2\r\nShowWnd=0\r\n"
                    "AddTovarCount=1x\r\nReadTimeout=0\r\nConnectTimeout=-3\r\n"
                    "AutoGetMailPeriod=101\r\n"
                    "[MailAddictionAdressList]\r\nCount=1000000000\r\nItem1=only@x.test\r\n");
    LoadMailSettings();
    const MailSettings s = MailSettingsSnapshot();
    EXPECT_EQ(s.SMTPPort, 25);
    EXPECT_EQ(s.POP3Port, 110);
    EXPECT_TRUE(s.IsSaveInMail);
    EXPECT_FALSE(s.ShowWnd);
    EXPECT_EQ(s.AddTovarCount, 1);
    EXPECT_EQ(s.ReadTimeout, MailSettings{}.ReadTimeout);
    EXPECT_EQ(s.ConnectTimeout, MailSettings{}.ConnectTimeout);
    EXPECT_EQ(s.AutoGetMailPeriod, 1); // outside 1..100 reads like an unreadable number
    EXPECT_EQ(s.MailAddictionAdressList, std::vector<std::string>{"only@x.test"});
}

TEST_F(SettingsTest, MissingKeysKeepCurrentValuesExceptTwoThatDefaultToFalse) {
    MailSettings current;
    current.SMTPHost = "kept";
    current.AutoOnNoMail = true;
    current.AutoAddTovarUp = true;
    current.MailAddictionAdressList = {"old@x.test"};
    SetMailSettings(current);
    WriteFile(FCnf, "[EMail]\r\nEMail=me@x.test\r\n[MailAddictionAdressList]\r\n");
    LoadMailSettings();
    const MailSettings s = MailSettingsSnapshot();
    EXPECT_EQ(s.EMail, "me@x.test");
    EXPECT_EQ(s.SMTPHost, "kept");
    EXPECT_FALSE(s.AutoOnNoMail);
    EXPECT_FALSE(s.AutoAddTovarUp);
    EXPECT_TRUE(s.MailAddictionAdressList.empty());
}

TEST_F(SettingsTest, HandEditedMailDirIsCompletedNotMisplaced) {
    WriteFile(FCnf, "[EMail]\r\nMailDir=C:\\Box\r\n");
    LoadMailSettings();
    EXPECT_EQ(MailSettingsSnapshot().MailDir, "C:\\Box\\");
    EXPECT_TRUE(std::filesystem::is_directory(FRoot.Path("C/Box/InBox")));
    EXPECT_FALSE(std::filesystem::exists(FRoot.Path("C/BoxInBox")));
    WriteFile(FCnf, "[EMail]\r\nMailDir=\r\n");
    LoadMailSettings();
    EXPECT_EQ(MailSettingsSnapshot().MailDir, MailSettings{}.MailDir);
    MailSettings empty;
    empty.MailDir = "";
    EXPECT_THROW(SaveMailSettings(empty), std::runtime_error);
    EXPECT_EQ(ReadFile(FCnf), "[EMail]\r\nMailDir=\r\n");
}

TEST_F(SettingsTest, PasswordReadUnderAnotherNameIsDifferentNotAnError) {
    WriteFile(FCnf,
              "[EMail]\r\nUserName=bob\r\nPassword=" + EncodePassword("alice", "secret") + "\r\n");
    LoadMailSettings();
    const MailSettings s = MailSettingsSnapshot();
    EXPECT_EQ(s.Password.size(), 6u);
    EXPECT_NE(s.Password, "secret");
    EXPECT_TRUE(Log().empty());
}

TEST_F(SettingsTest, FailedReadIsLoggedAndKeepsWhatWasRead) {
    // MailDir below a plain file: the store folders cannot be created.
    WriteFile(FRoot.Path("C/blocker"), "x");
    WriteFile(FCnf, "[EMail]\r\nEMail=me@x.test\r\nMailDir=C:\\blocker\\MAIL\\\r\n");
    LoadMailSettings();
    EXPECT_EQ(MailSettingsSnapshot().EMail, "me@x.test");
    EXPECT_NE(Log().find(ru(" - Ошибка загрузки параметров Эл. почты: ")), std::string::npos);
    // Without the log folder the failure reaches the caller.
    std::filesystem::remove_all(FRoot.Path("C/PLAV/LogFiles"));
    EXPECT_THROW(LoadMailSettings(), std::runtime_error);
}

TEST_F(SettingsTest, UnreadableFileIsLoggedNotSilentlyDefaulted) {
    std::filesystem::create_directories(FCnf); // a folder where the file should be
    LoadMailSettings();
    EXPECT_NE(Log().find(ru("Ошибка загрузки параметров Эл. почты: ")), std::string::npos);
}

TEST_F(SettingsTest, WriterRefusesAnUnwritableFileAndLeavesTheOldOneIntact) {
    SaveMailSettings(Changed());
    const std::string before = ReadFile(FCnf);
    MailSettings bad = Changed();
    bad.EMail = "a\r\n[EMail]\r\nSMTPHost=evil";
    EXPECT_THROW(SaveMailSettings(bad), std::runtime_error);
    EXPECT_EQ(ReadFile(FCnf), before);
}

TEST_F(SettingsTest, AFailedSaveLeavesReadersAndFileWithTheOldValues) {
    SaveMailSettings(Changed());
    const std::string before = ReadFile(FCnf);
    const MailSettings old = MailSettingsSnapshot();
    MailSettings bad = Changed();
    bad.SMTPHost = "new.example.test";
    bad.SMTPPort = 0; // outside 1..65535: refused before anything is written
    EXPECT_THROW(SaveMailSettings(bad), ESettingValueError);
    bad.SMTPPort = 25;
    // The Windows folder cannot be made (a plain file stands in its place).
    std::filesystem::remove_all(FCnf.parent_path());
    WriteFile(FCnf.parent_path(), "not a folder");
    try {
        SaveMailSettings(bad);
        ADD_FAILURE() << "saved into a folder that cannot exist";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("C:\\WINDOWS"), std::string::npos) << e.what();
    }
    EXPECT_EQ(MailSettingsSnapshot().SMTPHost, old.SMTPHost);
    std::filesystem::remove(FCnf.parent_path());
    WriteFile(FCnf, before);
    LoadMailSettings();
    ExpectSame(MailSettingsSnapshot(), old);
}

// Every key is taken from one reading of the file: a file replaced while the settings are
// loaded can never give a mix of its two versions.
TEST_F(SettingsTest, ALoadReadsTheFileOnce) {
    SaveMailSettings(Changed());
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    // Closes watched too: inotify merges an event with an identical one queued just before.
    ASSERT_GE(::inotify_add_watch(watch, FCnf.c_str(), IN_OPEN | IN_CLOSE), 0);
    LoadMailSettings();
    ReloadConnectionSettings();
    int opens = 0;
    alignas(inotify_event) char buf[4096];
    for (ssize_t n; (n = ::read(watch, buf, sizeof buf)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            inotify_event event{};
            std::memcpy(&event, buf + at, sizeof event);
            opens += (event.mask & IN_OPEN) ? 1 : 0;
            at += static_cast<ssize_t>(sizeof event + event.len);
        }
    }
    ::close(watch);
    EXPECT_EQ(opens, 2); // one for the load, one for the dialog's re-read
}

TEST_F(SettingsTest, DialogReReadOfConnectionKeys) {
    MailSettings current = Changed();
    SetMailSettings(current);
    WriteFile(FCnf, "[EMail]\r\nIntLogin=other\r\nIntPassword=" + EncodePassword("other", "pw2") +
                        "\r\nPhonebookEntry=isp\r\n");
    ReloadConnectionSettings();
    const MailSettings s = MailSettingsSnapshot();
    EXPECT_FALSE(s.UseDefautConnection); // missing key reads as false here
    EXPECT_EQ(s.IntLogin, "other");
    EXPECT_EQ(s.IntPassword, "pw2");
    EXPECT_EQ(s.PhonebookEntry, "isp");
    EXPECT_EQ(s.SMTPHost, current.SMTPHost); // not a connection key
    EXPECT_FALSE(s.DisconnectOnEnd);         // missing: the current value
}

TEST_F(SettingsTest, AutoGetMailLastDateReadsBackWhatWasWritten) {
    TDateTime when = 0;
    EXPECT_FALSE(ReadAutoGetMailLastDate(when));
    const TDateTime t = EncodeDateTime(2026, 12, 6, 17, 5, 9);
    WriteAutoGetMailLastDate(t);
    ASSERT_TRUE(ReadAutoGetMailLastDate(when));
    EXPECT_NEAR(when, t, 1e-6);
    TIniFile(SettingsFileName()).WriteString("EMail", "AutoGetMailLastDate", "garbage");
    EXPECT_FALSE(ReadAutoGetMailLastDate(when));
}

TEST_F(SettingsTest, ReadersAlwaysSeeAWholeRecord) {
    MailSettings a, b;
    a.SMTPHost = std::string(300, 'a');
    a.SMTPPort = 1;
    b.SMTPHost = std::string(5, 'b');
    b.SMTPPort = 2;
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!stop) {
            const MailSettings s = MailSettingsSnapshot();
            if ((s.SMTPPort == 1) != (s.SMTPHost == a.SMTPHost) &&
                !(s.SMTPPort == 25 && s.SMTPHost.empty()))
                ++torn;
        }
    });
    for (int i = 0; i < 20000; ++i)
        SetMailSettings(i % 2 ? a : b);
    stop = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

} // namespace
} // namespace tzn
