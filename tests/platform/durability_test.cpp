// Files that replace others are on disk before they get their name, and their folder after.
#include "platform/files.h"
#include "platform/ini_file.h"

#include "fsync_recorder.h"
#include "temp_root.h"

#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

// What the file system lacks: 1, renaming without replacing; 2, hard links as well.
static int Lacking = 0;

extern "C" int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    if (Lacking >= 1 && (flags & RENAME_NOREPLACE) != 0) {
        errno = EINVAL;
        return -1;
    }
    using Renameat2 = int (*)(int, const char*, int, const char*, unsigned);
    static const auto real = reinterpret_cast<Renameat2>(::dlsym(RTLD_NEXT, "renameat2"));
    return real(fromDir, from, toDir, to, flags);
}

extern "C" int link(const char* from, const char* to) {
    if (Lacking >= 2) {
        errno = EPERM;
        return -1;
    }
    using Link = int (*)(const char*, const char*);
    static const auto real = reinterpret_cast<Link>(::dlsym(RTLD_NEXT, "link"));
    return real(from, to);
}

namespace tzn {
namespace {

using test::ReadFile;
using test::TakeSyncedPaths;
using test::TempRoot;
using test::WriteFile;

TEST(Durability, AnIniUpdateSyncsTheNewFileBeforeTheRenameAndTheFolderAfter) {
    TempRoot root;
    const auto native = root.Path("C/WINDOWS/cnf.INI");
    WriteFile(native, "[Main]\r\nDB=1\r\n");
    const std::string dir = std::filesystem::canonical(native.parent_path()).string();
    TakeSyncedPaths();
    TIniFile("C:\\WINDOWS\\cnf.INI").WriteString("EMail", "SMTPHost", "new");
    const std::vector<std::string> synced = TakeSyncedPaths();
    ASSERT_EQ(synced.size(), 2u);
    // The replacement was synced while it still had its temporary name beside the file.
    EXPECT_EQ(synced[0].rfind(dir + "/cnf.INI.", 0), 0u) << synced[0];
    EXPECT_NE(synced[0], dir + "/cnf.INI");
    EXPECT_EQ(synced[1], dir);
    EXPECT_EQ(ReadFile(native), "[Main]\r\nDB=1\r\n[EMail]\r\nSMTPHost=new\r\n");
}

TEST(Durability, SyncHelpersFailClearlyAndMoveNeverReplaces) {
    TempRoot root;
    try {
        SyncFile("C:\\Nothing\\x.eml");
        ADD_FAILURE() << "a missing file was synced";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("C:\\Nothing\\x.eml"), std::string::npos) << e.what();
    }
    WriteFile(root.Path("C/a.txt"), "a");
    WriteFile(root.Path("C/b.txt"), "b");
    EXPECT_THROW(SyncFolder("C:\\a.txt"), std::runtime_error); // a file is not a folder
    EXPECT_NO_THROW(SyncFile("C:\\a.txt"));
    EXPECT_NO_THROW(SyncFolder("C:\\"));

    // The same on file systems that cannot rename without replacing, or cannot link either.
    for (Lacking = 0; Lacking <= 2; ++Lacking) {
        SCOPED_TRACE(Lacking);
        WriteFile(root.Path("C/a.txt"), "a");
        EXPECT_EQ(MoveFileNoReplace("C:\\a.txt", "C:\\b.txt"), TMoveResult::Taken);
        EXPECT_EQ(ReadFile(root.Path("C/a.txt")), "a");
        EXPECT_EQ(ReadFile(root.Path("C/b.txt")), "b");
        EXPECT_EQ(MoveFileNoReplace("C:\\a.txt", "C:\\c.txt"), TMoveResult::Done);
        EXPECT_EQ(ReadFile(root.Path("C/c.txt")), "a");
        EXPECT_FALSE(std::filesystem::exists(root.Path("C/a.txt")));
        EXPECT_EQ(MoveFileNoReplace("C:\\a.txt", "C:\\d.txt"), TMoveResult::Failed);
        EXPECT_FALSE(std::filesystem::exists(root.Path("C/d.txt")));
        std::filesystem::remove(root.Path("C/c.txt"));
    }
    Lacking = 0;
}

} // namespace
} // namespace tzn
