#include "store/composition.h"

#include "mail/message.h"
#include "store/mail_store.h"
#include "store_fixture.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

namespace tzn {
namespace {

class CompositionTest : public test::StoreTest {
protected:
    struct Stored {
        std::string Subject, ToName, ToAddress, FromName, FromAddress, AttachmentName, Content;
    };
    // Every letter in OutBox, in name order.
    std::vector<Stored> OutBox() {
        std::vector<Stored> out;
        StoredLetterListVar list;
        LoadFolderLetters(list, MailFolder::OutBox);
        if (!list)
            return out;
        for (const TStoredLetter& e : *list) {
            const TMxMessage& m = *e.Letter;
            Stored s;
            s.Subject = m.Subject;
            if (m.Recipients.Count() == 1) {
                s.ToName = m.Recipients[0].Name;
                s.ToAddress = m.Recipients[0].Address;
            }
            s.FromName = m.FromList.Empty() ? "" : m.FromList[0].Name;
            s.FromAddress = m.FromList.Empty() ? "" : m.FromList[0].Address;
            if (m.MessageParts.Count() == 1 && m.MessageParts[0].AsAttachment()) {
                s.AttachmentName = m.MessageParts[0].PartFileName;
                s.Content = m.MessageParts[0].AsAttachment()->ReadContent();
            }
            out.push_back(s);
        }
        return out;
    }
    std::vector<std::string> Addresses() {
        std::vector<std::string> a;
        for (const Stored& s : OutBox())
            a.push_back(s.ToAddress);
        std::sort(a.begin(), a.end());
        return a;
    }
};

TEST_F(CompositionTest, LetterFieldsAndStoredForm) {
    const std::string file = SourceFile("req17.txt", "request");
    std::string stored;
    auto letter = ComposeLetter("17", "st17@example.test", file, false, false, true, StationCode(),
                                FWindow, &stored);
    ASSERT_TRUE(letter);
    EXPECT_EQ(letter->Subject, "TZN-17");
    EXPECT_EQ(letter->From().Name, "12");
    EXPECT_EQ(letter->From().Address, "work@example.test");
    EXPECT_EQ(letter->Sender.Name, "12");
    EXPECT_EQ(letter->Sender.Address, "work@example.test");
    EXPECT_TRUE(letter->UseNowForDate());
    ASSERT_EQ(letter->Recipients.Count(), 1u);
    EXPECT_EQ(letter->Recipients[0].Name, "17");
    EXPECT_TRUE(letter->Body.empty());
    ASSERT_EQ(letter->MessageParts.Count(), 1u);
    EXPECT_EQ(letter->MessageParts[0].PartFileName, "req17.txt");
    EXPECT_EQ(Letters(MailFolder::OutBox), std::vector<std::string>{stored});

    const std::vector<Stored> out = OutBox();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].Subject, "TZN-17");
    EXPECT_EQ(out[0].ToName, "17");
    EXPECT_EQ(out[0].ToAddress, "st17@example.test");
    EXPECT_EQ(out[0].FromName, "12");
    EXPECT_EQ(out[0].AttachmentName, "req17.txt");
    EXPECT_EQ(out[0].Content, "request");
    const std::string text = test::ReadWin(FolderDir(MailFolder::OutBox) + stored);
    EXPECT_NE(text.find("multipart/mixed"), std::string::npos);
    EXPECT_TRUE(text.ends_with("\r\n.\r\n"));
}

// A receiver tells a resent copy from a new letter by its Message-ID alone: every letter gets
// its own when composed, and a letter moved from Sent back to OutBox keeps it.
TEST_F(CompositionTest, MessageIdOwnPerLetterAndKeptOnResend) {
    FSettings.IsSaveOutMail = true;
    SetMailSettings(FSettings);
    const std::string file = SourceFile("rep.dat", "report");
    std::string first, second;
    auto letter = ComposeLetter("Office", "a@example.test", file, false, false, true, StationCode(),
                                FWindow, &first);
    ASSERT_TRUE(letter);
    ComposeLetter("Office", "a@example.test", file, false, true, true, StationCode(), FWindow,
                  &second);
    ASSERT_FALSE(second.empty());

    auto idIn = [](const std::string& fileName, MailFolder folder) {
        const auto loaded = LoadLetterFile(fileName, folder);
        return loaded ? loaded->MsgId : std::string("(not loaded)");
    };
    const std::string id1 = idIn(first, MailFolder::OutBox), id2 = idIn(second, MailFolder::OutBox);
    EXPECT_EQ(id1, letter->MsgId) << "the file holds the id the letter was given";
    // "<" 14 digits of the time "." ... "@" the working address's domain ">"
    EXPECT_TRUE(
        std::regex_match(id1, std::regex(R"(<\d{14}\.\d+\.\d+\.[0-9a-f]{8}@example\.test>)")))
        << id1;
    EXPECT_NE(id1, id2);

    for (MailFolder to : {MailFolder::Sent, MailFolder::OutBox}) {
        StoredLetterListVar list;
        LoadFolderLetters(list, to == MailFolder::Sent ? MailFolder::OutBox : MailFolder::Sent);
        ASSERT_TRUE(list);
        for (TStoredLetter& e : *list)
            e.SetTargetFolder(to);
        ApplyLetterMoves(list, FWindow);
    }
    std::set<std::string> ids;
    for (const std::string& name : Letters(MailFolder::OutBox))
        ids.insert(idIn(name, MailFolder::OutBox));
    EXPECT_EQ(ids, (std::set<std::string>{id1, id2}));
}

TEST_F(CompositionTest, TemporaryAttachmentGoesWithTheLetter) {
    const std::string kept = SourceFile("kept.dat", "k");
    const std::string temp = SourceFile("temp.dat", "t");
    ComposeLetter("1", "a@example.test", kept, false, true, true, StationCode(), FWindow);
    auto letter =
        ComposeLetter("1", "a@example.test", temp, true, false, true, StationCode(), FWindow);
    ASSERT_TRUE(letter);
    EXPECT_TRUE(FileExists(temp)); // the caller still holds the letter
    letter.reset();
    EXPECT_FALSE(FileExists(temp));
    EXPECT_TRUE(FileExists(kept));
    // Free-after returns nothing and deletes a temporary attachment at once.
    const std::string temp2 = SourceFile("temp2.dat", "t2");
    EXPECT_FALSE(
        ComposeLetter("1", "a@example.test", temp2, true, true, true, StationCode(), FWindow));
    EXPECT_FALSE(FileExists(temp2));
    EXPECT_EQ(Letters(MailFolder::OutBox).size(), 3u);
}

TEST_F(CompositionTest, FailuresReturnNothingAndLoseNothing) {
    std::string stored = "x";
    EXPECT_FALSE(ComposeLetter("1", "a@example.test", "C:\\SRC\\missing.dat", true, false, true,
                               StationCode(), FWindow, &stored));
    EXPECT_TRUE(stored.empty());
    EXPECT_TRUE(Letters(MailFolder::OutBox).empty());
    // OutBox gone: the save fails, the letter is not returned, the temporary file stays.
    const std::string file = SourceFile("reply.dat", "r");
    std::filesystem::remove_all(NativePath(FolderDir(MailFolder::OutBox)));
    EXPECT_FALSE(
        ComposeLetter("1", "a@example.test", file, true, false, true, StationCode(), FWindow));
    EXPECT_TRUE(FileExists(file));
}

TEST_F(CompositionTest, RequestAddressingByOptions) {
    FHost.MakeRequest = [this](const std::string& key) {
        return SourceFile("req" + key + ".txt", "R" + key);
    };
    FHost.Selected = THostStation{"17", "17", "Station 17"};
    FSettings.MailAddictionAdressList = {"first@example.test", "second@example.test"};

    // Option off: one letter to the working address; the request file is deleted.
    OnCreateConfigMail(Side(), FWindow);
    EXPECT_EQ(Addresses(), std::vector<std::string>{"work@example.test"});
    EXPECT_FALSE(FileExists("C:\\SRC\\req17.txt"));
    const std::vector<Stored> one = OutBox();
    EXPECT_EQ(one[0].Subject, "TZN-17");
    EXPECT_EQ(one[0].ToName, "17");
    EXPECT_EQ(one[0].Content, "R17");
    EXPECT_EQ(FHost.StationQueries, std::vector<int>{0});
    EXPECT_EQ(FHost.RequestQueries, std::vector<std::string>{"17"});

    // On, working address kept: the working address and the first line only.
    std::filesystem::remove_all(NativePath(FolderDir(MailFolder::OutBox)));
    CreateMailFolders(FSettings.MailDir);
    FSettings.UseAddictionAddress = true;
    FSettings.NotUseWorkAddres = false;
    Apply();
    OnCreateConfigMail(Side(), FWindow);
    EXPECT_EQ(Addresses(), (std::vector<std::string>{"first@example.test", "work@example.test"}));
    for (const Stored& s : OutBox())
        EXPECT_EQ(s.Content, "R17");
    EXPECT_FALSE(FileExists("C:\\SRC\\req17.txt"));

    // On, only the additional address.
    std::filesystem::remove_all(NativePath(FolderDir(MailFolder::OutBox)));
    CreateMailFolders(FSettings.MailDir);
    FSettings.NotUseWorkAddres = true;
    Apply();
    OnCreateConfigMail(Side(), FWindow);
    EXPECT_EQ(Addresses(), std::vector<std::string>{"first@example.test"});

    // On with an empty list: the working address alone, so the request still goes out.
    std::filesystem::remove_all(NativePath(FolderDir(MailFolder::OutBox)));
    CreateMailFolders(FSettings.MailDir);
    FSettings.MailAddictionAdressList.clear();
    Apply();
    OnCreateConfigMail(Side(), FWindow);
    EXPECT_EQ(Addresses(), std::vector<std::string>{"work@example.test"});
    EXPECT_FALSE(FileExists("C:\\SRC\\req17.txt"));
}

TEST_F(CompositionTest, RequestsForAllStationsSkipEmptyRequestFile) {
    for (int i = 1; i <= 5; ++i)
        FHost.Stations.push_back({std::to_string(i), std::to_string(i), "S"});
    FHost.MakeRequest = [this](const std::string& key) {
        return key == "3" ? std::string() : SourceFile("req" + key + ".txt", "R" + key);
    };
    OnCreateAllConfigMail(Side(), FWindow);
    EXPECT_EQ(FHost.StationQueries, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(FHost.RequestQueries, (std::vector<std::string>{"1", "2", "3", "4", "5"}));
    std::map<std::string, std::string> bySubject;
    for (const Stored& s : OutBox())
        bySubject[s.Subject] = s.Content;
    EXPECT_EQ(bySubject, (std::map<std::string, std::string>{
                             {"TZN-1", "R1"}, {"TZN-2", "R2"}, {"TZN-4", "R4"}, {"TZN-5", "R5"}}));
    EXPECT_EQ(FWindow.Refreshes.load(), 4); // the window lists every composed letter at once
}

TEST_F(CompositionTest, ReportLettersGoToEveryAddress) {
    const std::string data = SourceFile("report.dat", "D");
    FSettings.UseAddictionAddress = true;
    FSettings.NotUseWorkAddres = true; // not consulted for reports
    FSettings.MailAddictionAdressList = {"x1@example.test", "x2@example.test", "x3@example.test"};
    Apply();
    EXPECT_EQ(ComposeReportLetters(data, StationCode(), FWindow), 4);
    EXPECT_TRUE(FileExists(data)); // the caller deletes the data file
    const std::vector<Stored> out = OutBox();
    ASSERT_EQ(out.size(), 4u);
    for (const Stored& s : out) {
        EXPECT_EQ(s.Subject, "TZN-Office");
        EXPECT_EQ(s.ToName, "Office");
        EXPECT_EQ(s.Content, "D");
    }
    EXPECT_EQ(Addresses(), (std::vector<std::string>{"work@example.test", "x1@example.test",
                                                     "x2@example.test", "x3@example.test"}));
    FSettings.UseAddictionAddress = false;
    Apply();
    EXPECT_EQ(ComposeReportLetters(data, StationCode(), FWindow), 1);
    EXPECT_EQ(ComposeReportLetters("C:\\SRC\\gone.dat", StationCode(), FWindow), 0);
}

TEST_F(CompositionTest, ReplyGoesToWorkingAddressOnly) {
    FSettings.UseAddictionAddress = true;
    FSettings.NotUseWorkAddres = true;
    FSettings.MailAddictionAdressList = {"x1@example.test"};
    Apply();
    const std::string reply = SourceFile("answer.dat", "ans");
    EXPECT_TRUE(ComposeReplyLetter("77", reply, StationCode(), FWindow));
    EXPECT_FALSE(FileExists(reply));
    const std::vector<Stored> out = OutBox();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].Subject, "TZN-77");
    EXPECT_EQ(out[0].ToName, "77");
    EXPECT_EQ(out[0].ToAddress, "work@example.test");
    EXPECT_EQ(out[0].Content, "ans");
}

} // namespace
} // namespace tzn
