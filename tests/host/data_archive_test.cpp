// The sample host's data archives: what it packs is a standard tar.gz another reader takes
// apart byte for byte, and what it unpacks stays inside its folder.
#include "host/data_archive.h"
#include "temp_root.h"
#include "tool/tool_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tzn {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::ShellQuote;
using test::WriteFile;

class DataArchiveTest : public ::testing::Test {
protected:
    // Python's tarfile as the independent reader and writer of archives.
    test::ToolRun Python(const std::string& script) {
        return RunCommand("cd " + ShellQuote(root.Dir().string()) + " && python3 -c " +
                          ShellQuote(script) + " 2>&1");
    }
    std::string UnpackError(const std::filesystem::path& archive) {
        try {
            UnpackDataArchive(archive, root.Path("out"));
        } catch (const TArchiveError& e) {
            return e.what();
        }
        return "no error";
    }
    test::TempRoot root;
};

TEST_F(DataArchiveTest, TheExportFolderAndTheRequestTravelByteForByte) {
    std::string binary;
    for (int i = 0; i < 256; ++i)
        binary += static_cast<char>(i);
    WriteFile(root.Path("export/sales.dat"), binary);
    WriteFile(root.Path("export/db/товары.txt"), "goods\r\n");
    WriteFile(root.Path("request.txt"), "[Request]\r\n");
    const auto archive = root.Path("12.tar.gz");
    ASSERT_TRUE(
        PackDataArchive(archive, root.Path("export"), root.Path("request.txt"), "office.txt"));
    EXPECT_FALSE(PackDataArchive(archive, root.Path("export"), root.Path("request.txt"), "x"));

    const test::ToolRun names =
        Python("import tarfile\n"
               "t = tarfile.open('12.tar.gz', 'r:gz')\n"
               "print(sorted(t.getnames()))\n"
               "print(t.extractfile('sales.dat').read() == bytes(range(256)))\n");
    EXPECT_EQ(names.out, "['db/товары.txt', 'office.txt', 'sales.dat']\nTrue\n");

    ASSERT_TRUE(UnpackDataArchive(archive, root.Path("in/12/t")));
    EXPECT_FALSE(UnpackDataArchive(archive, root.Path("in/12/t")));
    EXPECT_EQ(ReadFile(root.Path("in/12/t/sales.dat")), binary);
    EXPECT_EQ(ReadFile(root.Path("in/12/t/db/товары.txt")), "goods\r\n");
    EXPECT_EQ(ReadFile(root.Path("in/12/t/office.txt")), "[Request]\r\n");
    EXPECT_TRUE(IsDataArchiveName("C:\\DATA\\12-20261208.TAR.GZ"));
    EXPECT_FALSE(IsDataArchiveName("report.gz"));
}

TEST_F(DataArchiveTest, BadArchivesAreRefusedAndLeaveNothing) {
    WriteFile(root.Path("export/office.txt"), "mine");
    WriteFile(root.Path("request.txt"), "[Request]\r\n");
    EXPECT_THROW(PackDataArchive(root.Path("a.tar.gz"), root.Path("export"),
                                 root.Path("request.txt"), "office.txt"),
                 TArchiveError);
    EXPECT_FALSE(std::filesystem::exists(root.Path("a.tar.gz")));

    ASSERT_EQ(Python("import tarfile, io\n"
                     "def make(name, entry, kind=tarfile.REGTYPE):\n"
                     "    with tarfile.open(name, 'w:gz') as t:\n"
                     "        ok = tarfile.TarInfo('fine.txt'); ok.size = 2\n"
                     "        t.addfile(ok, io.BytesIO(b'ok'))\n"
                     "        i = tarfile.TarInfo(entry); i.type = kind; i.linkname = '/etc'\n"
                     "        t.addfile(i, io.BytesIO(b''))\n"
                     "make('up.tar.gz', 'a/../../evil.txt')\n"
                     "make('abs.tar.gz', '/tmp/evil.txt')\n"
                     "make('link.tar.gz', 'etc', tarfile.SYMTYPE)\n")
                  .status,
              0);
    EXPECT_THAT(UnpackError(root.Path("up.tar.gz")), ::testing::HasSubstr("a/../../evil.txt"));
    EXPECT_THAT(UnpackError(root.Path("abs.tar.gz")), ::testing::HasSubstr("/tmp/evil.txt"));
    EXPECT_THAT(UnpackError(root.Path("link.tar.gz")),
                ::testing::HasSubstr("neither a file nor a folder"));
    WriteFile(root.Path("cut.tar.gz"), ReadFile(root.Path("up.tar.gz")).substr(0, 30));
    EXPECT_THAT(UnpackError(root.Path("cut.tar.gz")), ::testing::HasSubstr("not unpacked"));
    EXPECT_FALSE(std::filesystem::exists(root.Path("out")));
    EXPECT_FALSE(std::filesystem::exists(root.Dir().parent_path() / "evil.txt"));
}

} // namespace
} // namespace tzn
