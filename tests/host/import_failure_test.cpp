// tznhost against the loopback mail server: a data archive that would unpack far beyond its
// size arrives, the host refuses it, says so, and the headless session fails.
#include "integration/mail_server.h"
#include "mail/message.h"
#include "module/password.h"
#include "temp_root.h"
#include "tool/tool_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace tzn {
namespace {

using ::testing::HasSubstr;

// Mailbox of this file: the office's account.
constexpr size_t kOffice = 51;

class ImportFailureTest : public test::MailServerTest {
protected:
    test::ToolRun InRoot(const std::string& command) {
        return test::RunCommand("cd " + test::ShellQuote(FRoot.Dir().string()) +
                                " && TZN_ROOT=" + test::ShellQuote(FRoot.Dir().string()) +
                                " TZN_FAKE_INET_Connect=1 " + command + " 2>stderr.txt");
    }
    test::TempRoot FRoot;
};

TEST_F(ImportFailureTest, ARefusedArchiveIsReportedAndFailsTheSession) {
    const test::MailUser& office = User(kOffice);
    Empty(office);
    // 64 MiB of zeros in about 64 KiB of gzip.
    ASSERT_EQ(InRoot("python3 -c " +
                     test::ShellQuote("import tarfile, io\n"
                                      "with tarfile.open('12-1.tar.gz', 'w:gz') as t:\n"
                                      "    i = tarfile.TarInfo('zeros.bin'); i.size = 64 << 20\n"
                                      "    t.addfile(i, io.BytesIO(bytes(i.size)))\n"))
                  .Status,
              0);
    TMxMessage m;
    m.From().Name = "12";
    m.From().Address = office.Address;
    m.Recipients.SetEMailAddresses(office.Address);
    m.Subject = "TZN-Office data";
    m.MessageParts.AddAttachment(FRoot.Path("12-1.tar.gz").string());
    TMxSMTP smtp;
    ConfigureSmtp(smtp, office);
    smtp.ConnectToServer();
    smtp.SendMail(m);
    smtp.CloseConnection();
    ASSERT_EQ(WaitForCount(office, 1), 1);

    std::filesystem::create_directories(FRoot.Path("C/PLAV"));
    std::filesystem::copy_file(TZN_FAKE_CONNECT_INET, FRoot.Path("C/PLAV/TZNConnectInet.so"));
    test::WriteFile(FRoot.Path("C/WINDOWS/cnf.INI"),
                    "[EMail]\r\nEMail=" + office.Address +
                        "\r\nSMTPHost=127.0.0.1\r\nPOP3Host=127.0.0.1\r\nSMTPPort=" +
                        std::to_string(FEnv.SmtpPort) + "\r\nPOP3Port=" +
                        std::to_string(FEnv.Pop3Port) + "\r\nUserName=" + office.Login +
                        "\r\nPassword=" + EncodePassword(office.Login, office.Password) +
                        "\r\nReadTimeout=30\r\nCAFile=" + FEnv.CAFile + "\r\n");
    test::WriteFile(FRoot.Path("host.ini"), "[Host]\nSide=office\nStationCode=Office\n"
                                            "DataFile=C:\\PLAV\\DATA\\tzn.dat\nImportDir=import\n");

    const test::ToolRun r =
        InRoot(test::ShellQuote(TZN_HOST_PATH) + " --config host.ini --headless --timeout 60 get");
    const std::string err = test::ReadFile(FRoot.Path("stderr.txt"));
    EXPECT_EQ(r.Status, 1) << r.Out << err;
    EXPECT_THAT(err, HasSubstr("tznhost: import of C:\\PLAV\\DATA\\12-1.tar.gz into "));
    EXPECT_THAT(err, HasSubstr("12-1.tar.gz not unpacked: zeros.bin: the archive expands more "
                               "than 200 times"));
    EXPECT_THAT(err, HasSubstr("tznhost: get: 1 import(s) of received data failed"));
    EXPECT_TRUE(test::FilesBelow(FRoot.Path("import")).empty());
    Empty(office);
}

} // namespace
} // namespace tzn
