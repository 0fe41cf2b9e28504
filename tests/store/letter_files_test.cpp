#include "store/letter_files.h"

#include "fsync_recorder.h"
#include "platform/cp1251.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "store_fixture.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tzn {
namespace {

using test::TempRoot;
auto ReadAll = test::ReadWin;
auto WriteAll = test::WriteWin;

const std::string kDir = "C:\\MAIL\\OutBox\\";

TEST(LetterFileName, MonthDayTimeAndCounterWithoutPadding) {
    EXPECT_EQ(LetterFileName(EncodeDateTime(2024, 12, 6, 14, 30, 5), 12), "1206-143005-12.eml");
    EXPECT_EQ(LetterFileStem(EncodeDateTime(2008, 1, 2, 3, 4, 5), 0), "0102-030405-0");
    EXPECT_EQ(LetterFileStem(EncodeDateTime(2008, 1, 2, 23, 59, 59), 4294967295u),
              "0102-235959-4294967295");
}

TEST(MailFolders, NamesLettersAndCaptionsInFixedOrder) {
    EXPECT_EQ(FolderName(MailFolder::InBox), "InBox\\");
    EXPECT_EQ(FolderName(MailFolder::OutBox), "OutBox\\");
    EXPECT_EQ(FolderName(MailFolder::Sent), "Sent\\");
    EXPECT_EQ(FolderLetter(MailFolder::Sent), 's');
    EXPECT_EQ(FolderFromLetter('o'), MailFolder::OutBox);
    EXPECT_FALSE(FolderFromLetter('x').has_value());
    EXPECT_EQ(FolderCaption(MailFolder::InBox), ru("Входящие"));
    EXPECT_EQ(FolderPath("C:\\M", MailFolder::Sent), "C:\\M\\Sent\\");
    EXPECT_EQ(FolderPath("C:\\M\\", MailFolder::InBox), "C:\\M\\InBox\\");
}

TEST(LetterFileCounter, AdvancesPastUsedValueAndNeverBack) {
    ResetLetterFileCounter();
    AdvanceLetterFileCounter(4);
    EXPECT_EQ(LetterFileCounter.load(), 5u);
    AdvanceLetterFileCounter(1); // a slower thread finishing late does not move it back
    EXPECT_EQ(LetterFileCounter.load(), 5u);
    ResetLetterFileCounter();
    EXPECT_EQ(LetterFileCounter.load(), 0u);
}

TEST(PublishLetterFile, ConsecutiveNamesAndNoExistingFileOverwritten) {
    TempRoot root;
    ASSERT_TRUE(ForceDirectories(kDir));
    ResetLetterFileCounter();
    const auto writer = [](const std::string& text) {
        return [text](const std::string& path) { WriteAll(path, text); };
    };
    const auto a = PublishLetterFile(kDir, writer("first"));
    const auto b = PublishLetterFile(kDir, writer("second"));
    ASSERT_TRUE(a && b);
    EXPECT_NE(*a, *b);
    EXPECT_EQ(a->substr(a->rfind('-')), "-0.eml");
    EXPECT_EQ(b->substr(b->rfind('-')), "-1.eml");
    EXPECT_EQ(LetterFileCounter.load(), 2u);

    // A new session starts the counter again: the names already there are skipped, not
    // overwritten. (Pre-create the next names for the current and the following second.)
    ResetLetterFileCounter();
    const TDateTime now = Now();
    for (uint32_t c = 0; c < 3; ++c)
        for (TDateTime t : {now, now + 1.0 / 86400})
            if (!FileExists(kDir + LetterFileName(t, c)))
                WriteAll(kDir + LetterFileName(t, c), "old");
    const auto c = PublishLetterFile(kDir, writer("third"));
    ASSERT_TRUE(c);
    EXPECT_EQ(ReadAll(kDir + *c), "third");
    for (const std::string& name : FindFiles(kDir, "*.eml")) {
        if (name != *a && name != *b && name != *c) {
            EXPECT_EQ(ReadAll(kDir + name), "old") << name;
        }
    }
    EXPECT_EQ(ReadAll(kDir + *a), "first");
    EXPECT_EQ(LetterFileCounter.load(), std::stoul(c->substr(c->rfind('-') + 1)) + 1);
    // No temporary file is left behind.
    EXPECT_TRUE(FindFiles(kDir, "*.tmp").empty());
}

TEST(PublishLetterFile, ThreadsSavingAtOnceGetDistinctFiles) {
    TempRoot root;
    ASSERT_TRUE(ForceDirectories(kDir));
    ResetLetterFileCounter();
    constexpr int kThreads = 4, kEach = 50;
    std::vector<std::thread> threads;
    std::vector<std::vector<std::string>> names(kThreads);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &names] {
            for (int i = 0; i < kEach; ++i) {
                const std::string text = std::to_string(t) + ":" + std::to_string(i);
                auto n = PublishLetterFile(kDir, [&](const std::string& p) { WriteAll(p, text); });
                if (n)
                    names[t].push_back(*n + "=" + text);
            }
        });
    for (auto& th : threads)
        th.join();
    std::set<std::string> distinct;
    for (const auto& list : names) {
        ASSERT_EQ(list.size(), static_cast<size_t>(kEach));
        for (const std::string& entry : list) {
            const auto eq = entry.find('=');
            distinct.insert(entry.substr(0, eq));
            EXPECT_EQ(ReadAll(kDir + entry.substr(0, eq)), entry.substr(eq + 1));
        }
    }
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kEach));
    EXPECT_EQ(FindFiles(kDir, "*.eml").size(), static_cast<size_t>(kThreads * kEach));
}

TEST(PublishLetterFile, ALetterIsOnDiskBeforeItsNameAndItsFolderAfter) {
    TempRoot root;
    ASSERT_TRUE(ForceDirectories(kDir));
    const std::string dir = std::filesystem::canonical(NativePath(kDir)).string();
    test::TakeSyncedPaths();
    const auto name = PublishLetterFile(kDir, [](const std::string& p) { WriteAll(p, "letter"); });
    ASSERT_TRUE(name);
    const std::vector<std::string> synced = test::TakeSyncedPaths();
    ASSERT_EQ(synced.size(), 2u);
    // Synced under its temporary name, which scans never take for a letter.
    EXPECT_EQ(synced[0].rfind(dir + "/~", 0), 0u) << synced[0];
    EXPECT_EQ(synced[0].substr(synced[0].size() - 4), ".tmp");
    EXPECT_EQ(synced[1], dir);
    EXPECT_EQ(ReadAll(kDir + *name), "letter");
}

TEST(PublishLetterFile, FailuresLeaveNothingAndKeepCounter) {
    TempRoot root;
    ResetLetterFileCounter();
    // Missing folder: the store never creates it.
    EXPECT_FALSE(PublishLetterFile(kDir, [](const std::string&) {}));
    ASSERT_TRUE(ForceDirectories(kDir));
    // A writer that fails half-way.
    EXPECT_FALSE(PublishLetterFile(kDir, [](const std::string& p) {
        WriteAll(p, "partial");
        throw std::runtime_error("disk full");
    }));
    EXPECT_TRUE(FindFiles(kDir, "*").empty());
    EXPECT_EQ(LetterFileCounter.load(), 0u);
}

} // namespace
} // namespace tzn
