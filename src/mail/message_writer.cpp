#include "mail/message_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

#include "mail/codecs.h"
#include "mail/exceptions.h"
#include "mail/header_coding.h"
#include "mail/mail_date.h"
#include "mail/mime_boundary.h"
#include "mail/text_util.h"
#include "platform/cp1251.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace tzn {

namespace {

constexpr std::string_view kPreamble = "This is a multi-part message in MIME format";
constexpr size_t kOutChunk = 1 << 16;
constexpr size_t kFileBufferSize = 1 << 16;

bool SameText(std::string_view a, std::string_view b) {
    return AnsiSameText(a, b);
}

bool OneOf(std::string_view v, std::initializer_list<std::string_view> list) {
    for (auto item : list)
        if (SameText(v, item))
            return true;
    return false;
}

// Longer lines break the mail line limit (RFC 5322: 998 bytes), which strict servers enforce.
constexpr size_t kMaxMailLine = 998;

bool HasLongLine(const std::vector<std::string>& lines) {
    for (const auto& l : lines)
        if (l.size() > kMaxMailLine)
            return true;
    return false;
}

bool Has8Bit(const std::vector<std::string>& lines) {
    for (const auto& l : lines)
        for (unsigned char c : l)
            if (c >= 0x80)
                return true;
    return false;
}

bool IsBlankText(const std::vector<std::string>& lines) {
    for (const auto& l : lines)
        for (char c : l)
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
                return false;
    return true;
}

// The type without a charset parameter of its own.
std::string WithoutCharset(const std::string& type) {
    std::string out;
    size_t start = 0;
    while (start <= type.size()) {
        size_t end = type.find(';', start);
        std::string piece = type.substr(start, end == std::string::npos ? end : end - start);
        size_t b = piece.find_first_not_of(" \t");
        bool isCharset = b != std::string::npos && StartsWithText(piece.substr(b), "charset=");
        if (!isCharset) {
            if (!out.empty())
                out += ';';
            out += piece;
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '\t'))
        out.pop_back();
    return out;
}

// The disposition's own value: a loaded part keeps its parameters (the file name above all),
// which the writer adds again on a line of their own.
std::string DispositionValue(const std::string& disposition) {
    return std::string(
        TrimRightBlanks(std::string_view(disposition).substr(0, disposition.find(';'))));
}

// Lines of the body collect here and go to the handler in large pieces; every line that
// begins with "." is stuffed, so no content line can end the letter early.
// The body's bytes on their way out, in blocks of at least kOutChunk. The block lives inside the
// object (which callers keep on the stack): a heap block of this size comes back as fresh pages for
// every letter once the allocator has given it back, and those faults cost more than the
// encoding itself.
class TMxBodyOut {
public:
    explicit TMxBodyOut(TMxIOHandler& io) : FIo(io) {}
    ~TMxBodyOut() = default;
    TMxBodyOut(const TMxBodyOut&) = delete;
    TMxBodyOut& operator=(const TMxBodyOut&) = delete;

    void Line(std::string_view s) {
        if (!s.empty() && s[0] == '.')
            Raw(".");
        Raw(s);
        Raw("\r\n");
    }
    void Raw(std::string_view s) {
        if (s.size() > kCapacity - FLen) {
            Flush();
            if (s.size() >= kCapacity) {
                FIo.WriteText(s);
                return;
            }
        }
        std::memcpy(FBuf + FLen, s.data(), s.size());
        Commit(s.size());
    }
    // At least `n` (at most kRoom) writable bytes; Commit hands back how many were filled.
    static constexpr size_t kRoom = 1 << 15;
    char* Room(size_t n) {
        if (n > kCapacity - FLen)
            Flush();
        return FBuf + FLen;
    }
    // Blocks go out once they reach kOutChunk, so every write but the last is at least that
    // large and the end of the data never travels alone.
    void Commit(size_t n) {
        FLen += n;
        if (FLen >= kOutChunk)
            Flush();
    }
    void Flush() {
        if (FLen)
            FIo.WriteText(std::string_view(FBuf, FLen));
        FLen = 0;
    }

private:
    TMxIOHandler& FIo;
    static constexpr size_t kCapacity = kOutChunk + kRoom;
    size_t FLen = 0;
    char FBuf[kCapacity];
};

// Reads an attachment's content in large blocks, from memory or from its file; a missing
// file is an error.
class TMxContentIn {
public:
    explicit TMxContentIn(const TMxAttachmentFile& part) : FPath(part.StoredPath) {
        if (part.IsHeld()) {
            FHeld = part.Held();
            return;
        }
        FFd = ::open(NativePath(FPath).c_str(), O_RDONLY | O_CLOEXEC);
        if (FFd < 0)
            throw EMxException("Cannot open attachment file " + FPath);
    }
    ~TMxContentIn() {
        if (FFd >= 0)
            ::close(FFd);
    }
    TMxContentIn(const TMxContentIn&) = delete;
    TMxContentIn& operator=(const TMxContentIn&) = delete;
    // Fills up to n bytes (short only at the end of the content).
    size_t Read(char* buf, size_t n) {
        if (FFd < 0) {
            const size_t got = std::min(n, FHeld.size());
            std::memcpy(buf, FHeld.data(), got);
            FHeld.remove_prefix(got);
            return got;
        }
        size_t got = 0;
        while (got < n) {
            ssize_t r = ::read(FFd, buf + got, n - got);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0)
                throw EMxException("Error reading attachment file " + FPath);
            if (r == 0)
                break;
            got += static_cast<size_t>(r);
        }
        return got;
    }

private:
    int FFd = -1;
    std::string_view FHeld;
    std::string FPath;
};

void WriteBase64Content(TMxBodyOut& out, const TMxAttachmentFile& part) {
    TMxContentIn in(part);
    constexpr size_t kLines = 256;
    constexpr size_t kIn = kMxBase64LineBytes * kLines;
    char src[kIn]; // on the stack for the reason TMxBodyOut gives
    while (true) {
        size_t n = in.Read(src, kIn);
        if (n == 0)
            break;
        static_assert(kLines * (kMxBase64LineBytes / 3 * 4 + 2) <= TMxBodyOut::kRoom);
        char* const start = out.Room(kLines * (kMxBase64LineBytes / 3 * 4 + 2));
        char* o = start;
        for (size_t off = 0; off < n; off += kMxBase64LineBytes) {
            size_t len = std::min(kMxBase64LineBytes, n - off);
            o += EncodeBase64To(reinterpret_cast<const unsigned char*>(src) + off, len, o);
            *o++ = '\r';
            *o++ = '\n';
        }
        out.Commit(static_cast<size_t>(o - start));
        if (n < kIn)
            break;
    }
}

// Splits the content into lines (CR LF, LF) without holding more than one block and one line.
template <class Fn> void ForEachContentLine(const TMxAttachmentFile& part, Fn&& fn) {
    TMxContentIn in(part);
    std::unique_ptr<char[]> buf(new char[kOutChunk]);
    std::string line;
    while (size_t n = in.Read(buf.get(), kOutChunk)) {
        for (size_t i = 0; i < n; ++i) {
            char c = buf[i];
            if (c == '\n') {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                fn(std::string_view(line));
                line.clear();
            } else
                line += c;
        }
        if (n < kOutChunk)
            break;
    }
    if (!line.empty())
        fn(std::string_view(line));
}

void WriteExtraHeaders(TMxBodyOut& out, const TMxHeaderList& extra) {
    // Parts read from a letter keep "name=value"; on the wire every header is "name: value".
    for (size_t i = 0; i < extra.Count(); ++i) {
        const std::string& line = extra[i];
        if (extra.Separator() != ": " && !line.empty() && line[0] != ' ' && line[0] != '\t') {
            std::string name = extra.Name(i);
            size_t p = line.find(extra.Separator().empty() ? ':' : extra.Separator()[0]);
            if (!name.empty() && p != std::string::npos) {
                out.Line(name + ": " + line.substr(p + 1));
                continue;
            }
        }
        out.Line(line);
    }
}

std::string TextOf(const std::vector<std::string>& lines) {
    std::string t;
    for (const auto& l : lines) {
        t += l;
        t += "\r\n";
    }
    return t;
}

void WriteTextPart(TMxBodyOut& out, const TMxText& part, std::string_view type,
                   std::string_view transfer, const std::string& textCharSet) {
    std::string ct = type.empty() ? (part.ContentType.empty() ? "text/plain" : part.ContentType)
                                  : std::string(type);
    std::string charSet = part.CharSet;
    if (charSet.empty() && Has8Bit(part.Body) && ct.find("charset=") == std::string::npos)
        charSet = textCharSet;
    if (!charSet.empty())
        out.Line("Content-Type: " + WithoutCharset(ct) + " ; charset=\"" + charSet + "\"");
    else
        out.Line("Content-Type: " + ct);
    std::string cte = transfer.empty() ? (part.ContentTransfer.empty() ? "quoted-printable"
                                                                       : part.ContentTransfer)
                                       : std::string(transfer);
    bool qp = SameText(cte, "quoted-printable"), b64 = SameText(cte, "base64");
    if (!qp && !b64 && HasLongLine(part.Body)) {
        cte = "quoted-printable";
        qp = true;
    }
    if (!qp && !b64 && Has8Bit(part.Body))
        cte = "8bit";
    out.Line("Content-Transfer-Encoding: " + cte);
    if (!part.ContentID.empty())
        out.Line("Content-ID: " + part.ContentID);
    WriteExtraHeaders(out, part.ExtraHeaders);
    out.Line("");
    if (qp) {
        // The encoder writes a leading "." as "=2E", so encoded lines never need stuffing
        // and the decoded text gets no extra dot.
        for (const auto& l : part.Body)
            EncodeQPLine(l, [&](std::string_view enc) { out.Line(enc); });
    } else if (b64) {
        std::string enc;
        EncodeBase64Lines(TextOf(part.Body), enc);
        out.Raw(enc);
    } else {
        for (const auto& l : part.Body)
            out.Line(l);
    }
    out.Line("");
}

void WriteAttachmentPart(TMxBodyOut& out, TMxAttachmentFile& part) {
    if (part.ContentTransfer.empty())
        part.ContentTransfer = "base64";
    if (part.ContentDisposition.empty())
        part.ContentDisposition = "attachment";
    bool b64 = SameText(part.ContentTransfer, "base64");
    if (part.ContentType.empty())
        part.ContentType = b64 ? "application/octet-stream" : "text/plain";
    bool binhex = SameText(part.ContentTransfer, "binhex40");
    std::string type = binhex ? "application/mac-binhex40" : part.ContentType;
    std::string fileName = QuotedString(ExtractFileName(part.PartFileName));
    if (!part.CharSet.empty())
        out.Line("Content-Type: " + WithoutCharset(type) + "; charset=\"" + part.CharSet + "\";");
    else
        out.Line("Content-Type: " + type + ";");
    out.Line("        name=" + fileName);
    if (!binhex) {
        out.Line("Content-Transfer-Encoding: " + part.ContentTransfer);
        out.Line("Content-Disposition: " + DispositionValue(part.ContentDisposition) + ";");
        out.Line("        filename=" + fileName);
    }
    if (!part.ContentID.empty())
        out.Line("Content-ID: " + part.ContentID);
    WriteExtraHeaders(out, part.ExtraHeaders);
    out.Line("");
    if (b64)
        WriteBase64Content(out, part);
    else if (SameText(part.ContentTransfer, "quoted-printable")) {
        ForEachContentLine(part, [&](std::string_view l) {
            EncodeQPLine(l, [&](std::string_view enc) { out.Line(enc); });
        });
    } else
        ForEachContentLine(part, [&](std::string_view l) { out.Line(l); });
    out.Line("");
}

void WriteUUEAttachment(TMxBodyOut& out, TMxAttachmentFile& part, const std::string& kind) {
    std::unique_ptr<TMxPartEncoder> enc;
    if (SameText(kind, "XXE"))
        enc = std::make_unique<TMxEncoderXXE>();
    else
        enc = std::make_unique<TMxEncoderUUE>();
    out.Line("begin 644 " + ExtractFileName(part.PartFileName));
    auto emit = [&](std::string_view l) { out.Line(l); };
    if (part.IsHeld()) {
        std::istringstream in(part.Held());
        enc->Encode(in, emit);
        return;
    }
    std::ifstream in(NativePath(part.StoredPath), std::ios::binary);
    if (!in)
        throw EMxException("Cannot open attachment file " + part.StoredPath);
    enc->Encode(in, emit);
}

void WritePlainBody(TMxBodyOut& out, TMxMessage& msg) {
    out.Line("");
    for (const auto& l : msg.Body)
        out.Line(l);
    out.Line("");
    for (size_t i = 0; i < msg.MessageParts.Count(); ++i) {
        TMxMessagePart& p = msg.MessageParts[i];
        if (auto* t = p.AsText()) {
            out.Line("");
            out.Line("------- Start of text attachment -------");
            for (const auto& l : t->Body)
                out.Line(l);
            out.Line("------- End of text attachment -------");
        } else if (auto* a = p.AsAttachment()) {
            std::string kind = a->ContentTransfer;
            if (kind.empty())
                kind =
                    OneOf(msg.AttachmentEncoding, {"UUE", "XXE"}) ? msg.AttachmentEncoding : "UUE";
            WriteUUEAttachment(out, *a, kind);
        }
        out.Line("");
    }
}

void CloseBoundary(TMxBodyOut& out, TMxMIMEBoundary& stack) {
    out.Line("--" + stack.Boundary() + "--");
    out.Line("");
    stack.Pop();
}

void WriteMimeBody(TMxBodyOut& out, TMxMessage& msg, const std::string& textCharSet) {
    TMxMessageParts& parts = msg.MessageParts;
    const bool singlePart = msg.IsMsgSinglePartMime && parts.Count() == 1 && msg.Body.empty();
    std::unique_ptr<TMxText> fromBody;
    TMxMIMEBoundary boundaries;
    if (!singlePart) {
        out.Line("");
        if (IsBlankText(msg.Body)) {
            if (!parts.Empty())
                out.Line(kPreamble);
        } else if (msg.ConvertPreamble && !parts.Empty() && parts.TextPartCount() == 0) {
            fromBody = std::make_unique<TMxText>();
            fromBody->Body = msg.Body;
            fromBody->ContentType = "text/plain";
            fromBody->ContentTransfer = "7bit";
            out.Line(kPreamble);
        } else {
            for (const auto& l : msg.Body)
                out.Line(l);
        }
        out.Line("");
        // A letter without parts has no multipart to open or close.
        if (!parts.Empty())
            boundaries.Push(ProcessBoundary(), -1);
    }
    if (fromBody) {
        out.Line("--" + boundaries.Boundary());
        WriteTextPart(out, *fromBody, {}, {}, textCharSet);
    }
    for (size_t i = 0; i < parts.Count(); ++i) {
        TMxMessagePart& p = parts[i];
        if (!singlePart) {
            // Leave the inner multiparts this part is not a member of.
            while (boundaries.Count() > 1 && boundaries.ParentPart() != p.ParentPart)
                CloseBoundary(out, boundaries);
        }
        if (StartsWithText(p.ContentType, "multipart/") && !singlePart) {
            out.Line("--" + boundaries.Boundary());
            std::string inner = NestedBoundary(boundaries.Boundary());
            boundaries.Push(inner, static_cast<int>(i));
            std::string type = p.ContentType.substr(0, p.ContentType.find(';'));
            while (!type.empty() && (type.back() == ' ' || type.back() == '\t'))
                type.pop_back();
            out.Line("Content-Type: " + type + ";");
            out.Line("        boundary=\"" + inner + "\"");
            out.Line("");
            continue;
        }
        if (!singlePart)
            out.Line("--" + boundaries.Boundary());
        if (auto* t = p.AsText())
            WriteTextPart(out, *t, {}, {}, textCharSet);
        else if (auto* a = p.AsAttachment())
            WriteAttachmentPart(out, *a);
    }
    while (!boundaries.Empty())
        CloseBoundary(out, boundaries);
}

std::string EncodeName(const std::string& name, const TMxHeaderEncoding& enc,
                       const std::string& wordCharSet) {
    if (!wordCharSet.empty())
        return EncodeDisplayName(name, wordCharSet);
    bool printable = true;
    for (unsigned char c : name)
        if (c < 0x20 || c > 0x7E)
            printable = false;
    if (printable)
        return QuotedString(name);
    return EncodeHeader(name, kMxAddressSpecials, enc.Method, enc.CharSet, enc.ConvertToISO2022JP);
}

std::string EncodeAddresses(const TMxEMailAddressList& list, bool nameFromAddress,
                            const TMxHeaderEncoding& enc, const std::string& wordCharSet) {
    std::string out;
    for (const auto& item : list) {
        std::string name = item.Name;
        if (name.empty() && nameFromAddress)
            name = item.Address;
        if (!out.empty())
            out += ", ";
        if (name.empty())
            out += item.Address;
        else
            out += EncodeName(name, enc, wordCharSet) + " <" + item.Address + ">";
    }
    return out;
}

} // namespace

TMxHeaderList BuildHeaders(TMxMessage& msg, const TMxWriteOptions& options) {
    TMxMessageParts& parts = msg.MessageParts;
    parts.CountParts();
    const bool hasParts = !parts.Empty();
    if (msg.Encoding == TMxMessageEncoding::Default)
        msg.Encoding = hasParts ? TMxMessageEncoding::MIME : TMxMessageEncoding::Plain;
    // Text alone that the wire cannot carry as it is (a line over the limit) or that must name
    // its character set goes as a MIME text part.
    std::string bodyCharSet = msg.CharSet;
    if (!hasParts && !msg.IsMsgSinglePartMime && !msg.NoEncode) {
        const bool eightBit = Has8Bit(msg.Body);
        const bool labelled = !options.TextCharSet.empty() && eightBit;
        const bool plainCte = msg.ContentTransferEncoding.empty() ||
                              OneOf(msg.ContentTransferEncoding, {"7bit", "8bit"});
        if (plainCte && (HasLongLine(msg.Body) || labelled) &&
            (msg.ContentType.empty() || StartsWithText(msg.ContentType, "text/plain"))) {
            msg.Encoding = TMxMessageEncoding::MIME;
            if (msg.ContentType.empty())
                msg.ContentType = "text/plain";
            if (HasLongLine(msg.Body))
                msg.ContentTransferEncoding = "quoted-printable";
            else if (msg.ContentTransferEncoding.empty())
                msg.ContentTransferEncoding = "8bit";
        }
        if (bodyCharSet.empty() && labelled &&
            msg.ContentType.find("charset=") == std::string::npos)
            bodyCharSet = options.TextCharSet;
    }
    const bool mime = msg.Encoding == TMxMessageEncoding::MIME;
    for (size_t i = 0; i < parts.Count(); ++i) {
        std::string& cte = parts[i].ContentTransfer;
        if (cte.empty())
            continue;
        if (mime &&
            !OneOf(cte, {"7bit", "8bit", "binary", "base64", "quoted-printable", "binhex40"}))
            cte = "base64";
        else if (!mime && !OneOf(cte, {"UUE", "XXE"}))
            cte = "UUE";
    }
    if (hasParts && !OneOf(msg.ContentTransferEncoding, {"7bit", "8bit", "binary"}))
        msg.ContentTransferEncoding.clear();
    const bool singlePart =
        mime && msg.IsMsgSinglePartMime && parts.Count() == 1 && msg.Body.empty();
    std::string boundary;
    if (mime) {
        boundary = ProcessBoundary();
        if (msg.ContentType.empty()) {
            int texts = parts.TextPartCount(), atts = parts.AttachmentCount();
            if (texts < 2 && atts == 0)
                msg.ContentType = "text/plain";
            else if (texts < 2)
                msg.ContentType = "multipart/mixed";
            else if (atts == 0)
                msg.ContentType = "multipart/alternative";
            else
                msg.ContentType = "multipart/mixed";
        }
    }
    const TMxHeaderEncoding enc = HeaderEncodingParams(options.EncodeHeaderWords);
    auto encodeText = [&](const std::string& text) {
        if (!options.HeaderCharSet.empty())
            return EncodeHeaderWords(text, options.HeaderCharSet);
        return EncodeHeader(text, {}, enc.Method, enc.CharSet, enc.ConvertToISO2022JP);
    };

    TMxHeaderList h;
    if (!msg.Headers.Empty())
        h.Assign(msg.Headers);
    h.SetValue("From", EncodeAddresses(msg.FromList, true, enc, options.HeaderCharSet));
    h.SetValue("Subject", encodeText(msg.Subject));
    h.SetValue("To", EncodeAddresses(msg.Recipients, false, enc, options.HeaderCharSet));
    h.SetValue("Cc", EncodeAddresses(msg.CCList, false, enc, options.HeaderCharSet));
    h.SetValue("Bcc", options.WriteBcc
                          ? EncodeAddresses(msg.BccList, false, enc, options.HeaderCharSet)
                          : "");
    std::string groups;
    for (const auto& g : msg.NewsGroups)
        groups += (groups.empty() ? "" : ",") + g;
    h.SetValue("Newsgroups", groups);
    if (!mime) {
        h.SetValue("Content-Transfer-Encoding", msg.ContentTransferEncoding);
        h.SetValue("Content-Type", msg.ContentType);
    } else if (singlePart) {
        // The part's own header lines follow and continue this block; stale copies of
        // them from a loaded letter must not stand twice.
        h.SetValue("Content-Type", "");
        h.SetValue("Content-Transfer-Encoding", "");
        h.SetValue("Content-Disposition", "");
        h.SetValue("MIME-Version", "1.0");
    } else {
        std::string ct = msg.ContentType;
        if (!bodyCharSet.empty())
            ct += ";\r\n\tcharset=\"" + bodyCharSet + "\"";
        if (hasParts)
            ct += "; boundary=\"" + boundary + "\"";
        h.SetValue("Content-Type", ct);
        h.SetValue("MIME-Version", "1.0");
        h.SetValue("Content-Transfer-Encoding", msg.ContentTransferEncoding);
    }
    h.SetValue("Sender", msg.Sender.Text());
    h.SetValue("Reply-To", EncodeAddresses(msg.ReplyTo, false, enc, options.HeaderCharSet));
    h.SetValue("Organization", encodeText(msg.Organization));
    h.SetValue("Disposition-Notification-To", msg.ReceiptRecipient.Text());
    h.SetValue("References", msg.References);
    h.SetValue("Date", FormatMailDate(msg.UseNowForDate() ? Now() : msg.Date));
    h.SetValue("X-Priority", msg.Priority == TMxMessagePriority::Normal
                                 ? std::string()
                                 : std::to_string(static_cast<int>(msg.Priority)));
    for (const auto& line : msg.ExtraHeaders.Lines())
        h.Add(line);
    // Only a real reply carries In-Reply-To; a loaded letter's own Message-ID is not one.
    if (!msg.InReplyTo.empty())
        h.SetValue("In-Reply-To", msg.InReplyTo);
    return h;
}

void WriteHeaderBlock(TMxIOHandler& io, TMxMessage& msg, const TMxWriteOptions& options) {
    const TMxHeaderList headers = BuildHeaders(msg, options);
    TMxBodyOut out(io);
    for (const auto& line : headers.Lines())
        out.Raw(line + "\r\n");
    out.Flush();
}

void WriteBodyBlock(TMxIOHandler& io, TMxMessage& msg, const TMxWriteOptions& options) {
    TMxWorkScope work(io, TMxWorkMode::Write);
    TMxBodyOut out(io);
    const bool singlePart = msg.Encoding == TMxMessageEncoding::MIME && msg.IsMsgSinglePartMime &&
                            msg.MessageParts.Count() == 1 && msg.Body.empty();
    const bool b64 = SameText(msg.ContentTransferEncoding, "base64");
    const bool qp = SameText(msg.ContentTransferEncoding, "quoted-printable");
    if ((b64 || qp) && !singlePart) {
        if (!msg.MessageParts.Empty())
            throw EMxException("Message parts cannot be used in a message which has a "
                               "ContentTransferEncoding value.");
        out.Line("");
        if (b64) {
            std::string enc;
            EncodeBase64Lines(TextOf(msg.Body), enc);
            out.Raw(enc);
        } else {
            for (const auto& l : msg.Body)
                EncodeQPLine(l, [&](std::string_view e) { out.Line(e); });
        }
    } else if (msg.Encoding == TMxMessageEncoding::Plain) {
        WritePlainBody(out, msg);
    } else {
        WriteMimeBody(out, msg, options.TextCharSet);
    }
    out.Flush();
}

void TransmitMessage(TMxIOHandler& io, TMxMessage& msg, const TMxWriteOptions& options) {
    if (msg.NoEncode) {
        TMxBodyOut out(io);
        for (const auto& line : msg.Headers.Lines())
            out.Raw(line + "\r\n");
        out.Raw("\r\n");
        if (!options.HeadersOnly)
            for (const auto& l : msg.Body)
                out.Line(l);
        out.Flush();
        return;
    }
    WriteHeaderBlock(io, msg, options);
    if (!options.HeadersOnly)
        WriteBodyBlock(io, msg, options);
}

void WriteMessageStream(TMxMessage& msg, std::ostream& out, const TMxWriteOptions& options) {
    TMxIOHandlerStream io(nullptr, &out);
    TransmitMessage(io, msg, options);
    if (!options.HeadersOnly)
        io.WriteLine(".");
    out.flush();
    if (!out)
        throw EMxException("Error writing to stream.");
}

void WriteMessageFile(TMxMessage& msg, const std::string& path, TMxWriteOptions options) {
    options.WriteBcc = true;
    auto native = NativePath(path);
    std::unique_ptr<char[]> buf(new char[kFileBufferSize]);
    std::ofstream out;
    out.rdbuf()->pubsetbuf(buf.get(), kFileBufferSize);
    out.open(native, std::ios::binary | std::ios::trunc);
    if (!out)
        throw EMxException("Cannot create file " + path);
    try {
        WriteMessageStream(msg, out, options);
        out.close();
        if (out.fail())
            throw EMxException("Error writing file " + path);
    } catch (...) {
        out.close();
        DeleteFile(native.string());
        throw;
    }
}

} // namespace tzn
