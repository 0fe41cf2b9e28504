// The sample host's data archives: what it packs is a standard tar.gz another reader takes
// apart byte for byte, and what it unpacks stays inside its folder.
#include "host/data_archive.h"
#include "temp_root.h"
#include "tool/tool_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

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
        return RunCommand("cd " + ShellQuote(FRoot.Dir().string()) + " && python3 -c " +
                          ShellQuote(script) + " 2>&1");
    }
    std::string UnpackError(const std::filesystem::path& archive,
                            const TUnpackLimits& limits = {}) {
        try {
            UnpackDataArchive(archive, FRoot.Path("out"), limits);
        } catch (const TArchiveError& e) {
            return e.what();
        }
        return "no error";
    }
    test::TempRoot FRoot;
};

TEST_F(DataArchiveTest, TheExportFolderAndTheRequestTravelByteForByte) {
    std::string binary;
    for (int i = 0; i < 256; ++i)
        binary += static_cast<char>(i);
    WriteFile(FRoot.Path("export/sales.dat"), binary);
    WriteFile(FRoot.Path("export/db/товары.txt"), "goods\r\n");
    WriteFile(FRoot.Path("request.txt"), "[Request]\r\n");
    const auto archive = FRoot.Path("12.tar.gz");
    ASSERT_TRUE(
        PackDataArchive(archive, FRoot.Path("export"), FRoot.Path("request.txt"), "office.txt"));
    EXPECT_FALSE(PackDataArchive(archive, FRoot.Path("export"), FRoot.Path("request.txt"), "x"));

    const test::ToolRun names =
        Python("import tarfile\n"
               "t = tarfile.open('12.tar.gz', 'r:gz')\n"
               "print(sorted(t.getnames()))\n"
               "print(t.extractfile('sales.dat').read() == bytes(range(256)))\n");
    EXPECT_EQ(names.Out, "['db/товары.txt', 'office.txt', 'sales.dat']\nTrue\n");

    ASSERT_TRUE(UnpackDataArchive(archive, FRoot.Path("in/12/t")));
    EXPECT_FALSE(UnpackDataArchive(archive, FRoot.Path("in/12/t")));
    EXPECT_EQ(ReadFile(FRoot.Path("in/12/t/sales.dat")), binary);
    EXPECT_EQ(ReadFile(FRoot.Path("in/12/t/db/товары.txt")), "goods\r\n");
    EXPECT_EQ(ReadFile(FRoot.Path("in/12/t/office.txt")), "[Request]\r\n");
    EXPECT_TRUE(IsDataArchiveName("C:\\DATA\\12-20261208.TAR.GZ"));
    EXPECT_FALSE(IsDataArchiveName("report.gz"));
}

TEST_F(DataArchiveTest, BadArchivesAreRefusedAndLeaveNothing) {
    WriteFile(FRoot.Path("export/office.txt"), "mine");
    WriteFile(FRoot.Path("request.txt"), "[Request]\r\n");
    EXPECT_THROW(PackDataArchive(FRoot.Path("a.tar.gz"), FRoot.Path("export"),
                                 FRoot.Path("request.txt"), "office.txt"),
                 TArchiveError);
    EXPECT_FALSE(std::filesystem::exists(FRoot.Path("a.tar.gz")));

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
                  .Status,
              0);
    EXPECT_THAT(UnpackError(FRoot.Path("up.tar.gz")), ::testing::HasSubstr("a/../../evil.txt"));
    EXPECT_THAT(UnpackError(FRoot.Path("abs.tar.gz")), ::testing::HasSubstr("/tmp/evil.txt"));
    EXPECT_THAT(UnpackError(FRoot.Path("link.tar.gz")),
                ::testing::HasSubstr("neither a file nor a folder"));
    WriteFile(FRoot.Path("cut.tar.gz"), ReadFile(FRoot.Path("up.tar.gz")).substr(0, 30));
    EXPECT_THAT(UnpackError(FRoot.Path("cut.tar.gz")), ::testing::HasSubstr("not unpacked"));
    EXPECT_FALSE(std::filesystem::exists(FRoot.Path("out")));
    EXPECT_FALSE(std::filesystem::exists(FRoot.Dir().parent_path() / "evil.txt"));
}

// No file may grow past `bytes` while it lives: a write beyond fails with EFBIG.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &FOld);
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = FOld;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~TFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldHandler);
    }

private:
    rlimit FOld{};
    void (*FOldHandler)(int);
};

TEST_F(DataArchiveTest, ArchivesBeyondTheLimitsAreRefusedBeforeTheyFillTheDisk) {
    // 300 MiB of zeros streamed into a few hundred KiB of gzip, and 4 MiB of zeros, as
    // compressible but small enough to be harmless.
    ASSERT_EQ(Python("import tarfile, io\n"
                     "class Zeros:\n"
                     "    def __init__(self, n): self.left = n\n"
                     "    def read(self, n):\n"
                     "        n = min(n, self.left); self.left -= n; return bytes(n)\n"
                     "def make(name, files):\n"
                     "    with tarfile.open(name, 'w:gz', compresslevel=1) as t:\n"
                     "        for entry, size in files:\n"
                     "            i = tarfile.TarInfo(entry); i.size = size\n"
                     "            t.addfile(i, Zeros(size))\n"
                     "make('bomb.tar.gz', [('zeros.bin', 300 << 20)])\n"
                     "make('small.tar.gz', [('zeros.bin', 4 << 20)])\n"
                     "make('five.tar.gz', [('f%d' % i, 1000) for i in range(5)])\n")
                  .Status,
              0);
    ASSERT_LT(std::filesystem::file_size(FRoot.Path("bomb.tar.gz")), 2u << 20);
    {
        // Writing past 64 MiB would end in "cannot write", not in the refusal.
        TFileSizeLimit limit(64 << 20);
        EXPECT_THAT(UnpackError(FRoot.Path("bomb.tar.gz")),
                    ::testing::AllOf(::testing::HasSubstr("bomb.tar.gz not unpacked: zeros.bin"),
                                     ::testing::HasSubstr("expands more than 200 times")));
    }
    EXPECT_FALSE(std::filesystem::exists(FRoot.Path("out")));

    ASSERT_TRUE(UnpackDataArchive(FRoot.Path("small.tar.gz"), FRoot.Path("small")));
    EXPECT_EQ(std::filesystem::file_size(FRoot.Path("small/zeros.bin")), 4u << 20);

    // Entries and bytes are counted to the limit and no further.
    TUnpackLimits limits;
    limits.MaxEntries = 4;
    EXPECT_THAT(UnpackError(FRoot.Path("five.tar.gz"), limits),
                ::testing::HasSubstr("more than 4 files and folders"));
    limits = {};
    limits.MaxBytes = 4999;
    EXPECT_THAT(UnpackError(FRoot.Path("five.tar.gz"), limits),
                ::testing::HasSubstr("f4: the archive unpacks to more than 4999 bytes"));
    EXPECT_FALSE(std::filesystem::exists(FRoot.Path("out")));
    limits.MaxBytes = 5000;
    limits.MaxEntries = 5;
    EXPECT_TRUE(UnpackDataArchive(FRoot.Path("five.tar.gz"), FRoot.Path("out"), limits));
    EXPECT_EQ(test::FilesBelow(FRoot.Path("out")).size(), 5u);
}

} // namespace
} // namespace tzn
