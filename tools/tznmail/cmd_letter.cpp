// Letter commands: show a stored-message file, extract its attachments, and make one with
// the module's own reader and writer.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "commands.h"
#include "json.h"
#include "mail/exceptions.h"
#include "mail/message.h"
#include "mail/message_reader.h"
#include "mail/message_writer.h"
#include "mail/sha256.h"
#include "platform/cp1251.h"
#include "platform/datetime.h"
#include "platform/paths.h"

namespace tzn::tool {

namespace {

std::string U(const std::string& cp1251) {
    return Utf8FromCp1251(cp1251);
}

struct TDigest {
    long long Size = 0;
    std::string Sha256;
};

TDigest DigestOf(std::string_view data) {
    return {static_cast<long long>(data.size()), Sha256Hex(data)};
}

// Streams the file through the digest; an attachment is never read whole into memory.
TDigest DigestOfFile(const std::string& path) {
    int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("cannot read " + path);
    TMxSha256 sha;
    std::unique_ptr<char[]> buf(new char[1 << 16]);
    TDigest d;
    ssize_t n;
    while ((n = ::read(fd, buf.get(), 1 << 16)) > 0) {
        sha.Update(std::string_view(buf.get(), static_cast<size_t>(n)));
        d.Size += n;
    }
    ::close(fd);
    if (n < 0)
        throw std::runtime_error("cannot read " + path);
    d.Sha256 = sha.HexDigest();
    return d;
}

TDigest DigestOfPart(const TMxAttachmentFile& part) {
    return part.IsHeld() ? DigestOf(part.Held()) : DigestOfFile(part.StoredPath);
}

bool IsUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
        if (n == 9 || i + n >= s.size())
            return false;
        for (size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2)
                return false;
        i += n + 1;
    }
    return true;
}

std::string TextContent(const TMxText& t) {
    std::string s;
    for (size_t i = 0; i < t.Body.size(); ++i)
        s += (i ? "\r\n" : "") + t.Body[i];
    return s;
}

std::string IsoDate(TDateTime dt) {
    if (dt == 0)
        return {};
    return FormatDateTime("yyyy\"-\"mm\"-\"dd\"T\"hh\":\"nn\":\"ss", dt);
}

void Address(TJsonWriter& j, const TMxEMailAddressItem& a) {
    j.BeginObject();
    j.Key("name");
    j.String(U(a.Name));
    j.Key("address");
    j.String(U(a.Address));
    j.Key("text");
    j.String(U(a.Text()));
    j.EndObject();
}

void AddressArray(TJsonWriter& j, const TMxEMailAddressList& l) {
    j.BeginArray();
    for (const auto& a : l)
        Address(j, a);
    j.EndArray();
}

std::vector<std::string> Utf8Lines(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    out.reserve(lines.size());
    for (const auto& l : lines)
        out.push_back(U(l));
    return out;
}

void ShowJson(TMxMessage& m) {
    TJsonWriter j;
    j.BeginObject();
    j.Key("from");
    Address(j, m.FromList.Empty() ? TMxEMailAddressItem() : m.FromList[0]);
    j.Key("sender");
    Address(j, m.Sender);
    j.Key("to");
    AddressArray(j, m.Recipients);
    j.Key("cc");
    AddressArray(j, m.CCList);
    j.Key("bcc");
    AddressArray(j, m.BccList);
    j.Key("subject");
    j.String(U(m.Subject));
    j.Key("date");
    if (m.Date == 0)
        j.Null();
    else
        j.String(IsoDate(m.Date));
    j.Key("content_type");
    j.String(U(m.ContentType));
    j.Key("charset");
    j.String(U(m.CharSet));
    j.Key("encoding");
    j.String(m.Encoding == TMxMessageEncoding::MIME ? "mime" : "plain");
    j.Key("headers");
    j.BeginArray();
    for (size_t i = 0; i < m.Headers.Count(); ++i) {
        std::string name = m.Headers.Name(i);
        if (name.empty())
            continue;
        j.BeginArray();
        j.String(U(name));
        j.String(U(m.Headers.ValueFromIndex(i)));
        j.EndArray();
    }
    j.EndArray();
    j.Key("body");
    j.StringArray(Utf8Lines(m.Body));
    j.Key("parts");
    j.BeginArray();
    for (size_t i = 0; i < m.MessageParts.Count(); ++i) {
        const TMxMessagePart& p = m.MessageParts[i];
        const TMxText* t = p.AsText();
        TDigest d = t ? DigestOf(TextContent(*t)) : DigestOfPart(*p.AsAttachment());
        j.BeginObject();
        j.Key("kind");
        j.String(t ? "text" : "attachment");
        j.Key("content_type");
        j.String(U(p.ContentType));
        j.Key("charset");
        j.String(U(p.CharSet));
        j.Key("transfer");
        j.String(U(p.ContentTransfer));
        j.Key("disposition");
        j.String(U(p.ContentDisposition));
        j.Key("file_name");
        j.String(U(p.PartFileName));
        j.Key("parent");
        j.Number(p.ParentPart);
        j.Key("size");
        j.Number(d.Size);
        j.Key("sha256");
        j.String(d.Sha256);
        if (t) {
            j.Key("body");
            j.StringArray(Utf8Lines(t->Body));
        }
        j.EndObject();
    }
    j.EndArray();
    j.EndObject();
    std::printf("%s\n", j.Text().c_str());
}

void ShowText(TMxMessage& m) {
    auto line = [](const char* name, const std::string& v) {
        if (!v.empty())
            std::printf("%s: %s\n", name, U(v).c_str());
    };
    line("From", m.FromList.EMailAddresses());
    line("Sender", m.Sender.Text());
    line("To", m.Recipients.EMailAddresses());
    line("Cc", m.CCList.EMailAddresses());
    line("Bcc", m.BccList.EMailAddresses());
    line("Subject", m.Subject);
    line("Date", m.Date == 0 ? std::string() : DateTimeToStr(m.Date));
    line("Content-Type", m.ContentType + (m.CharSet.empty() ? "" : "; charset=" + m.CharSet));
    std::printf("Encoding: %s\n", m.Encoding == TMxMessageEncoding::MIME ? "mime" : "plain");
    std::printf("\nHeaders:\n");
    for (const auto& h : m.Headers.Lines())
        std::printf("  %s\n", U(h).c_str());
    std::printf("\nBody (%zu lines):\n", m.Body.size());
    for (const auto& l : m.Body)
        std::printf("  %s\n", U(l).c_str());
    std::printf("\nParts (%zu):\n", m.MessageParts.Count());
    for (size_t i = 0; i < m.MessageParts.Count(); ++i) {
        const TMxMessagePart& p = m.MessageParts[i];
        const TMxText* t = p.AsText();
        TDigest d = t ? DigestOf(TextContent(*t)) : DigestOfPart(*p.AsAttachment());
        std::printf("  [%zu] %s %s transfer=%s parent=%d size=%lld sha256=%s", i,
                    t ? "text" : "attachment", U(p.ContentType).c_str(),
                    U(p.ContentTransfer).c_str(), p.ParentPart, d.Size, d.Sha256.c_str());
        if (!p.PartFileName.empty())
            std::printf(" name=\"%s\"", U(p.PartFileName).c_str());
        std::printf("\n");
        if (t)
            for (const auto& l : t->Body)
                std::printf("      %s\n", U(l).c_str());
    }
}

int Show(const std::vector<std::string>& args) {
    bool json = false;
    std::string file;
    for (const auto& a : args) {
        if (a == "--json")
            json = true;
        else if (file.empty() && a.rfind("--", 0) != 0)
            file = a;
        else {
            std::fprintf(stderr, "usage: tznmail letter show FILE [--json]\n");
            return Usage;
        }
    }
    if (file.empty()) {
        std::fprintf(stderr, "usage: tznmail letter show FILE [--json]\n");
        return Usage;
    }
    TMxMessage m;
    ReadMessageFile(m, file);
    if (json)
        ShowJson(m);
    else
        ShowText(m);
    return Ok;
}

// A name that may safely become a file in the target folder.
std::string SafeName(const std::string& name, size_t index) {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of("/\\") != std::string::npos)
        return "attachment" + std::to_string(index + 1) + ".bin";
    return name;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\'))
        return dir + name;
    return dir + (dir.find('\\') != std::string::npos && dir[0] != '/' ? "\\" : "/") + name;
}

int Extract(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: tznmail letter extract FILE DIR\n");
        return Usage;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(NativePath(args[1]), ec)) {
        std::fprintf(stderr, "tznmail: no such folder: %s\n", args[1].c_str());
        return Failed;
    }
    TMxMessage m;
    ReadMessageFile(m, args[0]);
    int rc = Ok;
    for (size_t i = 0; i < m.MessageParts.Count(); ++i) {
        const TMxAttachmentFile* a = m.MessageParts[i].AsAttachment();
        if (!a)
            continue;
        // Names are CP1251 inside; the file system takes UTF-8.
        std::string name = U(SafeName(a->PartFileName, i));
        std::string target = JoinPath(args[1], name);
        try {
            a->SaveContentTo(target);
            std::printf("%s\n", target.c_str());
        } catch (const EMxException& e) {
            std::fprintf(stderr, "tznmail: %s: %s\n", target.c_str(), e.what());
            rc = Failed;
        }
    }
    return rc;
}

int Make(const std::vector<std::string>& args) {
    const char* usage = "usage: tznmail letter make --from \"NAME <ADDR>\" --to \"NAME <ADDR>\" "
                        "[--to ...] [--cc ...] [--bcc ...] --subject TEXT [--body-file F] "
                        "[--attach FILE ...] --out FILE\n";
    TMxMessage m;
    std::string out, bodyFile;
    bool haveFrom = false, haveSubject = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "%s", usage);
            return Usage;
        }
        const std::string& v = args[++i];
        if (a == "--from") {
            m.From().SetText(ru(v));
            m.Sender = m.From();
            haveFrom = true;
        } else if (a == "--to")
            m.Recipients.Add(TMxEMailAddressItem(ru(v)));
        else if (a == "--cc")
            m.CCList.Add(TMxEMailAddressItem(ru(v)));
        else if (a == "--bcc")
            m.BccList.Add(TMxEMailAddressItem(ru(v)));
        else if (a == "--subject") {
            m.Subject = ru(v);
            haveSubject = true;
        } else if (a == "--body-file")
            bodyFile = v;
        else if (a == "--attach") {
            if (!std::filesystem::is_regular_file(v)) {
                std::fprintf(stderr, "tznmail: no such file: %s\n", v.c_str());
                return Failed;
            }
            auto& part = m.MessageParts.AddAttachment(v);
            part.PartFileName = ru(std::filesystem::path(v).filename().string());
        } else if (a == "--out")
            out = v;
        else {
            std::fprintf(stderr, "%s", usage);
            return Usage;
        }
    }
    if (!haveFrom || m.Recipients.Empty() || !haveSubject || out.empty()) {
        std::fprintf(stderr, "%s", usage);
        return Usage;
    }
    if (!bodyFile.empty()) {
        std::ifstream in(bodyFile, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "tznmail: cannot read %s\n", bodyFile.c_str());
            return Failed;
        }
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // A body written on this system is UTF-8; a letter text from the station's own
        // files is CP1251, which is almost never valid UTF-8, and is kept as it is.
        if (IsUtf8(text))
            text = ru(text);
        size_t start = 0;
        while (start < text.size()) {
            size_t nl = text.find('\n', start);
            std::string l = text.substr(start, nl == std::string::npos ? nl : nl - start);
            if (!l.empty() && l.back() == '\r')
                l.pop_back();
            m.Body.push_back(l);
            if (nl == std::string::npos)
                break;
            start = nl + 1;
        }
    }
    if (std::filesystem::exists(NativePath(out))) {
        std::fprintf(stderr, "tznmail: %s exists; a letter file is never overwritten\n",
                     out.c_str());
        return Failed;
    }
    m.SetUseNowForDate(true);
    WriteMessageFile(m, out);
    return Ok;
}

TCommandRegistrar
    showCmd({"letter", "show", "letter show FILE [--json]", Show,
             "tznmail letter show $TZN_ROOT/C/PLAV/OFFICE/MAIL/InBox/1208-101500-1.eml"});
TCommandRegistrar extractCmd({"letter", "extract", "letter extract FILE DIR", Extract,
                              "tznmail letter extract InBox/1208-101500-1.eml /tmp/parts"});
TCommandRegistrar
    makeCmd({"letter", "make",
             "letter make --from \"NAME <ADDR>\" --to \"NAME <ADDR>\" [--to ...] "
             "[--cc ...] [--bcc ...] --subject TEXT [--body-file F] "
             "[--attach FILE ...] --out FILE",
             Make,
             "tznmail letter make --from \"12 <azs12@example.ru>\" --to \"Office "
             "<office@example.ru>\" --subject TZN-Office --attach report.tar.gz --out report.eml"});

} // namespace

} // namespace tzn::tool
