#include "platform/ini_file.h"

#include "platform/cp1251.h"
#include "temp_root.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tzn {
namespace {

using test::ReadFile;
using test::TempRoot;
using test::WriteFile;

class IniFileTest : public ::testing::Test {
protected:
    TempRoot FRoot;
    const std::string FName = "C:\\WINDOWS\\cnf.INI";
    std::filesystem::path FNative = FRoot.Path("C/WINDOWS/cnf.INI");
};

TEST_F(IniFileTest, MissingFileReadsAsEmptyAndDefaults) {
    TIniFile ini(FName);
    EXPECT_EQ(ini.ReadString("EMail", "SMTPHost", "def"), "def");
    EXPECT_EQ(ini.ReadInteger("EMail", "SMTPPort", 25), 25);
    EXPECT_TRUE(ini.ReadBool("EMail", "ShowWnd", true));
    EXPECT_FALSE(ini.SectionExists("EMail"));
    EXPECT_FALSE(ini.ValueExists("EMail", "SMTPHost"));
    EXPECT_TRUE(ini.ReadSection("EMail").empty());
    EXPECT_NO_THROW(ini.CheckReadable());
}

TEST_F(IniFileTest, NamesCompareCaseInsensitivelyIncludingCyrillic) {
    WriteFile(FNative, "[EMail]\r\nSMTPHost = mail.example \r\n[" + ru("Почта") + "]\r\n" +
                           ru("Ключ") + "=" + ru("значение") + "\r\n");
    TIniFile ini(FName);
    EXPECT_EQ(ini.ReadString("email", "smtphost", ""), "mail.example");
    EXPECT_EQ(ini.ReadString(ru("ПОЧТА"), ru("ключ"), ""), ru("значение"));
    EXPECT_TRUE(ini.ValueExists("EMAIL", "SMTPHOST"));
}

TEST_F(IniFileTest, IntegersAndBooleansFollowWindowsReading) {
    WriteFile(FNative, "[s]\nA=12\nB=abc\nC=-7\nD=2\nE=0\nF=99999999999\nG=12x\nH=\"5\"\n");
    TIniFile ini(FName);
    EXPECT_EQ(ini.ReadInteger("s", "A", 1), 12);
    EXPECT_EQ(ini.ReadInteger("s", "B", 25), 25);
    EXPECT_EQ(ini.ReadInteger("s", "C", 1), -7);
    EXPECT_EQ(ini.ReadInteger("s", "F", 3), 3); // out of range
    EXPECT_EQ(ini.ReadInteger("s", "G", 4), 4);
    EXPECT_EQ(ini.ReadInteger("s", "H", 4), 5); // quotes around a value are dropped
    EXPECT_TRUE(ini.ReadBool("s", "D", false));
    EXPECT_FALSE(ini.ReadBool("s", "E", true));
    EXPECT_TRUE(ini.ReadBool("s", "B", true)); // unreadable: the default
}

TEST_F(IniFileTest, FirstOfDuplicateSectionsAndKeysWinsAndCommentsAreNotKeys) {
    WriteFile(FNative, "top=x\n[s]\n;k=comment\nk=first\nk=second\n[s]\nk=third\nonlyhere=1\n");
    TIniFile ini(FName);
    EXPECT_EQ(ini.ReadString("s", "k", ""), "first");
    EXPECT_EQ(ini.ReadString("s", ";k", "none"), "none");
    EXPECT_EQ(ini.ReadString("s", "onlyhere", "none"), "none");
    EXPECT_EQ(ini.ReadString("", "top", "none"), "none");
}

TEST_F(IniFileTest, WriteUpdatesInPlaceAndKeepsEverythingElseByteForByte) {
    const std::string before = "; host suite settings\r\n"
                               "[Host]\r\n"
                               "Path=C:\\PLAV\\\r\n"
                               "\r\n"
                               "[EMail]\r\n"
                               "  smtphost = old.example\r\n"
                               "Unknown=keep me\r\n"
                               "\r\n"
                               "[Other]\r\n"
                               "X=1"; // no final line break
    WriteFile(FNative, before);
    TIniFile ini(FName);
    ini.WriteString("EMAIL", "SMTPHost", "new.example");
    const std::string expected = "; host suite settings\r\n"
                                 "[Host]\r\n"
                                 "Path=C:\\PLAV\\\r\n"
                                 "\r\n"
                                 "[EMail]\r\n"
                                 "  smtphost =new.example\r\n"
                                 "Unknown=keep me\r\n"
                                 "\r\n"
                                 "[Other]\r\n"
                                 "X=1";
    EXPECT_EQ(ReadFile(FNative), expected);

    // A new key goes to the end of its section, before the blank line separating the next.
    ini.WriteInteger("EMail", "SMTPPort", 2525);
    EXPECT_EQ(ReadFile(FNative), "; host suite settings\r\n"
                                 "[Host]\r\n"
                                 "Path=C:\\PLAV\\\r\n"
                                 "\r\n"
                                 "[EMail]\r\n"
                                 "  smtphost =new.example\r\n"
                                 "Unknown=keep me\r\n"
                                 "SMTPPort=2525\r\n"
                                 "\r\n"
                                 "[Other]\r\n"
                                 "X=1");
    // A key of the last section, whose last line has no break; then a new section.
    ini.WriteBool("Other", "Y", true);
    ini.WriteString("New", "k", "v");
    const std::string after = ReadFile(FNative);
    const std::string tail = "SMTPPort=2525\r\n\r\n[Other]\r\nX=1\r\nY=1\r\n[New]\r\nk=v\r\n";
    ASSERT_GE(after.size(), tail.size());
    EXPECT_EQ(after.substr(after.size() - tail.size()), tail);
    EXPECT_EQ(ini.ReadString("Other", "X", ""), "1");
}

TEST_F(IniFileTest, FileLineBreakStyleIsKeptAndNewFilesUseCrLf) {
    WriteFile(FNative, "[s]\na=1\n");
    TIniFile ini(FName);
    ini.WriteString("s", "b", "2");
    EXPECT_EQ(ReadFile(FNative), "[s]\na=1\nb=2\n");

    TIniFile fresh("C:\\WINDOWS\\new.ini");
    fresh.WriteString("s", "k", ru("Пароль"));
    EXPECT_EQ(ReadFile(FRoot.Path("C/WINDOWS/new.ini")), "[s]\r\nk=" + ru("Пароль") + "\r\n");
}

TEST_F(IniFileTest, DeleteKeyEraseSectionAndReadSection) {
    WriteFile(FNative, "[a]\r\nx=1\r\ny=2\r\n[b]\r\nz=3\r\n[c]\r\nw=4\r\n");
    TIniFile ini(FName);
    EXPECT_EQ(ini.ReadSection("A"), (std::vector<std::string>{"x", "y"}));
    ini.DeleteKey("a", "X");
    ini.EraseSection("B");
    ini.DeleteKey("a", "missing");
    ini.EraseSection("missing");
    EXPECT_EQ(ReadFile(FNative), "[a]\r\ny=2\r\n[c]\r\nw=4\r\n");
}

// An update collects its writes and replaces the file once; abandoned, it changes nothing.
TEST_F(IniFileTest, AnUpdateWritesOnceAtCommitAndAnAbandonedOneChangesNothing) {
    WriteFile(FNative, "; shared\r\n[other]\r\nq=1\r\n[s]\r\nk=1\r\n");
    {
        TIniFile ini(FName);
        ini.BeginUpdate();
        ini.WriteString("s", "k", "2");
        ini.WriteString("s", "new", "3");
        ini.EraseSection("other");
        EXPECT_EQ(ReadFile(FNative), "; shared\r\n[other]\r\nq=1\r\n[s]\r\nk=1\r\n");
        ini.Commit();
    }
    EXPECT_EQ(ReadFile(FNative), "; shared\r\n[s]\r\nk=2\r\nnew=3\r\n");
    {
        TIniFile ini(FName);
        ini.BeginUpdate();
        ini.WriteString("s", "k", "9");
        EXPECT_THROW(ini.WriteString("s", "bad", "a\nb"), std::runtime_error);
    } // destroyed without Commit, as when an error ends a save
    EXPECT_EQ(ReadFile(FNative), "; shared\r\n[s]\r\nk=2\r\nnew=3\r\n");
    TIniFile after(FName); // the process-wide write lock was released
    after.WriteString("s", "k", "5");
    EXPECT_EQ(after.ReadString("s", "k", ""), "5");
}

TEST_F(IniFileTest, AValueWithALineBreakIsRefusedAndTheFileKept) {
    WriteFile(FNative, "[s]\r\nk=1\r\n");
    TIniFile ini(FName);
    EXPECT_THROW(ini.WriteString("s", "k", "a\r\n[evil]\r\nx=1"), std::runtime_error);
    EXPECT_EQ(ReadFile(FNative), "[s]\r\nk=1\r\n");
}

TEST_F(IniFileTest, UnwritableFolderThrowsAndUnreadableFileIsReported) {
    TIniFile ini("C:\\NoSuchFolder\\x.ini");
    EXPECT_THROW(ini.WriteString("s", "k", "v"), std::runtime_error);
    std::filesystem::create_directories(FNative); // a folder where the file should be
    EXPECT_THROW(TIniFile(FName).CheckReadable(), std::runtime_error);
}

// A file this process may not read, in a folder it may write: an update must not replace the
// file with only the key being written.
TEST_F(IniFileTest, AWriteNeverReplacesAFileItCannotRead) {
    const std::string before = "[Main]\r\nDB=host suite data\r\n[EMail]\r\nSMTPHost=old\r\n";
    WriteFile(FNative, before);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::chmod(FNative.parent_path().c_str(), 0777);
        ::chmod(FNative.c_str(), 0);
        if (::geteuid() == 0) {
            ::chmod(FRoot.Dir().c_str(), 0755);
            ::chmod(FNative.parent_path().parent_path().c_str(), 0755);
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(3);
        }
        int status = 0;
        try {
            TIniFile(FName).WriteString("EMail", "SMTPHost", "new");
            status = 1;
        } catch (const std::runtime_error&) {
        }
        try {
            TIniFile(FName).EraseSection("Main");
            status = 1;
        } catch (const std::runtime_error&) {
        }
        ::_exit(status);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::chmod(FNative.c_str(), 0644);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "an update of an unreadable file did not fail";
    EXPECT_EQ(ReadFile(FNative), before);
}

TEST_F(IniFileTest, AWriteThroughASymbolicLinkUpdatesItsTarget) {
    const std::filesystem::path shared = FRoot.Path("shared/cnf.INI");
    WriteFile(shared, "[Main]\r\nDB=1\r\n");
    std::filesystem::create_directories(FNative.parent_path());
    std::filesystem::create_symlink(shared, FNative);
    TIniFile(FName).WriteString("EMail", "SMTPHost", "new");
    EXPECT_TRUE(std::filesystem::is_symlink(FNative));
    EXPECT_EQ(ReadFile(shared), "[Main]\r\nDB=1\r\n[EMail]\r\nSMTPHost=new\r\n");
}

TEST_F(IniFileTest, ConcurrentWritersLoseNoUpdate) {
    TIniFile ini(FName);
    std::filesystem::create_directories(FNative.parent_path());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, this] {
            TIniFile own(FName);
            for (int i = 0; i < 25; ++i)
                own.WriteInteger("s", "k" + std::to_string(t) + "_" + std::to_string(i), i);
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(ini.ReadSection("s").size(), 100u);
    EXPECT_EQ(ini.ReadInteger("s", "k3_24", -1), 24);
}

} // namespace
} // namespace tzn
