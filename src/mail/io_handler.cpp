#include "mail/io_handler.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <istream>

#include "mail/exceptions.h"
#include "mail/text_util.h"

namespace tzn {

namespace {

using TMxClock = std::chrono::steady_clock;

int ElapsedMs(TMxClock::time_point since) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(TMxClock::now() - since).count());
}

// ReadTimeout: -1 and 0 both mean without limit.
int WaitFromReadTimeout(int readTimeout) {
    return readTimeout > 0 ? readTimeout : -1;
}

} // namespace

TMxIOHandler::TMxIOHandler() = default;
TMxIOHandler::~TMxIOHandler() = default;

void TMxIOHandler::ResetState() {
    FInStart = FInEnd = 0;
    FOut.clear();
    FWriteBuffering = false;
    FClosedGracefully = false;
    FReadLnTimedout = false;
    FReadLnSplit = false;
}

void TMxIOHandler::Open() {
    ResetState();
    FOpened = true;
}

void TMxIOHandler::Close() {
    bool wasConnected = Connected();
    CloseSource();
    FOpened = false;
    if (wasConnected)
        DoStatus(TMxStatus::Disconnected, "Disconnected.");
}

void TMxIOHandler::RaiseReadTimeout() {
    // The answer that did not come in time may still arrive and would be read as the next
    // command's: a conversation out of step cannot go on, so it ends here, and what was read
    // of the late answer goes with it.
    Close();
    FInStart = FInEnd = 0;
    throw EMxReadTimeout();
}

void TMxIOHandler::RaiseClosedOrNotConnected() const {
    if (FClosedGracefully)
        throw EMxConnClosedGracefully();
    throw EMxException("Not Connected");
}

// ---- writing ---------------------------------------------------------------------------

void TMxIOHandler::SendChunk(const char* data, size_t size) {
    while (size > 0) {
        if (!Connected())
            RaiseClosedOrNotConnected();
        size_t n = SendSome(data, size);
        if (n == 0) {
            FClosedGracefully = true;
            Close();
            throw EMxConnClosedGracefully();
        }
        data += n;
        size -= n;
        DoWork(TMxWorkMode::Write, static_cast<int64_t>(n));
    }
}

size_t TMxIOHandler::SendSomeGathered(std::string_view head, std::string_view) {
    return SendSome(head.data(), head.size());
}

void TMxIOHandler::WriteGathered(std::string_view head, std::string_view tail) {
    if (FWriteBuffering) {
        FOut.append(head);
        FOut.append(tail);
        return;
    }
    if (head.empty()) {
        SendChunk(tail.data(), tail.size());
        return;
    }
    while (!head.empty()) {
        if (!Connected())
            RaiseClosedOrNotConnected();
        const size_t n = SendSomeGathered(head, tail);
        if (n == 0) {
            FClosedGracefully = true;
            Close();
            throw EMxConnClosedGracefully();
        }
        const size_t fromHead = std::min(n, head.size());
        head.remove_prefix(fromHead);
        tail.remove_prefix(n - fromHead);
        DoWork(TMxWorkMode::Write, static_cast<int64_t>(n));
    }
    if (!tail.empty())
        SendChunk(tail.data(), tail.size());
}

void TMxIOHandler::Write(const char* data, size_t size) {
    if (FWriteBuffering)
        FOut.append(data, size);
    else
        SendChunk(data, size);
}

void TMxIOHandler::WriteText(std::string_view s) {
    Write(s.data(), s.size());
}

void TMxIOHandler::WriteLine(std::string_view s) {
    if (FWriteBuffering) {
        FOut.append(s);
        FOut.append("\r\n", 2);
        return;
    }
    std::string line;
    line.reserve(s.size() + 2);
    line.append(s);
    line.append("\r\n", 2);
    SendChunk(line.data(), line.size());
}

void TMxIOHandler::WriteLines(const std::vector<std::string>& lines) {
    bool opened = !FWriteBuffering;
    if (opened)
        BufferWrites();
    for (const std::string& l : lines)
        WriteLine(l);
    if (opened)
        FlushWrites();
}

void TMxIOHandler::BufferWrites() {
    FWriteBuffering = true;
}

void TMxIOHandler::FlushWrites() {
    std::string out;
    out.swap(FOut);
    FWriteBuffering = false;
    if (!out.empty())
        SendChunk(out.data(), out.size());
}

void TMxIOHandler::WriteStream(std::istream& in, int64_t byteCount) {
    int64_t count = byteCount;
    bool toEnd = false;
    if (byteCount <= 0) {
        in.clear();
        if (byteCount == 0)
            in.seekg(0, std::ios::beg);
        std::streampos pos = in.tellg();
        in.seekg(0, std::ios::end);
        std::streampos end = in.tellg();
        if (pos == std::streampos(-1) || end == std::streampos(-1)) {
            in.clear();
            toEnd = true; // not seekable: everything that comes
            count = 0;
        } else {
            in.seekg(pos);
            count = static_cast<int64_t>(end - pos);
        }
    }
    TMxWorkScope work(*this, TMxWorkMode::Write, count);
    size_t chunk = static_cast<size_t>(std::max(1, SendBufferSize));
    std::unique_ptr<char[]> buf(new char[chunk]);
    while (toEnd || count > 0) {
        size_t want = toEnd ? chunk : static_cast<size_t>(std::min<int64_t>(count, chunk));
        std::streamsize got = in.rdbuf()->sgetn(buf.get(), static_cast<std::streamsize>(want));
        if (got <= 0) {
            if (toEnd)
                break;
            throw EMxNoDataToRead();
        }
        Write(buf.get(), static_cast<size_t>(got));
        if (!toEnd)
            count -= got;
    }
}

// ---- reading ---------------------------------------------------------------------------

void TMxIOHandler::DropInputAt(size_t offset, size_t count) {
    const size_t unread = FInEnd - FInStart;
    offset = std::min(offset, unread);
    count = std::min(count, unread - offset);
    char* at = FIn.get() + FInStart + offset;
    std::memmove(at, at + count, unread - offset - count);
    FInEnd -= count;
}

size_t TMxIOHandler::EnsureRoom(size_t size) {
    if (FInCap - FInEnd >= size)
        return size;
    size_t used = FInEnd - FInStart;
    if (FInStart > 0) {
        std::memmove(FIn.get(), FIn.get() + FInStart, used);
        FInStart = 0;
        FInEnd = used;
    }
    // A read takes what fits while half the buffer is free: doubling it for every partial
    // line or short read would make a block-sized buffer twice the block, large enough to be
    // mapped and unmapped by the allocator for every letter read.
    const size_t room = FInCap - FInEnd;
    if (room >= size || (room > 0 && room >= FInCap / 2))
        return std::min(size, room);
    size_t cap = std::max<size_t>(FInCap * 2, used + size);
    std::unique_ptr<char[]> grown(new char[cap]);
    if (used)
        std::memcpy(grown.get(), FIn.get(), used);
    FIn = std::move(grown);
    FInCap = cap;
    FInStart = 0;
    FInEnd = used;
    return size;
}

int TMxIOHandler::ReadSome(int waitMs) {
    if (!Connected())
        return 0;
    const size_t want = EnsureRoom(static_cast<size_t>(std::max(1, RecvBufferSize)));
    int n = RecvBytes(FIn.get() + FInEnd, static_cast<int>(want), waitMs);
    if (n > 0) {
        FInEnd += static_cast<size_t>(n);
        DoWork(TMxWorkMode::Read, n);
        return n;
    }
    if (n == 0) {
        FClosedGracefully = true;
        Close();
        return 0;
    }
    return -1;
}

int TMxIOHandler::ReadFromSource(bool raiseTimeout, int timeout, bool raiseOnClose) {
    if (!Connected()) {
        if (!FClosedGracefully)
            throw EMxException("Not Connected");
        CheckForDisconnect(raiseOnClose);
        return 0;
    }
    int wait = timeout == kMxTimeoutDefault ? WaitFromReadTimeout(ReadTimeout) : timeout;
    int n = ReadSome(wait);
    if (n == 0) {
        CheckForDisconnect(raiseOnClose);
        return 0;
    }
    if (n < 0 && raiseTimeout)
        RaiseReadTimeout();
    return n;
}

void TMxIOHandler::CheckForDisconnect(bool raiseIfClosed) {
    if (FClosedGracefully && InputBufferSize() == 0 && raiseIfClosed)
        throw EMxConnClosedGracefully();
}

bool TMxIOHandler::CheckConnected() {
    if (Connected()) {
        try {
            ReadSome(0);
        } catch (const EMxSocketError&) {
            // A broken connection is simply no longer connected; what was read stays.
            Close();
        }
    }
    return Connected() || InputBufferSize() > 0;
}

bool TMxIOHandler::TryReadLineView(std::string_view& line, int maxLength) {
    const size_t maxLen =
        static_cast<size_t>(maxLength < 0 ? std::max(0, MaxLineLength) : maxLength);
    const char* base = FIn.get() + FInStart;
    const size_t avail = FInEnd - FInStart;
    const void* p = avail ? std::memchr(base, '\n', avail) : nullptr;
    if (!p)
        return false;
    size_t len = static_cast<size_t>(static_cast<const char*>(p) - base);
    if (len > maxLen)
        return false;
    FReadLnTimedout = false;
    FReadLnSplit = false;
    FInStart += len + 1;
    if (len > 0 && base[len - 1] == '\r')
        --len;
    line = {base, len};
    return true;
}

std::string_view TMxIOHandler::ReadLineView(std::string_view terminator, int timeout,
                                            int maxLength) {
    if (terminator.empty())
        terminator = "\n";
    const size_t maxLen =
        static_cast<size_t>(maxLength < 0 ? std::max(0, MaxLineLength) : maxLength);
    FReadLnTimedout = false;
    FReadLnSplit = false;
    // Taken when the first wait begins: a line already buffered needs no clock.
    TMxClock::time_point start{};
    bool started = false;
    // The handler's own limit raises when it expires; a limit given for this call only
    // returns an empty line with the timed-out flag, as callers polling for a line expect.
    const bool ownLimit = timeout == kMxTimeoutDefault;
    const int limit = ownLimit ? WaitFromReadTimeout(ReadTimeout) : timeout;

    const bool single = terminator.size() == 1;
    const char term0 = terminator[0];
    size_t searched = 0; // bytes of the buffer already searched in this call

    for (;;) {
        const char* base = FIn.get() + FInStart;
        const size_t avail = FInEnd - FInStart;
        size_t found = std::string_view::npos;
        if (single) {
            if (avail > searched) {
                const void* p = std::memchr(base + searched, term0, avail - searched);
                if (p)
                    found = static_cast<size_t>(static_cast<const char*>(p) - base);
            }
        } else if (avail >= terminator.size()) {
            size_t from = searched >= terminator.size() ? searched - terminator.size() + 1 : 0;
            found = std::string_view(base, avail).find(terminator, from);
        }

        if ((found != std::string_view::npos && found > maxLen) ||
            (found == std::string_view::npos && avail > maxLen)) {
            if (MaxLineAction == TMxMaxLineAction::Exception)
                throw EMxReadLnMaxLineLengthExceeded();
            FReadLnSplit = true;
            FInStart += maxLen;
            return {base, maxLen};
        }
        if (found != std::string_view::npos) {
            size_t len = found;
            FInStart += found + terminator.size();
            if (single && term0 == '\n' && len > 0 && base[len - 1] == '\r')
                --len;
            return {base, len};
        }
        searched = avail;

        if (!Connected()) {
            if (FClosedGracefully && avail > 0) {
                // The peer closed after a last line without terminator: hand it over
                // rather than losing it; the next read raises the close.
                FInStart = FInEnd;
                return {base, avail};
            }
            RaiseClosedOrNotConnected();
        }
        if (!started) {
            start = TMxClock::now();
            started = true;
        }
        int wait = limit;
        if (limit >= 0)
            wait = std::max(0, limit - ElapsedMs(start));
        int n = ReadSome(wait);
        if (n < 0 || (n > 0 && !ownLimit && limit >= 0 && ElapsedMs(start) >= limit)) {
            if (ownLimit)
                RaiseReadTimeout();
            FReadLnTimedout = true;
            return {};
        }
    }
}

std::string TMxIOHandler::ReadLine(std::string_view terminator, int timeout, int maxLength) {
    return std::string(ReadLineView(terminator, timeout, maxLength));
}

std::string TMxIOHandler::ReadNonEmptyLine(int maxTries) {
    for (int i = 0; i < maxTries; ++i) {
        std::string_view line = ReadLineView();
        if (FReadLnTimedout)
            RaiseReadTimeout();
        std::string_view text = TrimBlanks(line);
        if (!text.empty())
            return std::string(text);
    }
    return {};
}

} // namespace tzn
