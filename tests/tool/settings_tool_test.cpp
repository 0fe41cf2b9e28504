// The settings commands of the tznmail tool, run as a process on a temporary TZN_ROOT.
#include "module/password.h"
#include "platform/cp1251.h"
#include "temp_root.h"
#include "tool/tool_runner.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace tzn {
namespace {

using test::ReadFile;
using test::TempRoot;
using test::ToolRun;
using test::WriteFile;

// Arguments are quoted for the shell; stderr goes to a file beside the root.
class SettingsToolTest : public ::testing::Test {
protected:
    ToolRun Tool(const std::vector<std::string>& args) {
        return test::RunCommand(test::ToolCommand(args) + " 2>" +
                                test::ShellQuote(FRoot.Path("stderr").string()));
    }
    std::string Err() { return ReadFile(FRoot.Path("stderr")); }
    std::string Cnf() { return ReadFile(FCnf); }

    TempRoot FRoot;
    std::filesystem::path FCnf = FRoot.Path("C/WINDOWS/cnf.INI");
};

TEST_F(SettingsToolTest, ShowWithoutAFileGivesDefaultsAndCreatesTheStore) {
    const ToolRun r = Tool({"settings", "show", "--json"});
    ASSERT_EQ(r.Status, 0) << Err();
    for (const char* expected :
         {"\"MailDir\": \"C:\\\\PLAV\\\\OFFICE\\\\MAIL\\\\\"", "\"SMTPPort\": 25",
          "\"POP3Port\": 110", "\"IsSaveInMail\": true", "\"AutoOnNoMail\": false",
          "\"AddTovarCount\": 1", "\"NotUseWorkAddres\": true", "\"MailAddictionAdressList\": []",
          "\"m_GetMailWithSort\": false", "\"Password\": \"\""})
        EXPECT_NE(r.Out.find(expected), std::string::npos) << expected << "\n" << r.Out;
    EXPECT_EQ(r.Out.front(), '{');
    EXPECT_TRUE(std::filesystem::is_directory(FRoot.Path("C/PLAV/OFFICE/MAIL/Sent")));
    EXPECT_FALSE(std::filesystem::exists(FCnf));
    const ToolRun text = Tool({"settings", "show"});
    EXPECT_NE(text.Out.find("SMTPPort = 25\n"), std::string::npos);
}

TEST_F(SettingsToolTest, PasswordsAreScrambledHiddenAndFollowARenamedUser) {
    ASSERT_EQ(Tool({"settings", "set", "UserName", "Иван"}).Status, 0) << Err();
    ASSERT_EQ(Tool({"settings", "set", "Password", "тайна"}).Status, 0) << Err();
    EXPECT_NE(Cnf().find("Password=" + EncodePassword(ru("Иван"), ru("тайна")) + "\r\n"),
              std::string::npos);
    EXPECT_NE(Tool({"settings", "show"}).Out.find("Password = ***\n"), std::string::npos);
    EXPECT_NE(Tool({"settings", "show", "--reveal"}).Out.find("Password = тайна\n"),
              std::string::npos);
    // Renaming the user re-stores the password so it still decodes.
    ASSERT_EQ(Tool({"settings", "set", "UserName", "petr"}).Status, 0) << Err();
    EXPECT_NE(Cnf().find("Password=" + EncodePassword("petr", ru("тайна")) + "\r\n"),
              std::string::npos);
    EXPECT_NE(Tool({"settings", "show", "--json", "--reveal"}).Out.find("\"Password\": \"тайна\""),
              std::string::npos);
    // The dial-up pair works the same way.
    ASSERT_EQ(Tool({"settings", "set", "IntLogin", "dial"}).Status, 0);
    ASSERT_EQ(Tool({"settings", "set", "IntPassword", "pw"}).Status, 0);
    ASSERT_EQ(Tool({"settings", "set", "intlogin", "dial2"}).Status, 0); // names ignore case
    EXPECT_NE(Cnf().find("IntPassword=" + EncodePassword("dial2", "pw") + "\r\n"),
              std::string::npos);
}

TEST_F(SettingsToolTest, BadKeysAndValuesChangeNothingAndExitWithTwo) {
    WriteFile(FCnf, "[Host]\r\nKeep=1\r\n[EMail]\r\nSMTPPort=2525\r\n");
    const std::string before = Cnf();
    const std::vector<std::vector<std::string>> bad = {
        {"settings", "set", "NoSuchKey", "1"},
        {"settings", "set", "SMTPPort", "abc"},
        {"settings", "set", "SMTPPort", "70000"},
        {"settings", "set", "AddTovarCount", "0"},
        {"settings", "set", "ShowWnd", "maybe"},
        {"settings", "set", "EMail", "日本@x.test"}, // no Windows-1251 form
        {"settings", "set", "Password", "secret"},   // no UserName to store it under
        {"settings", "set", "MailDir", ""},
        {"settings", "set", "AutoGetMailLastDate", "soon"},
        {"settings", "set", "EMail"},
        {"settings", "show", "--bogus"},
    };
    for (const auto& args : bad) {
        const ToolRun r = Tool(args);
        EXPECT_EQ(r.Status, 2) << args[2];
        EXPECT_FALSE(Err().empty()) << args[2];
        EXPECT_EQ(Cnf(), before) << args[2];
    }
    EXPECT_NE(Err().find("unknown option"), std::string::npos);
}

TEST_F(SettingsToolTest, SetWritesThroughTheModuleWriterKeepingOtherSections) {
    WriteFile(FCnf, "; host\r\n[Host]\r\nKeep=1\r\n\r\n[EMail]\r\nHostOwn=x\r\n");
    ASSERT_EQ(Tool({"settings", "set", "SMTPHost", "Почта.example"}).Status, 0) << Err();
    ASSERT_EQ(Tool({"settings", "set", "IsSaveInMail", "false"}).Status, 0);
    ASSERT_EQ(Tool({"settings", "set", "POP3Port", "1110"}).Status, 0);
    ASSERT_EQ(Tool({"settings", "set", "MailDir", "C:\\Box"}).Status, 0);
    ASSERT_EQ(
        Tool({"settings", "set", "MailAddictionAdressList", "a@x.test, второй@x.test,"}).Status, 0);
    const std::string file = Cnf();
    EXPECT_EQ(file.rfind("; host\r\n[Host]\r\nKeep=1\r\n\r\n[EMail]\r\nHostOwn=x\r\n", 0), 0u);
    EXPECT_NE(file.find("SMTPHost=" + ru("Почта.example") + "\r\n"), std::string::npos);
    EXPECT_NE(file.find("IsSaveInMail=0\r\n"), std::string::npos);
    EXPECT_NE(file.find("MailDir=C:\\Box\\\r\n"), std::string::npos);
    EXPECT_NE(file.find("[MailAddictionAdressList]\r\nCount=2\r\nItem1=a@x.test\r\nItem2=" +
                        ru("второй@x.test") + "\r\n"),
              std::string::npos)
        << file;
    EXPECT_TRUE(std::filesystem::is_directory(FRoot.Path("C/Box/OutBox")));
    const ToolRun r = Tool({"settings", "show", "--json"});
    EXPECT_NE(r.Out.find("\"MailAddictionAdressList\": [\"a@x.test\", \"второй@x.test\"]"),
              std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find("\"POP3Port\": 1110"), std::string::npos);
    EXPECT_NE(r.Out.find("\"IsSaveInMail\": false"), std::string::npos);
    ASSERT_EQ(Tool({"settings", "set", "MailAddictionAdressList", ""}).Status, 0);
    EXPECT_NE(Tool({"settings", "show", "--json"}).Out.find("\"MailAddictionAdressList\": []"),
              std::string::npos);
}

TEST_F(SettingsToolTest, AFailedReadIsReportedAsAWarning) {
    WriteFile(FRoot.Path("C/blocker"), "x");
    WriteFile(FCnf, "[EMail]\r\nMailDir=C:\\blocker\\MAIL\\\r\n");
    const ToolRun r = Tool({"settings", "show"});
    EXPECT_EQ(r.Status, 0);
    EXPECT_NE(Err().find("warning: Ошибка загрузки параметров Эл. почты: "), std::string::npos)
        << Err();
    EXPECT_NE(r.Out.find("MailDir = C:\\blocker\\MAIL\\\n"), std::string::npos);
}

} // namespace
} // namespace tzn
