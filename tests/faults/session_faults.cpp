#include "session_faults.h"

#include "module/module_state.h"

#include <filesystem>

namespace tzn::test {

void SessionFaults::SetUp() {
    SessionFixture::SetUp();
    if (IsSkipped() || HasFatalFailure())
        return;
    FPop.emplace(FEnv.Pop3Port, TFaultProtocol::Pop3);
    FSmtp.emplace(FEnv.SmtpPort, TFaultProtocol::Smtp);
    FSettings.POP3Port = FPop->Port();
    FSettings.SMTPPort = FSmtp->Port();
    // In plain text, so that the proxies read the dialogue.
    FSettings.POP3Security = FSettings.SMTPSecurity = "none";
    FSettings.ReadTimeout = 2; // a held-back answer becomes a time-out soon
    FSettings.ConnectTimeout = 5;
    SetMailSettings(FSettings);
}

void SessionFaults::TearDown() {
    FPop.reset();
    FSmtp.reset();
    SessionFixture::TearDown();
}

void SessionFaults::UseSide(const TExchangeSide& side) {
    FSide = side;
    Account(User(side.Box));
    if (side.Office) {
        SetModuleMode(1);
        SetStationCode("Office");
        FSettings.m_GetMailWithSort = false;
        FSettings.EMail = User(side.Peer).Address; // a reply goes to the other side's address
        FHost.Count = 2;
        FHost.ImportAnswer = [this](const std::string& fileName) {
            std::string reply = DataDir() + "answer-" + std::to_string(FRound) + ".txt";
            WriteFile(NativePath(reply), "reply to " + ReadFile(NativePath(fileName)));
            return reply;
        };
    } else {
        SetModuleMode(0);
        SetStationCode("12");
        FSettings.m_GetMailWithSort = true;
        FHost.Count = 1;
        FHost.ImportAnswer = nullptr;
    }
    SetMailSettings(FSettings);
}

size_t SessionFaults::Imported(const std::string& data) {
    size_t n = 0;
    for (const auto& call : FHost.Imports)
        n += call.ContentSeen == data;
    return n;
}

void SessionFaults::ClearStore() {
    for (MailFolder f : {MailFolder::InBox, MailFolder::OutBox, MailFolder::Sent})
        for (const std::string& name : FindFiles(FolderPath(FSettings.MailDir, f), "*.eml"))
            ASSERT_TRUE(DeleteLetterFile(name, f));
}

void SessionFaults::OutgoingData(const std::string& subject, const std::string& data) {
    const auto file = FRoot->Dir() / ("outgoing-" + std::to_string(FRound) + ".dat");
    WriteFile(file, data);
    TMxMessage m;
    m.From() = TMxEMailAddressItem(FSide.Office ? "Office" : "12", User(FSide.Box).Address);
    m.Recipients.SetEMailAddresses(User(FSide.Peer).Address);
    m.Subject = subject;
    m.Body = {"report"};
    m.MessageParts.AddAttachment(file.string());
    ASSERT_TRUE(SaveLetterToFolder(m, MailFolder::OutBox));
}

void SessionFaults::PeerImportsOnce(const std::string& data) {
    const TExchangeSide side = FSide;
    const MailSettings saved = FSettings;
    ClearStore();
    UseSide({!side.Office, side.Peer, side.Box});
    FHost.ImportAnswer = nullptr; // no letter back: this session only receives
    RecordingWindow peerWindow;
    TMailThread(TSessionMode::Full, peerWindow.Window(), Context()).Execute();
    const std::string lines = ::testing::PrintToString(peerWindow.Lines());
    EXPECT_EQ(Imported(data), 1u) << lines;
    EXPECT_EQ(Files(MailFolder::InBox), 1u) << lines;
    EXPECT_EQ(Count(User(side.Peer)), 0) << "the second copy is deleted unprocessed" << lines;
    const std::string again = ru("Письмо уже было обработано, повторно не обрабатывается: ");
    size_t recognised = 0;
    for (const std::string& line : peerWindow.Lines())
        recognised += line.rfind(again, 0) == 0;
    EXPECT_EQ(recognised, 1u) << lines;
    FSettings = saved;
    SetMailSettings(FSettings);
    UseSide(side);
}

void SessionFaults::Round(const std::string& what, TFaultProxy* faulty, const TFaultPlan& plan,
                          bool doubled) {
    RunRound(what, faulty, plan, doubled, {}, {});
}

void SessionFaults::LocalRound(const std::string& what, const std::function<void()>& inject,
                               const std::function<void()>& repair) {
    RunRound(what, nullptr, {}, false, inject, repair);
}

void SessionFaults::RunRound(const std::string& what, TFaultProxy* faulty, const TFaultPlan& plan,
                             bool doubled, const std::function<void()>& inject,
                             const std::function<void()>& repair) {
    SCOPED_TRACE(what);
    ++FRound;
    ClearStore();
    const MailUser& box = User(FSide.Box);
    const MailUser& peer = User(FSide.Peer);
    const std::string data = what + " / round " + std::to_string(FRound);
    if (FSide.Office) {
        Deposit(box, "12", peer.Address, "TZN-Office " + what, data);
    } else {
        Deposit(box, "Office", peer.Address, "TZN-12 " + what, data);
        OutgoingData("TZN-Office report " + std::to_string(FRound), "report of " + data);
    }
    // The office's reply to the station's data, the station's report: what the peer imports.
    const std::string peerData = (FSide.Office ? "reply to " : "report of ") + data;
    const int acceptedBefore = FSmtp->AcceptedLetters();

    if (faulty)
        faulty->Arm(plan);
    if (inject)
        inject();
    RecordingWindow faultyWindow;
    TMailThread(TSessionMode::Full, faultyWindow.Window(), Context()).Execute();
    FLastLines = faultyWindow.Lines();
    FPopCommands = FPop->Commands();
    FSmtpCommands = FSmtp->Commands();
    const std::string lines = ::testing::PrintToString(FLastLines);
    if (faulty) {
        EXPECT_TRUE(faulty->Fired()) << "the fault never happened" << lines;
    }

    // After the fault: the incoming letter is on the server, or imported once and stored;
    // the outgoing letter is in OutBox or, delivered, in Sent.
    const size_t imports = Imported(data);
    EXPECT_LE(imports, 1u) << lines;
    EXPECT_EQ(Files(MailFolder::InBox), imports) << lines;
    if (imports == 0) {
        EXPECT_EQ(Count(box), 1) << "neither imported nor on the server" << lines;
    }
    const size_t outgoing = FSide.Office ? imports : 1;
    EXPECT_EQ(Files(MailFolder::OutBox) + Files(MailFolder::Sent), outgoing) << lines;
    if (Files(MailFolder::Sent) == 1) {
        EXPECT_GE(FSmtp->AcceptedLetters() - acceptedBefore, 1) << lines;
    }

    if (repair)
        repair();
    RecordingWindow followUp;
    TMailThread(TSessionMode::Full, followUp.Window(), Context()).Execute();
    const std::string after = ::testing::PrintToString(followUp.Lines());

    EXPECT_EQ(Imported(data), 1u) << lines << after;
    EXPECT_EQ(Files(MailFolder::InBox), 1u) << lines << after;
    EXPECT_EQ(Count(box), 0) << "the mailbox is empty after the follow-up" << lines << after;
    EXPECT_EQ(Files(MailFolder::OutBox), 0u) << lines << after;
    EXPECT_EQ(Files(MailFolder::Sent), 1u) << lines << after;
    // What the server took, counted on the wire, is what arrived; once, but for the window
    // between the letter's end and the server's answer to it.
    const int accepted = FSmtp->AcceptedLetters() - acceptedBefore;
    EXPECT_EQ(accepted, doubled ? 2 : 1) << lines << after;
    EXPECT_EQ(WaitForCount(peer, accepted), accepted) << lines << after;
    if (doubled)
        PeerImportsOnce(peerData);
    else
        Empty(peer);
}

} // namespace tzn::test
