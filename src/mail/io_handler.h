// Line I/O over a byte source and sink. TMxIOHandler holds the buffering and the line rules;
// where the bytes come from and go to is a virtual hook, so the same ReadLine / WriteLine
// serve a TCP socket (TMxIOHandlerStack, io_handler_socket.h) and a plain byte stream
// (TMxIOHandlerStream below: a letter file or memory). The message reader subclasses the
// stream variant to supply the end-of-message line when the stream runs dry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/component.h"
#include "mail/message_limits.h"

namespace tzn {

enum class TMxMaxLineAction { Exception, Split };

// A read takes up to a typical letter at once: fewer calls into the kernel per letter.
inline constexpr int kMxDefaultRecvBufferSize = 1 << 18;
inline constexpr int kMxDefaultSendBufferSize = 32768;
// Time-outs in milliseconds; both -1 and 0 mean "wait without limit".
inline constexpr int kMxTimeoutDefault = -1;
inline constexpr int kMxTimeoutInfinite = -1;

class TMxIOHandler : public TMxComponent {
public:
    TMxIOHandler();
    ~TMxIOHandler() override;

    // ---- settings ----
    int RecvBufferSize = kMxDefaultRecvBufferSize;
    int SendBufferSize = kMxDefaultSendBufferSize;
    int MaxLineLength = kMxMaxLineLength;
    TMxMaxLineAction MaxLineAction = TMxMaxLineAction::Exception;
    int ReadTimeout = kMxTimeoutDefault; // ms; -1 and 0 wait without limit
    std::string Host;                    // copied from the client at connect
    uint16_t Port = 0;
    int ConnectTimeout = 0; // ms; 0 = no separate limit

    // ---- state ----
    bool Opened() const { return FOpened; }
    bool ClosedGracefully() const { return FClosedGracefully; }
    bool ReadLnTimedout() const { return FReadLnTimedout; }
    bool ReadLnSplit() const { return FReadLnSplit; }
    // True while the byte source is open (a socket: connected, not yet closed).
    virtual bool Connected() const = 0;
    // Bytes received but not yet consumed.
    size_t InputBufferSize() const { return FInEnd - FInStart; }
    std::string_view InputBuffer() const { return {FIn.get() + FInStart, FInEnd - FInStart}; }
    // Takes `count` bytes out of the unread input, `offset` bytes into it: an answer read out
    // of turn from behind others that are still to be read.
    void DropInputAt(size_t offset, size_t count);

    // ---- opening and closing ----
    // Socket: resolve and connect to Host:Port. Stream: ready the stream. Clears the flags
    // and buffers of a previous use.
    virtual void Open();
    // Closes the byte source; safe to call repeatedly. Unread input stays readable.
    virtual void Close();

    // ---- writing ----
    void WriteText(std::string_view s);                     // bytes as they are, no terminator
    void WriteLine(std::string_view s = {});                // s + CR LF
    void WriteLines(const std::vector<std::string>& lines); // one buffered stretch
    // `head` then `tail` as one stretch of bytes; a socket takes both in one system call, so
    // a few gathered bytes go out in front of a large block without copying the block.
    void WriteGathered(std::string_view head, std::string_view tail);
    // Writes `byteCount` bytes of `in` in SendBufferSize chunks between a write work begin
    // and end: 0 = the whole stream from its start, below 0 = the rest from the current
    // position. Raises EMxNoDataToRead when the stream ends early.
    void WriteStream(std::istream& in, int64_t byteCount = 0);
    // While buffering is open writes collect in memory; FlushWrites sends them in one
    // piece and closes buffering (also when the send fails).
    void BufferWrites();
    void FlushWrites();
    bool WritesBuffered() const { return FWriteBuffering; }

    // ---- reading ----
    // One line without its terminator. terminator "" = LF; timeout -1 = ReadTimeout,
    // >= 0 = a limit for this call (the line comes back empty with ReadLnTimedout set);
    // maxLength < 0 = MaxLineLength. A CR before the LF terminator is dropped.
    // When the limit was ReadTimeout and it is finite, its expiry raises EMxReadTimeout
    // instead (a silent peer must not look like a stream of empty lines) and closes the
    // source, dropping unread input: a late answer must not be taken for the next one.
    std::string ReadLine(std::string_view terminator = {}, int timeout = kMxTimeoutDefault,
                         int maxLength = -1);
    // As ReadLine, but the line is a view into the input buffer, valid until the next read
    // or write call on this handler. The fast path for the message reader.
    std::string_view ReadLineView(std::string_view terminator = {}, int timeout = kMxTimeoutDefault,
                                  int maxLength = -1);
    // A whole LF-ended line already in the input buffer, taken as ReadLineView takes it;
    // false, taking nothing, when none is there or it is longer than maxLength (< 0:
    // MaxLineLength). Never waits.
    bool TryReadLineView(std::string_view& line, int maxLength = -1);
    // The first of up to `maxTries` lines that is non-empty after trimming blanks, trimmed;
    // empty if none. Raises EMxReadTimeout when a line read times out.
    std::string ReadNonEmptyLine(int maxTries = 2147483647);

    // Waits for input at most `timeout` ms (-1 = ReadTimeout), appends what came to the
    // input buffer and returns the count; 0 when the source ended (ClosedGracefully set),
    // -1 on time-out (or EMxReadTimeout and the source closed, when `raiseTimeout`). A peer close
    // with nothing left to read raises EMxConnClosedGracefully.
    int ReadFromSource(bool raiseTimeout, int timeout = kMxTimeoutDefault,
                       bool raiseOnClose = true);
    // Raises EMxConnClosedGracefully when the source has ended and no input is left.
    void CheckForDisconnect(bool raiseIfClosed = true);
    // Polls with a zero time-out (reading pending bytes, noticing a close); true while the
    // source is open or unread input remains.
    bool CheckConnected();

protected:
    // ---- byte source and sink: what a variant supplies ----
    // Reads up to `size` bytes into `buffer`, waiting at most `timeoutMs` (< 0 without
    // limit, 0 = poll). Returns the count, 0 when the source has ended, -1 on time-out.
    virtual int RecvBytes(char* buffer, int size, int timeoutMs) = 0;
    // Writes some of the `size` bytes and returns how many (0: the peer has closed);
    // raises on failure. The caller loops and reports the write work.
    virtual size_t SendSome(const char* data, size_t size) = 0;
    // As SendSome for the bytes of `head` followed by those of `tail` (`head` not empty);
    // returns how many of the two together were written. By default from `head` only.
    virtual size_t SendSomeGathered(std::string_view head, std::string_view tail);
    // Closes the underlying source (socket); called once when it ended or on Close.
    virtual void CloseSource() = 0;

    // Sends all of `data` through SendSome, reporting write work after each piece.
    void SendChunk(const char* data, size_t size);
    // Waits at most `waitMs` (< 0 without limit, 0 = poll) and appends what came: the
    // count, 0 when the source ended (then closed, ClosedGracefully set), -1 on time-out.
    int ReadSome(int waitMs);
    void MarkOpened() { FOpened = true; }
    void ResetState(); // buffers and flags as after creation

private:
    void Write(const char* data, size_t size);
    size_t EnsureRoom(size_t size); // room for `size` bytes or, at least, half the buffer
    [[noreturn]] void RaiseClosedOrNotConnected() const;
    [[noreturn]] void RaiseReadTimeout();

    std::unique_ptr<char[]> FIn;
    size_t FInCap = 0, FInStart = 0, FInEnd = 0;
    std::string FOut;
    bool FWriteBuffering = false;
    bool FOpened = false;
    bool FClosedGracefully = false;
    bool FReadLnTimedout = false;
    bool FReadLnSplit = false;
};

// Line I/O over standard streams (not owned): a letter file being written or read, or
// memory. Either side may be absent; reading without an input stream raises
// EMxException "Not Connected". End of the input stream is the source's end (0 bytes).
class TMxIOHandlerStream : public TMxIOHandler {
public:
    TMxIOHandlerStream(std::istream* in, std::ostream* out);
    bool Connected() const override;
    void Open() override; // ready again after the input ran out
    std::istream* InputStream() const { return FInStream; }
    std::ostream* OutputStream() const { return FOutStream; }

protected:
    int RecvBytes(char* buffer, int size, int timeoutMs) override;
    size_t SendSome(const char* data, size_t size) override;
    void CloseSource() override;

private:
    std::istream* FInStream;
    std::ostream* FOutStream;
    bool FSourceOpen = true;
};

} // namespace tzn
