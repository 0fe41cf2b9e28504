// What a killed process left behind goes at the next session; what a running one writes stays.
#include "store/leftovers.h"
#include "temp_root.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

namespace tzn {
namespace {

// The pid of a process that has ended (and been reaped).
pid_t EndedPid() {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

TEST(Leftovers, TemporariesOfEndedProcessesAndOldAttachmentsGo) {
    test::TempRoot root;
    namespace fs = std::filesystem;
    const fs::path mail = root.Path("MAIL"), temp = root.Path("TMP");
    for (const char* dir : {"InBox", "OutBox", "Sent"})
        fs::create_directories(mail / dir);
    fs::create_directories(temp);
    const std::string dead = std::to_string(EndedPid()), alive = std::to_string(::getpid());
    const std::vector<fs::path> gone = {
        mail / "InBox" / ("~" + dead + "-3.tmp"), mail / "Sent" / ("~" + dead + "-0.tmp"),
        mail / ("Received-u@h.jrn." + dead + ".tmp"), temp / "TZNA0000ABCD.tmp"};
    const std::vector<fs::path> kept = {mail / "OutBox" / ("~" + alive + "-1.tmp"),
                                        mail / "InBox" / "1208-101010-0.eml",
                                        mail / "InBox" / "~x-1.tmp",
                                        mail / ("Received-u@h.jrn." + alive + ".tmp"),
                                        temp / "TZNA0000ABCE.tmp",
                                        temp / "TZNB0000ABCD.tmp"};
    for (const auto& list : {gone, kept})
        for (const fs::path& p : list)
            test::WriteFile(p, "x");
    const auto twoDaysAgo = fs::file_time_type::clock::now() - std::chrono::hours(48);
    fs::last_write_time(temp / "TZNA0000ABCD.tmp", twoDaysAgo);
    fs::last_write_time(temp / "TZNB0000ABCD.tmp", twoDaysAgo);

    EXPECT_EQ(RemoveLeftoverFiles(mail.string() + "/", temp), 4);
    for (const fs::path& p : gone)
        EXPECT_FALSE(fs::exists(p)) << p;
    for (const fs::path& p : kept)
        EXPECT_TRUE(fs::exists(p)) << p;
}

} // namespace
} // namespace tzn
