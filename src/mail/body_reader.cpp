#include "mail/body_reader.h"

#include <algorithm>
#include <memory>

#include "mail/exceptions.h"
#include "mail/header_params.h"
#include "mail/message_limits.h"
#include "mail/part_sinks.h"
#include "mail/text_util.h"
#include "platform/cp1251.h"

namespace tzn {

namespace {

std::string_view Unstuff(std::string_view line) {
    return !line.empty() && line[0] == '.' ? line.substr(1) : line;
}

void DropTrailingEmpty(std::vector<std::string>& lines) {
    if (!lines.empty() && lines.back().empty())
        lines.pop_back();
}

enum class TMxPartEnd { NextPart, Closed, EndOfMessage };

// Everything a part's header says about it.
struct TMxPartInfo {
    TMxHeaderList Header{"="};
    std::string ContentTypeFull, Type, CharSet, Transfer, Disposition, ID, Location, Description;
    std::string FileName;
    bool IsAttachment = false;
};

void ClassifyPart(TMxPartInfo& p) {
    p.Type = HeaderMainValue(p.ContentTypeFull);
    p.CharSet = HeaderParam(p.ContentTypeFull, "charset");
    std::string fn = HeaderParam(p.Disposition, "filename");
    if (fn.empty())
        fn = HeaderParam(p.ContentTypeFull, "name");
    p.FileName = SafePartFileName(fn);
    if (AnsiSameText(HeaderMainValue(p.Disposition), "attachment") || !fn.empty())
        p.IsAttachment = true;
    else
        p.IsAttachment = !(StartsWithText(p.Type, "text") || StartsWithText(p.Type, "multipart/"));
}

// Reads the body of one letter; the open multiparts are the caller's stack, which it starts
// with the letter's own boundary.
class TMxBodyReader {
public:
    TMxBodyReader(TMxIOHandler& io, TMxMessage& msg, TMxMIMEBoundary& boundaries,
                  const std::string& delimiter)
        : FIo(io), FMsg(msg), FBoundaries(boundaries), FDelim(delimiter) {}

    void Run() {
        if (FMsg.NoDecode) {
            std::string_view line;
            // Raw lines: only the stuffing dot of a ".." line goes.
            while (Next(line))
                AddBodyLine(line.substr(0, 2) == ".." ? line.substr(1) : line);
            return;
        }
        const bool mime = FMsg.Encoding == TMxMessageEncoding::MIME;
        const bool encoded = AnsiSameText(FMsg.ContentTransferEncoding, "base64") ||
                             AnsiSameText(FMsg.ContentTransferEncoding, "quoted-printable");
        if (!FBoundaries.Empty() || (!mime && !encoded))
            ReadSections(mime);
        else
            ReadSinglePart();
    }

private:
    // The next line; false at the delimiter line (the end of the letter).
    bool Next(std::string_view& line) {
        if (FEnded)
            return false;
        try {
            line = FIo.ReadLineView({}, kMxTimeoutDefault, kMxMaxBodyLineLength);
        } catch (const EMxReadLnMaxLineLengthExceeded&) {
            throw EMxLimitExceeded("Letter line longer than " +
                                   std::to_string(kMxMaxBodyLineLength) + " bytes.");
        }
        if (line == FDelim) {
            FEnded = true;
            return false;
        }
        return true;
    }

    // The index on the boundary stack that `line` opens ("--b") or closes ("--b--"),
    // innermost first; -1 when it is no boundary line.
    int MatchBoundary(std::string_view line, bool& close) const {
        if (line.size() < 3 || line[0] != '-' || line[1] != '-')
            return -1;
        while (!line.empty() && IsBlank(line.back()))
            line.remove_suffix(1);
        const TMxMIMEBoundary& st = FBoundaries;
        for (size_t k = st.Count(); k-- > 0;) {
            const std::string& b = st[k].Boundary;
            if (b.empty() || line.size() < b.size() + 2 ||
                !AnsiSameText(line.substr(2, b.size()), b))
                continue;
            std::string_view rest = line.substr(2 + b.size());
            if (rest.empty() || rest == "--") {
                close = !rest.empty();
                return static_cast<int>(k);
            }
        }
        return -1;
    }

    // Keeps the stack up to and including `level`; a close pops that level as well.
    TMxPartEnd AtBoundary(int level, bool close) {
        while (FBoundaries.Count() > static_cast<size_t>(level) + 1)
            FBoundaries.Pop();
        if (close) {
            FBoundaries.Pop();
            return TMxPartEnd::Closed;
        }
        return TMxPartEnd::NextPart;
    }

    void AddBodyLine(std::string_view line) {
        FBodyBytes += line.size() + 2;
        if (FBodyBytes > kMxMaxBodyBytes)
            throw EMxLimitExceeded("Message body larger than " + std::to_string(kMxMaxBodyBytes) +
                                   " bytes.");
        FMsg.Body.emplace_back(line);
    }

    void CheckPartCount() const {
        if (FMsg.MessageParts.Count() >= kMxMaxParts)
            throw EMxLimitExceeded("Too many message parts.");
    }

    void StartParts() {
        if (!FPartsStarted)
            DropTrailingEmpty(FMsg.Body);
        FPartsStarted = true;
    }

    // Multipart letters and undecoded plain text: body lines, then the parts.
    void ReadSections(bool mime) {
        std::string_view line;
        while (Next(line)) {
            if (!FBoundaries.Empty()) {
                bool close = false;
                int level = MatchBoundary(line, close);
                if (level >= 0) {
                    if (AtBoundary(level, close) == TMxPartEnd::Closed)
                        continue; // the rest is an epilogue until a further part starts
                    StartParts();
                    // The lines before the first part are a preamble, not a text: saved
                    // again, they stay a preamble instead of becoming a new text part.
                    FMsg.ConvertPreamble = false;
                    TMxPartEnd e;
                    do {
                        e = ReadPart();
                    } while (e == TMxPartEnd::NextPart);
                    if (e == TMxPartEnd::EndOfMessage)
                        break;
                    continue;
                }
            }
            std::string uueName;
            if (!mime && ParseUUEBeginLine(line, &uueName)) {
                StartParts();
                ReadUUE(uueName);
                continue;
            }
            // Lines after the last boundary of a MIME letter are its epilogue: dropped.
            if (!mime || !FPartsStarted)
                AddBodyLine(Unstuff(line));
        }
        DropTrailingEmpty(FMsg.Body);
    }

    // One MIME part from its header to the line that ends it.
    TMxPartEnd ReadPart() {
        CheckPartCount();
        TMxPartInfo info;
        std::string_view line;
        TMxHeaderBudget budget(kMxMaxPartHeaderBytes, "Message part header too long.");
        bool ended = false;
        TMxPartEnd end = TMxPartEnd::NextPart;
        // The field being read: continuation lines are appended to it, not to a copy of it.
        std::string field;
        bool haveField = false;
        while (true) {
            if (!Next(line))
                throw EMxException("Unknown Message Part Type.");
            if (line.empty())
                break;
            bool close = false;
            int level = MatchBoundary(line, close);
            if (level >= 0) { // a part with a header and no body
                end = AtBoundary(level, close);
                ended = true;
                break;
            }
            budget.Take(line);
            if (IsBlank(line[0])) {
                if (haveField) {
                    field += ' ';
                    field.append(line.substr(1));
                }
                continue;
            }
            if (haveField)
                info.Header.Add(std::move(field));
            size_t colon = line.find(':');
            if (colon == std::string_view::npos)
                field = std::string(line);
            else
                field = Trim(line.substr(0, colon)) + "=" + Trim(line.substr(colon + 1));
            haveField = true;
        }
        if (haveField)
            info.Header.Add(std::move(field));
        const TMxHeaderList& h = info.Header;
        info.ContentTypeFull = h.Values("Content-Type");
        info.Transfer = h.Values("Content-Transfer-Encoding");
        info.Disposition = h.Values("Content-Disposition");
        info.ID = h.Values("Content-ID");
        info.Location = h.Values("Content-Location");
        info.Description = h.Values("Content-Description");
        ClassifyPart(info);

        // The enclosing multipart: its opener is this part's parent, its boundary ours.
        int parent = FBoundaries.ParentPart();
        std::string boundary = FBoundaries.Boundary();
        if (StartsWithText(info.Type, "multipart/")) {
            std::string inner = HeaderParam(info.ContentTypeFull, "boundary");
            if (!inner.empty()) {
                if (FBoundaries.Count() >= kMxMaxNesting)
                    throw EMxLimitExceeded("Multipart nesting deeper than " +
                                           std::to_string(kMxMaxNesting) + " levels.");
                FBoundaries.Push(inner, static_cast<int>(FMsg.MessageParts.Count()));
            }
        }
        if (info.IsAttachment)
            ReadAttachment(info, parent, boundary, ended, end);
        else
            ReadText(info, parent, boundary, ended, end);
        return end;
    }

    // Feeds the part body to `dec` up to the boundary or the end of the letter.
    void DecodeBody(TMxPartDecoder& dec, bool ended, TMxPartEnd& end) {
        std::string_view line;
        bool active = true;
        while (!ended) {
            if (!Next(line)) {
                end = TMxPartEnd::EndOfMessage;
                break;
            }
            bool close = false;
            int level = MatchBoundary(line, close);
            if (level >= 0) {
                end = AtBoundary(level, close);
                break;
            }
            if (active)
                active = dec.DecodeLine(Unstuff(line));
        }
        dec.Finish();
    }

    static void FillCommon(TMxMessagePart& part, const TMxPartInfo& info, bool text) {
        part.ContentType = info.Type;
        part.CharSet = info.CharSet;
        part.ContentTransfer = info.Transfer;
        part.ContentDisposition = info.Disposition;
        part.ContentID = info.ID;
        part.ContentLocation = info.Location;
        part.ContentDescription = info.Description;
        part.PartFileName = info.FileName;
        const TMxHeaderList& h = info.Header;
        for (size_t i = 0; i < h.Count(); ++i) {
            std::string name = h.Name(i);
            // Headers the writer makes from the part's fields are not repeated as extras.
            if (AnsiSameText(name, "Content-Type") ||
                AnsiSameText(name, "Content-Transfer-Encoding") ||
                AnsiSameText(name, "Content-ID") ||
                (!text && AnsiSameText(name, "Content-Disposition")))
                continue;
            part.ExtraHeaders.Add(h[i]);
        }
        part.Headers.Add("Content-Type: " + info.ContentTypeFull);
        part.Headers.Add("Content-Transfer-Encoding: " + info.Transfer);
    }

    void ReadText(const TMxPartInfo& info, int parent, const std::string& boundary, bool ended,
                  TMxPartEnd& end) {
        TMxTextPartSink sink(FMsg.AttachmentTempDirectory, FSpool);
        auto dec = PartDecoderFor(info.Transfer, sink);
        DecodeBody(*dec, ended, end);
        if (auto file = sink.Finish()) {
            FillCommon(*file, info, false);
            file->ParentPart = parent;
            file->Boundary = boundary;
            FMsg.MessageParts.Add(std::move(file));
            return;
        }
        auto part = std::make_unique<TMxText>("=");
        part->Body = SplitTextLines(sink.Text());
        FillCommon(*part, info, true);
        part->ParentPart = parent;
        part->Boundary = boundary;
        FMsg.MessageParts.Add(std::move(part));
    }

    // Decodes into memory or a temporary file owned by the part; on failure the file goes
    // and the error reaches the caller, with the parts read so far kept.
    template <class Decode> std::unique_ptr<TMxAttachmentFile> DecodeAttachment(Decode&& decode) {
        auto part = std::make_unique<TMxAttachmentFile>(std::string(), "=");
        part->FileIsTemporary = true;
        TMxAttachmentSink sink(*part, FMsg.AttachmentTempDirectory, FSpool, FHold);
        decode(static_cast<TMxByteSink&>(sink));
        sink.Finish();
        return part;
    }

    void ReadAttachment(const TMxPartInfo& info, int parent, const std::string& boundary,
                        bool ended, TMxPartEnd& end) {
        auto part = DecodeAttachment([&](TMxByteSink& sink) {
            auto dec = PartDecoderFor(info.Transfer, sink);
            DecodeBody(*dec, ended, end);
        });
        FillCommon(*part, info, false);
        if (AnsiSameText(info.Type, "application/mac-binhex40"))
            part->ContentTransfer = "binhex40";
        part->ParentPart = parent;
        part->Boundary = boundary;
        FMsg.MessageParts.Add(std::move(part));
    }

    // A uuencoded (or xxencoded) file inside a plain-text letter.
    void ReadUUE(const std::string& rawName) {
        CheckPartCount();
        std::string kind = "UUE";
        auto part = DecodeAttachment([&](TMxByteSink& sink) {
            std::string_view line;
            std::unique_ptr<TMxPartDecoder> dec;
            while (Next(line)) {
                std::string_view data = Unstuff(line);
                if (!dec) {
                    kind = DetectUUEKind(data);
                    if (kind == "XXE")
                        dec = std::make_unique<TMxDecoderXXE>(sink);
                    else
                        dec = std::make_unique<TMxDecoderUUE>(sink);
                }
                if (!dec->DecodeLine(data))
                    break;
            }
            if (dec)
                dec->Finish();
        });
        part->ContentTransfer = kind;
        part->PartFileName = SafePartFileName(rawName);
        FMsg.MessageParts.Add(std::move(part));
    }

    // A letter that is one part: its own header describes the content.
    void ReadSinglePart() {
        FMsg.IsMsgSinglePartMime = true;
        TMxPartInfo info;
        info.ContentTypeFull = FMsg.Headers.Values("Content-Type");
        if (info.ContentTypeFull.empty())
            info.ContentTypeFull = FMsg.ContentType;
        info.Transfer = FMsg.ContentTransferEncoding;
        info.Disposition = FMsg.ContentDisposition;
        info.ID = FMsg.Headers.Values("Content-ID");
        info.Location = FMsg.Headers.Values("Content-Location");
        info.Description = FMsg.Headers.Values("Content-Description");
        ClassifyPart(info);
        TMxPartEnd end = TMxPartEnd::EndOfMessage;
        if (info.IsAttachment)
            ReadAttachment(info, -1, {}, false, end);
        else
            ReadText(info, -1, {}, false, end);
    }

    TMxIOHandler& FIo;
    TMxMessage& FMsg;
    TMxMIMEBoundary& FBoundaries;
    const std::string& FDelim;
    bool FEnded = false;
    bool FPartsStarted = false;
    size_t FBodyBytes = 0;
    TMxSpoolBudget FSpool{0, FMsg.MaxSpooledBytes};
    TMxHoldBudget FHold{0, static_cast<size_t>(std::max<int64_t>(0, FMsg.MaxHeldBytes))};
};

} // namespace

void ReadMessageBody(TMxIOHandler& io, TMxMessage& msg, TMxMIMEBoundary& boundaries,
                     const std::string& delimiter) {
    TMxBodyReader(io, msg, boundaries, delimiter).Run();
}

} // namespace tzn
