#include "module/activity_log.h"

#include "platform/cp1251.h"
#include "platform/datetime.h"
#include "temp_root.h"

#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace tzn {
namespace {

using test::ReadFile;
using test::TempRoot;
using test::WriteFile;

// True when text starts with shape, where '9' in shape stands for any digit.
bool StartsLike(const std::string& text, const std::string& shape) {
    if (text.size() < shape.size())
        return false;
    for (size_t i = 0; i < shape.size(); ++i)
        if (shape[i] == '9' ? !std::isdigit(static_cast<unsigned char>(text[i]))
                            : text[i] != shape[i])
            return false;
    return true;
}
const std::string kSessionShape = "99.99.9999, 99:99:99 - ";
const std::string kModuleShape = "99.99.9999 - ";

class ActivityLogTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(FLogDir); }
    TempRoot FRoot;
    std::filesystem::path FLogDir = FRoot.Path("C/PLAV/LogFiles");
    std::filesystem::path FLogFile = FLogDir / "TZNMail.log";
};

TEST_F(ActivityLogTest, ModuleEntryIsDateDashTextCrLfWrittenUnchanged) {
    WriteActivityLog(ru("Ошибка загрузки параметров Эл. почты: ") + "100% %s %d");
    WriteActivityLog("second");
    const std::string today = DateToStr(Now());
    EXPECT_EQ(ReadFile(FLogFile), today + " - " + ru("Ошибка загрузки параметров Эл. почты: ") +
                                      "100% %s %d\r\n" + today + " - second\r\n");
}

TEST_F(ActivityLogTest, SessionEntryCarriesDateAndTimeAndGoesBesideTheCurrentFolder) {
    std::filesystem::create_directories(FRoot.Path("cwd/LogFiles"));
    std::filesystem::current_path(FRoot.Path("cwd"));
    AppendSessionLogLine(ru("Соединение с почтовым сервером..."));
    const std::string text = ReadFile(FRoot.Path("cwd/LogFiles/TZNMail.log"));
    ASSERT_TRUE(StartsLike(text, kSessionShape)) << text;
    EXPECT_EQ(text.substr(kSessionShape.size()), ru("Соединение с почтовым сервером...") + "\r\n");
}

TEST_F(ActivityLogTest, RotatesOnlyPastTheLimitAndKeepsTheEntryInTheRotatedFile) {
    const std::string today = DateToStr(Now());
    const std::string entry = "x";
    const int64_t entrySize = static_cast<int64_t>(today.size() + 3 + entry.size() + 2);
    // Exactly at the limit after the entry: no rotation.
    WriteFile(FLogFile, std::string(static_cast<size_t>(kActivityLogLimit - entrySize), 'a'));
    WriteActivityLog(entry);
    EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(FLogFile)), kActivityLogLimit);
    const std::filesystem::path rotated = FLogDir / ("TZNMail.log" + today);
    EXPECT_FALSE(std::filesystem::exists(rotated));
    // One byte past: the file moves away with that entry in it.
    WriteActivityLog("y");
    EXPECT_FALSE(std::filesystem::exists(FLogFile));
    ASSERT_TRUE(std::filesystem::exists(rotated));
    const std::string moved = ReadFile(rotated);
    EXPECT_EQ(moved.substr(moved.size() - entrySize), today + " - y\r\n");
    // The next entry starts a new file; later rotations the same day keep the earlier ones
    // and take the next free name.
    WriteActivityLog("z");
    EXPECT_EQ(ReadFile(FLogFile), today + " - z\r\n");
    for (const char* second : {"w", "v"}) {
        WriteFile(FLogFile, std::string(static_cast<size_t>(kActivityLogLimit), 'b'));
        WriteActivityLog(second);
    }
    EXPECT_EQ(ReadFile(rotated), moved);
    const std::string part1 = ReadFile(FLogDir / ("TZNMail.log" + today + ".1"));
    const std::string part2 = ReadFile(FLogDir / ("TZNMail.log" + today + ".2"));
    EXPECT_EQ(part1.size(), static_cast<size_t>(kActivityLogLimit + entrySize));
    EXPECT_TRUE(part1.ends_with(today + " - w\r\n"));
    EXPECT_TRUE(part2.ends_with(today + " - v\r\n"));
    EXPECT_FALSE(std::filesystem::exists(FLogFile));
}

TEST_F(ActivityLogTest, SessionEntriesNeverRotate) {
    std::filesystem::current_path(FRoot.Path("C/PLAV")); // both writers then share one file
    WriteFile(FLogFile, std::string(static_cast<size_t>(kActivityLogLimit), 'a'));
    AppendSessionLogLine("session");
    EXPECT_GT(static_cast<int64_t>(std::filesystem::file_size(FLogFile)), kActivityLogLimit);
    WriteActivityLog("module");
    EXPECT_FALSE(std::filesystem::exists(FLogFile));
    EXPECT_TRUE(std::filesystem::exists(FLogDir / ("TZNMail.log" + DateToStr(Now()))));
}

TEST_F(ActivityLogTest, MissingFolderRaisesAndReleasesTheLock) {
    std::filesystem::remove_all(FLogDir);
    EXPECT_THROW(WriteActivityLog("lost"), std::runtime_error);
    std::filesystem::current_path(FRoot.Dir());
    EXPECT_THROW(AppendSessionLogLine("lost"), std::runtime_error);
    std::filesystem::create_directories(FLogDir);
    auto other = std::async(std::launch::async, [] { WriteActivityLog("from another thread"); });
    ASSERT_EQ(other.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "LogLock stayed taken after a failed write";
    other.get();
    EXPECT_NE(ReadFile(FLogFile).find("from another thread"), std::string::npos);
}

TEST_F(ActivityLogTest, ConcurrentWritersKeepEveryLineWhole) {
    std::filesystem::current_path(FRoot.Path("C/PLAV"));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) {
                const std::string text = "t" + std::to_string(t) + std::string(200, 'q');
                if (i % 2)
                    WriteActivityLog(text);
                else
                    AppendSessionLogLine(text);
            }
        });
    for (auto& th : threads)
        th.join();
    const std::string all = ReadFile(FLogFile);
    size_t lines = 0;
    for (size_t pos = 0; pos < all.size(); ++lines) {
        const size_t end = all.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        const std::string line = all.substr(pos, end + 2 - pos);
        const size_t head = StartsLike(line, kSessionShape)  ? kSessionShape.size()
                            : StartsLike(line, kModuleShape) ? kModuleShape.size()
                                                             : 0;
        ASSERT_NE(head, 0u) << line;
        const std::string body = line.substr(head);
        ASSERT_EQ(body.size(), 2 + 200 + 2u) << line;
        ASSERT_TRUE(StartsLike(body, "t9" + std::string(200, 'q') + "\r\n")) << line;
        pos = end + 2;
    }
    EXPECT_EQ(lines, 200u);
}

} // namespace
} // namespace tzn
