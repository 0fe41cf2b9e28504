// Faults of the local disk during a station's full session: the disk full while the letter
// and its data are stored, a data exchange folder that cannot be written, a data file the
// host still holds open, and one that cannot be deleted. The accounting is the network
// faults' one: nothing lost, nothing doubled, every file imported once after the follow-up.
#include "session_faults.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <fstream>

namespace tzn::test {
namespace {

constexpr TExchangeSide kStation{false, 42, 43}; // mailboxes of this file

// A tmpfs mounted on `dir` while the object lives. Mounting needs root; Mounted() says
// whether the system allowed it.
class Tmpfs {
public:
    Tmpfs(const std::filesystem::path& dir, const std::string& options, unsigned long flags = 0)
        : FDir(dir) {
        std::filesystem::create_directories(dir);
        FMounted = ::mount("tzn-faults", dir.c_str(), "tmpfs", flags, options.c_str()) == 0;
    }
    ~Tmpfs() {
        if (FMounted)
            ::umount2(FDir.c_str(), MNT_DETACH);
    }
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;
    bool Mounted() const { return FMounted; }

private:
    std::filesystem::path FDir;
    bool FMounted = false;
};

// Writes `file` until the disk refuses another block.
void FillDisk(const std::filesystem::path& file) {
    std::ofstream out(file, std::ios::binary);
    const std::string block(4096, 'x');
    while (out.write(block.data(), static_cast<std::streamsize>(block.size())) && out.flush()) {
    }
}

class StorageFaults : public SessionFaults {
protected:
    bool BoxShown(const std::string& part) {
        for (const auto& box : FShown.Boxes())
            if (box.Text.find(part) != std::string::npos)
                return true;
        return false;
    }
    // The faulty session said it left the letter on the server.
    bool LeftOnServer() const {
        const std::string line = ru("Письмо не обработано, оставлено на сервере: Office <");
        for (const auto& l : FLastLines)
            if (l.rfind(line, 0) == 0)
                return true;
        return false;
    }
};

TEST_F(StorageFaults, FullDiskUnwritableDataDirAndDataFilesHeldByTheHost) {
    UseSide(kStation);
    {
        // Mail store and data exchange folder on one small disk.
        Tmpfs disk(FRoot->Path("C/FULL"), "size=256k");
        if (!disk.Mounted())
            GTEST_SKIP() << "no tmpfs could be mounted (needs root): the disk faults are not tried";
        FSettings.MailDir = "C:\\FULL\\MAIL\\";
        SetMailSettings(FSettings);
        CreateMailFolders(FSettings.MailDir);
        SetDataDir("C:\\FULL\\DATA\\");
        ASSERT_TRUE(ForceDirectories(DataDir()));
        const auto filler = FRoot->Path("C/FULL/filler");
        LocalRound(
            "disk full", [&] { FillDisk(filler); }, [&] { std::filesystem::remove(filler); });
        EXPECT_TRUE(BoxShown(ru("Не обработано письмо от Office\r")));
        EXPECT_TRUE(BoxShown(": No space left on device")) << "the box names the cause";
        EXPECT_TRUE(LeftOnServer());
        FSettings.MailDir = "C:\\MAIL\\";
        SetMailSettings(FSettings);
        SetDataDir("C:\\DATA\\");
    }

    FShown.ClearBoxes();
    std::optional<Tmpfs> readOnly;
    LocalRound(
        "DataDir read-only",
        [&] {
            readOnly.emplace(NativePath(DataDir()), "size=64k", MS_RDONLY);
            ASSERT_TRUE(readOnly->Mounted());
        },
        [&] { readOnly.reset(); });
    EXPECT_TRUE(BoxShown(ru("Не обработано письмо от Office\r")));
    EXPECT_TRUE(BoxShown(": Read-only file system"));
    EXPECT_TRUE(LeftOnServer());

    // The host still reads the previous file of that name: the new data does not reach it
    // through its open handle, the new file is a file of its own.
    std::ifstream held;
    auto dataFile = [&] {
        return NativePath(DataDir() + "data-" + std::to_string(FDeposits) + ".dat");
    };
    LocalRound(
        "data file held open",
        [&] {
            WriteFile(dataFile(), "the previous station's data");
            held.open(dataFile(), std::ios::binary);
        },
        [&] {
            const std::string seen((std::istreambuf_iterator<char>(held)),
                                   std::istreambuf_iterator<char>());
            EXPECT_EQ(seen, "the previous station's data");
        });

    // A file that cannot be deleted (a folder in its place): the letter waits on the server.
    FShown.ClearBoxes();
    LocalRound(
        "data file not deletable", [&] { WriteFile(dataFile() / "inside", "blocks the deletion"); },
        [&] { std::filesystem::remove_all(dataFile()); });
    EXPECT_TRUE(BoxShown(ru("Не удален временный файл с предыдущей АЗС")));
    EXPECT_TRUE(LeftOnServer());
}

// The letter's data reached the host but its InBox copy could not be written: the letter
// waits on the server, and the session after the repair keeps the copy before deleting it,
// without importing the data again.
TEST_F(StorageFaults, AnInBoxCopyNotWrittenIsMadeByTheNextSession) {
    UseSide({false, 49, 50});
    const MailUser& box = User(49);
    Deposit(box, "Office", User(50).Address, "TZN-12 stored later", "stored later");
    std::optional<Tmpfs> readOnly;
    readOnly.emplace(NativePath(FolderPath(FSettings.MailDir, MailFolder::InBox)), "size=64k",
                     MS_RDONLY);
    if (!readOnly->Mounted())
        GTEST_SKIP() << "no tmpfs could be mounted (needs root): the disk faults are not tried";
    RecordingWindow faulty, followUp;
    TMailThread(TSessionMode::Full, faulty.Window(), Context()).Execute();
    const std::vector<std::string> faultyLines = faulty.Lines();
    const std::string lines = ::testing::PrintToString(faultyLines);
    const std::string notStored = ru("Письмо не сохранено, оставлено на сервере: Office <");
    EXPECT_EQ(std::count_if(faultyLines.begin(), faultyLines.end(),
                            [&](const std::string& l) { return l.rfind(notStored, 0) == 0; }),
              1)
        << lines;
    EXPECT_EQ(Imported("stored later"), 1u);
    EXPECT_EQ(Files(MailFolder::InBox), 0u);
    EXPECT_EQ(Count(box), 1);

    readOnly.reset();
    TMailThread(TSessionMode::Full, followUp.Window(), Context()).Execute();
    EXPECT_EQ(Imported("stored later"), 1u) << ::testing::PrintToString(followUp.Lines());
    EXPECT_EQ(Files(MailFolder::InBox), 1u) << ::testing::PrintToString(followUp.Lines());
    EXPECT_EQ(Count(box), 0);
}

} // namespace
} // namespace tzn::test
