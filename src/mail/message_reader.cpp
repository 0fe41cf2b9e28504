#include "mail/message_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "mail/codecs.h"
#include "mail/exceptions.h"
#include "mail/header_coding.h"
#include "mail/io_handler_stream_msg.h"
#include "mail/message_limits.h"
#include "mail/text_util.h"
#include "platform/cp1251.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace tzn {

namespace {

constexpr std::string_view kFileNameChars =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz1234567890^&'@{}[],$=!-#()%.+~_";
constexpr std::string_view kTempPrefix = "TZNA";
constexpr size_t kSinkBuffer = 1u << 18;
constexpr size_t kFileBufferSize = 1 << 16;

std::string BeforeSemicolon(std::string_view v) {
    return Trim(v.substr(0, v.find(';')));
}

std::string_view Unstuff(std::string_view line) {
    return !line.empty() && line[0] == '.' ? line.substr(1) : line;
}

// Text into lines as a string list takes it: CR LF, LF or CR end a line; a final break
// makes no empty last line.
std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\r' && c != '\n')
            continue;
        out.emplace_back(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        out.emplace_back(text.substr(start));
    return out;
}

void DropTrailingEmpty(std::vector<std::string>& lines) {
    if (!lines.empty() && lines.back().empty())
        lines.pop_back();
}

// An RFC 2231 extended value: charset'language'%XX-escaped bytes.
std::string DecodeExtendedValue(std::string_view v, bool withCharset) {
    std::string charset;
    if (withCharset) {
        size_t q1 = v.find('\'');
        size_t q2 = q1 == std::string_view::npos ? q1 : v.find('\'', q1 + 1);
        if (q2 != std::string_view::npos) {
            charset = std::string(v.substr(0, q1));
            v = v.substr(q2 + 1);
        }
    }
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '%' && i + 2 < v.size() && HexDigitValue(v[i + 1]) >= 0 &&
            HexDigitValue(v[i + 2]) >= 0) {
            out += static_cast<char>(HexDigitValue(v[i + 1]) * 16 + HexDigitValue(v[i + 2]));
            i += 2;
        } else
            out += v[i];
    }
    return AnsiSameText(charset, "utf-8") ? ru(out) : out;
}

// The parameters of a header value: (name, raw value) pairs after the first piece.
struct Param {
    std::string Name;
    std::string Value;
    bool Quoted = false;
};

std::vector<Param> SplitParams(std::string_view value) {
    std::vector<Param> out;
    size_t i = 0;
    // Skip the leading token (the type or disposition itself) unless it is a parameter.
    size_t firstSemi = value.find(';');
    size_t firstEq = value.find('=');
    if (firstEq == std::string_view::npos ||
        (firstSemi != std::string_view::npos && firstSemi < firstEq))
        i = firstSemi == std::string_view::npos ? value.size() : firstSemi + 1;
    while (i < value.size()) {
        while (i < value.size() && (IsBlank(value[i]) || value[i] == ';'))
            ++i;
        size_t nameStart = i;
        while (i < value.size() && value[i] != '=' && value[i] != ';')
            ++i;
        Param p;
        p.Name = Trim(value.substr(nameStart, i - nameStart));
        if (i < value.size() && value[i] == '=') {
            ++i;
            while (i < value.size() && IsBlank(value[i]))
                ++i;
            if (i < value.size() && value[i] == '"') {
                p.Quoted = true;
                // Only a quote or a backslash is escaped: a Windows path such as
                // "C:\data\f.txt" keeps its backslashes, so the folders can be cut off.
                for (++i; i < value.size() && value[i] != '"'; ++i) {
                    if (value[i] == '\\' && i + 1 < value.size() &&
                        (value[i + 1] == '"' || value[i + 1] == '\\'))
                        ++i;
                    p.Value += value[i];
                }
                while (i < value.size() && value[i] != ';')
                    ++i;
            } else {
                size_t vs = i;
                while (i < value.size() && value[i] != ';')
                    ++i;
                p.Value = Trim(value.substr(vs, i - vs));
            }
        }
        if (!p.Name.empty())
            out.push_back(std::move(p));
    }
    return out;
}

std::string CleanFileName(const std::string& raw) {
    std::string name = DecodeHeader(raw);
    size_t cut = name.find_last_of("/\\");
    if (cut != std::string::npos)
        name.erase(0, cut + 1);
    for (char& c : name)
        if (kFileNameChars.find(c) == std::string_view::npos)
            c = '_';
    return name;
}

// Holds a header block to the limits: its bytes, its lines, and the size of the field being
// read (a line and the continuation lines after it).
class HeaderBudget {
public:
    HeaderBudget(size_t maxBytes, const char* tooLong) : FMaxBytes(maxBytes), FTooLong(tooLong) {}

    // `line` is not empty.
    void Take(std::string_view line) {
        FBytes += line.size();
        if (FBytes > FMaxBytes)
            throw EMxLimitExceeded(FTooLong);
        if (++FLines > kMxMaxHeaderLines)
            throw EMxLimitExceeded("More than " + std::to_string(kMxMaxHeaderLines) +
                                   " header lines.");
        FField = IsBlank(line[0]) ? FField + line.size() : line.size();
        if (FField > kMxMaxHeaderFieldBytes)
            throw EMxLimitExceeded("Header field longer than " +
                                   std::to_string(kMxMaxHeaderFieldBytes) + " bytes.");
    }

private:
    size_t FMaxBytes;
    const char* FTooLong;
    size_t FBytes = 0;
    size_t FLines = 0;
    size_t FField = 0;
};

// ---- temporary attachment files ------------------------------------------------------------

uint32_t NextTempCounter() {
    static std::atomic<uint32_t> counter{
        static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count())};
    return counter++;
}

// Creates a new temporary file exclusively; returns its descriptor and path.
int CreateTempFile(const std::string& tempDir, std::string& path) {
    std::filesystem::path dir = tempDir.empty() ? SystemTempDirectory() : NativePath(tempDir);
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec))
        dir = SystemTempDirectory();
    for (int attempt = 0; attempt < 100000; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "%.*s%08X.tmp", static_cast<int>(kTempPrefix.size()),
                      kTempPrefix.data(), NextTempCounter());
        std::string candidate = (dir / name).string();
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            path = candidate;
            return fd;
        }
        if (errno != EEXIST)
            throw EMxException("Cannot create temporary file " + candidate + ": " +
                               std::strerror(errno));
    }
    throw EMxException("Cannot create temporary file in " + dir.string());
}

// The decoded bytes all of a letter's temporary files may hold (TMxMessage::MaxSpooledBytes).
struct TSpoolBudget {
    int64_t Used = 0;
    int64_t Max = 0; // 0: no bound
    void Take(size_t bytes) {
        Used += static_cast<int64_t>(bytes);
        if (Max > 0 && Used > Max)
            throw EMxSpoolLimitExceeded("Letter larger than " + std::to_string(Max) +
                                        " bytes once decoded.");
    }
};

// Decoded bytes go through a large buffer into the temporary file.
class TempFileSink : public TMxByteSink {
public:
    TempFileSink(int fd, std::string path, TSpoolBudget& budget)
        : FFd(fd), FPath(std::move(path)), FBudget(budget) {}
    ~TempFileSink() override {
        if (FFd >= 0)
            ::close(FFd);
    }
    TempFileSink(const TempFileSink&) = delete;
    TempFileSink& operator=(const TempFileSink&) = delete;

    void Write(std::string_view bytes) override {
        FBudget.Take(bytes.size());
        if (FBuf.size() + bytes.size() > kSinkBuffer)
            Flush();
        if (bytes.size() >= kSinkBuffer)
            WriteAll(bytes);
        else
            FBuf.append(bytes);
    }
    void Close() {
        Flush();
        int fd = FFd;
        FFd = -1;
        if (::close(fd) != 0)
            Fail();
    }

private:
    void Flush() {
        WriteAll(FBuf);
        FBuf.clear();
    }
    void WriteAll(std::string_view b) {
        while (!b.empty()) {
            ssize_t w = ::write(FFd, b.data(), b.size());
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                Fail();
            b.remove_prefix(static_cast<size_t>(w));
        }
    }
    [[noreturn]] void Fail() {
        throw EMxException("Error writing temporary file " + FPath + ": " + std::strerror(errno));
    }
    int FFd;
    std::string FPath;
    TSpoolBudget& FBudget;
    std::string FBuf;
};

// A text part's bytes: in memory up to kMxMaxTextPartBytes; past that everything goes on
// into a temporary file, and the part becomes a file-backed one like an attachment.
class TextPartSink : public TMxByteSink {
public:
    TextPartSink(const std::string& tempDir, TSpoolBudget& budget)
        : FTempDir(tempDir), FBudget(budget) {}

    void Write(std::string_view bytes) override {
        if (!FFile && FText.size() + bytes.size() <= kMxMaxTextPartBytes) {
            FText.append(bytes);
            return;
        }
        if (!FFile)
            Spill();
        FFile->Write(bytes);
    }
    // The part holding the file when the text went there, else nullptr (take Text()).
    std::unique_ptr<TMxAttachmentFile> Finish() {
        if (!FFile)
            return nullptr;
        FFile->Close();
        FFile.reset();
        return std::move(FPart);
    }
    const std::string& Text() const { return FText; }

private:
    void Spill() {
        std::string path;
        int fd = CreateTempFile(FTempDir, path);
        FPart = std::make_unique<TMxAttachmentFile>(std::string(), "=");
        FPart->StoredPath = path;
        FPart->FileIsTemporary = true; // deleted with the part, also when decoding fails
        FFile = std::make_unique<TempFileSink>(fd, path, FBudget);
        FFile->Write(FText);
        std::string().swap(FText);
    }

    const std::string& FTempDir;
    TSpoolBudget& FBudget;
    std::string FText;
    std::unique_ptr<TMxAttachmentFile> FPart;
    std::unique_ptr<TempFileSink> FFile;
};

// 7bit, 8bit, binary and anything unknown: the lines themselves. The break before a
// boundary belongs to the boundary, so breaks are written between lines.
class LineDecoder : public TMxPartDecoder {
public:
    using TMxPartDecoder::TMxPartDecoder;
    bool DecodeLine(std::string_view line) override {
        if (FPending)
            FSink.Write("\r\n");
        FSink.Write(line);
        FPending = true;
        return true;
    }

private:
    bool FPending = false;
};

std::unique_ptr<TMxPartDecoder> DecoderFor(const std::string& transfer, TMxByteSink& sink) {
    if (AnsiSameText(transfer, "base64"))
        return std::make_unique<TMxDecoderMIME>(sink);
    if (AnsiSameText(transfer, "quoted-printable"))
        return std::make_unique<TMxDecoderQuotedPrintable>(sink);
    // binhex40 stays as its text lines: no letter of this system carries it.
    return std::make_unique<LineDecoder>(sink);
}

enum class PartEnd { NextPart, Closed, EndOfMessage };

// Everything a part's header says about it.
struct PartInfo {
    TMxHeaderList Header{"="};
    std::string ContentTypeFull, Type, CharSet, Transfer, Disposition, ID, Location, Description;
    std::string FileName;
    bool IsAttachment = false;
};

void ClassifyPart(PartInfo& p) {
    p.Type = BeforeSemicolon(p.ContentTypeFull);
    p.CharSet = HeaderParam(p.ContentTypeFull, "charset");
    std::string fn = HeaderParam(p.Disposition, "filename");
    if (fn.empty())
        fn = HeaderParam(p.ContentTypeFull, "name");
    p.FileName = CleanFileName(fn);
    if (AnsiSameText(BeforeSemicolon(p.Disposition), "attachment") || !fn.empty())
        p.IsAttachment = true;
    else
        p.IsAttachment = !(StartsWithText(p.Type, "text") || StartsWithText(p.Type, "multipart/"));
}

// Reads the body of one letter; the open multiparts are the caller's stack, which it starts
// with the letter's own boundary.
class BodyReader {
public:
    BodyReader(TMxIOHandler& io, TMxMessage& msg, TMxMIMEBoundary& boundaries,
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
    PartEnd AtBoundary(int level, bool close) {
        while (FBoundaries.Count() > static_cast<size_t>(level) + 1)
            FBoundaries.Pop();
        if (close) {
            FBoundaries.Pop();
            return PartEnd::Closed;
        }
        return PartEnd::NextPart;
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
                    if (AtBoundary(level, close) == PartEnd::Closed)
                        continue; // the rest is an epilogue until a further part starts
                    StartParts();
                    // The lines before the first part are a preamble, not a text: saved
                    // again, they stay a preamble instead of becoming a new text part.
                    FMsg.ConvertPreamble = false;
                    PartEnd e;
                    do {
                        e = ReadPart();
                    } while (e == PartEnd::NextPart);
                    if (e == PartEnd::EndOfMessage)
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
    PartEnd ReadPart() {
        CheckPartCount();
        PartInfo info;
        std::string_view line;
        HeaderBudget budget(kMxMaxPartHeaderBytes, "Message part header too long.");
        bool ended = false;
        PartEnd end = PartEnd::NextPart;
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
    void DecodeBody(TMxPartDecoder& dec, bool ended, PartEnd& end) {
        std::string_view line;
        bool active = true;
        while (!ended) {
            if (!Next(line)) {
                end = PartEnd::EndOfMessage;
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

    static void FillCommon(TMxMessagePart& part, const PartInfo& info, bool text) {
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

    void ReadText(const PartInfo& info, int parent, const std::string& boundary, bool ended,
                  PartEnd& end) {
        TextPartSink sink(FMsg.AttachmentTempDirectory, FSpool);
        auto dec = DecoderFor(info.Transfer, sink);
        DecodeBody(*dec, ended, end);
        if (auto file = sink.Finish()) {
            FillCommon(*file, info, false);
            file->ParentPart = parent;
            file->Boundary = boundary;
            FMsg.MessageParts.Add(std::move(file));
            return;
        }
        auto part = std::make_unique<TMxText>("=");
        part->Body = SplitLines(sink.Text());
        FillCommon(*part, info, true);
        part->ParentPart = parent;
        part->Boundary = boundary;
        FMsg.MessageParts.Add(std::move(part));
    }

    // Decodes into a new temporary file owned by the part; on failure the file goes and
    // the error reaches the caller, with the parts read so far kept.
    template <class Decode> std::unique_ptr<TMxAttachmentFile> DecodeToTempFile(Decode&& decode) {
        std::string path;
        int fd = CreateTempFile(FMsg.AttachmentTempDirectory, path);
        auto part = std::make_unique<TMxAttachmentFile>(std::string(), "=");
        part->StoredPath = path;
        part->FileIsTemporary = true; // deleted with the part, also on failure below
        {
            TempFileSink sink(fd, path, FSpool);
            decode(static_cast<TMxByteSink&>(sink));
            sink.Close();
        }
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            part->Blocked = true; // removed by someone else meanwhile
        return part;
    }

    void ReadAttachment(const PartInfo& info, int parent, const std::string& boundary, bool ended,
                        PartEnd& end) {
        auto part = DecodeToTempFile([&](TMxByteSink& sink) {
            auto dec = DecoderFor(info.Transfer, sink);
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
        auto part = DecodeToTempFile([&](TMxByteSink& sink) {
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
        part->PartFileName = CleanFileName(rawName);
        FMsg.MessageParts.Add(std::move(part));
    }

    // A letter that is one part: its own header describes the content.
    void ReadSinglePart() {
        FMsg.IsMsgSinglePartMime = true;
        PartInfo info;
        info.ContentTypeFull = FMsg.Headers.Values("Content-Type");
        if (info.ContentTypeFull.empty())
            info.ContentTypeFull = FMsg.ContentType;
        info.Transfer = FMsg.ContentTransferEncoding;
        info.Disposition = FMsg.ContentDisposition;
        info.ID = FMsg.Headers.Values("Content-ID");
        info.Location = FMsg.Headers.Values("Content-Location");
        info.Description = FMsg.Headers.Values("Content-Description");
        ClassifyPart(info);
        PartEnd end = PartEnd::EndOfMessage;
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
    TSpoolBudget FSpool{0, FMsg.MaxSpooledBytes};
};

const char* const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                               "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

bool AllDigits(std::string_view s) {
    if (s.empty())
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// "hh:mm" or "hh:mm:ss", every field wholly digits and within the range of its unit (a leap
// second included); false for anything else.
bool ParseClockTime(std::string_view clock, int& hour, int& minute, int& second) {
    const size_t first = clock.find(':');
    const size_t last = clock.rfind(':');
    if (last != first && clock.find(':', first + 1) != last)
        return false; // more than three fields
    int h = 0, m = 0, s = 0;
    if (!ParseDecimal(clock.substr(0, first), h, 0, 23))
        return false;
    if (last == first) {
        if (!ParseDecimal(clock.substr(first + 1), m, 0, 59))
            return false;
    } else if (!ParseDecimal(clock.substr(first + 1, last - first - 1), m, 0, 59) ||
               !ParseDecimal(clock.substr(last + 1), s, 0, 60)) {
        return false;
    }
    hour = h;
    minute = m;
    second = s;
    return true;
}

TMxMessagePriority ParsePriority(const std::string& v) {
    std::string t = Trim(v);
    if (t.empty())
        return TMxMessagePriority::Normal;
    if (t[0] >= '1' && t[0] <= '5')
        return static_cast<TMxMessagePriority>(t[0] - '0');
    std::string low = AnsiLowerCase(t);
    if (low.rfind("non-urgent", 0) == 0 || low.rfind("low", 0) == 0)
        return TMxMessagePriority::Low;
    if (low.rfind("urgent", 0) == 0 || low.rfind("high", 0) == 0)
        return TMxMessagePriority::High;
    return TMxMessagePriority::Normal;
}

// An address header that will not parse still loads: the letter keeps the text whole.
void ParseAddressList(TMxEMailAddressList& list, const std::string& raw) {
    try {
        list.SetEMailAddresses(raw);
    } catch (const EMxEmailParseError&) {
        list.Clear();
        list.Add().Address = Trim(raw);
    }
    for (size_t i = 0; i < list.Count(); ++i)
        list[i].Name = DecodeHeader(list[i].Name);
}

void ParseAddressItem(TMxEMailAddressItem& item, const std::string& raw) {
    try {
        item.SetText(raw);
    } catch (const EMxEmailParseError&) {
        item = {};
        item.Address = Trim(raw);
    }
}

} // namespace

std::string HeaderParam(const std::string& value, const std::string& param) {
    auto params = SplitParams(value);
    for (const auto& p : params)
        if (AnsiSameText(p.Name, param))
            return p.Value;
    // RFC 2231: name*=charset''%XX... or continuations name*0, name*1* ...
    for (const auto& p : params)
        if (AnsiSameText(p.Name, param + "*"))
            return DecodeExtendedValue(p.Value, true);
    std::string joined;
    bool found = false;
    for (int n = 0; n < 1000; ++n) {
        std::string plain = param + "*" + std::to_string(n);
        const Param* hit = nullptr;
        bool ext = false;
        for (const auto& p : params) {
            if (AnsiSameText(p.Name, plain))
                hit = &p;
            else if (AnsiSameText(p.Name, plain + "*")) {
                hit = &p;
                ext = true;
            }
        }
        if (!hit)
            break;
        found = true;
        joined += ext ? DecodeExtendedValue(hit->Value, n == 0) : hit->Value;
    }
    return found ? joined : std::string();
}

TDateTime ParseMailDate(const std::string& value) {
    std::vector<std::string> tokens;
    std::string cur;
    auto flush = [&] {
        if (!cur.empty())
            tokens.push_back(cur);
        cur.clear();
    };
    for (char c : value) {
        if (c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n')
            flush();
        else if (c == '(') // a trailing zone comment
            break;
        else if (c == '-' && !cur.empty() && !(cur[0] == '+' || cur[0] == '-'))
            flush(); // "5-Dec-2024"
        else
            cur += c;
    }
    flush();
    int day = -1, month = -1, year = -1, hour = 0, minute = 0, second = 0;
    bool pm = false, am = false;
    for (const std::string& t : tokens) {
        if (t[0] == '+' || t[0] == '-')
            continue; // the zone ("+0300", "-03:00") is ignored: the clock time stays as written
        if (t.find(':') != std::string::npos) {
            std::string_view clock = t;
            // "02:30:00PM": the half of the day may stick to the clock time.
            if (clock.size() > 2) {
                std::string half = AnsiUpperCase(std::string(clock.substr(clock.size() - 2)));
                if (half == "AM" || half == "PM") {
                    (half == "PM" ? pm : am) = true;
                    clock.remove_suffix(2);
                }
            }
            if (!ParseClockTime(clock, hour, minute, second))
                return 0;
            continue;
        }
        if (AllDigits(t)) {
            if (day < 0 && t.size() <= 2)
                ParseDecimal(std::string_view(t), day);
            else if (year < 0) {
                // A year that does not fit is no date, rather than a wrapped-around one.
                if (!ParseDecimal(std::string_view(t), year, 0, 9999))
                    return 0;
                if (t.size() <= 2)
                    year += year < 80 ? 2000 : 1900;
                else if (t.size() == 3)
                    year += 1900;
            }
            continue;
        }
        std::string up = AnsiUpperCase(t);
        if (up == "AM" || up == "PM") {
            (up == "PM" ? pm : am) = true;
            continue;
        }
        for (int m = 0; m < 12; ++m)
            if (up.size() >= 3 && up.compare(0, 3, kMonths[m]) == 0 && month < 0)
                month = m + 1;
    }
    if (pm && hour < 12)
        hour += 12;
    if (am && hour == 12)
        hour = 0;
    if (day < 1 || day > 31 || month < 1 || year < 1 || year > 9999 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 60)
        return 0;
    if (second == 60)
        second = 59;
    int y, mo, d, h, mi, s, ms;
    TDateTime dt = EncodeDateTime(year, month, day, hour, minute, second);
    // An impossible day of the month ("31 Feb") is not a date.
    if (!DecodeDateTime(dt, y, mo, d, h, mi, s, ms) || d != day || mo != month)
        return 0;
    return dt;
}

void ParseHeaders(TMxMessage& msg) {
    const TMxHeaderList& h = msg.Headers;
    std::string ct = h.Values("Content-Type");
    msg.ContentType = h.IndexOfName("Content-Type") < 0 ? "text/plain" : BeforeSemicolon(ct);
    msg.CharSet = HeaderParam(ct, "charset");
    msg.ContentTransferEncoding = h.Values("Content-Transfer-Encoding");
    msg.ContentDisposition = h.Values("Content-Disposition");
    msg.Subject = DecodeHeader(h.Values("Subject"));
    ParseAddressList(msg.FromList, h.Values("From"));
    msg.MsgId = h.Values("Message-Id");
    msg.NewsGroups.clear();
    for (const auto& g : SplitLines(h.Values("Newsgroups"))) {
        size_t start = 0;
        while (start <= g.size()) {
            size_t comma = g.find(',', start);
            std::string item =
                Trim(g.substr(start, comma == std::string::npos ? comma : comma - start));
            if (!item.empty())
                msg.NewsGroups.push_back(item);
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    ParseAddressList(msg.Recipients, h.Values("To"));
    ParseAddressList(msg.CCList, h.Values("Cc"));
    ParseAddressList(msg.BccList, h.Values("Bcc"));
    msg.Organization = h.Values("Organization");
    std::string receipt = h.Values("Disposition-Notification-To");
    if (receipt.empty())
        receipt = h.Values("Return-Receipt-To");
    ParseAddressItem(msg.ReceiptRecipient, receipt);
    msg.References = h.Values("References");
    msg.InReplyTo = h.Values("In-Reply-To");
    try {
        msg.ReplyTo.SetEMailAddresses(h.Values("Reply-To"));
    } catch (const EMxEmailParseError&) {
        msg.ReplyTo.Clear();
    }
    msg.Date = ParseMailDate(h.Values("Date"));
    ParseAddressItem(msg.Sender, h.Values("Sender"));
    std::string prio = h.Values("Priority");
    msg.Priority = ParsePriority(prio.empty() ? h.Values("X-Priority") : prio);
    msg.Encoding =
        h.IndexOfName("MIME-Version") >= 0 ? TMxMessageEncoding::MIME : TMxMessageEncoding::Plain;
}

std::string TMxMessageReader::ReadHeaderBlock(const std::string& delimiter) {
    TMxWorkScope work(FIo, TMxWorkMode::Read);
    HeaderBudget budget(kMxMaxHeaderBytes, "Message header too long.");
    std::string ended;
    while (true) {
        std::string_view line = FIo.ReadLineView();
        if (delimiter.empty() ? (line.empty() || line == ".") : line == delimiter) {
            ended = std::string(line);
            break;
        }
        if (line.empty())
            continue;
        budget.Take(line);
        FMsg.Headers.Add(std::string(line));
    }
    ParseHeaders(FMsg);
    return ended;
}

void TMxMessageReader::ReadBodyBlock(const std::string& delimiter) {
    TMxWorkScope work(FIo, TMxWorkMode::Read);
    FBoundaries.Clear();
    std::string boundary = HeaderParam(FMsg.Headers.Values("Content-Type"), "boundary");
    if (!boundary.empty())
        FBoundaries.Push(std::move(boundary), -1);
    BodyReader(FIo, FMsg, FBoundaries, delimiter).Run();
}

std::string ReadHeaderBlock(TMxIOHandler& io, TMxMessage& msg, const std::string& delimiter) {
    return TMxMessageReader(io, msg).ReadHeaderBlock(delimiter);
}

void ReadBodyBlock(TMxIOHandler& io, TMxMessage& msg, const std::string& delimiter) {
    TMxMessageReader(io, msg).ReadBodyBlock(delimiter);
}

void ReadMessageStream(TMxMessage& msg, std::istream& in, bool headersOnly) {
    msg.Clear();
    TMxIOHandlerStreamMsg io(&in);
    TMxMessageReader reader(io, msg);
    if (reader.ReadHeaderBlock("").empty() && !headersOnly)
        reader.ReadBodyBlock(".");
}

void ReadMessageFile(TMxMessage& msg, const std::string& path, bool headersOnly) {
    auto native = NativePath(path);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(native, ec))
        throw EMxMessageCannotLoad("Cannot load message from file " + path);
    std::unique_ptr<char[]> buf(new char[kFileBufferSize]);
    std::ifstream in;
    in.rdbuf()->pubsetbuf(buf.get(), kFileBufferSize);
    in.open(native, std::ios::binary);
    if (!in)
        throw EMxMessageCannotLoad("Cannot load message from file " + path);
    ReadMessageStream(msg, in, headersOnly);
}

} // namespace tzn
