// The request file, the report preparation through a scripted shift dialog, and its thread.
#include "exchange/app_server.h"
#include "exchange/data_preparation.h"
#include "exchange/data_process_thread.h"
#include "exchange/request_file.h"
#include "exchange/shift_list.h"
#include "mail/message.h"
#include "platform/cp1251.h"
#include "platform/message_box.h"
#include "store/mail_store.h"
#include "store/store_fixture.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace tzn {
namespace {

using test::ReadWin;
using test::WriteWin;
using ::testing::HasSubstr;

// The dialog as a user answers it: `Script` ticks (sets SelectedShifts) and returns the
// modal result; the rows it was shown are kept.
class ScriptedDialog final : public TShiftDialog {
public:
    explicit ScriptedDialog(TShiftList& list) : FList(list) {}
    int ShowModal() override {
        ++Shown;
        RowsShown = FList.Rows();
        return Script ? Script(FList) : IDOK;
    }
    std::function<int(TShiftList&)> Script;
    std::vector<TShiftRecord> RowsShown;
    std::atomic<int> Shown{0};

private:
    TShiftList& FList;
};

class PreparationTest : public test::StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_TRUE(ForceDirectories("C:\\PLAV\\LogFiles"));
        WriteWin("C:\\PLAV\\SmLogProvider.tsv", "SmNum\tBegTime\tEndTime\tOperator\r\n"
                                                "31\tb\te\to\r\n32\tb\te\to\r\n33\tb\te\to\r\n");
        FHost.StationCode = "12";
        // The host's data file names the request it was made from.
        FHost.ExportData = [this](const std::string& request) {
            std::string file = "C:\\DATA\\export" + std::to_string(++FExports) + ".dat";
            WriteWin(file, "data for " + ReadWin(request));
            return file;
        };
        FContext.Host = &FHost;
        FContext.Window = &FWindow;
        FContext.DataDir = DataDir();
        FContext.StationCodeReported = [](const std::string& code) { SetStationCode(code); };
        FContext.ShiftList = &FList;
        FContext.AppServer = &FServer;
        FContext.ShowShiftDialog = [this] { return FDialog.ShowModal(); };
    }
    std::vector<std::string> BoxTexts() {
        std::vector<std::string> texts;
        for (const test::TRecordedMessageBox& b : FWindow.Boxes())
            texts.push_back(Utf8FromCp1251(b.Text));
        return texts;
    }
    struct Letter {
        std::string Subject, ToAddress, FromName, Content;
    };
    // The letters in OutBox, in name order, with their attachment's content.
    std::vector<Letter> OutBoxLetters() {
        std::vector<Letter> out;
        StoredLetterListVar stored;
        LoadFolderLetters(stored, MailFolder::OutBox);
        for (size_t i = 0; stored && i < stored->Count(); ++i) {
            const TMxMessage& m = *(*stored)[i].Letter;
            Letter l{m.Subject, m.Recipients[0].Address, m.FromList[0].Name, ""};
            if (const TMxAttachmentFile* a = m.MessageParts[0].AsAttachment())
                l.Content = a->ReadContent();
            out.push_back(l);
        }
        if (stored)
            ClearLetterList(*stored);
        return out;
    }
    std::vector<std::string> Addresses() {
        std::vector<std::string> a;
        for (const Letter& l : OutBoxLetters())
            a.push_back(l.ToAddress);
        std::sort(a.begin(), a.end());
        return a;
    }
    std::string LogText() { return Utf8FromCp1251(ReadWin("C:\\PLAV\\LogFiles\\TZNMail.log")); }

    TShiftList FList;
    TFileAppServer FServer;
    ScriptedDialog FDialog{FList};
    TPreparationContext FContext;
    int FExports = 0;
};

TEST_F(PreparationTest, RequestFileForTheExamplesByteForByte) {
    FSettings.AddTovarCount = 5;
    FSettings.AutoAddTovarUp = true;
    Apply();
    EXPECT_EQ(WriteRequestFile(DataDir(), {"17", "18"}), "C:\\DATA\\office.txt");
    EXPECT_EQ(ReadWin("C:\\DATA\\office.txt"),
              ru("[Trade]\r\nLastUpdate=SendLastUpdates=5\r\n[Smena]\r\nCount=2\r\nItem0=17\r\n"
                 "Item1=18\r\n[Config]\r\nType=1\r\nTradeDB=1\r\n[h]\r\nM=Привет\r\n"));

    DeleteFile("C:\\DATA\\office.txt");
    FSettings.AddTovarCount = 1;
    FSettings.AutoAddTovarUp = false;
    Apply();
    WriteRequestFile(DataDir(), {});
    EXPECT_EQ(ReadWin("C:\\DATA\\office.txt"),
              ru("[Trade]\r\nLastUpdate=SendLastUpdates=1\r\n[Smena]\r\nCount=0\r\n"
                 "[Config]\r\nType=4\r\nTradeDB=0\r\n[h]\r\nM=Привет\r\n"));
}

TEST_F(PreparationTest, ARewriteKeepsTheOldKeysInPlace) {
    WriteWin("C:\\DATA\\office.txt", "[Smena]\r\nCount=5\r\nItem0=1\r\nItem1=2\r\nItem2=3\r\n"
                                     "Item3=4\r\nItem4=5\r\n; kept\r\n[Other]\r\nX=y\r\n");
    WriteRequestFile(DataDir(), {"17", "18"});
    EXPECT_EQ(ReadWin("C:\\DATA\\office.txt"),
              ru("[Smena]\r\nCount=2\r\nItem0=17\r\nItem1=18\r\nItem2=3\r\nItem3=4\r\nItem4=5\r\n"
                 "; kept\r\n[Other]\r\nX=y\r\n[Trade]\r\nLastUpdate=SendLastUpdates=1\r\n"
                 "[Config]\r\nType=1\r\nTradeDB=0\r\n[h]\r\nM=Привет\r\n"));

    // A request that cannot be written is logged and yields no path.
    DeleteFile("C:\\DATA\\office.txt");
    ASSERT_TRUE(ForceDirectories("C:\\DATA\\office.txt"));
    EXPECT_EQ(WriteRequestFile(DataDir(), {"1"}), "");
    EXPECT_THAT(LogText(), HasSubstr("Ошибка создания файла :C:\\DATA\\office.txt: "));
}

TEST_F(PreparationTest, TickedShiftsGoToEveryAddressAndTheDataFileGoes) {
    FSettings.UseAddictionAddress = true;
    FSettings.NotUseWorkAddres = true; // not consulted for reports
    FSettings.MailAddictionAdressList = {"x1@example.test", "x2@example.test"};
    Apply();
    FHost.StationCode = "14"; // the station's code changed since Load
    FDialog.Script = [](TShiftList& l) {
        l.SetSelectedShifts({l.Rows()[0].SmNum, l.Rows()[2].SmNum});
        return IDOK;
    };
    EXPECT_TRUE(PrepareStationData(nullptr, FContext));
    EXPECT_EQ(StationCode(), "14");
    EXPECT_EQ(FDialog.RowsShown.size(), 3u);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Данные подготовлены (3 писем)"}));
    EXPECT_EQ(FWindow.Boxes()[0].Caption, ru("Связь с офисом."));
    EXPECT_EQ(FWindow.Boxes()[0].Flags, unsigned(MB_OK | MB_TOPMOST | MB_ICONINFORMATION));
    EXPECT_EQ(Addresses(), (std::vector<std::string>{"work@example.test", "x1@example.test",
                                                     "x2@example.test"}));
    for (const Letter& l : OutBoxLetters()) {
        EXPECT_EQ(l.Subject, "TZN-Office");
        EXPECT_EQ(l.FromName, "14");
        EXPECT_THAT(l.Content, HasSubstr("Count=2\r\nItem0=31\r\nItem1=33\r\n"));
    }
    EXPECT_FALSE(FileExists("C:\\DATA\\export1.dat"));
    EXPECT_TRUE(FileExists("C:\\DATA\\office.txt"));
    ASSERT_EQ(FHost.ExportQueries.size(), 1u);
    EXPECT_EQ(FHost.ExportQueries[0], "C:\\DATA\\office.txt");
}

TEST_F(PreparationTest, CancelAndEmptyAnswersMakeNoLetters) {
    FDialog.Script = [](TShiftList&) { return IDCANCEL; };
    EXPECT_FALSE(PrepareStationData(nullptr, FContext));
    EXPECT_TRUE(FHost.ExportQueries.empty());
    EXPECT_FALSE(FileExists("C:\\DATA\\office.txt"));

    FDialog.Script = nullptr; // OK with nothing ticked
    FHost.ExportData = [](const std::string&) { return std::string(); };
    EXPECT_FALSE(PrepareStationData(nullptr, FContext));
    EXPECT_THAT(ReadWin("C:\\DATA\\office.txt"), HasSubstr("Count=0\r\n"));

    FHost.ExportData = [](const std::string&) -> std::string {
        throw std::runtime_error("export refused");
    };
    EXPECT_FALSE(PrepareStationData(nullptr, FContext));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>(3, "Error - Сбой при подготовке данных."));
    for (const test::TRecordedMessageBox& b : FWindow.Boxes())
        EXPECT_EQ(b.Flags, unsigned(MB_OK | MB_TOPMOST | MB_ICONERROR));
    EXPECT_THAT(LogText(), HasSubstr("Ошибки при подготовке письмиа: export refused"));
    EXPECT_TRUE(OutBoxLetters().empty());
}

TEST_F(PreparationTest, LettersCountOnlyWhenStored) {
    // The working address's letter failed, an additional address's one was stored.
    FContext.ComposeLetters = [](const std::string&) { return 1; };
    EXPECT_TRUE(PrepareStationData(nullptr, FContext));
    FContext.ComposeLetters = [](const std::string&) { return 0; };
    EXPECT_FALSE(PrepareStationData(nullptr, FContext));
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Данные подготовлены (1 писем)",
                                                    "Сбой при подготовке данных."}));
    EXPECT_EQ(FWindow.Boxes()[1].Flags, unsigned(MB_OK | MB_TOPMOST | MB_ICONERROR));
    // The data file goes either way.
    EXPECT_FALSE(FileExists("C:\\DATA\\export1.dat"));
    EXPECT_FALSE(FileExists("C:\\DATA\\export2.dat"));
}

TEST_F(PreparationTest, AnUnreachableServerLeavesTheDialogWithItsPreviousRows) {
    EXPECT_TRUE(PrepareStationData(nullptr, FContext)); // rows 31..33 loaded
    FHost.Params[7] = THostVariant("far-away");
    FDialog.Script = [](TShiftList& l) {
        l.SetSelectedShifts({l.Rows()[1].SmNum});
        return IDOK;
    };
    EXPECT_TRUE(PrepareStationData(nullptr, FContext));
    EXPECT_EQ(FDialog.RowsShown.size(), 3u);
    const std::vector<std::string> boxes = BoxTexts();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_THAT(boxes[1], HasSubstr("Ошибка при загрузке списка смен: "));
    EXPECT_THAT(boxes[1], HasSubstr("far-away"));
    EXPECT_EQ(boxes[2], "Данные подготовлены (1 писем)");
    EXPECT_THAT(ReadWin("C:\\DATA\\office.txt"), HasSubstr("Count=1\r\nItem0=32\r\n"));
}

TEST_F(PreparationTest, AnAutomaticRunShowsNoDialogAndOnlyFailures) {
    const std::vector<std::string> shift{"42"};
    EXPECT_TRUE(PrepareStationData(&shift, FContext));
    EXPECT_EQ(FDialog.Shown, 0);
    EXPECT_TRUE(FWindow.Boxes().empty());
    ASSERT_EQ(OutBoxLetters().size(), 1u);
    EXPECT_THAT(OutBoxLetters()[0].Content, HasSubstr("Item0=42\r\n[Config]\r\nType=1\r\n"));

    FHost.ExportData = [](const std::string&) { return std::string(); };
    EXPECT_FALSE(PrepareStationData(&shift, FContext));
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Error - Сбой при подготовке данных."}));
}

TEST_F(PreparationTest, OneInteractiveRunAtATime) {
    std::atomic<bool> release{false};
    // Both waits end by a deadline, so a run that never shows the dialog fails instead of
    // hanging the suite.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    FDialog.Script = [&](TShiftList&) {
        while (!release && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return IDOK;
    };
    CDataProcessThread thread;
    ASSERT_TRUE(thread.Start(FContext));
    while (FDialog.Shown == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(FDialog.Shown, 1);
    EXPECT_FALSE(thread.Start(FContext));
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Подготовка данных уже выполняется."}));
    EXPECT_FALSE(thread.Wait({}, std::chrono::milliseconds(50)));
    release = true;
    int pumps = 0;
    EXPECT_TRUE(thread.Wait([&] { ++pumps; }));
    EXPECT_GT(pumps, 0);
    EXPECT_EQ(BoxTexts().back(), "Данные подготовлены (1 писем)");
    // Once it has ended the next one starts.
    EXPECT_TRUE(thread.Start(FContext));
    EXPECT_TRUE(thread.Wait());
    EXPECT_EQ(FDialog.Shown, 2);

    // A host that throws something other than a standard exception: told, not fatal.
    FHost.ThrowIntFromStationCode = true;
    EXPECT_TRUE(thread.Start(FContext));
    EXPECT_TRUE(thread.Wait());
    EXPECT_EQ(BoxTexts().back(), "Error - unknown error");
}

} // namespace
} // namespace tzn
