// Whole mail sessions run in-process against the real loopback server: a fresh root with the
// module's settings pointing at the server, the fake host, a recording window, and helpers
// that put letters into a mailbox or into OutBox and count the store's folders.
#pragma once

#include <filesystem>
#include <optional>

#include "fake_host.h"
#include "fake_window_services.h"
#include "integration/mail_server.h"
#include "mail/message.h"
#include "module/module_state.h"
#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "session/mail_thread.h"
#include "session/session_state.h"
#include "session/session_window.h"
#include "store/letter_files.h"
#include "store/mail_store.h"
#include "store/message_id.h"
#include "temp_root.h"

namespace tzn::test {

class SessionFixture : public MailServerTest {
protected:
    void SetUp() override {
        MailServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        FRoot.emplace();
        std::filesystem::current_path(FRoot->Dir());
        std::filesystem::create_directories(FRoot->Dir() / "LogFiles");
        ResetModuleState();
        FSettings.MailDir = "C:\\MAIL\\";
        FSettings.POP3Host = FSettings.SMTPHost = "127.0.0.1";
        FSettings.POP3Port = FEnv.Pop3Port;
        FSettings.SMTPPort = FEnv.SmtpPort;
        FSettings.ReadTimeout = 30;
        // The server offers STARTTLS, so sessions run encrypted, trusting its own CA.
        FSettings.CAFile = FEnv.CAFile;
        SetMailSettings(FSettings);
        CreateMailFolders(FSettings.MailDir);
        SetDataDir("C:\\DATA\\");
        ASSERT_TRUE(ForceDirectories(DataDir()));
        SetStationCode("12");
        SetHost(&FHost);
        FHost.ReadFile = [](const std::string& path) { return ReadFile(NativePath(path)); };
        MailCancelRequested = false;
    }
    void TearDown() override {
        SetHost(nullptr);
        ResetModuleState();
        SetMailSettings(MailSettings{});
        MailCancelRequested = false;
        FRoot.reset();
    }
    // The session's mailbox account.
    void Account(const MailUser& u) {
        FSettings.UserName = u.Login;
        FSettings.Password = u.Password;
        FAddress = u.Address;
        SetMailSettings(FSettings);
    }
    TSessionContext Context() {
        TSessionContext c = TSessionContext::FromModule();
        c.ConnectNetwork = [] { return true; };
        c.WindowServices = &FShown;
        return c;
    }
    // Puts a letter from `fromName` <`fromAddress`> into the mailbox of `to`, with one data
    // file attached, and waits until it is there.
    void Deposit(const MailUser& to, const std::string& fromName, const std::string& fromAddress,
                 const std::string& subject, const std::string& data, TDateTime date = 0) {
        const int before = Count(to);
        const auto file = FRoot->Dir() / ("data-" + std::to_string(++FDeposits) + ".dat");
        WriteFile(file, data);
        TMxMessage m;
        m.From().Name = fromName;
        m.From().Address = fromAddress;
        m.Recipients.SetEMailAddresses(to.Address);
        m.Subject = subject;
        m.Date = date;
        m.Body = {"data follows"};
        // As every letter a side composes: not every server gives one that has none.
        m.Headers.SetValue("Message-ID", NewMessageId(FEnv.Domain));
        m.MessageParts.AddAttachment(file.string());
        TMxSMTP smtp;
        ConfigureSmtp(smtp, to);
        smtp.ConnectToServer();
        smtp.SendMail(m);
        smtp.CloseConnection();
        ASSERT_EQ(WaitForCount(to, before + 1), before + 1);
    }
    // A letter of the session's account waiting in OutBox.
    void Outgoing(const std::string& to, const std::string& subject) {
        TMxMessage m;
        m.From().Address = FAddress;
        m.Recipients.SetEMailAddresses(to);
        m.Subject = subject;
        m.Body = {"report"};
        ASSERT_TRUE(SaveLetterToFolder(m, MailFolder::OutBox));
    }
    size_t Files(MailFolder f) {
        return FindFiles(FolderPath(FSettings.MailDir, f), "*.eml").size();
    }
    std::vector<std::string> Ru(std::initializer_list<std::string> utf8) {
        std::vector<std::string> out;
        for (const auto& s : utf8)
            out.push_back(ru(s));
        return out;
    }

    std::optional<TempRoot> FRoot;
    MailSettings FSettings;
    FakeHost FHost;
    RecordingWindow FWindow;
    FakeWindowServices FShown; // the boxes the sessions showed the user
    int FDeposits = 0;
    std::string FAddress; // the account's own address
};

} // namespace tzn::test
