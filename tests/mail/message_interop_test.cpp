// Interoperability with Python's standard email package (run as a separate process): it
// reads our letters, and we read letters it generates, with the same parts and bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>

#include "mail/message.h"
#include "mail/message_reader.h"
#include "mail/message_test_util.h"
#include "mail/message_writer.h"
#include "mail/sha256.h"
#include "platform/cp1251.h"

using namespace tzn;
using tzn::test::Bytes;
using tzn::test::ReadFile;
using tzn::test::TempDir;
using tzn::test::WriteFile;

namespace {

std::string Hex(const std::string& data) {
    std::string hex;
    char b[3];
    for (unsigned char c : data) {
        std::snprintf(b, sizeof b, "%02x", c);
        hex += b;
    }
    return hex;
}

// Runs python3 on `script` with `args`; returns its standard output (empty on failure).
std::string RunPython(const TempDir& dir, const std::string& script, const std::string& args) {
    WriteFile(dir / "script.py", script);
    std::string cmd = "python3 '" + (dir / "script.py") + "' " + args + " 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return {};
    std::string out;
    char buf[4096];
    while (size_t n = std::fread(buf, 1, sizeof buf, p))
        out.append(buf, n);
    int rc = ::pclose(p);
    return rc == 0 ? out : "python failed: " + out;
}

std::map<std::string, std::string> KeyValues(const std::string& text) {
    std::map<std::string, std::string> kv;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            kv[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return kv;
}

const char* kReadOurs = R"PY(
import sys, hashlib
from email import policy
from email.parser import BytesParser
from email.header import decode_header
raw = open(sys.argv[1], 'rb').read()
assert raw.endswith(b'\r\n.\r\n')
msg = BytesParser(policy=policy.compat32).parsebytes(raw[:-3])
subj = b''.join(p if isinstance(p, bytes) else p.encode('latin-1') for p, cs in decode_header(msg['Subject']))
print('subject=' + subj.hex())
print('to=' + str(msg['To']))
print('multipart=' + str(msg.is_multipart()))
n = 0
for part in msg.walk():
    if part.is_multipart():
        continue
    data = part.get_payload(decode=True)
    print('file%d=%s' % (n, part.get_filename()))
    print('sha%d=%s' % (n, hashlib.sha256(data).hexdigest()))
    n += 1
print('count=%d' % n)
)PY";

const char* kMakeLetters = R"PY(
import sys, hashlib
from email.message import EmailMessage, MIMEPart
from email.header import Header
from email import policy
out = sys.argv[1]
data = bytes((i * 7 + 3) % 256 for i in range(70000))

m = EmailMessage()
m['From'] = 'Python <py@example.ru>'
m['To'] = 'Office <office@example.ru>'
m['Subject'] = 'SUBJECT-PLACEHOLDER'
m.set_content('Plain text line one\nline two with = sign and a long line ' + 'x' * 100 + '\n',
              cte='quoted-printable')
m.add_alternative('<html><body><p>Hello</p></body></html>\n', subtype='html')
subject = Header('Отчет о смене'.encode('cp1251'), 'windows-1251').encode().encode('ascii')
open(out + '/alt.eml', 'wb').write(
    m.as_bytes(policy=policy.SMTP).replace(b'SUBJECT-PLACEHOLDER', subject))

r = EmailMessage()
r['From'] = 'py@example.ru'
r['To'] = 'office@example.ru'
r['Subject'] = Header('Data', 'iso-8859-1').encode()
r.set_content('related body\n')
r.make_related()
inner = MIMEPart()
inner.set_content('inner text\n')
inner.make_mixed()
inner.add_attachment(data, maintype='application', subtype='octet-stream', filename='data.bin')
r.attach(inner)
open(out + '/nested.eml', 'wb').write(r.as_bytes(policy=policy.SMTP))

for name, msg in (('alt', m), ('nested', r)):
    leaves = [p for p in msg.walk() if not p.is_multipart()]
    with open(out + '/' + name + '.expect', 'w') as f:
        f.write('count=%d\n' % len(leaves))
        for i, p in enumerate(leaves):
            b = p.get_payload(decode=True).replace(b'\r\n', b'\n').rstrip(b'\n')
            f.write('type%d=%s\n' % (i, p.get_content_type()))
            f.write('sha%d=%s\n' % (i, hashlib.sha256(b).hexdigest()))
            f.write('file%d=%s\n' % (i, p.get_filename() or ''))
print('ok')
)PY";

} // namespace

TEST(MessageInteropTest, PythonReadsOurLetters) {
    TempDir dir;
    std::string bin = Bytes(300000, 5), text = "line 1\r\n.line 2\r\n\r\n";
    WriteFile(dir / "report.dat", bin);
    WriteFile(dir / "note.txt", text);
    TMxMessage m;
    m.From() = TMxEMailAddressItem("Station 7", "st7@example.ru");
    m.Sender = m.From();
    m.Recipients.Add(TMxEMailAddressItem("Office", "office@example.ru"));
    m.Subject = ru("Отчет TZN-Office");
    m.MessageParts.AddAttachment(dir / "report.dat");
    m.MessageParts.AddAttachment(dir / "note.txt");
    m.SetUseNowForDate(true);
    WriteMessageFile(m, dir / "ours.eml");
    auto kv = KeyValues(RunPython(dir, kReadOurs, "'" + (dir / "ours.eml") + "'"));
    ASSERT_EQ(kv["count"], "2") << ReadFile(dir / "ours.eml").substr(0, 600);
    EXPECT_EQ(kv["subject"], Hex(ru("Отчет TZN-Office"))); // the same bytes, label aside
    EXPECT_EQ(kv["to"], "\"Office\" <office@example.ru>");
    EXPECT_EQ(kv["multipart"], "True");
    EXPECT_EQ(kv["file0"], "report.dat");
    EXPECT_EQ(kv["sha0"], Sha256Hex(bin));
    EXPECT_EQ(kv["file1"], "note.txt");
    EXPECT_EQ(kv["sha1"], Sha256Hex(text));
}

TEST(MessageInteropTest, WeReadLettersPythonGenerates) {
    TempDir dir;
    ASSERT_EQ(RunPython(dir, kMakeLetters, "'" + dir.Path() + "'"), "ok\n");
    for (const std::string name : {"alt", "nested"}) {
        auto want = KeyValues(ReadFile(dir / (name + ".expect")));
        TMxMessage m;
        m.AttachmentTempDirectory = dir.Path();
        ReadMessageFile(m, dir / (name + ".eml"));
        std::vector<const TMxMessagePart*> leaves;
        for (size_t i = 0; i < m.MessageParts.Count(); ++i)
            if (m.MessageParts[i].ContentType.rfind("multipart/", 0) != 0)
                leaves.push_back(&m.MessageParts[i]);
        ASSERT_EQ(std::to_string(leaves.size()), want["count"]) << name;
        for (size_t i = 0; i < leaves.size(); ++i) {
            std::string k = std::to_string(i);
            const TMxMessagePart& p = *leaves[i];
            EXPECT_EQ(p.ContentType, want["type" + k]) << name << i;
            EXPECT_EQ(p.PartFileName, want["file" + k]) << name << i;
            std::string content;
            if (auto* t = p.AsText()) {
                for (const auto& l : t->Body)
                    content += l + "\n";
            } else {
                content = p.AsAttachment()->ReadContent();
                for (size_t at; (at = content.find("\r\n")) != std::string::npos;)
                    content.erase(at, 1);
            }
            while (!content.empty() && content.back() == '\n')
                content.pop_back();
            EXPECT_EQ(Sha256Hex(content), want["sha" + k])
                << name << i << ": " << content.substr(0, 200);
        }
        if (name == "alt") {
            EXPECT_EQ(m.Subject, ru("Отчет о смене"));
            EXPECT_EQ(m.From().Name, "Python");
            EXPECT_EQ(m.ContentType, "multipart/alternative");
        } else {
            EXPECT_EQ(m.Subject, "Data");
            EXPECT_EQ(m.ContentType, "multipart/related");
        }
    }
}

// The form a delivery sends: a reader of today shows the Cyrillic subject, names and text
// without mojibake, strict servers find only ASCII headers and no line over 998 bytes, the
// subject tag stays a bare word, and our own reader gets back exactly what was written.
TEST(MessageInteropTest, DeliveryFormReadsRightInPythonAndInOurReader) {
    TempDir dir;
    const std::string longLine = ru("Итого: ") + std::string(3000, 'x') + ru(" конец");
    const std::vector<std::string> text = {ru("Сменный отчет АЗС №12"), longLine, "ascii"};
    WriteFile(dir / "data.dat", "payload");
    TMxMessage m;
    m.From() = TMxEMailAddressItem(ru("АЗС №12, Северная"), "azs12@example.ru");
    m.Recipients.Add(TMxEMailAddressItem(ru("Офис"), "office@example.ru"));
    m.Subject = ru("TZN-Office Отчет за смену 5");
    m.MessageParts.AddText(text);
    m.MessageParts.AddAttachment(dir / "data.dat");
    std::ostringstream out;
    WriteMessageStream(m, out,
                       {.EncodeHeaderWords = false,
                        .HeaderCharSet = "windows-1251",
                        .TextCharSet = "windows-1251"});
    const std::string wire = out.str();
    WriteFile(dir / "wire.eml", wire);

    const std::string head = wire.substr(0, wire.find("\r\n\r\n"));
    for (unsigned char c : head)
        ASSERT_LT(c, 128) << head;
    EXPECT_NE(head.find("Subject: TZN-Office =?windows-1251?B?"), std::string::npos) << head;
    for (size_t at = 0, end; (end = wire.find("\r\n", at)) != std::string::npos; at = end + 2)
        ASSERT_LE(end - at, 998u);

    const char* script = R"PY(
import sys
from email import policy
from email.parser import BytesParser
raw = open(sys.argv[1], 'rb').read()
msg = BytesParser(policy=policy.default).parsebytes(raw[:-3])
out = {'subject': str(msg['Subject']), 'from': msg['From'].addresses[0].display_name,
       'to': msg['To'].addresses[0].display_name}
for part in msg.walk():
    if part.get_content_type() == 'text/plain':
        out['text'] = part.get_content()
sys.stdout.buffer.write('\n'.join(k + '=' + v.replace('\r\n', '\n').replace('\n', '|') for k, v in out.items()).encode('utf-8'))
)PY";
    auto kv = KeyValues(RunPython(dir, script, "'" + (dir / "wire.eml") + "'"));
    EXPECT_EQ(kv["subject"], "TZN-Office Отчет за смену 5");
    EXPECT_EQ(kv["from"], "АЗС №12, Северная");
    EXPECT_EQ(kv["to"], "Офис");
    EXPECT_TRUE(kv["text"] ==
                "Сменный отчет АЗС №12|Итого: " + std::string(3000, 'x') + " конец|ascii|")
        << kv["text"].substr(0, 120);

    TMxMessage back;
    ReadMessageFile(back, dir / "wire.eml");
    EXPECT_EQ(back.Subject, m.Subject);
    EXPECT_EQ(back.From().Name, m.From().Name);
    EXPECT_EQ(back.Recipients[0].Name, ru("Офис"));
    ASSERT_GE(back.MessageParts.Count(), 1u);
    const TMxText* t = back.MessageParts[0].AsText();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->Body, text);
}
