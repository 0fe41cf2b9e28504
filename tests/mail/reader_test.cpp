// Reading stored letters back: round trips, the end-of-message rule, part headers and
// names, preamble, temporary files, header-only loads and plain-text letters.
#include <gtest/gtest.h>

#include <sstream>

#include "mail/codecs.h"
#include "mail/exceptions.h"
#include "mail/header_params.h"
#include "mail/io_handler_stream_msg.h"
#include "mail/mail_date.h"
#include "mail/message.h"
#include "mail/message_reader.h"
#include "mail/message_test_util.h"
#include "mail/message_writer.h"
#include "platform/cp1251.h"
#include "raised.h"

using namespace tzn;
using tzn::test::Bytes;
using tzn::test::CountFiles;
using tzn::test::ReadFile;
using tzn::test::TempDir;
using tzn::test::WriteFile;

namespace {

// Reads letter text as a stored file would be read.
void Load(TMxMessage& m, const std::string& text) {
    std::istringstream in(text);
    ReadMessageStream(m, in);
}

// Writes `m` out and reads it back into `again`, as a move to another folder does.
void Reload(TMxMessage& m, TMxMessage& again, const std::string& tempDir = {}) {
    std::ostringstream out;
    WriteMessageStream(m, out);
    again.AttachmentTempDirectory = tempDir;
    Load(again, out.str());
}

const std::string kHead = "From: a@b.ru\r\nSubject: s\r\nMIME-Version: 1.0\r\n"
                          "Content-Type: multipart/mixed; boundary=\"BB\"\r\n\r\n";

} // namespace

TEST(ReaderTest, RoundTripKeepsFieldsAndAttachmentsByteForByte) {
    TempDir dir;
    const std::string big = Bytes(1 << 20, 7), empty, dots = ".\r\n..\r\n.x\n";
    WriteFile(dir / "big.bin", big);
    WriteFile(dir / "empty.dat", empty);
    WriteFile(dir / "dots.txt", dots);
    std::string saved;
    {
        TMxMessage m;
        m.From() = TMxEMailAddressItem(ru("АЗС №5"), "st5@example.ru");
        m.Sender = TMxEMailAddressItem("Station 5", "st5@example.ru");
        m.Recipients.Add(TMxEMailAddressItem("Office", "office@example.ru"));
        m.CCList.Add(TMxEMailAddressItem("", "cc@example.ru"));
        m.BccList.Add(TMxEMailAddressItem("Hidden", "bcc@example.ru"));
        m.Subject = ru("Отчет за смену TZN-Office");
        m.Date = EncodeDateTime(2024, 3, 7, 9, 5, 0);
        m.Priority = TMxMessagePriority::High;
        m.MessageParts.AddAttachment(dir / "big.bin");
        m.MessageParts.AddAttachment(dir / "empty.dat");
        m.MessageParts.AddAttachment(dir / "dots.txt");
        WriteMessageFile(m, dir / "l.eml");
    }
    TMxMessage r;
    r.AttachmentTempDirectory = dir / "";
    r.MaxHeldBytes = 0; // every attachment in a temporary file
    ReadMessageFile(r, dir / "l.eml");
    EXPECT_EQ(r.From().Name, ru("АЗС №5"));
    EXPECT_EQ(r.From().Address, "st5@example.ru");
    EXPECT_EQ(r.Sender.Text(), "Station 5 <st5@example.ru>");
    ASSERT_EQ(r.Recipients.Count(), 1u);
    EXPECT_EQ(r.Recipients[0].Name, "Office");
    EXPECT_EQ(r.CCList.EMailAddresses(), "cc@example.ru");
    EXPECT_EQ(r.BccList.EMailAddresses(), "Hidden <bcc@example.ru>");
    EXPECT_EQ(r.Subject, ru("Отчет за смену TZN-Office"));
    EXPECT_EQ(r.Date, EncodeDateTime(2024, 3, 7, 9, 5, 0)); // the zone is ignored
    EXPECT_EQ(r.Priority, TMxMessagePriority::High);
    EXPECT_EQ(r.Encoding, TMxMessageEncoding::MIME);
    EXPECT_EQ(r.ContentType, "multipart/mixed");
    EXPECT_EQ(r.Body, std::vector<std::string>{"This is a multi-part message in MIME format"});
    ASSERT_EQ(r.MessageParts.Count(), 3u);
    const std::string* want[] = {&big, &empty, &dots};
    const char* names[] = {"big.bin", "empty.dat", "dots.txt"};
    for (size_t i = 0; i < 3; ++i) {
        auto* a = r.MessageParts[i].AsAttachment();
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->PartFileName, names[i]);
        EXPECT_TRUE(a->FileIsTemporary);
        EXPECT_EQ(a->ParentPart, -1);
        EXPECT_EQ(a->ContentType, "application/octet-stream");
        EXPECT_EQ(a->ReadContent(), *want[i]) << names[i];
        EXPECT_EQ(a->StoredPath.substr(a->StoredPath.rfind('/') + 1, 4), "TZNA");
    }
    // Saved again (as a move to another folder does), the letter keeps its parts.
    {
        TMxMessage r2;
        Reload(r, r2, dir / "");
        ASSERT_EQ(r2.MessageParts.Count(), 3u);
        EXPECT_EQ(r2.Body, r.Body);
        EXPECT_EQ(r2.MessageParts[0].AsAttachment()->ReadContent(), big);
    }
    // Saving the content elsewhere refuses to overwrite.
    auto* a0 = r.MessageParts[0].AsAttachment();
    a0->SaveContentTo(dir / "copy.bin");
    EXPECT_EQ(ReadFile(dir / "copy.bin"), big);
    if (const auto e =
            test::Raised<EMxException>([&] { a0->SaveContentTo(dir / "copy.bin"); }, "overwrote")) {
        EXPECT_STREQ(e->what(), "Error saving attachment.");
    }
    // Clearing the letter deletes its temporary files and only those.
    size_t before = CountFiles(dir.Path());
    r.Clear();
    EXPECT_EQ(CountFiles(dir.Path()), before - 3);
}

TEST(ReaderTest, SmallAttachmentsStayInMemoryUpToTheLetterBudget) {
    TempDir dir;
    const std::string a = Bytes(300 << 10, 1), b = Bytes(300 << 10, 2), c = Bytes(600 << 10, 3);
    {
        TMxMessage m;
        m.Subject = "held";
        for (const auto& [name, data] : {std::pair{"a.bin", &a}, {"b.bin", &b}, {"c.bin", &c}}) {
            WriteFile(dir / name, *data);
            m.MessageParts.AddAttachment(dir / name);
        }
        WriteMessageFile(m, dir / "l.eml");
    }
    TempDir temp;
    TMxMessage r;
    r.AttachmentTempDirectory = temp / "";
    r.MaxHeldBytes = 1 << 20;
    ReadMessageFile(r, dir / "l.eml");
    ASSERT_EQ(r.MessageParts.Count(), 3u);
    // a and b fit the letter's budget together; c would pass it and goes to a file.
    const std::string* want[] = {&a, &b, &c};
    for (size_t i = 0; i < 3; ++i) {
        const auto* part = r.MessageParts[i].AsAttachment();
        ASSERT_NE(part, nullptr);
        EXPECT_EQ(part->IsHeld(), i < 2) << i;
        EXPECT_EQ(part->ContentSize(), static_cast<int64_t>(want[i]->size()));
        EXPECT_EQ(part->ReadContent(), *want[i]) << i;
    }
    EXPECT_EQ(CountFiles(temp.Path()), 1u);
    // A held attachment saves and writes out like a stored one.
    r.MessageParts[1].AsAttachment()->SaveContentTo(dir / "b.copy");
    EXPECT_EQ(ReadFile(dir / "b.copy"), b);
    EXPECT_THROW(r.MessageParts[1].AsAttachment()->SaveContentTo(dir / "b.copy"), EMxException);
    TMxMessage r2;
    Reload(r, r2, temp / "");
    ASSERT_EQ(r2.MessageParts.Count(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(r2.MessageParts[i].AsAttachment()->ReadContent(), *want[i]) << i;
    r.Clear();
    r2.Clear();
    EXPECT_EQ(CountFiles(temp.Path()), 0u);
}

TEST(ReaderTest, PreambleGoesToBodyWithDotsUnstuffed) {
    TMxMessage m;
    Load(m, kHead + "first\r\n..dotted\r\n\r\n--BB\r\nContent-Type: text/plain\r\n\r\nt1\r\n"
                    "..t2\r\n\r\n--BB--\r\nepilogue\r\n.\r\n");
    EXPECT_EQ(m.Body, (std::vector<std::string>{"first", ".dotted"}));
    ASSERT_EQ(m.MessageParts.Count(), 1u);
    auto* t = m.MessageParts[0].AsText();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->Body, (std::vector<std::string>{"t1", ".t2"}));
    EXPECT_EQ(t->Boundary, "BB");
}

TEST(ReaderTest, FileWithoutFinalDotLoadsCompletely) {
    TempDir dir;
    const std::string body = kHead + "--BB\r\nContent-Type: text/plain\r\n\r\nlast line";
    for (const std::string& tail : {std::string(), std::string("\r\n"), std::string("\n")}) {
        WriteFile(dir / "x.eml", body + tail);
        TMxMessage m;
        ReadMessageFile(m, dir / "x.eml");
        ASSERT_EQ(m.MessageParts.Count(), 1u) << tail.size();
        EXPECT_EQ(m.MessageParts[0].AsText()->Body, std::vector<std::string>{"last line"});
    }
    // A bare CR at the end as well.
    WriteFile(dir / "x.eml", body + "\r");
    TMxMessage m;
    ReadMessageFile(m, dir / "x.eml");
    EXPECT_EQ(m.MessageParts[0].AsText()->Body, std::vector<std::string>{"last line"});
    if (const auto e =
            test::Raised<EMxMessageCannotLoad>([&] { ReadMessageFile(m, dir / "missing.eml"); })) {
        EXPECT_EQ(std::string(e->what()), "Cannot load message from file " + (dir / "missing.eml"));
    }
}

TEST(ReaderTest, PartNamesAndKinds) {
    const std::string text = kHead +
                             // blanks and Cyrillic become "_", folder paths are cut
                             "--BB\r\nContent-Type: application/x; name=\"" + ru("Отчет 1.zip") +
                             "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + EncodeBase64("A") +
                             "\r\n"
                             "--BB\r\nContent-Type: application/x\r\nContent-Disposition: "
                             "attachment;\r\n\tfilename=\"C:\\data\\sub\\f$1.txt\"\r\n\r\nB\r\n"
                             // a text part with disposition attachment is an attachment
                             "--BB\r\nContent-Type: text/plain\r\nContent-Disposition: "
                             "attachment\r\n\r\nC\r\n"
                             // no Content-Type and no name: an attachment
                             "--BB\r\nX-Other: 1\r\n\r\nD\r\n"
                             // an encoded name
                             "--BB\r\nContent-Type: text/plain; name=\"=?KOI8-R?B?" +
                             EncodeBase64("ab cd") +
                             "?=\"\r\n\r\nE\r\n"
                             // text parts: type without parameters, charset, extra headers
                             "--BB\r\nContent-Type: text/html; charset=\"koi8-r\"\r\n"
                             "Content-ID: <id1>\r\nContent-Description: d\r\nX-Extra :  v\r\n"
                             "\r\n<p>\r\n--BB--\r\n";
    TMxMessage m;
    Load(m, text);
    ASSERT_EQ(m.MessageParts.Count(), 6u);
    const char* names[] = {"______1.zip", "f$1.txt", "", "", "ab_cd", ""};
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(m.MessageParts[i].PartFileName, names[i]) << i;
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(m.MessageParts[i].Kind(), TMxPartKind::Attachment) << i;
    EXPECT_EQ(m.MessageParts[0].AsAttachment()->ReadContent(), "A");
    EXPECT_EQ(m.MessageParts[1].AsAttachment()->ReadContent(), "B");
    EXPECT_EQ(m.MessageParts[3].ExtraHeaders[0], "X-Other=1");
    auto* t = m.MessageParts[5].AsText();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->ContentType, "text/html");
    EXPECT_EQ(t->CharSet, "koi8-r");
    EXPECT_EQ(t->ContentID, "<id1>");
    EXPECT_EQ(t->ContentDescription, "d");
    EXPECT_EQ(t->ExtraHeaders.Values("X-Extra"), "v");
    EXPECT_EQ(t->Headers[0], "Content-Type: text/html; charset=\"koi8-r\"");
}

TEST(ReaderTest, MessageEndingInsidePartHeaderIsAnError) {
    TMxMessage m;
    if (const auto e = test::Raised<EMxException>(
            [&] { Load(m, kHead + "--BB\r\nContent-Type: text/plain\r\n"); })) {
        EXPECT_STREQ(e->what(), "Unknown Message Part Type.");
    }
}

TEST(ReaderTest, NestedMultipartsRecordParentsAndBoundaries) {
    const std::string text =
        kHead + "--BB\r\nContent-Type: multipart/alternative; boundary=\"IN\"\r\n\r\n"
                "--IN\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
                "--IN\r\nContent-Type: text/html\r\n\r\n<b>\r\n"
                "--IN--\r\n"
                "--BB\r\nContent-Type: application/octet-stream; name=a.bin\r\n\r\nZ\r\n"
                "--BB--\r\n";
    TMxMessage m;
    Load(m, text);
    ASSERT_EQ(m.MessageParts.Count(), 4u);
    EXPECT_EQ(m.MessageParts[0].ContentType, "multipart/alternative");
    EXPECT_EQ(m.MessageParts[0].ParentPart, -1);
    EXPECT_EQ(m.MessageParts[1].ParentPart, 0);
    EXPECT_EQ(m.MessageParts[1].Boundary, "IN");
    EXPECT_EQ(m.MessageParts[2].AsText()->Body, std::vector<std::string>{"<b>"});
    EXPECT_EQ(m.MessageParts[3].ParentPart, -1);
    EXPECT_EQ(m.MessageParts[3].Boundary, "BB");
    EXPECT_EQ(m.MessageParts[3].PartFileName, "a.bin");
    // Written again and read back, the structure stays.
    std::ostringstream out;
    WriteMessageStream(m, out);
    TMxMessage again;
    Load(again, out.str());
    ASSERT_EQ(again.MessageParts.Count(), 4u);
    EXPECT_EQ(again.MessageParts[1].ParentPart, 0);
    EXPECT_EQ(again.MessageParts[2].AsText()->Body, std::vector<std::string>{"<b>"});
    EXPECT_EQ(again.MessageParts[3].ParentPart, -1);
    EXPECT_EQ(again.MessageParts[3].AsAttachment()->ReadContent(), "Z");
}

TEST(ReaderTest, UnknownHeadersKeepTheirOrderAcrossLoadAndSave) {
    const std::string text = "Received: from x\r\n\tby y\r\nX-First: 1\r\nFrom: a@b.ru\r\n"
                             "Message-ID: <m1@b>\r\nSubject: old\r\nX-Second: 2\r\n"
                             "Date: Thu, 05 Dec 24 02:30:00 PM +0300\r\n\r\nbody\r\n.\r\n";
    TMxMessage m;
    Load(m, text);
    EXPECT_EQ(m.Date, EncodeDateTime(2024, 12, 5, 14, 30, 0));
    EXPECT_EQ(m.MsgId, "<m1@b>");
    EXPECT_EQ(m.Body, std::vector<std::string>{"body"});
    m.Subject = "new";
    std::ostringstream out;
    WriteMessageStream(m, out);
    std::string s = out.str();
    size_t p[] = {s.find("Received: from x\r\n\tby y"),
                  s.find("X-First: 1"),
                  s.find("From: "),
                  s.find("Message-ID: <m1@b>"),
                  s.find("Subject: new"),
                  s.find("X-Second: 2"),
                  s.find("Date: Thu, 5 Dec 2024 14:30:00")};
    for (size_t i = 0; i < std::size(p); ++i)
        ASSERT_NE(p[i], std::string::npos) << i << "\n" << s;
    for (size_t i = 1; i < std::size(p); ++i)
        EXPECT_LT(p[i - 1], p[i]) << i;
    EXPECT_EQ(s.find("Subject: old"), std::string::npos);
    EXPECT_EQ(s.find("In-Reply-To"), std::string::npos);
}

TEST(ReaderTest, UseNowForDateAcrossSaveAndLoad) {
    TempDir dir;
    TMxMessage m;
    m.From().Address = "a@b.ru";
    m.SetUseNowForDate(true);
    EXPECT_EQ(m.Date, 0);
    TDateTime before = Now();
    WriteMessageFile(m, dir / "a.eml");
    EXPECT_TRUE(m.UseNowForDate()); // saving does not fix the date in the object
    TMxMessage r;
    ReadMessageFile(r, dir / "a.eml");
    EXPECT_FALSE(r.UseNowForDate());
    EXPECT_NEAR(r.Date, before, 2.0 / 86400);
    // Sent later, the loaded letter keeps the time of saving.
    EXPECT_EQ(BuildHeaders(r).Values("Date"), FormatMailDate(r.Date));
    r.SetUseNowForDate(false);
    EXPECT_GT(r.Date, 0);
}

TEST(ReaderTest, HeaderOnlyLoadDoesNotTouchTheBody) {
    TempDir dir;
    // A body that would fail to load (it ends inside a part header) must not matter.
    WriteFile(dir / "h.eml",
              kHead + "--BB\r\nContent-Type: text/plain\r\n" + std::string(200000, 'x'));
    TMxMessage m;
    ReadMessageFile(m, dir / "h.eml", true);
    EXPECT_EQ(m.Subject, "s");
    EXPECT_TRUE(m.MessageParts.Empty());
    EXPECT_TRUE(m.Body.empty());
    EXPECT_THROW(ReadMessageFile(m, dir / "h.eml"), EMxException);
}

TEST(ReaderTest, SinglePartLettersBecomeOnePart) {
    TMxMessage m;
    Load(m, "From: a@b.ru\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=koi8-r\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n\r\nline =\r\none\r\n=2Edot\r\n.\r\n");
    EXPECT_TRUE(m.IsMsgSinglePartMime);
    ASSERT_EQ(m.MessageParts.Count(), 1u);
    auto* t = m.MessageParts[0].AsText();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->Body, (std::vector<std::string>{"line one", ".dot"}));
    EXPECT_EQ(t->CharSet, "koi8-r");
    // Written again as a single part: no duplicated Content-Type.
    std::ostringstream out;
    WriteMessageStream(m, out);
    std::string s = out.str();
    size_t first = s.find("Content-Type:");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(s.find("Content-Type:", first + 1), std::string::npos) << s;
    TMxMessage again;
    Load(again, s);
    ASSERT_EQ(again.MessageParts.Count(), 1u);
    EXPECT_EQ(again.MessageParts[0].AsText()->Body, t->Body);

    TMxMessage att;
    Load(att, "MIME-Version: 1.0\r\nContent-Type: application/pdf; name=\"r.pdf\"\r\n"
              "Content-Transfer-Encoding: base64\r\n\r\n" +
                  EncodeBase64("%PDF") + "\r\n.\r\n");
    ASSERT_EQ(att.MessageParts.Count(), 1u);
    ASSERT_NE(att.MessageParts[0].AsAttachment(), nullptr);
    EXPECT_EQ(att.MessageParts[0].AsAttachment()->ReadContent(), "%PDF");
    EXPECT_EQ(att.MessageParts[0].PartFileName, "r.pdf");
}

TEST(ReaderTest, PlainTextLetterWithUuencodedFile) {
    std::string data = Bytes(200, 3);
    std::string uue;
    TMxEncoderUUE enc;
    enc.EncodeBytes(data, [&](std::string_view l) {
        uue += (!l.empty() && l[0] == '.' ? "." : "") + std::string(l) + "\r\n";
    });
    TMxMessage m;
    Load(m, "From: a@b.ru\r\nSubject: s\r\n\r\nHello\r\n\r\nbegin 644 my file.bin\r\n" + uue +
                "after\r\n.\r\n");
    EXPECT_EQ(m.Encoding, TMxMessageEncoding::Plain);
    EXPECT_EQ(m.Body, (std::vector<std::string>{"Hello", "after"}));
    ASSERT_EQ(m.MessageParts.Count(), 1u);
    auto* a = m.MessageParts[0].AsAttachment();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->PartFileName, "my_file.bin");
    EXPECT_EQ(a->ContentTransfer, "UUE");
    EXPECT_EQ(a->ReadContent(), data);
    // Written again from memory, it is the same file.
    TMxMessage m2;
    Reload(m, m2);
    ASSERT_EQ(m2.MessageParts.Count(), 1u);
    EXPECT_EQ(m2.MessageParts[0].AsAttachment()->ReadContent(), data);
}

TEST(ReaderTest, NoDecodeKeepsRawLines) {
    TMxMessage m;
    m.NoDecode = true;
    std::istringstream in(kHead + "--BB\r\n..x\r\n.y\r\n.\r\n");
    TMxIOHandlerStreamMsg io(&in);
    ASSERT_EQ(ReadHeaderBlock(io, m, ""), "");
    ReadBodyBlock(io, m, ".");
    // Only a stuffed ".." line loses its first dot.
    EXPECT_EQ(m.Body, (std::vector<std::string>{"--BB", ".x", ".y"}));
    EXPECT_TRUE(m.MessageParts.Empty());
}

TEST(ReaderTest, DatesAndParameters) {
    EXPECT_EQ(ParseMailDate("Mon, 7 Dec 2026 21:22:18 +0000"),
              EncodeDateTime(2026, 12, 7, 21, 22, 18));
    EXPECT_EQ(ParseMailDate("7 Dec 79 01:02:03"), EncodeDateTime(2079, 12, 7, 1, 2, 3));
    EXPECT_EQ(ParseMailDate("7 Dec 80 01:02"), EncodeDateTime(1980, 12, 7, 1, 2, 0));
    EXPECT_EQ(ParseMailDate("Sat, 12 Jan 2002 12:00:00 AM -0500 (EST)"),
              EncodeDateTime(2002, 1, 12, 0, 0, 0));
    EXPECT_EQ(ParseMailDate("Thu, 05 Dec 24 02:30:00PM +0300"),
              EncodeDateTime(2024, 12, 5, 14, 30, 0));
    EXPECT_EQ(ParseMailDate("5 Dec 2024 12:10am"), EncodeDateTime(2024, 12, 5, 0, 10, 0));
    EXPECT_EQ(ParseMailDate("garbage"), 0);
    EXPECT_EQ(ParseMailDate("31 Feb 2024 10:00:00"), 0);
    // A field that overflows is unreadable, never wrapped into a plausible value.
    EXPECT_EQ(ParseMailDate("5 Dec 4294969296"), 0);
    EXPECT_EQ(ParseMailDate("5 Dec 2024 4294967306:00:00"), 0);
    EXPECT_EQ(ParseMailDate("5 Dec 2024 10:4294967306:00"), 0);
    EXPECT_EQ(ParseMailDate("5 Dec 2024 10:00:x"), 0);
    // A zone with a colon is still a zone, not the clock time.
    EXPECT_EQ(ParseMailDate("5 Dec 2024 10:20:30 +03:00"), EncodeDateTime(2024, 12, 5, 10, 20, 30));
    EXPECT_EQ(HeaderParam("text/plain; CharSet=\"a;b\"; x=1", "charset"), "a;b");
    EXPECT_EQ(HeaderParam("attachment; filename=plain.txt ; size=3", "filename"), "plain.txt");
    EXPECT_EQ(HeaderParam("attachment; filename*=utf-8''%41%20b.txt", "filename"), "A b.txt");
    EXPECT_EQ(HeaderParam("attachment; filename*0=\"ab\"; filename*1=\"cd\"", "filename"), "abcd");
    EXPECT_EQ(HeaderParam("text/plain", "charset"), "");
    // A quoted Windows path keeps its backslashes; only \" and \\ are escapes.
    EXPECT_EQ(HeaderParam("attachment; filename=\"C:\\d\\f.txt\"", "filename"), "C:\\d\\f.txt");
    EXPECT_EQ(HeaderParam("x; name=\"a\\\"b\\\\c\"", "name"), "a\"b\\c");
}

TEST(ReaderTest, PartCannotBeCreatedByItself) {
    if (const auto e = test::Raised<EMxCanNotCreateMessagePart>([&] { TMxMessagePart p; })) {
        EXPECT_STREQ(e->what(), "TMxMessagePart can not be created.  Use descendant classes. ");
    }
    TempDir dir;
    WriteFile(dir / "keep.bin", "k");
    {
        TMxAttachmentFile a(dir / "keep.bin");
        EXPECT_EQ(a.PartFileName, "keep.bin");
        EXPECT_FALSE(a.FileIsTemporary);
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "keep.bin"));
    {
        TMxAttachmentFile a(dir / "keep.bin");
        a.FileIsTemporary = true;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "keep.bin"));
}
