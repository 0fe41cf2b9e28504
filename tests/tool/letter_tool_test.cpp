// The letter commands of the tool, run as a process: make, show (text and JSON), extract.
#include "tool/tool_runner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using tzn::test::ToolRun;

// Runs a shell command line; standard error joins standard output.
ToolRun RunShell(const std::string& cmd) {
    return tzn::test::RunCommand(cmd + " 2>&1");
}

std::string Tool() {
    return tzn::test::ToolCommand();
}

class LetterToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tznltXXXXXX").string();
        FDir = ::mkdtemp(tmpl.data());
    }
    void TearDown() override { std::filesystem::remove_all(FDir); }
    std::string P(const std::string& name) const { return FDir + "/" + name; }
    void Write(const std::string& name, const std::string& data) const {
        std::ofstream(P(name), std::ios::binary) << data;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(P(name), std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string FDir;
};

} // namespace

TEST_F(LetterToolTest, MakeShowAndExtractRoundTrip) {
    std::string data;
    for (int i = 0; i < 100000; ++i)
        data += static_cast<char>(i * 31 % 251);
    Write("отчет 1.dat", data);
    Write("body.txt", "Привет\n.точка\n");
    ToolRun make = RunShell(Tool() +
                            " letter make --from 'Станция 1 <st1@x.ru>' --to 'Office <o@x.ru>'"
                            " --to p@x.ru --bcc hidden@x.ru --subject 'Отчет TZN-Office'"
                            " --body-file '" +
                            P("body.txt") + "' --attach '" + P("отчет 1.dat") + "' --out '" +
                            P("l.eml") + "'");
    ASSERT_EQ(make.Status, 0) << make.Out;
    std::string file = Read("l.eml");
    EXPECT_NE(file.find("\r\nBcc: hidden@x.ru\r\n"), std::string::npos);
    EXPECT_EQ(file.substr(file.size() - 3), ".\r\n");

    ToolRun json =
        RunShell(Tool() + " letter show '" + P("l.eml") + "' --json > '" + P("s.json") +
                 "' && python3 -c \"import json,sys; d=json.load(open(sys.argv[1]));"
                 "p=d['parts'];"
                 "print(d['subject'], d['from']['name'], d['from']['address'], len(d['to']),"
                 " d['bcc'][0]['address'], d['encoding'], d['date'] is not None,"
                 " [x['kind'] for x in p], p[0]['body'], p[1]['file_name'], p[1]['size'],"
                 " p[1]['sha256'], d['headers'][0][0])\" '" +
                 P("s.json") + "'");
    ASSERT_EQ(json.Status, 0) << json.Out;
    ToolRun sha = RunShell("sha256sum '" + P("отчет 1.dat") + "' | cut -c1-64");
    std::string want = "Отчет TZN-Office Станция 1 st1@x.ru 2 hidden@x.ru mime True "
                       "['text', 'attachment'] ['Привет', '.точка'] ______1.dat 100000 " +
                       sha.Out.substr(0, 64) + " From\n";
    EXPECT_EQ(json.Out, want);

    ToolRun text = RunShell(Tool() + " letter show '" + P("l.eml") + "'");
    ASSERT_EQ(text.Status, 0) << text.Out;
    EXPECT_NE(text.Out.find("Subject: Отчет TZN-Office"), std::string::npos) << text.Out;
    EXPECT_NE(text.Out.find("name=\"______1.dat\""), std::string::npos) << text.Out;

    std::filesystem::create_directory(P("out"));
    ToolRun ex = RunShell(Tool() + " letter extract '" + P("l.eml") + "' '" + P("out") + "'");
    ASSERT_EQ(ex.Status, 0) << ex.Out;
    EXPECT_EQ(Read("out/______1.dat"), data);
    // A second extract refuses to overwrite and says so.
    Write("out/______1.dat", "mine");
    ToolRun again = RunShell(Tool() + " letter extract '" + P("l.eml") + "' '" + P("out") + "'");
    EXPECT_EQ(again.Status, 1);
    EXPECT_NE(again.Out.find("Error saving attachment."), std::string::npos) << again.Out;
    EXPECT_EQ(Read("out/______1.dat"), "mine");
}

TEST_F(LetterToolTest, BadUseAndBadFilesFailClearly) {
    EXPECT_EQ(RunShell(Tool() + " letter make --from a@x.ru --out '" + P("x.eml") + "'").Status, 2);
    EXPECT_FALSE(std::filesystem::exists(P("x.eml")));
    ToolRun missing = RunShell(Tool() + " letter show '" + P("none.eml") + "'");
    EXPECT_EQ(missing.Status, 1);
    EXPECT_NE(missing.Out.find("Cannot load message from file"), std::string::npos);
    Write("exists.eml", "keep");
    ToolRun over = RunShell(Tool() + " letter make --from a@x.ru --to b@x.ru --subject s --out '" +
                            P("exists.eml") + "'");
    EXPECT_EQ(over.Status, 1);
    EXPECT_EQ(Read("exists.eml"), "keep");
    ToolRun noAttach =
        RunShell(Tool() + " letter make --from a@x.ru --to b@x.ru --subject s --attach '" +
                 P("nope.bin") + "' --out '" + P("y.eml") + "'");
    EXPECT_EQ(noAttach.Status, 1);
    EXPECT_FALSE(std::filesystem::exists(P("y.eml")));
    // A letter cut inside a part header is refused with the reader's message.
    Write("cut.eml", "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                     "--b\r\nContent-Type: text/plain\r\n");
    ToolRun cut = RunShell(Tool() + " letter show '" + P("cut.eml") + "' --json");
    EXPECT_EQ(cut.Status, 1);
    EXPECT_NE(cut.Out.find("Unknown Message Part Type."), std::string::npos) << cut.Out;
}
