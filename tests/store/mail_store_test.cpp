#include "store/mail_store.h"

#include "mail/message.h"
#include "platform/cp1251.h"
#include "store/composition.h"
#include "store_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace tzn {
namespace {

class MailStoreTest : public test::StoreTest {
protected:
    // The content of the letter's one attachment ("?" when it has none or several).
    static std::string AttachmentContent(const TMxMessage& letter) {
        std::string found = "?";
        int n = 0;
        for (size_t i = 0; i < letter.MessageParts.Count(); ++i)
            if (const TMxAttachmentFile* a = letter.MessageParts[i].AsAttachment()) {
                found = a->ReadContent();
                ++n;
            }
        return n == 1 ? found : "?";
    }
    // A letter as composition builds it, to `toName`, with `content` attached.
    std::unique_ptr<TMxMessage> Letter(const std::string& toName, const std::string& content) {
        const std::string file = SourceFile("data-" + toName + ".dat", content);
        auto letter = ComposeLetter(toName, "to@example.test", file, false, false, false,
                                    StationCode(), FWindow);
        EXPECT_TRUE(letter);
        return letter;
    }
    std::string Save(MailFolder folder, const std::string& toName, const std::string& content) {
        auto letter = Letter(toName, content);
        const TSaveResult r = SaveLetterToFolderEx(*letter, folder);
        EXPECT_EQ(r.Outcome, TSaveOutcome::Saved);
        return r.FileName;
    }
};

TEST_F(MailStoreTest, SavesUnderConsecutiveNamesAndSettingsRefuse) {
    auto letter = Letter("17", "payload");
    const TSaveResult a = SaveLetterToFolderEx(*letter, MailFolder::OutBox);
    const TSaveResult b = SaveLetterToFolderEx(*letter, MailFolder::OutBox);
    ASSERT_EQ(a.Outcome, TSaveOutcome::Saved);
    ASSERT_EQ(b.Outcome, TSaveOutcome::Saved);
    EXPECT_TRUE(a.FileName.ends_with("-0.eml")) << a.FileName;
    EXPECT_TRUE(b.FileName.ends_with("-1.eml")) << b.FileName;
    EXPECT_EQ(a.FileName.size(), std::string("mmdd-hhnnss-0.eml").size());
    EXPECT_EQ(Letters(MailFolder::OutBox).size(), 2u);

    FSettings.IsSaveInMail = false;
    FSettings.IsSaveOutMail = false;
    Apply();
    EXPECT_EQ(SaveLetterToFolderEx(*letter, MailFolder::InBox).Outcome, TSaveOutcome::Refused);
    EXPECT_FALSE(SaveLetterToFolder(*letter, MailFolder::Sent));
    EXPECT_TRUE(Letters(MailFolder::InBox).empty());
    EXPECT_TRUE(Letters(MailFolder::Sent).empty());
    EXPECT_EQ(LetterFileCounter.load(), 2u);
    EXPECT_TRUE(SaveLetterToFolder(*letter, MailFolder::OutBox)); // never refused
    EXPECT_EQ(LetterFileCounter.load(), 3u);

    // The store never creates its folders: a missing one is a failure.
    FSettings.MailDir = "C:\\NOWHERE\\";
    Apply();
    EXPECT_EQ(SaveLetterToFolderEx(*letter, MailFolder::OutBox).Outcome, TSaveOutcome::Failed);
    EXPECT_EQ(LetterFileCounter.load(), 3u);
}

TEST_F(MailStoreTest, ScansAllFoldersInOrderAndSkipsWhatIsNoLetter) {
    const std::string in = Save(MailFolder::InBox, "in", "a");
    const std::string out = Save(MailFolder::OutBox, "out", "b");
    const std::string sent = Save(MailFolder::Sent, "sent", "c");
    // Not letters: an empty file, a text without a header, binary noise; and a non-.eml file.
    test::WriteWin(FolderDir(MailFolder::InBox) + "0000-000000-empty.eml", "");
    test::WriteWin(FolderDir(MailFolder::OutBox) + "junk.EML", "just some words\r\nmore\r\n");
    test::WriteWin(FolderDir(MailFolder::Sent) + "noise.eml", std::string(70000, '\x01'));
    test::WriteWin(FolderDir(MailFolder::Sent) + "note.txt", "From: x\r\n\r\n.\r\n");

    StoredLetterListVar list;
    LoadFolderHeaders(list, MailFolder::All);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->Count(), 3u);
    EXPECT_EQ((*list)[0].Key, "ii" + in);
    EXPECT_EQ((*list)[1].Key, "oo" + out);
    EXPECT_EQ((*list)[2].Key, "ss" + sent);
    EXPECT_EQ((*list)[1].Letter->Subject, "TZN-out");
    EXPECT_EQ((*list)[1].Letter->From().Name, "12");
    EXPECT_EQ((*list)[1].Letter->Recipients[0].Name, "out");
    EXPECT_EQ((*list)[1].FileName(), out);
    EXPECT_NE((*list)[1].Letter->Date, 0.0);
    // A header scan loads no part.
    EXPECT_EQ((*list)[1].Letter->MessageParts.Count(), 0u);

    LoadFolderHeaders(list, MailFolder::Sent);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->Count(), 1u);
    EXPECT_EQ((*list)[0].Key, "ss" + sent);

    // A full scan loads the attachment content too.
    LoadFolderLetters(list, MailFolder::OutBox);
    ASSERT_TRUE(list && list->Count() == 1u);
    const TMxMessage& full = *(*list)[0].Letter;
    ASSERT_EQ(full.MessageParts.Count(), 1u);
    const TMxAttachmentFile* part = full.MessageParts[0].AsAttachment();
    ASSERT_TRUE(part);
    EXPECT_EQ(part->PartFileName, "data-out.dat");
    EXPECT_EQ(part->ReadContent(), "b");
}

TEST_F(MailStoreTest, EmptyFolderLeavesListVariableEmpty) {
    StoredLetterListVar list;
    LoadFolderHeaders(list, MailFolder::InBox);
    EXPECT_FALSE(list);
    // An existing list is emptied by a scan that finds nothing, and stays a list.
    Save(MailFolder::OutBox, "x", "1");
    LoadFolderHeaders(list, MailFolder::OutBox);
    ASSERT_TRUE(list);
    LoadFolderHeaders(list, MailFolder::InBox);
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->Empty());
}

TEST_F(MailStoreTest, ScanRecodesHeaderTexts) {
    // Stored by hand: a long subject with an encoded word the reader leaves as it is.
    const std::string subject = "TZN-12 " + std::string(250, 'x');
    test::WriteWin(FolderDir(MailFolder::InBox) + "1206-143005-1.eml",
                   "From: 77 <a@example.test>\r\nTo: office@example.test\r\nSubject: " + subject +
                       "\r\nDate: Fri, 6 Dec 2024 14:30:05 +0000\r\n\r\nbody\r\n.\r\n");
    StoredLetterListVar list;
    LoadFolderHeaders(list, MailFolder::InBox);
    ASSERT_TRUE(list && list->Count() == 1u);
    EXPECT_EQ((*list)[0].Letter->Subject, subject.substr(0, 199));
    EXPECT_EQ((*list)[0].Letter->From().Name, "77");
    EXPECT_EQ((*list)[0].Letter->Date, EncodeDateTime(2024, 12, 6, 14, 30, 5));
}

TEST_F(MailStoreTest, LoadAndDeleteByName) {
    const std::string name = Save(MailFolder::InBox, "5", "content");
    auto letter = LoadLetterFile(name, MailFolder::InBox);
    ASSERT_TRUE(letter);
    EXPECT_EQ(letter->Subject, "TZN-5");
    EXPECT_FALSE(LoadLetterFile(name, MailFolder::OutBox));
    EXPECT_FALSE(LoadLetterFile("missing.eml", MailFolder::InBox));
    // Names that would leave the folder are refused.
    test::WriteWin("C:\\MAIL\\victim.eml", "From: a\r\n\r\n.\r\n");
    EXPECT_FALSE(LoadLetterFile("..\\victim.eml", MailFolder::InBox));
    EXPECT_FALSE(DeleteLetterFile("..\\victim.eml", MailFolder::InBox));
    EXPECT_FALSE(DeleteLetterFile("../victim.eml", MailFolder::InBox));
    EXPECT_TRUE(FileExists("C:\\MAIL\\victim.eml"));
    EXPECT_TRUE(DeleteLetterFile(name, MailFolder::InBox));
    EXPECT_FALSE(DeleteLetterFile(name, MailFolder::InBox));
    EXPECT_TRUE(Letters(MailFolder::InBox).empty());
}

TEST_F(MailStoreTest, MovesRecordedInKeysAndRefreshes) {
    const std::string a = Save(MailFolder::OutBox, "a", "A");
    const std::string b = Save(MailFolder::OutBox, "b", "B");
    const std::string c = Save(MailFolder::OutBox, "c", "C");

    StoredLetterListVar list;
    LoadFolderLetters(list, MailFolder::OutBox);
    ASSERT_TRUE(list && list->Count() == 3u);
    (*list)[0].SetTargetFolder(MailFolder::Sent); // delivered
    (*list)[2].SetTargetFolder(MailFolder::Sent);
    EXPECT_EQ((*list)[0].Key, "os" + a);
    FWindow.Refreshes = 0;
    ApplyLetterMoves(list, FWindow);
    EXPECT_FALSE(list);
    EXPECT_EQ(FWindow.Refreshes.load(), 1);
    EXPECT_EQ(Letters(MailFolder::OutBox), std::vector<std::string>{b});
    ASSERT_EQ(Letters(MailFolder::Sent).size(), 2u);
    // The moved letters keep their content under new names.
    StoredLetterListVar sent;
    LoadFolderLetters(sent, MailFolder::Sent);
    ASSERT_TRUE(sent && sent->Count() == 2u);
    std::set<std::string> contents;
    for (const TStoredLetter& e : *sent)
        contents.insert(AttachmentContent(*e.Letter));
    EXPECT_EQ(contents, (std::set<std::string>{"A", "C"}));
    ClearLetterList(*sent);
    EXPECT_TRUE(sent->Empty());

    // With IsSaveOutMail off a sent letter is just dropped from OutBox.
    FSettings.IsSaveOutMail = false;
    Apply();
    LoadFolderHeaders(list, MailFolder::OutBox);
    ASSERT_TRUE(list && list->Count() == 1u);
    (*list)[0].SetTargetFolder(MailFolder::Sent);
    ApplyLetterMoves(list, FWindow);
    EXPECT_TRUE(Letters(MailFolder::OutBox).empty());
    EXPECT_EQ(Letters(MailFolder::Sent).size(), 2u);

    // An empty variable still refreshes.
    ApplyLetterMoves(list, FWindow);
    EXPECT_EQ(FWindow.Refreshes.load(), 3);
}

TEST_F(MailStoreTest, FullyLoadedLetterMovedToRefusingFolderIsDropped) {
    Save(MailFolder::OutBox, "a", "A");
    const std::string b = Save(MailFolder::OutBox, "b", "B");
    FSettings.IsSaveOutMail = false;
    Apply();
    StoredLetterListVar list;
    LoadFolderLetters(list, MailFolder::OutBox);
    ASSERT_TRUE(list && list->Count() == 2u);
    (*list)[0].SetTargetFolder(MailFolder::Sent);
    const uint32_t counter = LetterFileCounter.load();
    ApplyLetterMoves(list, FWindow);
    EXPECT_FALSE(list);
    EXPECT_EQ(Letters(MailFolder::OutBox), std::vector<std::string>{b});
    EXPECT_TRUE(Letters(MailFolder::Sent).empty());
    EXPECT_EQ(LetterFileCounter.load(), counter);
}

TEST_F(MailStoreTest, MoveOfHeaderScanKeepsTheWholeLetter) {
    const std::string a = Save(MailFolder::OutBox, "a", "A");
    const std::string original = test::ReadWin(FolderDir(MailFolder::OutBox) + a);
    StoredLetterListVar list;
    LoadFolderHeaders(list, MailFolder::OutBox);
    ASSERT_TRUE(list && list->Count() == 1u);
    (*list)[0].SetTargetFolder(MailFolder::Sent);
    ApplyLetterMoves(list, FWindow);
    EXPECT_TRUE(Letters(MailFolder::OutBox).empty());
    const std::vector<std::string> sent = Letters(MailFolder::Sent);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(test::ReadWin(FolderDir(MailFolder::Sent) + sent[0]), original);
}

TEST_F(MailStoreTest, MoveWhoseSaveFailsKeepsTheLetter) {
    const std::string a = Save(MailFolder::InBox, "a", "A");
    StoredLetterListVar list;
    LoadFolderLetters(list, MailFolder::InBox);
    ASSERT_TRUE(list && list->Count() == 1u);
    (*list)[0].SetTargetFolder(MailFolder::Sent);
    std::filesystem::remove_all(NativePath(FolderDir(MailFolder::Sent)));
    ApplyLetterMoves(list, FWindow);
    EXPECT_EQ(Letters(MailFolder::InBox), std::vector<std::string>{a});
}

TEST_F(MailStoreTest, MoveNeverOverwritesLetterInTarget) {
    // The counter starts again (a new session) while OutBox already holds today's names.
    const std::string a = Save(MailFolder::OutBox, "a", "A");
    const std::string sentName = Save(MailFolder::Sent, "old", "OLD");
    ResetLetterFileCounter();
    StoredLetterListVar list;
    LoadFolderLetters(list, MailFolder::OutBox);
    (*list)[0].SetTargetFolder(MailFolder::Sent);
    ApplyLetterMoves(list, FWindow);
    LoadFolderLetters(list, MailFolder::Sent);
    ASSERT_TRUE(list && list->Count() == 2u);
    std::set<std::string> contents;
    for (const TStoredLetter& e : *list)
        contents.insert(AttachmentContent(*e.Letter));
    EXPECT_EQ(contents, (std::set<std::string>{"A", "OLD"}));
}

// A process killed while delivered letters move to Sent leaves one in both folders: the next
// session drops the OutBox copy, so it is neither sent nor filed twice; others stay.
TEST_F(MailStoreTest, ADeliveredLetterLeftInOutBoxByAKillIsDroppedThere) {
    auto delivered = Letter("12", "sent already");
    const TSaveResult waiting = SaveLetterToFolderEx(*delivered, MailFolder::OutBox);
    ASSERT_EQ(waiting.Outcome, TSaveOutcome::Saved);
    const std::string other = Save(MailFolder::OutBox, "13", "still to go");
    ASSERT_EQ(SaveLetterToFolderEx(*delivered, MailFolder::Sent).Outcome, TSaveOutcome::Saved);
    Save(MailFolder::Sent, "14", "an older letter");

    EXPECT_EQ(DropDeliveredFromOutBox(), std::vector<std::string>{waiting.FileName});
    EXPECT_EQ(FindFiles(FolderPath(FSettings.MailDir, MailFolder::OutBox), "*.eml"),
              std::vector<std::string>{other});
    EXPECT_EQ(FindFiles(FolderPath(FSettings.MailDir, MailFolder::Sent), "*.eml").size(), 2u);
    EXPECT_TRUE(DropDeliveredFromOutBox().empty()) << "nothing more the second time";
}

} // namespace
} // namespace tzn
