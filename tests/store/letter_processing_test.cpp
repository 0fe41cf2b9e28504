#include "store/letter_processing.h"

#include "mail/message.h"
#include "module/activity_log.h"
#include "platform/cp1251.h"
#include "stderr_capture.h"
#include "store/mail_store.h"
#include "store_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace tzn {
namespace {

class ProcessingTest : public test::StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        FHost.ReadFile = [](const std::string& p) { return test::ReadWin(p); };
    }
    // A received letter from station `sender` with one attachment per (name, content).
    std::unique_ptr<TMxMessage>
    Received(const std::string& subject, const std::string& sender,
             const std::vector<std::pair<std::string, std::string>>& files) {
        auto letter = std::make_unique<TMxMessage>();
        letter->From() = TMxEMailAddressItem(sender, "st" + sender + "@example.test");
        letter->Subject = subject;
        letter->MessageParts.AddText({"a text part is ignored"});
        int n = 0;
        for (const auto& [name, content] : files) {
            const std::string src = SourceFile("part" + std::to_string(++n), content);
            letter->MessageParts.AddAttachment(src).PartFileName = name;
        }
        letter->MessageParts.CountParts();
        return letter;
    }
    std::vector<std::string> ImportedNames() const {
        std::vector<std::string> names;
        for (const auto& c : FHost.Imports)
            names.push_back(c.FileName);
        return names;
    }
};

TEST_F(ProcessingTest, SubjectTagIsACaseInsensitiveWholeWordAnywhere) {
    SetStationCode("ab12");
    auto letter = Received("Data for tzn-AB12", "77", {{"a.dat", "A"}});
    ProcessReceivedLetter(*letter, Side(), FWindow);
    ASSERT_EQ(FHost.Imports.size(), 1u);
    EXPECT_EQ(FHost.Imports[0].FileName, "C:\\DATA\\a.dat");
    EXPECT_FALSE(FHost.Imports[0].From);
    EXPECT_EQ(FHost.Imports[0].ContentSeen, "A");
    EXPECT_EQ(test::ReadWin("C:\\DATA\\a.dat"), "A"); // left for the host

    // A code that is a prefix of another does not take that station's letters (the rule
    // retrieval judges by); the tag followed by a non-word character still counts.
    SetStationCode("12");
    ProcessReceivedLetter(*Received("TZN-123", "77", {{"b.dat", "B"}}), Side(), FWindow);
    EXPECT_EQ(FHost.Imports.size(), 1u);
    EXPECT_FALSE(FileExists("C:\\DATA\\b.dat"));
    ProcessReceivedLetter(*Received("tzn-12/3 data", "77", {{"b.dat", "B"}}), Side(), FWindow);
    EXPECT_EQ(FHost.Imports.size(), 2u);
    SetStationCode("123");
    ProcessReceivedLetter(*Received("TZN-12", "77", {{"c.dat", "C"}}), Side(), FWindow);
    EXPECT_EQ(FHost.Imports.size(), 2u);
    EXPECT_FALSE(FileExists("C:\\DATA\\c.dat"));
    // A matching letter without attachments: nothing happens, nothing is reported.
    SetStationCode("12");
    ProcessReceivedLetter(*Received("TZN-12", "77", {}), Side(), FWindow);
    EXPECT_EQ(FHost.Imports.size(), 2u);
    EXPECT_TRUE(FWindow.Boxes().empty());
}

TEST_F(ProcessingTest, AttachmentsReplaceDataFilesAndRepliesGoToOutBox) {
    test::WriteWin("C:\\DATA\\one.dat", "stale");
    int answered = 0;
    FHost.ImportAnswer = [&](const std::string& f) {
        // The reply file of the previous hand-over is gone before each call.
        EXPECT_FALSE(FileExists("C:\\DATA\\TZN.txt"));
        test::WriteWin("C:\\DATA\\TZN.txt", "old reply");
        if (f.ends_with("two.dat"))
            return std::string();
        const std::string reply = "C:\\SRC\\reply" + std::to_string(++answered) + ".dat";
        test::WriteWin(reply, "reply to " + f);
        return reply;
    };
    auto letter =
        Received("TZN-12", "77", {{"one.dat", "1"}, {"two.dat", "2"}, {"three.dat", "3"}});
    ProcessReceivedLetter(*letter, Side(), FWindow);
    EXPECT_EQ(ImportedNames(), (std::vector<std::string>{"C:\\DATA\\one.dat", "C:\\DATA\\two.dat",
                                                         "C:\\DATA\\three.dat"}));
    EXPECT_EQ(test::ReadWin("C:\\DATA\\one.dat"), "1");
    // One reply per answered file, to the sender's code at the working address; the reply
    // files themselves go with their letters.
    StoredLetterListVar out;
    LoadFolderLetters(out, MailFolder::OutBox);
    ASSERT_TRUE(out);
    ASSERT_EQ(out->Count(), 2u);
    for (const TStoredLetter& e : *out) {
        EXPECT_EQ(e.Letter->Subject, "TZN-77");
        EXPECT_EQ(e.Letter->Recipients[0].Address, "work@example.test");
    }
    EXPECT_FALSE(FileExists("C:\\SRC\\reply1.dat"));
    EXPECT_FALSE(FileExists("C:\\SRC\\reply2.dat"));
    // The attachments' own content files were marked temporary and go with the letter.
    const std::string stored = letter->MessageParts[1].AsAttachment()->StoredPath;
    EXPECT_TRUE(FileExists(stored));
    letter.reset();
    EXPECT_FALSE(FileExists(stored));
    EXPECT_TRUE(FileExists("C:\\DATA\\one.dat"));
}

TEST_F(ProcessingTest, ReceivedReplyFileIsNotDeletedBeforeItsHandOver) {
    // The other side's host answered with its reply file, so the letter carries "TZN.txt".
    ProcessReceivedLetter(*Received("TZN-12", "77", {{"TZN.txt", "answer"}, {"b.dat", "B"}}),
                          Side(), FWindow);
    ASSERT_EQ(FHost.Imports.size(), 2u);
    EXPECT_EQ(FHost.Imports[0].FileName, "C:\\DATA\\TZN.txt");
    EXPECT_EQ(FHost.Imports[0].ContentSeen, "answer");
    // Before the next hand-over the old reply file is cleared as usual.
    EXPECT_FALSE(FileExists("C:\\DATA\\TZN.txt"));
}

TEST_F(ProcessingTest, OfficeSideAsksWithSenderOnlyForSeveralStations) {
    SetModuleMode(1);
    FHost.Count = 2;
    ProcessReceivedLetter(*Received("TZN-12", "77", {{"a.dat", "A"}}), Side(), FWindow);
    FHost.Count = 1;
    ProcessReceivedLetter(*Received("TZN-12", "78", {{"b.dat", "B"}}), Side(), FWindow);
    SetModuleMode(0);
    FHost.Count = 2;
    ProcessReceivedLetter(*Received("TZN-12", "79", {{"c.dat", "C"}}), Side(), FWindow);
    ASSERT_EQ(FHost.Imports.size(), 3u);
    EXPECT_TRUE(FHost.Imports[0].From);
    EXPECT_EQ(FHost.Imports[0].SenderCode, "77");
    EXPECT_EQ(FHost.Imports[0].FileName, "C:\\DATA\\a.dat");
    EXPECT_FALSE(FHost.Imports[1].From);
    EXPECT_FALSE(FHost.Imports[2].From);
}

TEST_F(ProcessingTest, HostFailureIsSwallowedAndNextFileHandedOver) {
    FHost.ImportThrows = true;
    ProcessReceivedLetter(*Received("TZN-12", "77", {{"a.dat", "A"}, {"b.dat", "B"}}), Side(),
                          FWindow);
    EXPECT_EQ(FHost.Imports.size(), 2u);
    EXPECT_TRUE(FWindow.Boxes().empty());
    EXPECT_TRUE(Letters(MailFolder::OutBox).empty());
}

TEST_F(ProcessingTest, BlockedDataFileIsReportedAfterFirstHandOver) {
    ASSERT_TRUE(ForceDirectories("C:\\PLAV\\LogFiles\\"));
    // The second file's name is held by something that cannot be deleted.
    test::WriteWin("C:\\DATA\\second.dat\\inside", "x");
    FHost.ImportAnswer = [this](const std::string&) { return SourceFile("r.dat", "r"); };
    // The first file reached the host: processing the letter again would import it twice.
    test::StderrCapture platformBox;
    EXPECT_TRUE(ProcessReceivedLetter(
        *Received("TZN-12", "77", {{"first.dat", "1"}, {"second.dat", "2"}, {"third.dat", "3"}}),
        Side(), FWindow));
    EXPECT_EQ(ImportedNames(), std::vector<std::string>{"C:\\DATA\\first.dat"});
    EXPECT_EQ(Letters(MailFolder::OutBox).size(), 1u); // the first file's reply stays
    EXPECT_FALSE(FileExists("C:\\DATA\\third.dat"));

    const std::string expected =
        ru("Не обработано письмо от 77\rНе удален временный файл с предыдущей АЗС");
    // The box goes through the window services the caller handed in, not a box of its own.
    const auto boxes = FWindow.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, expected);
    EXPECT_EQ(boxes[0].Caption, "");
    // OK button only, exclamation icon, above every other window.
    EXPECT_EQ(boxes[0].Flags, static_cast<unsigned>(MB_OK | MB_ICONWARNING | 0x00040000));
    EXPECT_EQ(platformBox.Text().find(Utf8FromCp1251(expected)), std::string::npos);
    EXPECT_NE(test::ReadWin(ModuleLogFileName()).find(expected), std::string::npos);

    // Blocked before anything reached the host: the letter is still to be processed.
    EXPECT_FALSE(
        ProcessReceivedLetter(*Received("TZN-12", "77", {{"second.dat", "2"}}), Side(), FWindow));
    EXPECT_EQ(FHost.Imports.size(), 1u);
}

TEST_F(ProcessingTest, HostileAttachmentNamesStayInsideDataDir) {
    ProcessReceivedLetter(*Received("TZN-12", "77",
                                    {{"..", "dots"},
                                     {".", "dot"},
                                     {"", "empty"},
                                     {"..\\..\\evil.dat", "evil"},
                                     {"/tmp/abs.dat", "abs"},
                                     {"C:x.dat", "drive"}}),
                          Side(), FWindow);
    EXPECT_EQ(ImportedNames(),
              (std::vector<std::string>{"C:\\DATA\\attachment-1.dat", "C:\\DATA\\attachment-2.dat",
                                        "C:\\DATA\\attachment-3.dat", "C:\\DATA\\evil.dat",
                                        "C:\\DATA\\abs.dat", "C:\\DATA\\x.dat"}));
    EXPECT_EQ(test::ReadWin("C:\\DATA\\attachment-1.dat"), "dots");
    EXPECT_EQ(test::ReadWin("C:\\DATA\\evil.dat"), "evil");
    EXPECT_FALSE(FileExists("C:\\evil.dat"));
    EXPECT_FALSE(std::filesystem::exists(FRoot.Path("evil.dat")));
    EXPECT_TRUE(FWindow.Boxes().empty());
    EXPECT_EQ(SafeDataFileName("report.dat", 4), "report.dat");
}

TEST_F(ProcessingTest, OverLongNamesAreShortenedAndOtherFailuresNameTheirCause) {
    // 404 characters, Cyrillic (two bytes each on disk), two names alike but for their end.
    const std::string stem = std::string(100, 'y') + std::string(294, 'x') + ru("отчет");
    ProcessReceivedLetter(
        *Received("TZN-12", "77", {{stem + "1.dat", "one"}, {stem + "2.dat", "two"}}), Side(),
        FWindow);
    EXPECT_TRUE(FWindow.Boxes().empty());
    const auto names = ImportedNames();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_NE(names[0], names[1]);
    for (const std::string& name : names) {
        const std::string file = name.substr(std::string("C:\\DATA\\").size());
        EXPECT_LE(Utf8FromCp1251(file).size(), 255u) << file;
        EXPECT_EQ(file.substr(0, 100), stem.substr(0, 100));
        EXPECT_EQ(file.substr(file.size() - 4), ".dat");
    }
    EXPECT_EQ(test::ReadWin(names[1]), "two");

    // A data folder the file system cannot hold: the text says why, not that a leftover of
    // the previous station was not deleted.
    const std::string longDir = "C:\\" + std::string(300, 'd') + "\\";
    SetDataDir(longDir);
    EXPECT_FALSE(
        ProcessReceivedLetter(*Received("TZN-12", "77", {{"a.dat", "A"}}), Side(), FWindow));
    ASSERT_EQ(FWindow.Boxes().size(), 1u);
    EXPECT_EQ(FWindow.Boxes()[0].Text, ru("Не обработано письмо от 77\rФайл данных не может быть "
                                          "записан: ") +
                                           longDir + "a.dat: File name too long");
}

} // namespace
} // namespace tzn
