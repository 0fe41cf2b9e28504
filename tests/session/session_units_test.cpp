// The session's small units: the whole-word subject tag, the order of sorted retrieval, the
// counting measure of a letter, and the journal of imported letters.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "mail/message.h"
#include "mail/message_writer.h"
#include "platform/cp1251.h"
#include "platform/datetime.h"
#include "session/found_letters.h"
#include "session/letter_size.h"
#include "session/retrieval_journal.h"
#include "session/subject_tag.h"
#include "temp_root.h"

namespace tzn {
namespace {

TEST(SubjectTag, WholeWordInAnyCaseAnywhere) {
    EXPECT_TRUE(SubjectCarriesTag("TZN-12", "12"));
    EXPECT_TRUE(SubjectCarriesTag("Re: tzn-12 report", "12"));
    EXPECT_TRUE(SubjectCarriesTag("TZN-12/3", "12"));
    EXPECT_TRUE(SubjectCarriesTag("TZN-123 and TZN-12.", "12")) << "a later whole word counts";
    EXPECT_FALSE(SubjectCarriesTag("TZN-123", "12"));
    EXPECT_FALSE(SubjectCarriesTag("TZN-12a", "12"));
    EXPECT_FALSE(SubjectCarriesTag("TZN-12" + ru("Я"), "12")) << "a Cyrillic letter continues it";
    EXPECT_FALSE(SubjectCarriesTag("TZN 12", "12"));
    EXPECT_TRUE(SubjectCarriesTag(ru("отчет tzn-office"), "Office"));
}

std::vector<int> Order(const TFoundLetters& f) {
    std::vector<int> nums;
    for (int i = 0; i < f.Count(); ++i)
        nums.push_back(f[i].MsgNum);
    return nums;
}

TEST(SortFoundLetters, SendersInOrderOfFirstMeetingEachOldestFirst) {
    const TDateTime day = EncodeDateTime(2026, 12, 1);
    TFoundLetters f;
    // Messages 1..6: A day 3, B day 1, A day 1, another station's, B day 2, A day 2;
    // collected from 6 down to 1.
    f.Add({6, "A", day + 2});
    f.Add({5, "B", day + 2});
    f.Add({3, "A", day + 1});
    f.Add({2, "B", day + 1});
    f.Add({1, "A", day + 3});
    SortFoundLetters(f, day + 10);
    EXPECT_EQ(Order(f), (std::vector<int>{3, 6, 1, 2, 5}));
    EXPECT_EQ(f[3].SenderName, "B");

    TFoundLetters same;
    same.Add({9, "A", day});
    same.Add({4, "a", day});
    same.Add({7, "A", day});
    same.Add({8, "A", 0});
    same.Add({2, "A", day + 20000}); // too far ahead: never picked
    SortFoundLetters(same, day);
    EXPECT_EQ(Order(same), (std::vector<int>{8, 9, 7, 4}))
        << "undated first, equal dates in collection order, case makes another sender";
}

TEST(SortFoundLetters, TableHolds201Letters) {
    TFoundLetters f;
    for (int i = 0; i < 201; ++i)
        f.Add({i + 1, "A", 1});
    EXPECT_THROW(f.Add({300, "A", 1}), std::out_of_range);
    EXPECT_EQ(f.Count(), 201);
}

TEST(LetterSize, CountsWhatTheStoredFormHolds) {
    test::TempRoot root;
    const auto attachment = root.Path("big.bin");
    test::WriteFile(attachment, std::string(3 * 1024 * 1024 + 17, 'x'));
    TMxMessage m;
    m.From().Address = "a@b.test";
    m.Recipients.SetEMailAddresses("c@d.test");
    m.Subject = ru("Отчет");
    m.Date = EncodeDateTime(2026, 12, 1, 10, 0, 0);
    m.Body = {"line", ".dot"};
    m.MessageParts.AddAttachment(attachment.string());
    const int64_t measured = MeasureLetter(m, {.EncodeHeaderWords = false});
    std::ostringstream stored;
    WriteMessageStream(m, stored, {.EncodeHeaderWords = false});
    EXPECT_EQ(measured, static_cast<int64_t>(stored.str().size()));
    EXPECT_GT(measured, 4 * 1024 * 1024) << "base64 of the attachment is counted";
}

long PeakResidentKiB() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

TEST(LetterSize, SixtyFourMebibyteAttachmentIsNotHeldInMemory) {
    test::TempRoot root;
    const auto attachment = root.Path("huge.bin");
    {
        std::ofstream out(attachment, std::ios::binary);
        const std::string block(1 << 20, 'z');
        for (int i = 0; i < 64; ++i)
            out << block;
    }
    TMxMessage m;
    m.From().Address = "a@b.test";
    m.Recipients.SetEMailAddresses("c@d.test");
    m.MessageParts.AddAttachment(attachment.string());
    const long before = PeakResidentKiB();
    const int64_t measured = MeasureLetter(m, {.EncodeHeaderWords = false});
    // Base64 makes 4 bytes of 3, plus a line break per 76 characters.
    EXPECT_GT(measured, int64_t{64} * 1024 * 1024 * 4 / 3);
    EXPECT_LT(PeakResidentKiB() - before, 16 * 1024) << "the peak grew by more than 16 MiB";
}

TEST(RetrievalJournal, RecordsSurviveReloadAndPruneKeepsListedOnly) {
    test::TempRoot root;
    TRetrievalJournal j("C:\\MAIL\\", "pop.example.test", "st/12");
    ASSERT_TRUE(std::filesystem::create_directories(root.Path("C/MAIL")));
    j.Load();
    EXPECT_EQ(j.Count(), 0u);
    const std::string a = JournalKeyByUid("uid-1"), b = JournalKeyByMessageId("<m@x>", 120);
    EXPECT_TRUE(JournalKeyByMessageId("", 5).empty());
    j.Record({a});
    j.Record({b});
    j.MarkUnstored(a, true);
    j.MarkUnstored(b, true);
    j.MarkUnstored(a, false);

    TRetrievalJournal again("C:\\MAIL\\", "pop.example.test", "st/12");
    again.Load();
    EXPECT_TRUE(again.Contains(a));
    EXPECT_TRUE(again.Contains(b));
    EXPECT_FALSE(again.Contains(JournalKeyByMessageId("<m@x>", 121)));
    EXPECT_FALSE(again.Unstored(a));
    EXPECT_TRUE(again.Unstored(b));
    EXPECT_EQ(again.Count(), 2u) << "a mark is no key of its own";
    again.Prune({a});
    TRetrievalJournal third("C:\\MAIL\\", "pop.example.test", "st/12");
    third.Load();
    EXPECT_TRUE(third.Contains(a));
    EXPECT_FALSE(third.Contains(b));
    EXPECT_FALSE(third.Unstored(b)) << "the mark goes with its letter";

    // One file per mailbox, its name free of path separators; no temporary file left.
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(root.Path("C/MAIL")))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"Received-st_12@pop.example.test.jrn"}));

    TRetrievalJournal other("C:\\MAIL\\", "pop.example.test", "st13");
    other.Load();
    EXPECT_FALSE(other.Contains(a));
}

// A second copy of a letter comes under a new server id: its Message-ID with the same sender
// and content finds it until the id is a month old; the id alone (another station's letter,
// an entry of the old form) finds nothing.
TEST(RetrievalJournal, SecondCopyNeedsItsIdAndFingerprintUntilAMonthOld) {
    test::TempRoot root;
    ASSERT_TRUE(std::filesystem::create_directories(root.Path("C/MAIL")));
    test::WriteFile(root.Path("C/MAIL/Received-st@h.jrn"),
                    "U old-1\r\nM <m@x> 9\r\nI 1700000000 <old@x>\r\n");
    TRetrievalJournal j("C:\\MAIL\\", "h", "st");
    j.Load();
    EXPECT_TRUE(j.Matches({"U old-1", "<any@x>", 5}));
    EXPECT_TRUE(j.Contains("M <m@x> 9"));
    EXPECT_FALSE(j.ContainsCopy({"", "<m@x>", 9, "f"})) << "a key is no recorded id";
    EXPECT_FALSE(j.ContainsCopy({"", "<old@x>", 9, "f"})) << "an id without fingerprint";

    const std::time_t day = 24 * 60 * 60, t0 = 1700000000;
    j.Record({JournalKeyByUid("copy-1"), " <a.1@st>\r\n", 10, "f1"}, t0);
    j.Record({"", "<b.2@st>", -1, "f2"}, t0 + 20 * day);
    j.Record({JournalKeyByUid("copy-3"), "", 30, "f3"}, t0);

    TRetrievalJournal again("C:\\MAIL\\", "h", "st");
    again.Load();
    EXPECT_TRUE(again.ContainsCopy({"", "<a.1@st>", 11, "f1"}));
    EXPECT_FALSE(again.ContainsCopy({"", "<a.1@st>", 10, "f9"})) << "another sender's letter";
    EXPECT_FALSE(again.ContainsCopy({"", "<A.1@st>", 10, "f1"}));
    EXPECT_FALSE(again.ContainsCopy({"", "", 30, "f3"}));
    // A server that gives a new letter an old id: the recorded size or Message-ID disagrees.
    EXPECT_TRUE(again.Matches({JournalKeyByUid("copy-1"), "<a.1@st>", 10}));
    EXPECT_TRUE(again.Matches({JournalKeyByUid("copy-1"), "<a.1@st>", -1}));
    EXPECT_FALSE(again.Matches({JournalKeyByUid("copy-1"), "<new@st>", 10}));
    EXPECT_FALSE(again.Matches({JournalKeyByUid("copy-3"), "", 31}));
    // Recording the new letter under that id replaces what the old one left.
    again.Record({JournalKeyByUid("copy-1"), "<new@st>", 12, "f4"}, t0);
    EXPECT_FALSE(again.Matches({JournalKeyByUid("copy-1"), "<a.1@st>", 10}));

    // The server lists nothing; 30 days and one second after the first id, only the second,
    // ten days younger, is left.
    again.Prune({}, t0 + 30 * day + 1);
    TRetrievalJournal third("C:\\MAIL\\", "h", "st");
    third.Load();
    EXPECT_EQ(third.Count(), 0u);
    EXPECT_FALSE(third.ContainsCopy({"", "<a.1@st>", 10, "f1"}));
    EXPECT_TRUE(third.ContainsCopy({"", "<b.2@st>", 10, "f2"}));
}

// Changes go to the end of the file; a line cut by a crash is dropped, and the file is
// rewritten before it grows far beyond what it describes.
TEST(RetrievalJournal, AppendedChangesReloadAndACutLineIsDropped) {
    test::TempRoot root;
    ASSERT_TRUE(std::filesystem::create_directories(root.Path("C/MAIL")));
    const auto file = root.Path("C/MAIL/Received-st@h.jrn");
    TRetrievalJournal j("C:\\MAIL\\", "h", "st");
    j.Load();
    j.Record({JournalKeyByUid("12"), "<a@st>", 10, "f"});
    j.MarkHandOver(JournalKeyByUid("13"), true);
    j.MarkHandOver(JournalKeyByUid("14"), true);
    j.Record({JournalKeyByUid("13"), "<b@st>", 20, "g"}); // ends the hand-over of 13
    {
        std::ofstream out(file, std::ios::binary | std::ios::app);
        out << "U 1"; // "U 12"'s or "U 123"'s line, cut short
    }
    TRetrievalJournal again("C:\\MAIL\\", "h", "st");
    again.Load();
    EXPECT_TRUE(again.Matches({JournalKeyByUid("12"), "<a@st>", 10}));
    EXPECT_FALSE(again.Contains(JournalKeyByUid("1")));
    EXPECT_FALSE(again.HandOverBegun(JournalKeyByUid("13")));
    EXPECT_TRUE(again.HandOverBegun(JournalKeyByUid("14")));
    again.MarkHandOver(JournalKeyByUid("14"), false);
    std::stringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    EXPECT_EQ(text.str().find("U 1\r"), std::string::npos) << text.str();

    for (int i = 0; i < 400; ++i)
        again.MarkUnstored(JournalKeyByUid("12"), i % 2 == 0);
    TRetrievalJournal third("C:\\MAIL\\", "h", "st");
    third.Load();
    EXPECT_FALSE(third.Unstored(JournalKeyByUid("12")));
    EXPECT_FALSE(third.HandOverBegun(JournalKeyByUid("14")));
    EXPECT_EQ(third.Count(), 2u);
    std::ifstream lines(file, std::ios::binary);
    const auto count = std::count(std::istreambuf_iterator<char>(lines), {}, '\n');
    EXPECT_LT(count, 300) << "400 changes of one mark";
}

TEST(RetrievalJournal, UnwritableFolderRaises) {
    test::TempRoot root;
    TRetrievalJournal j("C:\\MISSING\\", "h", "u");
    j.Load();
    EXPECT_THROW(j.Record({JournalKeyByUid("1")}), std::runtime_error);
}

} // namespace
} // namespace tzn
