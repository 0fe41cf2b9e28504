// Cross-check with an independent implementation: Python's standard library decodes what we
// encode and encodes what we decode (base64, quoted-printable, encoded words).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <unistd.h>

#include "mail/codecs.h"
#include "mail/header_coding.h"
#include "platform/cp1251.h"

namespace tzn {
namespace {

namespace fs = std::filesystem;

class PythonPeer : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("python3 -c 'import base64, quopri, email.header' >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "python3 is not available";
        char tmpl[] = "/tmp/tzn-pypeer-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        FDir = tmpl;
    }
    void TearDown() override {
        if (!FDir.empty())
            fs::remove_all(FDir);
    }
    void Put(const std::string& name, const std::string& bytes) {
        std::ofstream(FDir / name, std::ios::binary) << bytes;
    }
    std::string Get(const std::string& name) {
        std::ifstream in(FDir / name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // Runs a Python program with the work folder as its current directory.
    void Run(const std::string& program) {
        Put("peer.py", program);
        std::string cmd = "cd '" + FDir.string() + "' && python3 peer.py";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << program;
    }
    fs::path FDir;
};

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

TEST_F(PythonPeer, Base64BothWays) {
    const std::string data = RandomBytes(100003, 1);
    std::string ours;
    EncodeBase64Lines(data, ours);
    Put("data.bin", data);
    Put("ours.b64", ours);
    Run(R"(import base64
data = open('data.bin', 'rb').read()
ours = open('ours.b64', 'rb').read()
open('ours.dec', 'wb').write(base64.b64decode(ours))
lines = ours.split(b'\r\n')
assert all(len(l) == 76 for l in lines[:-2]), 'line length'
open('py.b64', 'wb').write(base64.encodebytes(data))
open('py.one', 'wb').write(base64.b64encode(data))
)");
    EXPECT_EQ(Get("ours.dec"), data) << "Python decodes our lines";
    EXPECT_EQ(DecodeBase64(Get("py.b64")), data) << "we decode Python's lines";
    EXPECT_EQ(EncodeBase64(data), Get("py.one")) << "identical unbroken form";
}

TEST_F(PythonPeer, QuotedPrintableBothWays) {
    // Text lines with what the rules are about: trailing blanks, leading dots, "=", 8-bit
    // bytes, long lines that need soft breaks.
    std::mt19937 rng(2);
    const std::string alphabet = "abcdefgh .\t=\xe0\xf0\xff!~";
    std::string text;
    for (int line = 0; line < 400; ++line) {
        size_t n = rng() % 180;
        for (size_t i = 0; i < n; ++i)
            text += alphabet[rng() % alphabet.size()];
        text += "\r\n";
    }
    Put("text.bin", text);
    Put("ours.qp", EncodeQuotedPrintable(text));
    std::string lfText;
    for (char c : text)
        if (c != '\r')
            lfText += c;
    Put("lftext.bin", lfText);
    Run(R"(import quopri
open('ours.dec', 'wb').write(quopri.decodestring(open('ours.qp', 'rb').read()))
open('py.qp', 'wb').write(quopri.encodestring(open('lftext.bin', 'rb').read()))
)");
    // Compared as booleans: a mismatch would print kilobytes of binary text.
    EXPECT_TRUE(Get("ours.dec") == text) << "Python decodes our quoted-printable";
    EXPECT_TRUE(DecodeQuotedPrintable(Get("py.qp")) == text) << "we decode Python's";
}

TEST_F(PythonPeer, EncodedWordsBothWays) {
    const std::string subject =
        ru("TZN-Office Отчет за смену 12 станции Северная, очень длинная тема письма");
    Put("ours.b.txt", EncodeHeader(subject, "", TMxHeaderMethod::B, "KOI8-R"));
    Put("ours.q.txt", EncodeHeader(subject, "", TMxHeaderMethod::Q, "windows-1251"));
    Run(R"(from email.header import decode_header, Header
for name in ('ours.b.txt', 'ours.q.txt'):
    parts = decode_header(open(name, 'rb').read().decode('ascii'))
    out = b''.join(p if isinstance(p, bytes) else p.encode('ascii') for p, cs in parts)
    open(name + '.dec', 'wb').write(out)
h = Header('Grüße aus Köln, Straße 5', 'iso-8859-1').encode()
open('py.q.txt', 'w').write(h)
h = Header('Привет с заправки номер двенадцать, очень длинная тема', 'windows-1251').encode()
open('py.b.txt', 'w').write(h)
)");
    // Python drops the blanks around encoded words differently from plain text; compare
    // the bytes with blanks removed on both sides, and the exact bytes for the B form.
    EXPECT_EQ(Get("ours.b.txt.dec"), subject);
    auto noBlanks = [](std::string s) {
        std::erase(s, ' ');
        return s;
    };
    EXPECT_EQ(noBlanks(Get("ours.q.txt.dec")), noBlanks(subject));
    EXPECT_EQ(DecodeHeader(Get("py.q.txt")), "Gr\xfc\xdf"
                                             "e aus K\xf6ln, Stra\xdf"
                                             "e 5");
    EXPECT_EQ(DecodeHeader(Get("py.b.txt")),
              ru("Привет с заправки номер двенадцать, очень длинная тема"));
}

} // namespace
} // namespace tzn
