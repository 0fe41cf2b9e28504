// Content transfer codecs: base64 (RFC 2045), quoted-printable, and the UUE / XXE line
// formats of old plain-text attachments.
//
// Decoders are streaming: the message reader hands them the body lines one at a time (line
// terminators removed) and they write bytes into a sink (an attachment's temporary file),
// so no attachment is ever held whole in memory. Encoders produce lines without
// terminators; the writer adds CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

namespace tzn {

// ---- sinks --------------------------------------------------------------------------------

class TMxByteSink {
public:
    virtual ~TMxByteSink() = default;
    virtual void Write(std::string_view bytes) = 0;
};

class TMxStringSink : public TMxByteSink {
public:
    explicit TMxStringSink(std::string& target) : FTarget(target) {}
    void Write(std::string_view bytes) override { FTarget.append(bytes); }

private:
    std::string& FTarget;
};

// Writes to a stream; a failed write (full disk) raises EMxException.
class TMxStreamSink : public TMxByteSink {
public:
    explicit TMxStreamSink(std::ostream& target) : FTarget(target) {}
    void Write(std::string_view bytes) override;

private:
    std::ostream& FTarget;
};

// Receives encoded lines, without CR LF.
using TMxLineSink = std::function<void(std::string_view line)>;

// ---- base64 -------------------------------------------------------------------------------

inline constexpr size_t kMxBase64LineBytes = 57; // input bytes per 76-character line

size_t Base64EncodedLength(size_t n); // 4 * ceil(n / 3)
// The coders use vector instructions when the processor has them; turning that off (tests,
// benchmarks) selects the portable paths. Returns the previous setting.
bool SetBase64VectorPaths(bool on);
// Encodes `n` bytes into `out` (Base64EncodedLength(n) characters, padded); returns it.
size_t EncodeBase64To(const unsigned char* data, size_t n, char* out);
std::string EncodeBase64(std::string_view data); // one piece, no line breaks
// Appends the 76-character lines (57 bytes each, the last shorter), each ended by CR LF.
void EncodeBase64Lines(std::string_view data, std::string& out);
// The same into a caller's buffer of Base64LinesLength(n) bytes; returns that length.
size_t Base64LinesLength(size_t n);
size_t EncodeBase64LinesTo(const unsigned char* data, size_t n, char* out);
// Decodes base64 text; characters outside the alphabet (line breaks, blanks) are skipped
// and padding ends a group. Tolerant: a trailing incomplete group yields what it holds.
std::string DecodeBase64(std::string_view text);
// The same into a caller's buffer of at least Base64DecodeRoom(text.size()) bytes; returns
// the number of bytes decoded.
size_t Base64DecodeRoom(size_t textLength);
size_t DecodeBase64To(std::string_view text, char* out);

// ---- quoted-printable ---------------------------------------------------------------------

inline constexpr size_t kMxQPMaxLine = 76;

// Encodes one line of text (without its line break) into one or more output lines: soft
// breaks ("=" at the end) keep every output line within 76 characters; a "." that would
// start an output line is written "=2E"; a blank or tab ending the line becomes "=20" /
// "=09"; "=" and bytes outside "!".."~" become "=XX" (upper-case hex).
void EncodeQPLine(std::string_view line, const TMxLineSink& out);
// Encodes a whole text: split at CR LF, each piece through EncodeQPLine. A trailing line
// break gives a final empty line, so decoding gives the input back byte for byte.
std::string EncodeQuotedPrintable(std::string_view text); // lines joined with CR LF
// Decodes a whole quoted-printable text (CR LF or LF line breaks).
std::string DecodeQuotedPrintable(std::string_view text);

// ---- streaming coders ---------------------------------------------------------------------

// Decodes a part body handed over line by line into a sink.
class TMxPartDecoder {
public:
    explicit TMxPartDecoder(TMxByteSink& sink) : FSink(sink) {}
    virtual ~TMxPartDecoder() = default;
    // One body line without its terminator. Returns false once the encoding's own end
    // mark was seen (UUE/XXE "end"); later lines are then ignored.
    virtual bool DecodeLine(std::string_view line) = 0;
    // Writes out what is still pending; call once after the last line.
    virtual void Finish() {}

protected:
    TMxByteSink& FSink;
};

// Base64, line by line; a group split across lines is carried over.
class TMxDecoderMIME : public TMxPartDecoder {
public:
    using TMxPartDecoder::TMxPartDecoder;
    bool DecodeLine(std::string_view line) override;
    void Finish() override;

private:
    uint32_t FAcc = 0; // sextets of an unfinished group
    int FCount = 0;
    std::string FBuf;
};

// Quoted-printable, line by line: a line ending in "=" joins the next; a hard line break
// is written as CR LF before the next line's bytes, so the break that precedes a boundary
// (or the end) is not part of the data.
class TMxDecoderQuotedPrintable : public TMxPartDecoder {
public:
    using TMxPartDecoder::TMxPartDecoder;
    bool DecodeLine(std::string_view line) override;

private:
    bool FPendingBreak = false;
    std::string FBuf;
};

// UUE and XXE data lines (after the "begin mode name" line, which the reader recognises
// with ParseUUEBeginLine). "end" or a zero-length line ends the data.
class TMxDecoderUUE : public TMxPartDecoder {
public:
    explicit TMxDecoderUUE(TMxByteSink& sink);
    bool DecodeLine(std::string_view line) override;

protected:
    TMxDecoderUUE(TMxByteSink& sink, const char* alphabet);

private:
    signed char FTable[256];
    bool FEnded = false;
    std::string FBuf;
};

class TMxDecoderXXE : public TMxDecoderUUE {
public:
    explicit TMxDecoderXXE(TMxByteSink& sink);
};

// "begin 644 name" (octal mode, blank, file name): true and the name when `line` is one.
bool ParseUUEBeginLine(std::string_view line, std::string* fileName = nullptr);
// Which of the two encodings a first data line belongs to: "XXE" or "UUE".
std::string DetectUUEKind(std::string_view firstDataLine);

// Encodes a byte stream into lines.
class TMxPartEncoder {
public:
    virtual ~TMxPartEncoder() = default;
    // Reads `in` to its end and hands each encoded line to `out`.
    virtual void Encode(std::istream& in, const TMxLineSink& out) = 0;
    // The same for bytes in memory.
    virtual void EncodeBytes(std::string_view data, const TMxLineSink& out) = 0;
};

// Base64 lines of 76 characters (57 bytes), the last shorter.
class TMxEncoderMIME : public TMxPartEncoder {
public:
    void Encode(std::istream& in, const TMxLineSink& out) override;
    void EncodeBytes(std::string_view data, const TMxLineSink& out) override;
};

class TMxEncoderQuotedPrintable : public TMxPartEncoder {
public:
    void Encode(std::istream& in, const TMxLineSink& out) override;
    void EncodeBytes(std::string_view data, const TMxLineSink& out) override;
};

// UUE / XXE data lines of 45 bytes, then the zero-length line and "end". The caller
// writes the "begin 644 name" line.
class TMxEncoderUUE : public TMxPartEncoder {
public:
    TMxEncoderUUE();
    void Encode(std::istream& in, const TMxLineSink& out) override;
    void EncodeBytes(std::string_view data, const TMxLineSink& out) override;

protected:
    explicit TMxEncoderUUE(const char* alphabet);

private:
    void EncodeChunk(const unsigned char* p, size_t n, const TMxLineSink& out);
    const char* FAlphabet;
};

class TMxEncoderXXE : public TMxEncoderUUE {
public:
    TMxEncoderXXE();
};

// ---- registry -----------------------------------------------------------------------------
// Names "MIME" (base64), "QP", "UUE", "XXE", compared case-insensitively. The table is
// built once (RegisterMessageCoders at start-up, or the first lookup) and never changes.

void RegisterMessageCoders();
bool MessageCoderExists(std::string_view name);
// nullptr for an unknown name.
std::unique_ptr<TMxPartEncoder> CreateMessageEncoder(std::string_view name);
std::unique_ptr<TMxPartDecoder> CreateMessageDecoder(std::string_view name, TMxByteSink& sink);

} // namespace tzn
