// The stored form the writer produces: header order and folding, the MIME frame, base64
// lines, dot-stuffing, Bcc only in files, and what the wire gets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <latch>
#include <sstream>
#include <thread>

#include "mail/codecs.h"
#include "mail/exceptions.h"
#include "mail/header_coding.h"
#include "mail/mail_date.h"
#include "mail/message.h"
#include "mail/message_reader.h"
#include "mail/message_test_util.h"
#include "mail/message_writer.h"
#include "mail/mime_boundary.h"
#include "platform/cp1251.h"
#include "raised.h"

using namespace tzn;
using tzn::test::Bytes;
using tzn::test::CrLfLines;
using tzn::test::ReadFile;
using tzn::test::TempDir;
using tzn::test::WriteFile;

namespace {

void ComposeDataLetter(TMxMessage& m, const std::string& attachment) {
    m.From().Name = "Station 1";
    m.From().Address = "st1@example.ru";
    m.Sender = TMxEMailAddressItem("Station 1", "st1@example.ru");
    m.Recipients.Add(TMxEMailAddressItem("Office", "office@example.ru"));
    m.Subject = "TZN-Office";
    m.MessageParts.AddAttachment(attachment);
    m.SetUseNowForDate(true);
}

std::string WireText(TMxMessage& m) {
    std::ostringstream out;
    TMxIOHandlerStream io(nullptr, &out);
    TransmitMessage(io, m);
    return out.str();
}

} // namespace

TEST(WriterTest, ComposedDataLetterHasTheExactStoredForm) {
    TempDir dir;
    std::string data = Bytes(100);
    WriteFile(dir / "data.zip", data);
    TMxMessage m;
    ComposeDataLetter(m, dir / "data.zip");
    WriteMessageFile(m, dir / "letter.eml");
    auto lines = CrLfLines(ReadFile(dir / "letter.eml"));
    const std::string& b = ProcessBoundary();
    std::string b64 = EncodeBase64(data);
    std::vector<std::string> want = {"From: \"Station 1\" <st1@example.ru>",
                                     "Subject: TZN-Office",
                                     "To: \"Office\" <office@example.ru>",
                                     "Content-Type: multipart/mixed; boundary=\"" + b + "\"",
                                     "MIME-Version: 1.0",
                                     "Sender: Station 1 <st1@example.ru>",
                                     "DATE",
                                     "",
                                     "This is a multi-part message in MIME format",
                                     "",
                                     "--" + b,
                                     "Content-Type: application/octet-stream;",
                                     "        name=\"data.zip\"",
                                     "Content-Transfer-Encoding: base64",
                                     "Content-Disposition: attachment;",
                                     "        filename=\"data.zip\"",
                                     "",
                                     b64.substr(0, 76),
                                     b64.substr(76),
                                     "",
                                     "--" + b + "--",
                                     "",
                                     "."};
    ASSERT_EQ(lines.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        if (want[i] == "DATE") {
            // The time of saving, in the format the date test pins down.
            TMxMessage loaded;
            ReadMessageFile(loaded, dir / "letter.eml", true);
            EXPECT_LT(std::abs(loaded.Date - Now()) * 86400.0, 120.0) << lines[i];
            EXPECT_EQ(lines[i], "Date: " + FormatMailDate(loaded.Date));
            continue;
        }
        EXPECT_EQ(lines[i], want[i]) << "line " << i;
    }
    EXPECT_EQ(lines[3].size(), 76u); // fits, so not folded
}

// Moving a letter between folders loads and saves it again: the stored form must not change
// (no second file name in the disposition, no preamble turned into a text part).
TEST(WriterTest, LoadedLetterSavesBackUnchanged) {
    TempDir dir;
    WriteFile(dir / "data.zip", Bytes(300));
    TMxMessage m;
    ComposeDataLetter(m, dir / "data.zip");
    WriteMessageFile(m, dir / "first.eml");
    TMxMessage loaded;
    ReadMessageFile(loaded, dir / "first.eml");
    WriteMessageFile(loaded, dir / "second.eml");
    EXPECT_EQ(CrLfLines(ReadFile(dir / "second.eml")), CrLfLines(ReadFile(dir / "first.eml")));
}

TEST(WriterTest, BoundaryIsOneForTheProcessAndWellFormed) {
    const std::string& b = ProcessBoundary();
    ASSERT_EQ(b.size(), 34u);
    size_t p = b.find("=_");
    ASSERT_NE(p, std::string::npos);
    EXPECT_LE(p, 32u);
    for (size_t i = 0; i < b.size(); ++i) {
        if (i != p && i != p + 1) {
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(b[i]))) << b;
        }
    }
    TempDir dir;
    WriteFile(dir / "a.bin", "x");
    TMxMessage m1, m2;
    ComposeDataLetter(m1, dir / "a.bin");
    ComposeDataLetter(m2, dir / "a.bin");
    std::string w1 = WireText(m1), w2 = WireText(m2);
    EXPECT_NE(w1.find("boundary=\"" + b + "\""), std::string::npos);
    EXPECT_NE(w2.find("boundary=\"" + b + "\""), std::string::npos);
    std::string nested = NestedBoundary(b);
    EXPECT_EQ(nested.size(), 35u);
    EXPECT_EQ(nested.substr(0, 34), b);
}

TEST(WriterTest, DotStuffingAndAttachmentEdgeCases) {
    TempDir dir;
    WriteFile(dir / "empty.dat", "");
    TMxMessage m;
    ComposeDataLetter(m, dir / "empty.dat");
    m.ConvertPreamble = false; // keep the body as preamble text
    m.Body = {"first", ".", "..two", "last"};
    auto lines = CrLfLines(WireText(m));
    auto at = [&](const std::string& s) { return std::find(lines.begin(), lines.end(), s); };
    EXPECT_NE(at(".."), lines.end());
    EXPECT_NE(at("...two"), lines.end());
    EXPECT_EQ(at("."), lines.end()); // nothing could end the letter early
    // A zero-length attachment: its blank header end is followed directly by the part's
    // closing blank line and the closing boundary.
    auto disp = at("        filename=\"empty.dat\"");
    ASSERT_NE(disp, lines.end());
    ASSERT_GE(lines.end() - disp, 4);
    EXPECT_EQ(*(disp + 1), "");
    EXPECT_EQ(*(disp + 2), "");
    EXPECT_EQ(*(disp + 3), "--" + ProcessBoundary() + "--");
}

TEST(WriterTest, BccIsSavedToFilesButNeverSentAndFlagIsCleared) {
    TempDir dir;
    TMxMessage m;
    m.From().Address = "a@example.ru";
    m.Recipients.Add(TMxEMailAddressItem("", "to@example.ru"));
    m.BccList.Add(TMxEMailAddressItem("", "hidden@example.ru"));
    m.Body = {"hello"};
    WriteMessageFile(m, dir / "m.eml");
    std::string file = ReadFile(dir / "m.eml");
    EXPECT_NE(file.find("\r\nBcc: hidden@example.ru\r\n"), std::string::npos);
    std::string wire = WireText(m);
    EXPECT_EQ(wire.find("Bcc"), std::string::npos);
    EXPECT_EQ(wire.find("hidden@"), std::string::npos);
    // A letter without parts is plain text: the body follows one blank line.
    EXPECT_NE(wire.find("\r\n\r\nhello\r\n"), std::string::npos);
    EXPECT_EQ(wire.find("MIME-Version"), std::string::npos);
}

TEST(WriterTest, LongHeadersFoldAndNamesAreQuotedOrEncoded) {
    TMxMessage m;
    m.From().Address = "a@example.ru";
    for (int i = 0; i < 6; ++i)
        m.Recipients.Add(TMxEMailAddressItem("Person Number " + std::to_string(i),
                                             "person" + std::to_string(i) + "@example.ru"));
    m.CCList.Add(TMxEMailAddressItem(ru("Иван Петров"), "ivan@example.ru"));
    m.CCList.Add(TMxEMailAddressItem("Doe, \"J\"", "doe@example.ru"));
    m.Body = {"x"};
    const TMxHeaderList h = BuildHeaders(m);
    long to = h.IndexOfName("To");
    ASSERT_GE(to, 0);
    EXPECT_LE(h[to].size(), 78u);
    EXPECT_EQ(h[to + 1][0], ' '); // continuation
    for (const auto& l : h.Lines())
        EXPECT_LE(l.size(), 78u) << l;
    // The folded value reads back whole.
    TMxEMailAddressList back;
    back.SetEMailAddresses(h.Values("To"));
    ASSERT_EQ(back.Count(), 6u);
    EXPECT_EQ(back[5].Name, "Person Number 5");
    std::string cc = h.Values("Cc");
    EXPECT_NE(cc.find("=?KOI8-R?B?"), std::string::npos) << cc;
    EXPECT_NE(cc.find("\"Doe, \\\"J\\\"\" <doe@example.ru>"), std::string::npos) << cc;
    // From without a name takes its address as name; the default sender stays bare.
    EXPECT_EQ(h.Values("From"), "\"a@example.ru\" <a@example.ru>");
}

TEST(WriterTest, SubjectFollowsTheHeaderEncodingOption) {
    TMxMessage m;
    m.From().Address = "a@example.ru";
    m.Subject = ru("Отчет TZN-Office");
    EXPECT_EQ(BuildHeaders(m).Values("Subject").rfind("=?KOI8-R?B?", 0), 0u);
    EXPECT_EQ(BuildHeaders(m, {.EncodeHeaderWords = false}).Values("Subject"),
              ru("Отчет TZN-Office"));
}

// A delivery run writes raw 8-bit headers while another thread may be saving a letter it
// composed: each write gets the form it asked for.
TEST(WriterTest, RawAndEncodedWritersOnTwoThreadsDoNotMix) {
    const std::string subject = ru("Отчет за смену TZN-Office");
    const std::string encoded =
        "Subject: =?KOI8-R?B?" + EncodeBase64(ru("Отчет за смену")) + "?= TZN-Office\r\n";
    const std::string raw = "Subject: " + subject + "\r\n";
    std::latch start(2);
    auto run = [&](bool encode, int& wrong) {
        start.arrive_and_wait();
        for (int i = 0; i < 300; ++i) {
            TMxMessage m;
            m.From().Address = "a@example.ru";
            m.Subject = subject;
            std::ostringstream out;
            WriteMessageStream(m, out, {.EncodeHeaderWords = encode});
            if (out.str().find(encode ? encoded : raw) == std::string::npos)
                ++wrong;
        }
    };
    int wrongEncoded = 0, wrongRaw = 0;
    std::thread a(run, true, std::ref(wrongEncoded));
    std::thread b(run, false, std::ref(wrongRaw));
    a.join();
    b.join();
    EXPECT_EQ(wrongEncoded, 0);
    EXPECT_EQ(wrongRaw, 0);
}

TEST(WriterTest, MessageLevelEncodingWithPartsIsRefused) {
    TempDir dir;
    WriteFile(dir / "a.bin", "abc");
    TMxMessage m;
    ComposeDataLetter(m, dir / "a.bin");
    m.ContentTransferEncoding = "base64";
    m.MessageParts.AddText({"t"}); // parts clear a message-level base64 when headers build
    m.Encoding = TMxMessageEncoding::MIME;
    std::ostringstream out;
    TMxIOHandlerStream io(nullptr, &out);
    BuildHeaders(m);
    EXPECT_TRUE(m.ContentTransferEncoding.empty());
    m.ContentTransferEncoding = "base64"; // set again after building: the body refuses
    if (const auto e = test::Raised<EMxException>([&] { WriteBodyBlock(io, m); })) {
        EXPECT_STREQ(e->what(), "Message parts cannot be used in a message which has a "
                                "ContentTransferEncoding value.");
    }
}

TEST(WriterTest, MissingAttachmentFileFailsAndLeavesNoFile) {
    TempDir dir;
    TMxMessage m;
    ComposeDataLetter(m, dir / "gone.zip");
    EXPECT_THROW(WriteMessageFile(m, dir / "out.eml"), EMxException);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.eml"));
}

// The offset comes from the machine's zone: POSIX zone strings (no zone database needed) give
// offsets known in advance, including one with minutes and one west of Greenwich.
TEST(WriterTest, DateFormatCarriesTheLocalOffset) {
    const char* saved = std::getenv("TZ");
    const std::string before = saved ? saved : "";
    const TDateTime dt = EncodeDateTime(2024, 12, 5, 14, 30, 5);
    for (const auto& [zone, offset] : {std::pair{"MSK-3", "+0300"}, std::pair{"IST-5:30", "+0530"},
                                       std::pair{"NST3:30", "-0330"}, std::pair{"UTC0", "+0000"}}) {
        ::setenv("TZ", zone, 1);
        ::tzset();
        EXPECT_EQ(FormatMailDate(dt), std::string("Thu, 5 Dec 2024 14:30:05 ") + offset) << zone;
    }
    if (saved)
        ::setenv("TZ", before.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

TEST(WriterTest, TextPartsAndNestedMultipartFrame) {
    TMxMessage m;
    m.From().Address = "a@example.ru";
    auto& alt = m.MessageParts.AddText();
    alt.ContentType = "multipart/alternative";
    auto& plain = m.MessageParts.AddText({".dot first", "trailing blank "});
    plain.ParentPart = 0;
    plain.CharSet = "windows-1251";
    auto& html = m.MessageParts.AddText({"<p>x</p>"});
    html.ContentType = "text/html";
    html.ContentTransfer = "7bit";
    html.ParentPart = 0;
    auto& last = m.MessageParts.AddText({"after"});
    last.ContentTransfer = "base64";
    auto lines = CrLfLines(WireText(m));
    const std::string b = ProcessBoundary();
    auto find = [&](const std::string& s, size_t from = 0) {
        auto it = std::find(lines.begin() + static_cast<long>(from), lines.end(), s);
        return static_cast<size_t>(it - lines.begin());
    };
    size_t ct = find("Content-Type: multipart/alternative;", find("--" + b));
    ASSERT_LT(ct, lines.size());
    std::string inner = lines[ct + 1].substr(std::string("        boundary=\"").size(), 35);
    EXPECT_EQ(inner.substr(0, 34), b);
    size_t open1 = find("--" + inner);
    size_t close1 = find("--" + inner + "--");
    size_t afterPart = find("--" + b, close1);
    EXPECT_LT(open1, close1);
    EXPECT_LT(close1, afterPart);
    EXPECT_LT(find("Content-Type: text/plain ; charset=\"windows-1251\""), close1);
    EXPECT_LT(find("=2Edot first"), close1);      // no extra stuffing dot inside QP
    EXPECT_LT(find("trailing blank=20"), close1); // a trailing blank is kept visible
    EXPECT_LT(find(EncodeBase64("after\r\n")), lines.size());
    EXPECT_EQ(lines[lines.size() - 2], "--" + b + "--");
}
