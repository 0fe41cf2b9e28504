#include "platform/files.h"
#include "platform/paths.h"

#include "platform/cp1251.h"
#include "temp_root.h"

#include <gtest/gtest.h>

namespace tzn {
namespace {

using test::TempRoot;
using test::WriteFile;

TEST(Paths, WindowsFormMapsUnderTheRootAndNativeStaysNative) {
    TempRoot root;
    EXPECT_EQ(NativePath("C:\\PLAV\\OFFICE\\MAIL\\"), root.Dir() / "C/PLAV/OFFICE/MAIL/");
    EXPECT_EQ(NativePath("d:\\x/y"), root.Dir() / "D/x/y"); // drive upper-cased, both separators
    EXPECT_EQ(NativePath("C:\\"), root.Dir() / "C");
    EXPECT_EQ(NativePath("/var/tmp/a"), std::filesystem::path("/var/tmp/a"));
    EXPECT_EQ(NativePath("LogFiles\\TZNMail.log"), std::filesystem::path("LogFiles/TZNMail.log"));
    EXPECT_EQ(NativePath(WindowsDirectory() + "\\cnf.INI"), root.Dir() / "C/WINDOWS/cnf.INI");
}

TEST(Paths, RootFallsBackToHome) {
    TempRoot root;
    ::unsetenv("TZN_ROOT");
    const char* home = std::getenv("HOME");
    if (home && *home) {
        EXPECT_EQ(TznRoot(), std::filesystem::path(home) / ".local/share/tznmail");
    }
}

TEST(Paths, ExtractHelpersSplitAtTheLastSeparator) {
    EXPECT_EQ(ExtractFilePath("C:\\Data\\Exchange\\station.dat"), "C:\\Data\\Exchange\\");
    EXPECT_EQ(ExtractFileName("C:\\Data\\Exchange\\station.dat"), "station.dat");
    EXPECT_EQ(ExtractFilePath("/a/b.txt"), "/a/");
    EXPECT_EQ(ExtractFilePath("plain.txt"), "");
    EXPECT_EQ(IncludeTrailingBackslash("C:\\MAIL"), "C:\\MAIL\\");
    EXPECT_EQ(IncludeTrailingBackslash("C:\\MAIL\\"), "C:\\MAIL\\");
}

TEST(Files, CreateMoveDeleteAndSizeOnWindowsFormPaths) {
    TempRoot root;
    EXPECT_TRUE(ForceDirectories("C:\\PLAV\\OFFICE\\MAIL\\InBox\\"));
    EXPECT_TRUE(DirectoryExists("C:\\PLAV\\OFFICE\\MAIL\\InBox"));
    EXPECT_FALSE(ForceDirectories(""));
    WriteFile(root.Path("C/PLAV/a.eml"), "12345");
    WriteFile(root.Path("C/PLAV/b.eml"), "xy");
    EXPECT_TRUE(FileExists("C:\\PLAV\\a.eml"));
    EXPECT_EQ(FileSize("C:\\PLAV\\a.eml"), 5);
    EXPECT_EQ(FileSize("C:\\PLAV\\missing"), -1);
    EXPECT_EQ(FileSize("C:\\PLAV"), -1); // a folder is not a file
    EXPECT_TRUE(MoveFileReplace("C:\\PLAV\\a.eml", "C:\\PLAV\\b.eml"));
    EXPECT_FALSE(FileExists("C:\\PLAV\\a.eml"));
    EXPECT_EQ(FileSize("C:\\PLAV\\b.eml"), 5);
    EXPECT_FALSE(CreateFileExclusive("C:\\PLAV\\b.eml"));
    EXPECT_TRUE(CreateFileExclusive("C:\\PLAV\\c.eml"));
    EXPECT_TRUE(DeleteFile("C:\\PLAV\\b.eml"));
    EXPECT_FALSE(DeleteFile("C:\\PLAV\\b.eml"));
}

TEST(Files, WildcardEnumerationIgnoresCaseAndFolders) {
    TempRoot root;
    for (const char* n : {"0101-120000-1.eml", "0101-120001-2.EML", "note.txt", "x.emlx"})
        WriteFile(root.Path(std::string("C/M/") + n), "x");
    WriteFile(root.Path("C/M/" + ru("Письмо.Eml")), "x");
    std::filesystem::create_directories(root.Path("C/M/dir.eml"));
    EXPECT_EQ(
        FindFiles("C:\\M\\", "*.eml"),
        (std::vector<std::string>{"0101-120000-1.eml", "0101-120001-2.EML", ru("Письмо.Eml")}));
    EXPECT_EQ(FindFiles("C:\\M", "?\?\?\?-*-2.*"), (std::vector<std::string>{"0101-120001-2.EML"}));
    EXPECT_EQ(FindFiles("C:\\M", ru("ПИСЬМО.*")), (std::vector<std::string>{ru("Письмо.Eml")}));
    EXPECT_TRUE(FindFiles("C:\\Missing", "*").empty());
}

} // namespace
} // namespace tzn
