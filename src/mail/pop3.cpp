#include "mail/pop3.h"

#include "mail/message_limits.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>

#include "mail/exceptions.h"
#include "mail/io_handler_socket.h"
#include "mail/message_limits.h"
#include "mail/message_reader.h"
#include "mail/pop3_response_reader.h"
#include "mail/protocol_guard.h"
#include "mail/reply_pop3.h"
#include "mail/text_util.h"
#include "platform/cp1251.h"
#include "platform/text.h"

namespace tzn {

namespace {

// The count of a STAT answer must be wholly a number; anything else is the ordinary
// conversion error.
int StrToInt(const std::string& s) {
    int v = 0;
    if (!ParseDecimal(std::string_view(s), v))
        throw std::runtime_error("'" + s + "' is not a valid integer value");
    return v;
}

std::string FirstTextLine(const TMxReply& reply) {
    return reply.Text.empty() ? std::string() : reply.Text.front();
}

std::string TopCommand(int n) {
    return "TOP " + std::to_string(n) + " 0";
}

// A few words of what a server sent where an answer was due, fit for an error message.
std::string Excerpt(std::string_view line) {
    std::string out;
    for (char c : line.substr(0, 40))
        out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    return line.size() > 40 ? out + "..." : out;
}

// Blank lines tolerated before an answer; a server sending more is not answering.
constexpr int kMaxBlankLinesBeforeAnswer = 100;

} // namespace

std::string ApopDigest(const std::string& timestamp, const std::string& password) {
    const std::string text = timestamp + password;
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(text.data(), text.size(), md, &len, EVP_md5(), nullptr);
    std::string hex;
    char buf[3];
    for (unsigned int i = 0; i < len; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", md[i]);
        hex += buf;
    }
    return hex;
}

std::string ApopTimestampOf(const std::string& greeting) {
    const size_t open = greeting.find('<');
    if (open == std::string::npos)
        return {};
    const size_t close = greeting.find('>', open);
    if (close == std::string::npos)
        return {};
    return greeting.substr(open, close - open + 1);
}

TMxPOP3::TMxPOP3() : TMxTCPClient(std::make_unique<TMxReplyPOP3>()) {
    Port = 110;
}

TMxPOP3::~TMxPOP3() = default;

void TMxPOP3::ConnectToServer() {
    TMxTCPClient::ConnectToServer();
    FAhead.clear();
    FAheadKept = false;
    FSizes.reset();
    FTop = TMxTopState::Unknown;
    FHighestNumber = -1;
    FDeleted = 0;
    try {
        // A window of pipelined commands goes out in one write already; holding back the next
        // one until the server acknowledges the last would add a delayed ACK to every window.
        if (auto* stack = dynamic_cast<TMxIOHandlerStack*>(IOHandler());
            stack && stack->Socket() >= 0) {
            int one = 1;
            ::setsockopt(stack->Socket(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        }
        ReadReply("+OK");
        FTimestamp = ApopTimestampOf(FirstTextLine(LastReply()));
        ReadCapabilities();
        if (WantsStartTLS(HasCapability("STLS"), "STLS")) {
            Transact("STLS", "+OK");
            StartTLS();
            // The list given in clear text may have been tampered with (RFC 2595).
            ReadCapabilities();
        }
    } catch (...) {
        try {
            CloseConnection();
        } catch (...) {
            // The failure that ended the login is the one to report.
        }
        throw;
    }
    if (AutoLogin)
        LogOn();
}

void TMxPOP3::ReadCapabilities() {
    FCapabilities.clear();
    if (!(Transact("CAPA") == "+OK"))
        return;
    TMxIOHandler& io = RequireHandler();
    for (;;) {
        std::string line = io.ReadLine();
        if (line == ".")
            break;
        if (line.size() >= 2 && line[0] == '.' && line[1] == '.')
            line.erase(0, 1);
        FCapabilities.push_back(std::move(line));
        CheckCapabilityCount(FCapabilities.size());
    }
}

bool TMxPOP3::HasCapability(const std::string& keyword) const {
    for (const std::string& line : FCapabilities)
        if (AnsiSameText(line, keyword))
            return true;
    return false;
}

bool TMxPOP3::HasCapabilityWord(const std::string& keyword) const {
    for (const std::string& line : FCapabilities)
        if (AnsiSameText(std::string_view(line).substr(0, line.find(' ')), keyword))
            return true;
    return false;
}

void TMxPOP3::LogOn() {
    try {
        // Before the log-on, so that a server offering "UTF8 USER" takes the name as UTF-8.
        if (HasCapabilityWord("UTF8"))
            Command("UTF8");
        switch (AuthType) {
        case TMxPOP3AuthType::UserPass:
            Transact("USER " + Username, "+OK");
            Transact("PASS " + Password, "+OK");
            break;
        case TMxPOP3AuthType::APOP:
            if (FTimestamp.empty())
                throw EMxDoesNotSupportAPOP();
            Transact("APOP " + Username + " " + ApopDigest(FTimestamp, Password), "+OK");
            break;
        case TMxPOP3AuthType::SASL:
            // No mechanism is built in for POP3; only the configured-none case is defined.
            throw EMxSASLMechNeeded();
        }
    } catch (...) {
        try {
            CloseConnection();
        } catch (...) {
            // The failure that ended the login is the one to report.
        }
        throw;
    }
}

int TMxPOP3::MessageCount() {
    DropAhead();
    Transact("STAT", "+OK");
    const std::string line = FirstTextLine(LastReply());
    if (line.empty())
        return 0;
    const size_t blank = line.find(' ');
    const int count = StrToInt(blank == std::string::npos ? std::string() : line.substr(0, blank));
    if (count > kMxPOP3MaxMessages)
        throw EMxPOP3ProtocolError("The mailbox holds " + std::to_string(count) +
                                   " letters, more than the " + std::to_string(kMxPOP3MaxMessages) +
                                   " that can be read.");
    // Deleted letters keep their numbers but leave the count.
    FHighestNumber = count + FDeleted;
    return count;
}

int64_t TMxPOP3::MessageSize(int n) {
    Ask("LIST " + std::to_string(n), "+OK");
    const std::string line = FirstTextLine(LastReply());
    // The second blank-separated word: "<number> <size>".
    size_t start = line.find_first_not_of(' ');
    start = start == std::string::npos ? start : line.find(' ', start);
    start = start == std::string::npos ? start : line.find_first_not_of(' ', start);
    if (start == std::string::npos)
        return -1;
    const size_t end = line.find(' ', start);
    int64_t size = 0;
    const std::string_view word = std::string_view(line).substr(start, end - start);
    return ParseDecimal(word, size) ? size : -1;
}

TMxReplyCode TMxPOP3::Command(const std::string& command) {
    DropAhead();
    WriteLine(command);
    return ReadStatus();
}

TMxReplyCode TMxPOP3::Ask(const std::string& command, const TMxReplyCodes& allowed) {
    if (!FAhead.empty() && FAhead.front() == command) {
        FAhead.pop_front();
        return ReadReply(allowed);
    }
    DropAhead();
    return Transact(command, allowed);
}

void TMxPOP3::DropAhead() {
    FAheadKept = false;
    if (FAhead.empty())
        return;
    std::deque<std::string> ahead;
    ahead.swap(FAhead);
    try {
        for (const std::string& command : ahead) {
            const bool letter = command.rfind("RETR ", 0) == 0;
            if (ReadStatus() == "+OK" && (letter || command.rfind("TOP ", 0) == 0)) {
                TMxPOP3ResponseReader answer(RequireHandler());
                answer.SkipRest(letter ? kMxMaxSkippedLetterBytes : kMxMaxSkippedAnswerBytes);
            }
        }
    } catch (...) {
        CloseDiscardingInput();
    }
}

TMxReplyCode TMxPOP3::ReadStatus() {
    TMxIOHandler& io = RequireHandler();
    std::string line;
    try {
        line = io.ReadNonEmptyLine(kMaxBlankLinesBeforeAnswer);
    } catch (const EMxReadLnMaxLineLengthExceeded&) {
        CloseDiscardingInput();
        throw EMxPOP3ProtocolError("The server answered with an over-long line; the connection "
                                   "was closed.");
    }
    if (!TMxReplyPOP3::IsStatusLine(line))
        RaiseOutOfStep(line);
    LastReply().ParseLines({line});
    return TMxReplyCode{LastReply().Code()};
}

void TMxPOP3::RaiseOutOfStep(std::string_view line) {
    const std::string excerpt = Excerpt(line); // `line` may stand in the input dropped here
    CloseDiscardingInput();
    throw EMxPOP3ProtocolError("The server's answer is out of step with the commands (\"" +
                               excerpt + "\"); the connection was closed.");
}

void TMxPOP3::CloseDiscardingInput() {
    try {
        CloseConnection(false);
    } catch (...) {
        // Closing is all that is left to do; its failure changes nothing.
    }
    TMxIOHandler* io = IOHandler();
    if (!io || io->InputBufferSize() == 0)
        return;
    // The handler has no call to drop its input; a line whose terminator is the whole
    // unread input takes all of it at once, without waiting.
    const std::string unread(io->InputBuffer());
    try {
        (void)io->ReadLineView(unread, 0, 0);
    } catch (...) {
        // Nothing is read from a closed source; the buffer alone is consumed.
    }
}

template <typename Fn> void TMxPOP3::ReadAnswerInto(Fn&& read, size_t skipLimit) {
    TMxIOHandler& io = RequireHandler();
    // Header and body are read in steps of their own; the gauge sees one transfer, counted
    // by the socket's reads.
    TMxWorkScope work(*this, TMxWorkMode::Read);
    TMxPOP3ResponseReader answer(io);
    try {
        read(answer);
    } catch (const EMxReadTimeout&) {
        throw; // the handler has ended the connection: the rest of the answer may still come
    } catch (const EMxSocketError&) {
        throw;
    } catch (const EMxConnClosedGracefully&) {
        throw;
    } catch (...) {
        // The letter could not be read (bad part, full disk ...): drop the rest of the
        // answer so the connection can go on with the next command.
        try {
            answer.SkipRest(skipLimit);
        } catch (...) {
            // The original failure is the one to report.
            CloseDiscardingInput();
        }
        throw;
    }
    try {
        answer.SkipRest(skipLimit);
    } catch (...) {
        CloseDiscardingInput();
        throw;
    }
}

void TMxPOP3::ReadTopAnswer(TMxMessage& msg) {
    ReadAnswerInto([&](TMxIOHandler& answer) { ReadHeaderBlock(answer, msg, "."); },
                   kMxMaxSkippedAnswerBytes);
}

bool TMxPOP3::HeaderFromRetr(int n, TMxMessage& msg) {
    if (!(Command("RETR " + std::to_string(n)) == "+OK"))
        return false;
    // Called only once TOP was refused: a server that lets the letter be read has no TOP.
    FTop = TMxTopState::Missing;
    ReadAnswerInto([&](TMxIOHandler& answer) { ReadHeaderBlock(answer, msg, ""); },
                   kMxMaxSkippedLetterBytes);
    return true;
}

void TMxPOP3::FetchHeaderLockStep(int n, TMxMessage& msg) {
    if (FTop == TMxTopState::Missing) {
        if (!HeaderFromRetr(n, msg))
            LastReply().RaiseReplyError();
        return;
    }
    if (Command(TopCommand(n)) == "+OK") {
        FTop = TMxTopState::Works;
        ReadTopAnswer(msg);
        return;
    }
    if (FTop == TMxTopState::Works)
        LastReply().RaiseReplyError();
    // TOP is optional (RFC 1939): whether RETR is refused too tells a server without the
    // command from a letter that is not there.
    const std::unique_ptr<TMxReply> refusal = LastReply().Clone();
    if (!HeaderFromRetr(n, msg))
        refusal->RaiseReplyError();
}

bool TMxPOP3::FetchHeader(int n, TMxMessage& msg) {
    msg.Clear();
    FetchHeaderLockStep(n, msg);
    return true;
}

void TMxPOP3::FetchHeaders(
    const std::vector<int>& nums,
    const std::function<void(int n, TMxMessage& header, const std::exception* error)>& each) {
    TMxMessage header;
    // A letter's failure that left the conversation in step is that letter's; any other
    // ends the scan.
    const auto inStep = [this] { return IOHandler() && IOHandler()->Connected(); };
    DropAhead();
    size_t next = 0;
    // One command at a time until TOP has worked once: a refusal must be followed by RETR
    // before anything else is asked, and a server without PIPELINING stays so throughout.
    for (; next < nums.size() && !(FTop == TMxTopState::Works && HasPipelining()); ++next) {
        header.Clear();
        try {
            FetchHeaderLockStep(nums[next], header);
        } catch (const std::exception& e) {
            if (!inStep())
                throw;
            each(nums[next], header, &e);
            continue;
        }
        each(nums[next], header, nullptr);
    }
    if (next == nums.size())
        return;

    TMxIOHandler& io = RequireHandler();
    size_t sent = next; // nums[next, sent) have their commands under way
    bool eachFailed = false;
    const auto report = [&](int n, const std::exception* error) {
        try {
            each(n, header, error);
        } catch (...) {
            eachFailed = true;
            for (size_t k = next; k < sent; ++k)
                FAhead.push_back(TopCommand(nums[k]));
            DropAhead();
            throw;
        }
    };
    try {
        while (next < nums.size()) {
            // Refilled by half windows: fewer, larger writes, and the server never idles.
            if (sent - next <= kMxPOP3PipelineWindow / 2 && sent < nums.size()) {
                const size_t until = std::min(nums.size(), next + kMxPOP3PipelineWindow);
                io.BufferWrites();
                while (sent < until)
                    WriteLine(TopCommand(nums[sent++]));
                io.FlushWrites();
            }
            const int n = nums[next++];
            header.Clear();
            try {
                if (!(ReadStatus() == "+OK"))
                    LastReply().RaiseReplyError();
                ReadTopAnswer(header);
            } catch (const std::exception& e) {
                if (!inStep())
                    throw;
                report(n, &e);
                continue;
            }
            report(n, nullptr);
        }
    } catch (...) {
        // Answers still under way could no longer be told apart.
        if (!eachFailed)
            CloseDiscardingInput();
        throw;
    }
}

bool TMxPOP3::FetchMessage(int n, TMxMessage& msg, int nextLetter, bool nextSize) {
    const std::string command = "RETR " + std::to_string(n);
    const bool sentAhead = !FAhead.empty() && FAhead.front() == command;
    if (!sentAhead)
        DropAhead();
    if (nextLetter > 0 && HasPipelining())
        ListSizesOnce();
    TMxIOHandler& io = RequireHandler();
    io.BufferWrites();
    if (sentAhead)
        FAhead.pop_front();
    else
        WriteLine(command);
    // The next letter is sent for before this one is read, so that the server readies it while
    // this side parses, stores and hands over this one.
    if (FAhead.empty() && FSizes)
        RetrieveAhead(nextLetter, nextSize);
    io.FlushWrites();
    if (!(ReadReply({}) == "+OK"))
        return false;
    msg.Clear();
    ReadAnswerInto(
        [&](TMxIOHandler& answer) {
            if (ReadHeaderBlock(answer, msg, "").empty())
                ReadBodyBlock(answer, msg, ".");
        },
        kMxMaxSkippedLetterBytes);
    return true;
}

bool TMxPOP3::RetrieveRaw(int n, const std::function<void(std::string_view line)>& each) {
    DropAhead();
    if (!(Transact("RETR " + std::to_string(n)) == "+OK"))
        return false;
    ReadAnswerInto(
        [&](TMxIOHandler& answer) {
            for (;;) {
                std::string_view line;
                try {
                    line = answer.ReadLineView({}, kMxTimeoutDefault, kMxMaxBodyLineLength);
                } catch (const EMxReadLnMaxLineLengthExceeded&) {
                    throw EMxLimitExceeded("Letter line longer than " +
                                           std::to_string(kMxMaxBodyLineLength) + " bytes.");
                }
                if (line == ".")
                    break;
                if (line.substr(0, 2) == "..")
                    line.remove_prefix(1);
                each(line);
            }
        },
        kMxMaxSkippedLetterBytes);
    return true;
}

bool TMxPOP3::RetrieveAhead(int n, bool withSize) {
    if (!HasPipelining() || !FAhead.empty() || n <= 0)
        return false;
    ListSizesOnce();
    const auto size = FSizes->find(n);
    if (size == FSizes->end() || size->second < 0 || size->second > kMxPOP3ReadAheadLetterBytes)
        return false;
    SendWithLetter({}, n, withSize);
    FAheadKept = true;
    return true;
}

void TMxPOP3::ListSizesOnce() {
    // Asked later, with an answer under way, the listing would stand behind that answer.
    if (FSizes || !FAhead.empty())
        return;
    FSizes.emplace();
    if (!MessageSizes(*FSizes))
        FSizes->clear();
}

void TMxPOP3::SendWithLetter(const std::string& first, int n, bool withSize) {
    const std::string number = std::to_string(n);
    if (withSize)
        FAhead.push_back("LIST " + number);
    FAhead.push_back("RETR " + number);
    TMxIOHandler& io = RequireHandler();
    io.BufferWrites();
    if (!first.empty())
        WriteLine(first);
    for (const std::string& ahead : FAhead)
        WriteLine(ahead);
    io.FlushWrites();
}

size_t TMxPOP3::AheadAnswersEnd() {
    size_t end = 0;
    std::string status;
    for (const std::string& command : FAhead)
        end = BufferedAnswerEnd(end, command.rfind("RETR ", 0) == 0, status);
    return end;
}

size_t TMxPOP3::BufferedAnswerEnd(size_t from, bool multiLine, std::string& status) {
    TMxIOHandler& io = RequireHandler();
    // A letter's answer is longer than its listed size by its line stuffing at most.
    constexpr size_t kLimit = 2 * kMxPOP3ReadAheadLetterBytes + 65536;
    size_t lineStart = from;
    int blankLines = 0;
    size_t scan = std::string_view::npos; // where the search for the "." line goes on
    for (;;) {
        const std::string_view in = io.InputBuffer();
        if (scan == std::string_view::npos) {
            const size_t lf = in.find('\n', lineStart);
            if (lf != std::string_view::npos) {
                const std::string_view line = TrimView(in.substr(lineStart, lf - lineStart));
                if (line.empty()) {
                    if (++blankLines > kMaxBlankLinesBeforeAnswer)
                        throw EMxPOP3ProtocolError("The server sends blank lines instead of an "
                                                   "answer; the connection was closed.");
                    lineStart = lf + 1;
                    continue;
                }
                status = line;
                if (!multiLine || line.substr(0, 3) != "+OK")
                    return lf + 1;
                scan = lf;
                continue;
            }
        } else {
            // The answer ends with a line of a single dot; a dot starting any other line is
            // doubled.
            for (;;) {
                const size_t dot = in.find("\n.", scan);
                if (dot == std::string_view::npos) {
                    scan = std::max(scan, in.empty() ? 0 : in.size() - 1);
                    break;
                }
                const size_t after = dot + 2;
                if (after < in.size() && in[after] == '\n')
                    return after + 1;
                if (after + 1 < in.size() && in[after] == '\r' && in[after + 1] == '\n')
                    return after + 2;
                if (after >= in.size() || (in[after] == '\r' && after + 1 >= in.size())) {
                    scan = dot; // the line is not all there yet
                    break;
                }
                scan = dot + 1;
            }
        }
        if (io.InputBufferSize() > kLimit)
            throw EMxPOP3ProtocolError("The server's answer to a letter asked ahead is far longer "
                                       "than the letter's size; the connection was closed.");
        io.ReadFromSource(true);
    }
}

bool TMxPOP3::DeleteMessage(int n, int nextLetter, bool nextSize) {
    const std::string command = "DELE " + std::to_string(n);
    if (FAheadKept && !FAhead.empty()) {
        // The next letter's answers stand before this one's; they stay in the input for their
        // own turn.
        WriteLine(command);
        std::string status;
        try {
            const size_t kept = AheadAnswersEnd();
            const size_t end = BufferedAnswerEnd(kept, false, status);
            RequireHandler().DropInputAt(kept, end - kept);
        } catch (const EMxPOP3ProtocolError&) {
            CloseDiscardingInput();
            throw;
        }
        if (!TMxReplyPOP3::IsStatusLine(status))
            RaiseOutOfStep(status);
        LastReply().ParseLines({status});
        if (!(TMxReplyCode{LastReply().Code()} == "+OK"))
            LastReply().RaiseReplyError();
        ++FDeleted;
        return true;
    }
    DropAhead();
    if (nextLetter <= 0 || !HasPipelining()) {
        Transact(command, "+OK");
    } else {
        SendWithLetter(command, nextLetter, nextSize);
        // A refusal raises with the next letter's answers still ahead; they are read or
        // dropped by whatever is asked next.
        ReadReply("+OK");
    }
    ++FDeleted; // its number stays taken
    return true;
}

template <typename Fn> void TMxPOP3::ReadListing(const char* command, Fn&& entry) {
    TMxIOHandler& io = RequireHandler();
    const int64_t highest = FHighestNumber >= 0 ? FHighestNumber : kMxPOP3MaxMessages;
    const std::string what = std::string("The answer to ") + command;
    try {
        for (int lines = 0;; ++lines) {
            const std::string line = io.ReadLine();
            if (line == ".")
                return;
            if (lines == kMxPOP3MaxMessages)
                throw EMxPOP3ProtocolError(what + " lists more than " +
                                           std::to_string(kMxPOP3MaxMessages) + " letters.");
            // "<number> <rest>"; a line of another shape is skipped, not guessed at.
            const size_t blank = line.find(' ');
            int64_t n = 0;
            if (blank == std::string::npos ||
                !ParseDecimal<int64_t>(std::string_view(line).substr(0, blank), n, 1))
                continue;
            if (n > highest)
                throw EMxPOP3ProtocolError(what + " lists letter " + std::to_string(n) +
                                           ", beyond the " + std::to_string(highest) +
                                           " of the mailbox.");
            const size_t rest = line.find_first_not_of(' ', blank);
            const std::string_view text = rest == std::string::npos
                                              ? std::string_view()
                                              : std::string_view(line).substr(rest);
            if (!entry(static_cast<int>(n), text))
                throw EMxPOP3ProtocolError(what + " lists letter " + std::to_string(n) + " twice.");
        }
    } catch (...) {
        // The rest of the listing would be read as the answers to later commands.
        CloseDiscardingInput();
        throw;
    }
}

bool TMxPOP3::MessageSizes(std::map<int, int64_t>& sizes) {
    sizes.clear();
    if (!(Command("LIST") == "+OK"))
        return false;
    ReadListing("LIST", [&](int n, std::string_view rest) {
        int64_t size = -1;
        if (!ParseDecimal(rest.substr(0, rest.find(' ')), size))
            size = -1;
        return sizes.emplace(n, size).second;
    });
    return true;
}

bool TMxPOP3::UniqueIds(std::map<int, std::string>& ids) {
    ids.clear();
    if (!(Command("UIDL") == "+OK"))
        return false;
    ReadListing("UIDL", [&](int n, std::string_view id) {
        if (id.empty())
            return true; // no id to keep
        return ids.emplace(n, std::string(id)).second;
    });
    return true;
}

void TMxPOP3::DisconnectNotifyPeer() {
    DropAhead();
    Transact("QUIT", "+OK");
}

} // namespace tzn
