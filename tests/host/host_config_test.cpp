// The host's configuration file and the services it answers from it.
#include "host/config_host.h"
#include "host/host_config.h"
#include "platform/cp1251.h"
#include "platform/paths.h"
#include "temp_root.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

namespace tzn {
namespace {

using test::ReadFile;
using test::TempRoot;
using test::WriteFile;

const std::string kValid = "[Host]\nSide=office\nStationCode=Office\n"
                           "DataFile=C:\\PLAV\\DATA\\tzn.dat\nImportDir=import\nCount=3\n"
                           "[Params]\n13=Офис\n25= 4 \n[Stations]\n"
                           "K7=7,АЗС 7\nK12=12,АЗС 12\n";

class HostConfigTest : public ::testing::Test {
protected:
    THostConfig Read(const std::string& text) {
        WriteFile(FFile, text);
        return ReadHostConfig(FFile);
    }
    // The message of the error the text gives ("" when it reads).
    std::string ErrorOf(const std::string& text) {
        try {
            Read(text);
        } catch (const TConfigError& e) {
            return e.what();
        }
        return "";
    }
    TempRoot FRoot;
    std::filesystem::path FFile = FRoot.Path("cfg/host.ini");
};

TEST_F(HostConfigTest, AMissingOrBadKeyIsAnErrorNamingIt) {
    struct Case {
        std::string From, To, Named;
    };
    const Case cases[] = {
        {"Side=office\n", "", "[Host] Side: missing key"},
        {"Side=office", "Side=moon", "[Host] Side: \"moon\" is neither"},
        {"StationCode=Office", "StationCode=", "[Host] StationCode: empty value"},
        {"DataFile=C:\\PLAV\\DATA\\tzn.dat\n", "", "[Host] DataFile: missing key"},
        {"ImportDir=import\n", "", "[Host] ImportDir: missing key"},
        {"Count=3", "Count=three", "[Host] Count: \"three\""},
        {"Count=3", "Count=3\nReplyFile=nothing.txt", "[Host] ReplyFile: no such file"},
        {"13=", "x13=", "[Params] x13:"},
        {"K12=12,", "K12=12;", "[Stations] K12: \"12;АЗС 12\" is not CODE,NAME"},
        {"K12=", "K7=", "[Stations] K7: the key appears twice"},
    };
    for (const Case& c : cases) {
        std::string text = kValid;
        text.replace(text.find(c.From), c.From.size(), c.To);
        const std::string error = ErrorOf(text);
        EXPECT_NE(error.find(c.Named), std::string::npos) << c.Named << " in: " << error;
        EXPECT_NE(error.find("host.ini"), std::string::npos) << error;
    }
    EXPECT_EQ(ErrorOf(kValid), "");
    EXPECT_THROW(ReadHostConfig(FRoot.Path("none.ini")), TConfigError);
}

TEST_F(HostConfigTest, ValuesReachThePlugInInItsCodePage) {
    const THostConfig c = Read(kValid);
    EXPECT_EQ(c.Mode, 1);
    EXPECT_EQ(c.Count, 3);
    EXPECT_EQ(c.ImportDir, FRoot.Path("cfg/import")); // beside the configuration file
    TConfigHost host(c);
    EXPECT_EQ(host.GetCount(), 3);
    EXPECT_EQ(host.GetDataFileName(), "C:\\PLAV\\DATA\\tzn.dat");
    EXPECT_EQ(host.GetParamValue(13, 0).ToString(), ru("Офис"));
    EXPECT_EQ(host.GetParamValue(25, 0).GetType(), THostVariant::TType::Integer);
    EXPECT_EQ(host.GetParamValue(25, 0).ToInteger(), 4);
    EXPECT_TRUE(host.GetParamValue(46, 0).IsEmpty());
    // GetStation(0) is the first line, then the others in order, then none.
    EXPECT_EQ(host.GetStation(0)->Key, "K7");
    EXPECT_EQ(host.GetStation(0)->Name, ru("АЗС 7"));
    EXPECT_EQ(host.GetStation(1)->Code, "12");
    EXPECT_FALSE(host.GetStation(2).has_value());
    EXPECT_FALSE(host.GetStation(-1).has_value());
}

TEST_F(HostConfigTest, ImportsAreCopiedWithoutOverwritingAndEachAnswersAFreshReply) {
    WriteFile(FRoot.Path("cfg/answer.txt"), "answer");
    std::string text = kValid;
    text.replace(text.find("Count=3"), 7, "Count=3\nReplyFile=answer.txt");
    TConfigHost host(Read(text));
    WriteFile(FRoot.Path("C/PLAV/DATA/in.dat"), "first");
    const std::string reply1 = host.ImportDataFileFrom("12", "C:\\PLAV\\DATA\\in.dat");
    WriteFile(FRoot.Path("C/PLAV/DATA/in.dat"), "second");
    const std::string reply2 = host.ImportDataFileFrom("12", "C:\\PLAV\\DATA\\in.dat");
    WriteFile(FRoot.Path("C/PLAV/DATA/in.dat"), "third");
    host.ImportDataFile("C:\\PLAV\\DATA\\in.dat");
    host.ImportDataFileFrom("../..", "C:\\PLAV\\DATA\\in.dat");

    std::multiset<std::string> fromTwelve;
    for (const auto& e : std::filesystem::directory_iterator(FRoot.Path("cfg/import/12"))) {
        EXPECT_NE(e.path().filename().string().find("-in"), std::string::npos);
        fromTwelve.insert(ReadFile(e.path()));
    }
    EXPECT_EQ(fromTwelve, (std::multiset<std::string>{"first", "second"}));
    ASSERT_EQ(
        std::distance(std::filesystem::directory_iterator(FRoot.Path("cfg/import/station")), {}),
        1);
    EXPECT_EQ(
        ReadFile(std::filesystem::directory_iterator(FRoot.Path("cfg/import/station"))->path()),
        "third");
    // A sender code cannot lead the copy out of its folder in ImportDir.
    int copies = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(FRoot.Dir()))
        if (e.path().filename().string().find("-in") != std::string::npos) {
            ++copies;
            EXPECT_EQ(e.path().parent_path().parent_path(), FRoot.Path("cfg/import")) << e.path();
        }
    EXPECT_EQ(copies, 4);

    EXPECT_EQ(reply1.rfind("C:\\PLAV\\DATA\\", 0), 0u) << reply1;
    EXPECT_NE(reply1, reply2);
    EXPECT_EQ(ReadFile(NativePath(reply1)), "answer");
    EXPECT_EQ(ReadFile(NativePath(reply2)), "answer");
}

TEST_F(HostConfigTest, AFailedImportIsLoggedRaisedAndLeavesNothing) {
    std::ostringstream log;
    TConfigHost host(Read(kValid), &log);
    WriteFile(FRoot.Path("C/PLAV/DATA/12-1.tar.gz"), "not gzip at all");
    EXPECT_ANY_THROW(host.ImportDataFileFrom("12", "C:\\PLAV\\DATA\\12-1.tar.gz"));
    EXPECT_EQ(host.ImportFailures(), 1u);
    EXPECT_THAT(log.str(),
                ::testing::MatchesRegex("tznhost: import of C:.PLAV.DATA.12-1.tar.gz into .*"
                                        "/import/12 failed: 12-1.tar.gz not unpacked: .*\n"));
    EXPECT_TRUE(test::FilesBelow(FRoot.Path("cfg/import")).empty());

    WriteFile(FRoot.Path("C/PLAV/DATA/in.dat"), "data");
    EXPECT_EQ(host.ImportDataFileFrom("12", "C:\\PLAV\\DATA\\in.dat"), "");
    EXPECT_EQ(host.ImportFailures(), 1u);
    EXPECT_EQ(test::FilesBelow(FRoot.Path("cfg/import/12")).size(), 1u);
}

TEST_F(HostConfigTest, ARequestFileIsNewForEachCallAndOnlyForAKnownStation) {
    TConfigHost host(Read(kValid));
    const std::string a = host.MakeStationRequestFile("k12");
    const std::string b = host.MakeStationRequestFile("K12");
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_NE(ReadFile(NativePath(a)).find("Station=12\r\n"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(NativePath(b)));
    EXPECT_EQ(host.MakeStationRequestFile("K99"), "");
}

} // namespace
} // namespace tzn
