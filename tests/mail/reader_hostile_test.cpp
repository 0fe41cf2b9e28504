// Hostile letters: each gives a clear error or a best-effort letter, never a crash, never
// unbounded memory, and never a temporary file left behind.
#include <gtest/gtest.h>

#include <sstream>

#include "mail/exceptions.h"
#include "mail/io_handler_stream_msg.h"
#include "mail/message.h"
#include "mail/message_limits.h"
#include "mail/message_reader.h"
#include "mail/message_test_util.h"
#include "mail/message_writer.h"

using namespace tzn;
using tzn::test::CountFiles;
using tzn::test::kMultipartHead;
using tzn::test::ReadFile;
using tzn::test::TempDir;
using tzn::test::TryLoad;

TEST(ReaderHostileTest, UnterminatedBoundariesGiveWhatWasThere) {
    TempDir dir;
    TMxMessage m;
    std::string text = kMultipartHead +
                       "--BB\r\nContent-Type: multipart/related; boundary=\"IN\"\r\n\r\n"
                       "--IN\r\nContent-Type: application/x; name=a\r\n\r\nabc\r\n"
                       "--IN\r\nContent-Type: text/plain\r\n\r\nlast words";
    EXPECT_EQ(TryLoad(m, dir, text), "");
    ASSERT_EQ(m.MessageParts.Count(), 3u);
    EXPECT_EQ(m.MessageParts[1].AsAttachment()->ReadContent(), "abc");
    EXPECT_EQ(m.MessageParts[2].AsText()->Body, std::vector<std::string>{"last words"});
    // An inner part left open is closed by the outer boundary.
    TMxMessage m2;
    EXPECT_EQ(TryLoad(m2, dir,
                      kMultipartHead +
                          "--BB\r\nContent-Type: multipart/mixed; boundary=\"IN\"\r\n\r\n"
                          "--IN\r\nContent-Type: text/plain\r\n\r\ninner\r\n"
                          "--BB\r\nContent-Type: text/plain\r\n\r\nouter\r\n--BB--\r\n"),
              "");
    ASSERT_EQ(m2.MessageParts.Count(), 3u);
    EXPECT_EQ(m2.MessageParts[2].AsText()->Body, std::vector<std::string>{"outer"});
    EXPECT_EQ(m2.MessageParts[2].ParentPart, -1);
}

TEST(ReaderHostileTest, HugeLinesAndEndlessHeadersAreRefusedClearly) {
    TempDir dir;
    TMxMessage m;
    EXPECT_EQ(TryLoad(m, dir, "Subject: " + std::string(10u << 20, 'x') + "\r\n\r\n"),
              "Max line length exceeded.");
    EXPECT_EQ(TryLoad(m, dir,
                      kMultipartHead + "--BB\r\nContent-Type: text/plain\r\n" +
                          std::string(10u << 20, 'y') + "\r\n"),
              "Letter line longer than 8388608 bytes.");
    std::string endless = kMultipartHead + "--BB\r\n";
    for (int i = 0; i < 40000; ++i)
        endless += "X-Header-Line-" + std::to_string(i) + ": some value here\r\n";
    EXPECT_EQ(TryLoad(m, dir, endless), "Message part header too long.");
    std::string bigHeader;
    for (int i = 0; i < 400000; ++i)
        bigHeader += "X-H: " + std::string(20, 'v') + "\r\n";
    EXPECT_EQ(TryLoad(m, dir, bigHeader + "\r\n"), "Message header too long.");
    EXPECT_EQ(TryLoad(m, dir, kMultipartHead + "--BB\r\nContent-Type: text/plain\r\n"),
              "Unknown Message Part Type.");
    m.Clear();
    EXPECT_EQ(CountFiles(dir.Path()), 0u);
}

TEST(ReaderHostileTest, ThousandsOfNestedMultipartsAreRefused) {
    TempDir dir;
    std::string text = kMultipartHead;
    std::string outer = "BB";
    for (int i = 0; i < 5000; ++i) {
        std::string inner = "N" + std::to_string(i);
        text +=
            "--" + outer + "\r\nContent-Type: multipart/mixed; boundary=\"" + inner + "\"\r\n\r\n";
        outer = inner;
    }
    text += "--" + outer + "\r\nContent-Type: application/x; name=deep.bin\r\n\r\ndeep\r\n";
    TMxMessage m;
    m.AttachmentTempDirectory = dir.Path();
    std::istringstream in(text);
    TMxIOHandlerStreamMsg io(&in);
    TMxMessageReader reader(io, m);
    ASSERT_EQ(reader.ReadHeaderBlock(""), "");
    EXPECT_THROW(reader.ReadBodyBlock("."), EMxLimitExceeded);
    EXPECT_LE(reader.OpenBoundaries().Count(), 100u);
    EXPECT_LE(m.MessageParts.Count(), 100u);
    m.Clear();
    EXPECT_EQ(CountFiles(dir.Path()), 0u);
}

TEST(ReaderHostileTest, MalformedBase64AndTooManyPartsNeverCrash) {
    TempDir dir;
    TMxMessage m;
    EXPECT_EQ(TryLoad(m, dir,
                      kMultipartHead +
                          "--BB\r\nContent-Type: application/x; name=a\r\n"
                          "Content-Transfer-Encoding: base64\r\n\r\n"
                          "QUJD*&^%$\r\n====\r\nQQ\r\n\x01\x02\xff\r\nRA=x=\r\n--BB--\r\n"),
              "");
    ASSERT_EQ(m.MessageParts.Count(), 1u);
    std::string got = m.MessageParts[0].AsAttachment()->ReadContent();
    EXPECT_EQ(got.substr(0, 3), "ABC");
    EXPECT_LT(got.size(), 16u);

    std::string many = kMultipartHead;
    for (int i = 0; i < 10050; ++i)
        many += "--BB\r\nContent-Type: text/plain\r\n\r\nx\r\n";
    TMxMessage m2;
    EXPECT_EQ(TryLoad(m2, dir, many), "Too many message parts.");
    m.Clear();
    m2.Clear();
    EXPECT_EQ(CountFiles(dir.Path()), 0u);
}

// Encoded words that decode to line breaks must not turn into header lines of their own (or
// end the header early) when the letter is written again, with encoded words or raw 8-bit.
TEST(ReaderHostileTest, DecodedLineBreaksNeverStartNewHeaderLines) {
    const std::string text = "From: =?KOI8-R?Q?Evil=0D=0ABcc=3A_spy=40evil.ru?= <a@b.ru>\r\n"
                             "Subject: =?windows-1251?Q?hi=0D=0AX-Injected:_1=0D=0A=0D=0Abody?=\r\n"
                             "To: c@d.ru\r\n\r\nreal body\r\n";
    for (bool encodeWords : {true, false}) {
        TMxMessage m;
        std::istringstream in(text);
        ReadMessageStream(m, in);
        ASSERT_NE(m.Subject.find("\r\nX-Injected"), std::string::npos) << "decoded as written";
        ASSERT_EQ(m.From().Name, "Evil\r\nBcc: spy@evil.ru");
        std::ostringstream out;
        TMxWriteOptions options;
        options.EncodeHeaderWords = encodeWords;
        WriteMessageStream(m, out, options);
        const std::string written = out.str();
        EXPECT_EQ(written.find("\r\nX-Injected"), std::string::npos) << written;
        EXPECT_EQ(written.find("\r\nBcc"), std::string::npos) << written;
        TMxMessage again;
        std::istringstream back(written);
        ReadMessageStream(again, back);
        EXPECT_LT(again.Headers.IndexOfName("X-Injected"), 0) << written;
        EXPECT_TRUE(again.BccList.Empty()) << written;
        EXPECT_EQ(again.From().Address, "a@b.ru") << written;
        ASSERT_EQ(again.Recipients.Count(), 1u) << written;
        EXPECT_EQ(again.Recipients[0].Address, "c@d.ru");
        EXPECT_EQ(again.Body, std::vector<std::string>{"real body"}) << written;
    }
}
